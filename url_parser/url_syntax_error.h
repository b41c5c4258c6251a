#pragma once

#include <stdexcept>

namespace orv::network {

// A URL text or model that cannot be parsed or written back. Deliberately a
// plain logic error and not part of the orv exception family: the URL code
// depends on the standard library only.
class UrlSyntaxError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

}  // namespace orv::network
