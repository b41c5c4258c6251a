// Certificates of the tests' stand-in web, made with the openssl program:
// the proxy's verification of servers is checked against certificates it
// did not make itself.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/local_origin/local_origin.h"

namespace proxy_test {

struct WebCertificates {
  /// The web's certificate authority (PEM), for --upstream-ca and browsers.
  std::filesystem::path authority;
  /// Signed by that authority for the names asked for.
  local_origin::TlsIdentity origin;
  /// Signed by itself, for one name.
  local_origin::TlsIdentity selfSigned;
};

/// Makes them in `directory`; throws std::runtime_error when openssl fails.
WebCertificates MakeWebCertificates(const std::filesystem::path& directory, const std::vector<std::string>& names,
                                    const std::string& selfSignedName);

}  // namespace proxy_test
