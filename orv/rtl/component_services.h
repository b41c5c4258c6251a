#pragma once

#include "orv/allocator.h"
#include "orv/com_ptr.h"
#include "orv/service_locator.h"
#include "orv/tracer.h"

namespace orv {

/// The allocator, tracer and service locator that every component object
/// keeps, each with one reference. A missing allocator or tracer throws
/// GetInterfaceException (source "objclient").
struct ComponentServices {
  explicit ComponentServices(IServiceLocator* locator);

  ComPtr<IAllocator> allocator;
  ComPtr<ITracer> tracer;
  ComPtr<IServiceLocator> locator;
};

/// Looks up a service that must exist; its failure is GetInterfaceException.
template <class T>
ComPtr<T> RequireService(IServiceLocator* locator);

}  // namespace orv
