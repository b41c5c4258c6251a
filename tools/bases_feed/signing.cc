#include "tools/bases_feed/signing.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace bases_feed {
namespace {

namespace fs = std::filesystem;

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, ContextFree>;

std::string OpenSslReason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "no reason given";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

// Creates `path` with `mode`; fails when it exists.
void WriteNewFile(const fs::path& path, mode_t mode, int (*write)(std::FILE*, EVP_PKEY*), EVP_PKEY* key) {
  const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (descriptor < 0) throw std::runtime_error("cannot create " + path.string());
  std::FILE* file = fdopen(descriptor, "w");
  if (!file) {
    close(descriptor);
    throw std::runtime_error("cannot write " + path.string());
  }
  const bool written = write(file, key) == 1;
  if (std::fclose(file) != 0 || !written) {
    fs::remove(path);
    throw std::runtime_error("cannot write " + path.string());
  }
}

template <class Read>
Key ReadKey(const fs::path& path, Read&& read, const char* what) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (!file) throw std::runtime_error("cannot open " + path.string());
  Key key(read(file));
  std::fclose(file);
  if (!key) throw std::runtime_error(path.string() + " is not a PEM " + what + " (" + OpenSslReason() + ")");
  if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
    throw std::runtime_error(path.string() + " is not an Ed25519 key (make one with `dntbases keygen`)");
  }
  return key;
}

}  // namespace

void GenerateKeyPair(const fs::path& directory) {
  const fs::path privatePath = directory / PrivateKeyFile, publicPath = directory / PublicKeyFile;
  for (const fs::path& path : {privatePath, publicPath}) {
    if (fs::exists(path)) throw std::runtime_error(path.string() + " exists already: keys are never overwritten");
  }
  if (fs::create_directories(directory)) fs::permissions(directory, fs::perms::owner_all);
  Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
  if (!key) throw std::runtime_error("cannot make an Ed25519 key: " + OpenSslReason());
  WriteNewFile(privatePath, 0600, [](std::FILE* file, EVP_PKEY* k) {
    return PEM_write_PrivateKey(file, k, nullptr, nullptr, 0, nullptr, nullptr);
  }, key.get());
  try {
    WriteNewFile(publicPath, 0644, [](std::FILE* file, EVP_PKEY* k) { return PEM_write_PUBKEY(file, k); }, key.get());
  } catch (...) {
    fs::remove(privatePath);
    throw;
  }
}

Key ReadPrivateKey(const fs::path& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) throw std::runtime_error("cannot open " + path.string());
  if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    throw std::runtime_error(path.string() + " may be read by others: chmod 600 it (and think whether to trust it)");
  }
  return ReadKey(path, [](std::FILE* file) { return PEM_read_PrivateKey(file, nullptr, nullptr, nullptr); },
                 "private key");
}

Key ReadPublicKey(const fs::path& path) {
  return ReadKey(path, [](std::FILE* file) { return PEM_read_PUBKEY(file, nullptr, nullptr, nullptr); }, "public key");
}

std::string Sign(EVP_PKEY* key, std::string_view bytes) {
  const DigestContext context(EVP_MD_CTX_new());
  std::string signature(64, '\0');
  std::size_t length = signature.size();
  if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key) != 1 ||
      EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                     reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1) {
    throw std::runtime_error("cannot sign: " + OpenSslReason());
  }
  signature.resize(length);
  return signature;
}

bool Verify(EVP_PKEY* key, std::string_view bytes, std::string_view signature) {
  const DigestContext context(EVP_MD_CTX_new());
  const bool good = context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key) == 1 &&
                    EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                                     signature.size(), reinterpret_cast<const unsigned char*>(bytes.data()),
                                     bytes.size()) == 1;
  ERR_clear_error();
  return good;
}

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 failed: " + OpenSslReason());
  }
  static constexpr char Digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += Digits[digest[i] >> 4];
    text += Digits[digest[i] & 15];
  }
  return text;
}

}  // namespace bases_feed
