#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "orv/result.h"

namespace orv {

/// The fixed text of a result code ("Unknown result code" for codes outside
/// the table). Never allocates.
std::string_view ResultCodeToText(result_t code) noexcept;

/// "0x8000006a (text)": the code as traces and tools show it.
std::string DescribeResultCode(result_t code);

/// Maps an OS error number (Windows numbering) onto a result code; wrapped
/// OS errors (facility 7) are unwrapped first.
result_t Win32ErrorToResult(uint32_t osError) noexcept;

}  // namespace orv
