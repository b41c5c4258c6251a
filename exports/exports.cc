#include "exports/module_exports.h"
#include "exports/service_component_creator.h"

#if defined(_WIN32)
#define DNT_EXPORT extern "C" __declspec(dllexport)
#else
#define DNT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

DNT_EXPORT orv::result_t orvGetObjectFactory(orv::IServiceLocator* locator, orv::clsid_t clsid,
                                             orv::IObjectFactory** out) {
  return dnt::GetObjectFactory<dnt::ServiceComponentCreator>(locator, clsid, out);
}

DNT_EXPORT orv::result_t orvCanUnloadModule() { return dnt::CanUnloadModule(); }
