// Any bytes as a JSON Lines request file: the reader gives requests or
// refuses with std::invalid_argument naming the line; any other exception
// escapes and is reported as a finding.
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tools/dntbases/session_requests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  try {
    dntbases::ReadSessionRequests(in);
  } catch (const std::invalid_argument& e) {
    if (std::string(e.what()).rfind("line ", 0) != 0) __builtin_trap();
  }
  return 0;
}
