// The host's path expansion service.
#pragma once

#include <string>

#include "orv/object.h"

namespace orv {

class IEnvironment : public IObject {
 public:
  static constexpr iid_t iid = 0x6dd4bcbb;
  /// Expands placeholders such as "%Bases%" into `out`.
  virtual result_t Expand(const char16_t* text, std::u16string* out) = 0;

 protected:
  ~IEnvironment() = default;
};

/// The IP resolver; only its presence is checked by this library.
class IIpResolver : public IObject {
 public:
  static constexpr iid_t iid = 0x490319fb;

 protected:
  ~IIpResolver() = default;
};

}  // namespace orv
