#include "host/service_locator.h"

namespace host {

using namespace orv;

void ServiceLocator::Register(iid_t iid, IObject* service) {
  std::lock_guard lock(m_lock);
  if (service)
    m_services[iid] = ComPtr<IObject>(service);
  else
    m_services.erase(iid);
}

void ServiceLocator::FailLookup(iid_t iid, result_t code) {
  std::lock_guard lock(m_lock);
  m_failures[iid] = code;
}

result_t ServiceLocator::GetInterface(iid_t iid, uint32_t, void** out) {
  if (!out) return result::InvalidArgument;
  *out = nullptr;
  std::lock_guard lock(m_lock);
  if (auto f = m_failures.find(iid); f != m_failures.end()) return f->second;
  auto it = m_services.find(iid);
  if (it == m_services.end()) return result::NotFound;
  return it->second->QueryInterface(iid, out);
}

}  // namespace host
