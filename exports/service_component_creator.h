#pragma once

#include "orv/service_locator.h"

namespace dnt {

/// Creates the service component, the only class the module exports.
struct ServiceComponentCreator {
  static orv::result_t Create(orv::IServiceLocator* locator, orv::iid_t iid, void** out);
};

}  // namespace dnt
