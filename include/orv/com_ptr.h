// One smart pointer for counted interfaces: ownership shows in the type, and
// nobody pairs AddRef/Release by hand.
#pragma once

#include <cstddef>
#include <utility>

#include "orv/object.h"

namespace orv {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  /// Takes a new reference on `p`.
  explicit ComPtr(T* p) : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
  ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  template <class U>
  ComPtr(const ComPtr<U>& other) : ComPtr(static_cast<T*>(other.Get())) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(m_p, other.m_p);
    return *this;
  }

  /// Adopts a reference the caller already owns (from an out parameter).
  static ComPtr Attach(T* p) {
    ComPtr r;
    r.m_p = p;
    return r;
  }
  /// Gives the reference away to the caller.
  T* Detach() { return std::exchange(m_p, nullptr); }

  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }

  /// For out parameters: drops the current reference and exposes the slot.
  T** Put() {
    Reset();
    return &m_p;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  T& operator*() const { return *m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.m_p == b.m_p; }

  /// QueryInterface for `U` (by its static iid); null on failure.
  template <class U>
  ComPtr<U> As() const {
    ComPtr<U> r;
    if (m_p) m_p->QueryInterface(U::iid, r.PutVoid());
    return r;
  }

 private:
  T* m_p = nullptr;
};

/// Looks up a service of type T (by T::iid, key 0) and returns the result code.
template <class T, class Locator>
result_t GetService(Locator* locator, ComPtr<T>& out) {
  if (!locator) return result::InvalidArgument;
  return locator->GetInterface(T::iid, 0, out.PutVoid());
}

}  // namespace orv
