// The client side of a bases feed, shared by `dntbases fetch` and
// dnt-proxy's updater. A feed is a folder on a web server:
//   manifest.json             the signed manifest (see manifest.h)
//   by-hash/SHA256.sig        its detached signature, SHA256 being the
//                             manifest's own hash
//   by-hash/SHA256            each file, under its content's hash
// so a mirror caught half-way through a publish never mixes two sets. A
// check reads the signature before anything reads the manifest, the
// manifest before any file, and every file's size and hash before the set
// is handed on.
#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/bases_feed/http_fetch.h"
#include "tools/bases_feed/manifest.h"
#include "tools/bases_feed/signing.h"

namespace bases_feed {

inline constexpr const char* ManifestName = "manifest.json";

/// A set whose signature and every file checked out.
struct VerifiedSet {
  Manifest manifest;
  std::string manifestBytes;
  std::string signature;
  /// The files' bytes, in the manifest's order.
  std::vector<std::string> files;
};

/// Where the feed publishes the signature of `manifestBytes`, and a file.
std::string SignaturePath(std::string_view manifestBytes);
std::string FilePath(const ManifestFile& file);

/// Checks the signature, then reads the manifest. Throws FeedError.
Manifest VerifyManifest(EVP_PKEY* key, std::string_view bytes, std::string_view signature);

/// Whether `offered` should replace `serving` (null: nothing verified is
/// served): false when it is the manifest served. Throws FeedError Expired
/// when it expired by `now`, OldVersion when it is not newer.
bool IsNewer(const Manifest& offered, std::string_view offeredBytes, const VerifiedSet* serving, std::time_t now);

class FeedClient {
 public:
  /// `url`: the feed's folder. Throws std::invalid_argument for a bad URL,
  /// std::runtime_error for unreadable authorities.
  FeedClient(const std::string& url, Key key, const std::string& authorities, std::chrono::milliseconds timeout);

  /// Checks the feed: nullopt when it offers nothing newer than `serving`,
  /// else the new set, verified. Files `serving` holds already are not
  /// fetched again. Throws FeedError, or Stopped.
  std::optional<VerifiedSet> Check(const VerifiedSet* serving);

  /// Ends the check under way and every later one; any thread.
  void Stop() { m_fetcher.Stop(); }

  const Url& FeedUrl() const { return m_base; }
  EVP_PKEY* PublicKey() const { return m_key.get(); }

 private:
  std::string FetchFile(const ManifestFile& file, const VerifiedSet* serving);

  Url m_base;
  Key m_key;
  Fetcher m_fetcher;
  // The last manifest whose signature verified, for conditional requests.
  std::string m_etag, m_lastBytes, m_lastSignature;
};

/// A verified set kept on disk is a bases directory: its files under their
/// names, with the manifest and its signature beside them as hidden files.
inline constexpr const char* StoredManifest = ".manifest.json";
inline constexpr const char* StoredSignature = ".manifest.sig";

/// Writes `set` into `directory` (made, for its owner only, when missing),
/// each file whole before its name appears, the manifest last; removes the
/// files of the set stored before that `set` does not have. Throws
/// FeedError State.
void StoreSet(const std::filesystem::path& directory, const VerifiedSet& set);

/// The set stored in `directory`, verified again with `key` (a disk may
/// have changed it); nullopt with the reason in `problem`, empty when
/// nothing is stored there.
std::optional<VerifiedSet> LoadStoredSet(const std::filesystem::path& directory, EVP_PKEY* key, std::string& problem);

}  // namespace bases_feed
