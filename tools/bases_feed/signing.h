// The publisher's Ed25519 key pair and what it signs, through OpenSSL.
#pragma once

#include <openssl/evp.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace bases_feed {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

inline constexpr const char* PrivateKeyFile = "bases.key";
inline constexpr const char* PublicKeyFile = "bases.pub";

/// Makes a new key pair in `directory`: PrivateKeyFile (PEM, mode 0600)
/// and PublicKeyFile (PEM). Never overwrites either. Throws
/// std::runtime_error.
void GenerateKeyPair(const std::filesystem::path& directory);

/// Reads an Ed25519 private key that only its owner may read, or a public
/// key. Throw std::runtime_error naming the file.
Key ReadPrivateKey(const std::filesystem::path& path);
Key ReadPublicKey(const std::filesystem::path& path);

/// The detached Ed25519 signature of `bytes` (64 bytes).
std::string Sign(EVP_PKEY* key, std::string_view bytes);
/// Whether `signature` is `key`'s signature of `bytes`.
bool Verify(EVP_PKEY* key, std::string_view bytes, std::string_view signature);

/// The SHA-256 of `bytes`, in lower-case hexadecimal.
std::string Sha256Hex(std::string_view bytes);

}  // namespace bases_feed
