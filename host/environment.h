#pragma once

#include <string>

#include "host/host_object.h"
#include "orv/environment.h"

namespace host {

/// Path expansion for a host whose bases live in one directory: every
/// "%Bases%" in a text becomes that directory; any other text, other
/// placeholders included, comes back unchanged.
class Environment final : public HostObject<orv::IEnvironment> {
 public:
  explicit Environment(std::u16string basesDirectory) : m_basesDirectory(std::move(basesDirectory)) {}

  orv::result_t Expand(const char16_t* text, std::u16string* out) override;

  /// Makes every later Expand fail with `code` (NoError restores it).
  void FailExpand(orv::result_t code) { m_failure = code; }

 private:
  std::u16string m_basesDirectory;
  orv::result_t m_failure = orv::result::NoError;
};

}  // namespace host
