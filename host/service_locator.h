#pragma once

#include <map>
#include <mutex>

#include "host/host_object.h"
#include "orv/com_ptr.h"
#include "orv/service_locator.h"

namespace host {

/// A locator that hands out whatever services were registered with it.
class ServiceLocator final : public HostObject<orv::IServiceLocator> {
 public:
  static constexpr orv::iid_t iid = 0x10a1e0ff;

  /// Registers `service` under `iid` (replacing an earlier one); null removes it.
  void Register(orv::iid_t iid, orv::IObject* service);
  template <class T>
  void Register(const orv::ComPtr<T>& service) {
    Register(T::iid, static_cast<orv::IObject*>(service.Get()));
  }

  /// Makes GetInterface fail with `code` for `iid` even when registered.
  void FailLookup(orv::iid_t iid, orv::result_t code);

  orv::result_t GetInterface(orv::iid_t iid, uint32_t serviceKey, void** out) override;

 private:
  std::mutex m_lock;
  std::map<orv::iid_t, orv::ComPtr<orv::IObject>> m_services;
  std::map<orv::iid_t, orv::result_t> m_failures;
};

}  // namespace host
