// The settings with which the host configures the DNT service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "orv/allocator.h"
#include "orv/com_ptr.h"

namespace dnt {

/// Allocates through the host's IAllocator when one is attached, otherwise
/// from the process heap. Copies share the allocator (with a reference).
template <class T>
class HostAllocator {
 public:
  using value_type = T;

  HostAllocator() noexcept = default;
  explicit HostAllocator(orv::ComPtr<orv::IAllocator> allocator) noexcept : m_allocator(std::move(allocator)) {}
  template <class U>
  HostAllocator(const HostAllocator<U>& other) noexcept : m_allocator(other.Allocator()) {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    if (!m_allocator) return static_cast<T*>(::operator new(n * sizeof(T)));
    void* block = m_allocator->Allocate(n * sizeof(T));
    if (!block) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* p, std::size_t) noexcept {
    if (!m_allocator) {
      ::operator delete(p);
    } else {
      m_allocator->Free(p);
    }
  }

  const orv::ComPtr<orv::IAllocator>& Allocator() const noexcept { return m_allocator; }

  template <class U>
  friend bool operator==(const HostAllocator& a, const HostAllocator<U>& b) noexcept {
    return a.m_allocator.Get() == b.Allocator().Get();
  }

 private:
  orv::ComPtr<orv::IAllocator> m_allocator;
};

/// A per-service override: value 1 enables blocking, any other disables it.
struct TrackingServiceSetting {
  uint32_t serviceId = 0;
  uint32_t value = 0;
};

struct ServiceSettings {
  ServiceSettings() = default;
  /// Empty settings whose lists allocate through `allocator`.
  explicit ServiceSettings(orv::ComPtr<orv::IAllocator> allocator)
      : blockTrackingServiceCategories(HostAllocator<uint32_t>(allocator)),
        trackingServicesSettings(HostAllocator<TrackingServiceSetting>(allocator)) {}

  bool excludePartnerSites = false;
  bool excludeIncompatibleSites = false;
  /// Categories whose services are blocked unless a per-service entry says
  /// otherwise.
  std::vector<uint32_t, HostAllocator<uint32_t>> blockTrackingServiceCategories;
  std::vector<TrackingServiceSetting, HostAllocator<TrackingServiceSetting>> trackingServicesSettings;
  bool addTrackingNoise = false;
  bool addDntHttpHeader = false;
  bool enableVerboseTrace = false;

  /// What a host gives unless told otherwise, and what scripts see while
  /// they are discovered: partner and incompatible sites excluded, both lists
  /// empty, everything else off.
  static ServiceSettings Defaults() {
    ServiceSettings settings;
    settings.excludePartnerSites = true;
    settings.excludeIncompatibleSites = true;
    return settings;
  }
};

}  // namespace dnt
