// The exported entry points, as templates over the factory's creator so that
// tests can drive them with a component of their own.
#pragma once

#include <exception>

#include "exports/object_factory.h"
#include "orv/rtl/module_count.h"
#include "orv/service_locator.h"
#include "source/rtl/component_object.h"

namespace dnt {

/// Reserved class id: asking for it ends the process through the standard
/// terminate path, so that a host can test its crash handling.
inline constexpr orv::clsid_t TerminateClassId = 0xbad1bad1;

template <class Creator>
orv::result_t GetObjectFactory(orv::IServiceLocator* locator, orv::clsid_t clsid, orv::IObjectFactory** out) {
  using namespace orv;
  if (clsid == TerminateClassId) {
    if (out) *out = nullptr;
    std::terminate();
  }
  if (!out) return result::InvalidArgument;
  *out = nullptr;
  if (clsid != ServiceComponentClassId) return result::NotImplemented;
  try {
    auto* factory = new ObjectFactory<Creator>();
    result_t r = factory->QueryInterface(IObjectFactory::iid, reinterpret_cast<void**>(out));
    factory->Release();
    return r;
  } catch (...) {
    return rtl::TranslateConstructionFailure(locator);
  }
}

inline orv::result_t CanUnloadModule() noexcept {
  return orv::module::LiveObjects() == 0 ? orv::result::NoError : orv::result::False;
}

}  // namespace dnt
