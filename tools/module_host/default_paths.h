// Where a host tool finds the engine module and the default bases when the
// command line does not say.
#pragma once

#include <string>

namespace module_host {

/// The installation's libdnt_engine.so (beside the program's bin folder),
/// or, for a program that was not installed, the one of its build tree.
std::string DefaultModulePath();

/// The installation's default bases, or those of the build tree.
std::string DefaultBasesDirectory();

}  // namespace module_host
