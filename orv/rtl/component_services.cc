#include "orv/rtl/component_services.h"

#include "orv/rtl/error_handling/exceptions.h"

namespace orv {

template <class T>
ComPtr<T> RequireService(IServiceLocator* locator) {
  ComPtr<T> service;
  result_t r = locator ? locator->GetInterface(T::iid, 0, service.PutVoid()) : result::InvalidArgument;
  if (Failed(r) || !service) throw GetInterfaceException("objclient", 103, T::iid, 0, Failed(r) ? r : result::Unexpected);
  return service;
}

template ComPtr<IAllocator> RequireService<IAllocator>(IServiceLocator*);
template ComPtr<ITracer> RequireService<ITracer>(IServiceLocator*);

ComponentServices::ComponentServices(IServiceLocator* locator)
    : allocator(RequireService<IAllocator>(locator)),
      tracer(RequireService<ITracer>(locator)),
      locator(locator) {}

}  // namespace orv
