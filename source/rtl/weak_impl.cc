#include "source/rtl/weak_impl.h"

namespace dnt::rtl {

using namespace orv;

uint32_t WeakReferenceImpl::AddRef() { return m_refs.fetch_add(1) + 1; }

uint32_t WeakReferenceImpl::Release() {
  uint32_t n = m_refs.fetch_sub(1) - 1;
  if (n == 0) delete this;
  return n;
}

result_t WeakReferenceImpl::QueryInterface(iid_t iid, void** out) {
  if (!out) return result::InvalidArgument;
  if (iid != IObject::iid) {
    *out = nullptr;
    return result::InterfaceNotSupported;
  }
  AddRef();
  *out = static_cast<IObject*>(this);
  return result::NoError;
}

result_t WeakReferenceImpl::Lock(iid_t iid, void** out) {
  if (!out) return result::InvalidArgument;
  uint32_t count = m_strong.load();
  // Raise the count only while it is not 0: a dead object is never revived.
  while (count != 0) {
    if (m_strong.compare_exchange_weak(count, count + 1)) {
      IWeakReferenceSource* target = m_target.load();
      if (!target) {
        // The count is above 0 again only because the dying object's
        // FinalRelease holds a reference of its own.
        m_strong.fetch_sub(1);
        break;
      }
      result_t r = target->QueryInterface(iid, out);
      target->Release();
      return r;
    }
  }
  *out = nullptr;
  return result::InvalidState;
}

}  // namespace dnt::rtl
