#pragma once

#include <string>

namespace orv::system {

/// The product version text of this module, as its version resource would
/// give it ("0.0.0.0" when it cannot be read).
std::string ReadModuleVersionText();

}  // namespace orv::system
