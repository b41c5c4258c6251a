#include "orv/trace/version.h"

#include <cstdio>
#include <string>

#include "orv/system/module_version.h"

namespace orv {

ProductVersion ParseProductVersion(std::string_view text) noexcept {
  unsigned n[4] = {999, 999, 999, 999};
  char buf[64] = {};
  text.copy(buf, sizeof buf - 1);
  std::sscanf(buf, "%u.%u.%u.%u", &n[0], &n[1], &n[2], &n[3]);
  return ProductVersion{n[0], n[1], n[3], n[2]};
}

const ProductVersion& GetProductVersion() noexcept {
  static const ProductVersion version = [] {
    try {
      return ParseProductVersion(system::ReadModuleVersionText());
    } catch (...) {
      return ParseProductVersion("0.0.0.0");
    }
  }();
  return version;
}

TraceStream& operator<<(TraceStream& s, const ProductVersion& v) noexcept {
  s.setf(TraceStream::Dec, TraceStream::BaseMask);
  return s << "DAR Odurur ver. " << v.major << '.' << v.minor << '.' << v.build << '.' << v.revision;
}

}  // namespace orv
