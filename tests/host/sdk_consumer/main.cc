// Every SDK header compiles on its own include path, and the module's
// exports link and answer.
#include <do_not_track/categories.h>
#include <do_not_track/http_message.h>
#include <do_not_track/service_component.h>
#include <do_not_track/service_settings.h>
#include <do_not_track/session.h>
#include <do_not_track/switching.h>
#include <orv/allocator.h>
#include <orv/com_ptr.h>
#include <orv/data_storage.h>
#include <orv/environment.h>
#include <orv/io.h>
#include <orv/object.h>
#include <orv/result.h>
#include <orv/service_locator.h>
#include <orv/tracer.h>

#include <cstdio>

int main() {
  orv::ComPtr<orv::IObjectFactory> factory;
  if (orvGetObjectFactory(nullptr, orv::ServiceComponentClassId, factory.Put()) != 0 || !factory) return 1;
  factory.Reset();
  if (orvCanUnloadModule() != 0) return 2;
  std::puts("sdk consumer: ok");
  return 0;
}
