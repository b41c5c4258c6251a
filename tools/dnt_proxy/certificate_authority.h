// The local certificate authority of TLS interception. `dnt-proxy ca init
// DIR` makes it once; the user's browser trusts it; --intercept DIR loads it
// to sign the leaf certificates the proxy shows clients for the servers
// whose traffic the engine asks to see. Its key lives in its file (mode
// 0600) and in this process's memory only: it is never written elsewhere,
// sent or logged.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>

#include "tools/dnt_proxy/openssl_handles.h"

namespace dnt_proxy {

/// A certificate the authority signed, with its own key.
struct Leaf {
  X509Handle certificate;
  KeyHandle key;
  std::time_t notAfter = 0;
};

class CertificateAuthority {
 public:
  static constexpr const char* CertificateFile = "ca.crt";
  static constexpr const char* KeyFile = "ca.key";
  /// How long a leaf is valid.
  static constexpr int LeafDays = 30;

  /// Makes a new authority in `directory` (created, mode 0700, when it is
  /// missing): an ECDSA P-256 key in ca.key (mode 0600) and its
  /// self-signed certificate, valid for ten years, in ca.crt. Refuses with
  /// std::runtime_error when either file exists. Returns the certificate's
  /// path.
  static std::filesystem::path Create(const std::filesystem::path& directory);

  /// Loads the authority of `directory`. Throws std::runtime_error when a
  /// file is missing or unreadable, when others than its owner may read the
  /// key, when key and certificate do not belong together, or when the
  /// certificate is no authority's or has expired.
  explicit CertificateAuthority(const std::filesystem::path& directory);

  /// A leaf for `name` (a host name or an IP address, already checked),
  /// with an ECDSA P-256 key of its own, valid from an hour ago for
  /// LeafDays days but not beyond the authority's certificate. Throws
  /// OpenSslError.
  Leaf Mint(const std::string& name) const;

 private:
  X509Handle m_certificate;
  KeyHandle m_key;
  std::time_t m_notAfter = 0;
};

}  // namespace dnt_proxy
