// OpenSSL's objects owned as C++ objects, its error queue as an exception,
// and the protocol list both TLS sides of the proxy offer.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace dnt_proxy {

/// http/1.1 alone, in ALPN's wire format: the proxy relays nothing else.
inline constexpr unsigned char Http11Alpn[] = "\x08http/1.1";

template <class T, void (*Free)(T*)>
struct OpenSslFree {
  void operator()(T* object) const { Free(object); }
};

using X509Handle = std::unique_ptr<X509, OpenSslFree<X509, X509_free>>;
using KeyHandle = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using BioHandle = std::unique_ptr<BIO, OpenSslFree<BIO, BIO_free_all>>;

/// A failure of OpenSSL: `what`, then the reason OpenSSL's error queue
/// gives (which it empties).
class OpenSslError : public std::runtime_error {
 public:
  explicit OpenSslError(const std::string& what);
};

/// Throws OpenSslError(`what`) unless `ok`.
inline void CheckSsl(bool ok, const char* what) {
  if (!ok) throw OpenSslError(what);
}

}  // namespace dnt_proxy
