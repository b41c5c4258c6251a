#include "exports/service_component_creator.h"

#include "source/component/service_component_facade.h"

namespace dnt {

orv::result_t ServiceComponentCreator::Create(orv::IServiceLocator* locator, orv::iid_t iid, void** out) {
  return rtl::CreateComponentInstance<ServiceComponentFacadeImpl>(locator, iid, out);
}

}  // namespace dnt
