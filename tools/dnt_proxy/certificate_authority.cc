#include "tools/dnt_proxy/certificate_authority.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

namespace dnt_proxy {
namespace {

namespace fs = std::filesystem;

constexpr long Hour = 60 * 60;
constexpr long Day = 24 * Hour;
constexpr int AuthorityDays = 3653;
// Longer common names do not fit the field; the alternative name is what
// clients check anyway.
constexpr std::size_t MaxCommonName = 64;

using NamesHandle = std::unique_ptr<GENERAL_NAMES, OpenSslFree<GENERAL_NAMES, GENERAL_NAMES_free>>;

std::string Reason() {
  char text[256] = "no reason given";
  if (const unsigned long code = ERR_get_error()) ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  return text;
}

KeyHandle NewKey() {
  KeyHandle key(EVP_EC_gen("P-256"));
  CheckSsl(key != nullptr, "cannot make an ECDSA P-256 key");
  return key;
}

void SetRandomSerial(X509* certificate) {
  std::unique_ptr<BIGNUM, OpenSslFree<BIGNUM, BN_free>> serial(BN_new());
  // 127 random bits: positive, and unique in practice.
  CheckSsl(serial && BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
               BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)) != nullptr,
           "cannot make a serial number");
}

void AddNameEntry(X509_NAME* name, const char* field, const std::string& value) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(value.c_str());
  CheckSsl(X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, bytes, -1, -1, 0) == 1, "cannot set a name");
}

// A version 3 certificate for `key` with a random serial number, valid
// from `notBefore` to `notAfter`, with a subject of its own.
X509Handle NewCertificate(EVP_PKEY* key, std::time_t notBefore, std::time_t notAfter, const std::string& commonName) {
  X509Handle certificate(X509_new());
  CheckSsl(certificate && X509_set_version(certificate.get(), X509_VERSION_3) == 1, "cannot make a certificate");
  SetRandomSerial(certificate.get());
  CheckSsl(X509_time_adj_ex(X509_getm_notBefore(certificate.get()), 0, 0, &notBefore) != nullptr &&
               X509_time_adj_ex(X509_getm_notAfter(certificate.get()), 0, 0, &notAfter) != nullptr,
           "cannot set the validity");
  X509_NAME* subject = X509_get_subject_name(certificate.get());
  AddNameEntry(subject, "O", "dnt-proxy");
  if (commonName.size() <= MaxCommonName) AddNameEntry(subject, "CN", commonName);
  CheckSsl(X509_set_pubkey(certificate.get(), key) == 1, "cannot set the public key");
  return certificate;
}

// An extension as OpenSSL's configuration text writes it; `issuer` is the
// certificate that signs (for the authority key identifier).
void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  const bool added = extension != nullptr && X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  CheckSsl(added, "cannot add a certificate extension");
}

// The name a leaf is valid for: an IP address, or a DNS name. Made as
// values, not as configuration text, so that no name can add another.
void AddSubjectAltName(X509* certificate, const std::string& name) {
  NamesHandle names(sk_GENERAL_NAME_new_null());
  GENERAL_NAME* entry = GENERAL_NAME_new();
  CheckSsl(names && entry && sk_GENERAL_NAME_push(names.get(), entry) > 0, "cannot make a subject name");
  if (ASN1_OCTET_STRING* address = a2i_IPADDRESS(name.c_str())) {
    GENERAL_NAME_set0_value(entry, GEN_IPADD, address);
  } else {
    ERR_clear_error();
    ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
    CheckSsl(dns && ASN1_STRING_set(dns, name.data(), static_cast<int>(name.size())) == 1, "cannot set a DNS name");
    GENERAL_NAME_set0_value(entry, GEN_DNS, dns);
  }
  CheckSsl(X509_add1_ext_i2d(certificate, NID_subject_alt_name, names.get(), 0, X509V3_ADD_DEFAULT) == 1,
           "cannot add the subject's alternative name");
}

void Sign(X509* certificate, EVP_PKEY* key) {
  CheckSsl(X509_sign(certificate, key, EVP_sha256()) > 0, "cannot sign a certificate");
}

std::string AuthorityName() {
  char host[32] = {};
  gethostname(host, sizeof host - 1);
  char date[16];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(date, sizeof date, "%Y-%m-%d", &utc);
  return std::string("dnt-proxy CA on ") + host + ", " + date;
}

// Writes `write`'s PEM into a new file of `mode`; never replaces a file.
void WriteNewFile(const fs::path& path, mode_t mode, const std::function<bool(std::FILE*)>& write) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) throw std::runtime_error("cannot create " + path.string() + ": " + std::strerror(errno));
  // The umask may have narrowed the mode; the key's must be exactly this.
  fchmod(fd, mode);
  std::FILE* file = fdopen(fd, "w");
  const bool written = file && write(file);
  const bool closed = file ? std::fclose(file) == 0 : close(fd) == 0;
  if (!written || !closed) {
    fs::remove(path);
    throw std::runtime_error("cannot write " + path.string());
  }
}

