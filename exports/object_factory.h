// The module's object factory: creates the component class through Creator.
#pragma once

#include <atomic>

#include "orv/object.h"
#include "orv/rtl/module_count.h"

namespace dnt {

/// `Creator::Create(locator, iid, out)` builds the component object.
template <class Creator>
class ObjectFactory final : public orv::IObjectFactory {
 public:
  uint32_t AddRef() override { return m_refs.fetch_add(1) + 1; }

  uint32_t Release() override {
    uint32_t n = m_refs.fetch_sub(1) - 1;
    if (n == 0) delete this;
    return n;
  }

  orv::result_t QueryInterface(orv::iid_t iid, void** out) override {
    if (!out) return orv::result::InvalidArgument;
    if (iid != orv::IObject::iid && iid != orv::IObjectFactory::iid) {
      *out = nullptr;
      return orv::result::InterfaceNotSupported;
    }
    AddRef();
    *out = static_cast<orv::IObjectFactory*>(this);
    return orv::result::NoError;
  }

  orv::result_t CreateInstance(orv::IServiceLocator* locator, orv::iid_t iid, void** out) override {
    return Creator::Create(locator, iid, out);
  }

 private:
  ~ObjectFactory() = default;

  orv::module::ObjectCounter m_counter;
  std::atomic<uint32_t> m_refs{1};
};

}  // namespace dnt
