#include "exports/service_component_creator.h"

namespace dnt {

// The service component arrives with the engine; until then the factory
// answers every creation with NotImplemented and hands out nothing.
orv::result_t ServiceComponentCreator::Create(orv::IServiceLocator*, orv::iid_t, void** out) {
  if (!out) return orv::result::InvalidArgument;
  *out = nullptr;
  return orv::result::NotImplemented;
}

}  // namespace dnt