template <class Object>
Object ReadPem(const fs::path& path, Object (*read)(std::FILE*)) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), std::fclose);
  if (!file) throw std::runtime_error("cannot read " + path.string() + ": " + std::strerror(errno));
  Object object = read(file.get());
  if (!object) throw std::runtime_error(path.string() + " holds no PEM this proxy can read: " + Reason());
  return object;
}

void CheckKeyMode(const fs::path& key) {
  struct stat status {};
  if (stat(key.c_str(), &status) != 0) throw std::runtime_error("cannot read " + key.string() + ": " + std::strerror(errno));
  if ((status.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    throw std::runtime_error("others than its owner may read the CA key " + key.string() + " (mode " + mode +
                             "): make it 0600");
  }
}

}  // namespace

OpenSslError::OpenSslError(const std::string& what) : std::runtime_error(what + ": " + Reason()) {}

fs::path CertificateAuthority::Create(const fs::path& directory) {
  const fs::path keyPath = directory / KeyFile, certificatePath = directory / CertificateFile;
  for (const fs::path& path : {keyPath, certificatePath}) {
    if (fs::exists(path)) throw std::runtime_error(path.string() + " exists already: a CA is never overwritten");
  }
  if (fs::create_directories(directory)) fs::permissions(directory, fs::perms::owner_all);
  const KeyHandle key = NewKey();
  const std::time_t now = std::time(nullptr);
  const X509Handle certificate = NewCertificate(key.get(), now - Hour, now + AuthorityDays * Day, AuthorityName());
  X509_set_issuer_name(certificate.get(), X509_get_subject_name(certificate.get()));
  AddExtension(certificate.get(), certificate.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
  AddExtension(certificate.get(), certificate.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(certificate.get(), certificate.get(), NID_subject_key_identifier, "hash");
  Sign(certificate.get(), key.get());
  WriteNewFile(keyPath, 0600, [&](std::FILE* file) {
    return PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  });
  try {
    WriteNewFile(certificatePath, 0644, [&](std::FILE* file) { return PEM_write_X509(file, certificate.get()) == 1; });
  } catch (...) {
    fs::remove(keyPath);
    throw;
  }
  return certificatePath;
}

CertificateAuthority::CertificateAuthority(const fs::path& directory) {
  const fs::path keyPath = directory / KeyFile, certificatePath = directory / CertificateFile;
  m_certificate = X509Handle(ReadPem<X509*>(certificatePath, [](std::FILE* file) {
    return PEM_read_X509(file, nullptr, nullptr, nullptr);
  }));
  CheckKeyMode(keyPath);
  m_key = KeyHandle(ReadPem<EVP_PKEY*>(keyPath, [](std::FILE* file) {
    return PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  }));
  if (X509_check_private_key(m_certificate.get(), m_key.get()) != 1) {
    throw std::runtime_error(keyPath.string() + " is not the key of " + certificatePath.string());
  }
  if (X509_check_ca(m_certificate.get()) == 0) {
    throw std::runtime_error(certificatePath.string() + " is not a certificate authority's");
  }
  if (X509_cmp_current_time(X509_get0_notAfter(m_certificate.get())) <= 0) {
    throw std::runtime_error(certificatePath.string() + " has expired: make a new CA with `dnt-proxy ca init`");
  }
  std::tm end{};
  CheckSsl(ASN1_TIME_to_tm(X509_get0_notAfter(m_certificate.get()), &end) == 1, "cannot read the CA's validity");
  m_notAfter = timegm(&end);
}

Leaf CertificateAuthority::Mint(const std::string& name) const {
  Leaf leaf{nullptr, NewKey(), 0};
  const std::time_t now = std::time(nullptr);
  leaf.notAfter = std::min<std::time_t>(now + LeafDays * Day, m_notAfter);
  leaf.certificate = NewCertificate(leaf.key.get(), now - Hour, leaf.notAfter, name);
  X509* certificate = leaf.certificate.get();
  CheckSsl(X509_set_issuer_name(certificate, X509_get_subject_name(m_certificate.get())) == 1, "cannot set the issuer");
  AddExtension(certificate, m_certificate.get(), NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(certificate, m_certificate.get(), NID_key_usage, "critical,digitalSignature");
  AddExtension(certificate, m_certificate.get(), NID_ext_key_usage, "serverAuth");
  AddExtension(certificate, m_certificate.get(), NID_subject_key_identifier, "hash");
  AddExtension(certificate, m_certificate.get(), NID_authority_key_identifier, "keyid:always");
  AddSubjectAltName(certificate, name);
  Sign(certificate, m_key.get());
  return leaf;
}

}  // namespace dnt_proxy
