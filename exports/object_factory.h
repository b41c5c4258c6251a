// The module's object factory: creates the component class through Creator.
#pragma once

#include "orv/object.h"
#include "orv/rtl/module_count.h"
#include "orv/rtl/ref_counted.h"

namespace dnt {

/// `Creator::Create(locator, iid, out)` builds the component object.
template <class Creator>
class ObjectFactory final : public orv::RefCounted<orv::IObjectFactory> {
 public:
  orv::result_t CreateInstance(orv::IServiceLocator* locator, orv::iid_t iid, void** out) override {
    return Creator::Create(locator, iid, out);
  }

 private:
  orv::module::ObjectCounter m_counter;
};

}  // namespace dnt
