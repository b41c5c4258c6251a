// The signed index of a published set of bases: which files make the set,
// with each file's size and SHA-256, the set's version (which only grows)
// and the times it was made and stops being good. The publisher signs the
// manifest's bytes; a client checks that signature before it reads them.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bases_feed {

inline constexpr std::string_view ManifestFormat = "dnt-bases-manifest/1";

/// Limits against endless or huge data: a manifest, a signature, the
/// files of one set.
inline constexpr std::size_t MaxManifestBytes = 1 << 20;
inline constexpr std::size_t MaxSignatureBytes = 1024;
inline constexpr std::size_t MaxFiles = 1000;
inline constexpr uint64_t MaxFileBytes = uint64_t{64} << 20;
inline constexpr uint64_t MaxSetBytes = uint64_t{256} << 20;
/// Versions stay exact in any JSON reader.
inline constexpr uint64_t MaxVersion = (uint64_t{1} << 53) - 1;

struct ManifestFile {
  /// A plain file name (see IsPlainName), as the bases directory holds it.
  std::string name;
  uint64_t size = 0;
  /// Lower-case hexadecimal.
  std::string sha256;
};

struct Manifest {
  uint64_t version = 0;
  std::time_t created = 0;
  std::time_t expires = 0;
  std::vector<ManifestFile> files;
};

/// Reads a manifest. Throws FeedError: Manifest for anything malformed
/// (unknown or missing fields, a name that is not plain, a name twice, a
/// bad hash, times out of order), TooLarge for bytes or files over the
/// limits above.
Manifest ParseManifest(std::string_view bytes);

/// The manifest's bytes, as the publisher signs them.
std::string ManifestText(const Manifest& manifest);

/// 1 to 128 characters of A-Z a-z 0-9 . _ -, not starting with '.': no
/// path, no hidden name, nothing a file system reads otherwise.
bool IsPlainName(std::string_view name);

/// "2026-03-01T13:05:09Z".
std::string UtcText(std::time_t time);
/// The time of a UtcText; nullopt for any other text.
std::optional<std::time_t> ParseUtcText(std::string_view text);

/// "90s", "15m", "6h" and, where `days` allows, "14d". Throws
/// std::invalid_argument for anything else, zero included.
std::chrono::seconds ParseDuration(std::string_view text, bool days);

}  // namespace bases_feed
