// The host's service locator, the only way the library reaches host services.
#pragma once

#include "orv/object.h"

namespace orv {

class IServiceLocator : public IObject {
 public:
  /// Looks a service up by interface id; `serviceKey` is always 0 here.
  /// A non-negative result means `*out` holds one reference.
  virtual result_t GetInterface(iid_t iid, uint32_t serviceKey, void** out) = 0;

 protected:
  ~IServiceLocator() = default;
};

}  // namespace orv
