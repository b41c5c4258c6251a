// Reference counting for the reference host's objects (plain heap objects:
// they belong to the host, not to the engine module).
#pragma once

#include <atomic>
#include <tuple>
#include <utility>

#include "orv/com_ptr.h"

#include "orv/object.h"

namespace host {

/// Implements IObject for a host object offering `Interfaces...`; the first
/// one also answers IObject.
template <class... Interfaces>
class HostObject : public Interfaces... {
 public:
  uint32_t AddRef() override { return m_refs.fetch_add(1) + 1; }
  uint32_t Release() override {
    uint32_t n = m_refs.fetch_sub(1) - 1;
    if (n == 0) delete this;
    return n;
  }
  orv::result_t QueryInterface(orv::iid_t iid, void** out) override {
    if (!out) return orv::result::InvalidArgument;
    void* found = nullptr;
    if (iid == orv::IObject::iid) {
      found = static_cast<First*>(this);
    } else {
      (void)((iid == Interfaces::iid ? (found = static_cast<Interfaces*>(this), true) : false) || ...);
    }
    *out = found;
    if (!found) return orv::result::InterfaceNotSupported;
    AddRef();
    return orv::result::NoError;
  }

 protected:
  virtual ~HostObject() = default;

 private:
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
  std::atomic<uint32_t> m_refs{1};
};

/// Creates a host object; the returned pointer owns the first reference.
template <class T, class... Args>
orv::ComPtr<T> MakeHostObject(Args&&... args) {
  return orv::ComPtr<T>::Attach(new T(std::forward<Args>(args)...));
}

}  // namespace host
