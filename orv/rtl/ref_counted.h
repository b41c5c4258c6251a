// Reference counting for plain heap objects (factories, stream adapters, the
// reference host's services): one atomic count, deleted at zero. Objects the
// module creates also hold an orv::module::ObjectCounter.
#pragma once

#include <atomic>
#include <tuple>

#include "orv/object.h"

namespace orv {

/// Implements IObject for an object offering `Interfaces...`, each answered
/// by its static iid; the first one also answers IObject. Starts with one
/// reference, which the creator owns.
template <class... Interfaces>
class RefCounted : public Interfaces... {
 public:
  RefCounted() = default;
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  uint32_t AddRef() override { return m_refs.fetch_add(1) + 1; }

  uint32_t Release() override {
    uint32_t n = m_refs.fetch_sub(1) - 1;
    if (n == 0) delete this;
    return n;
  }

  result_t QueryInterface(iid_t iid, void** out) override {
    if (!out) return result::InvalidArgument;
    void* found = nullptr;
    if (iid == IObject::iid) {
      found = static_cast<First*>(this);
    } else {
      (void)((iid == Interfaces::iid ? (found = static_cast<Interfaces*>(this), true) : false) || ...);
    }
    *out = found;
    if (!found) return result::InterfaceNotSupported;
    AddRef();
    return result::NoError;
  }

 protected:
  virtual ~RefCounted() = default;

 private:
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
  std::atomic<uint32_t> m_refs{1};
};

}  // namespace orv
