// ELF modules carry no version resource: the build embeds the product
// version text (from the project version) instead, and it goes through the
// same scan as the resource's text would.
#include "orv/system/module_version.h"

#ifndef DNT_VERSION_TEXT
#define DNT_VERSION_TEXT "0.0.0.0"
#endif

namespace orv::system {

std::string ReadModuleVersionText() { return DNT_VERSION_TEXT; }

}  // namespace orv::system
