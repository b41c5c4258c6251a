#include "tools/bases_feed/feed_client.h"

#include <fstream>
#include <set>

#include "tools/bases_feed/feed_error.h"

namespace bases_feed {
namespace {

namespace fs = std::filesystem;

// The whole file when it is at most `limit` bytes; nullopt otherwise.
std::optional<std::string> ReadSmallFile(const fs::path& path, uint64_t limit) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error || size > limit) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::string bytes(size, '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(size)) || in.peek() != std::ifstream::traits_type::eof()) {
    return std::nullopt;
  }
  return bytes;
}

void WriteWhole(const fs::path& directory, const std::string& name, const std::string& bytes) {
  const fs::path partial = directory / ("." + name + ".part");
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw FeedError(Failure::State, "cannot write " + partial.string());
  }
  std::error_code error;
  fs::rename(partial, directory / name, error);
  if (error) throw FeedError(Failure::State, "cannot write " + (directory / name).string() + ": " + error.message());
}

}  // namespace

std::string SignaturePath(std::string_view manifestBytes) { return "by-hash/" + Sha256Hex(manifestBytes) + ".sig"; }

std::string FilePath(const ManifestFile& file) { return "by-hash/" + file.sha256; }

Manifest VerifyManifest(EVP_PKEY* key, std::string_view bytes, std::string_view signature) {
  if (!Verify(key, bytes, signature)) {
    throw FeedError(Failure::Signature, "the manifest is not signed by the key (a wrong key, or a changed manifest)");
  }
  return ParseManifest(bytes);
}

bool IsNewer(const Manifest& offered, std::string_view offeredBytes, const VerifiedSet* serving, std::time_t now) {
  if (offered.expires <= now) {
    throw FeedError(Failure::Expired, "version " + std::to_string(offered.version) + " expired at " + UtcText(offered.expires) +
                                          " (has the publisher stopped, or is an old copy served?)");
  }
  if (!serving) return true;
  const uint64_t current = serving->manifest.version;
  if (offered.version == current && offeredBytes == serving->manifestBytes) return false;
  if (offered.version <= current) {
    throw FeedError(Failure::OldVersion, "version " + std::to_string(offered.version) + " is not newer than version " +
                                             std::to_string(current) + ", which is served");
  }
  return true;
}

FeedClient::FeedClient(const std::string& url, Key key, const std::string& authorities, std::chrono::milliseconds timeout)
    : m_base(ParseUrl(url)), m_key(std::move(key)), m_fetcher(authorities, timeout) {
  // The URL names a folder.
  const std::size_t query = m_base.target.find('?');
  if (query != std::string::npos) throw std::invalid_argument("the feed's URL may not have a query: " + url);
  if (m_base.target.back() != '/') m_base.target += '/';
}

std::optional<VerifiedSet> FeedClient::Check(const VerifiedSet* serving) {
  Response response = m_fetcher.Get(ResolveUrl(m_base, ManifestName), MaxManifestBytes, m_lastBytes.empty() ? "" : m_etag);
  std::string bytes, signature;
  if (response.status == 304) {
    bytes = m_lastBytes;
    signature = m_lastSignature;
  } else {
    bytes = std::move(response.body);
    signature = m_fetcher.Get(ResolveUrl(m_base, SignaturePath(bytes)), MaxSignatureBytes).body;
  }
  const Manifest manifest = VerifyManifest(m_key.get(), bytes, signature);
  if (response.status != 304) {
    m_etag = response.etag;
    m_lastBytes = bytes;
    m_lastSignature = signature;
  }
  if (!IsNewer(manifest, bytes, serving, std::time(nullptr))) return std::nullopt;
  VerifiedSet set{manifest, std::move(bytes), std::move(signature), {}};
  for (const ManifestFile& file : manifest.files) set.files.push_back(FetchFile(file, serving));
  return set;
}

std::string FeedClient::FetchFile(const ManifestFile& file, const VerifiedSet* serving) {
  if (serving) {
    for (std::size_t i = 0; i < serving->files.size(); ++i) {
      if (serving->manifest.files[i].sha256 == file.sha256 && serving->files[i].size() == file.size) return serving->files[i];
    }
  }
  std::string bytes;
  try {
    bytes = m_fetcher.Get(ResolveUrl(m_base, FilePath(file)), file.size).body;
  } catch (const FeedError& e) {
    if (e.Reason() != Failure::TooLarge) throw;
    throw FeedError(Failure::Size, file.name + " is longer than the " + std::to_string(file.size) +
                                       " bytes its manifest says");
  }
  if (bytes.size() != file.size) {
    throw FeedError(Failure::Size, file.name + " is " + std::to_string(bytes.size()) + " bytes, its manifest says " +
                                       std::to_string(file.size));
  }
  if (Sha256Hex(bytes) != file.sha256) throw FeedError(Failure::Hash, file.name + " is not the file its manifest names (SHA-256)");
  return bytes;
}

void StoreSet(const fs::path& directory, const VerifiedSet& set) {
  std::error_code error;
  if (fs::create_directories(directory, error)) fs::permissions(directory, fs::perms::owner_all, error);
  if (!fs::is_directory(directory)) throw FeedError(Failure::State, "cannot make the folder " + directory.string());
  std::set<std::string> names;
  for (std::size_t i = 0; i < set.files.size(); ++i) {
    WriteWhole(directory, set.manifest.files[i].name, set.files[i]);
    names.insert(set.manifest.files[i].name);
  }
  // Only the files the previous manifest names are ours to remove; its
  // names are plain, whatever wrote it.
  if (const auto previous = ReadSmallFile(directory / StoredManifest, MaxManifestBytes)) {
    try {
      for (const ManifestFile& file : ParseManifest(*previous).files) {
        if (!names.count(file.name)) fs::remove(directory / file.name, error);
      }
    } catch (const FeedError&) {
    }
  }
  WriteWhole(directory, StoredSignature, set.signature);
  WriteWhole(directory, StoredManifest, set.manifestBytes);
}

std::optional<VerifiedSet> LoadStoredSet(const fs::path& directory, EVP_PKEY* key, std::string& problem) {
  problem.clear();
  if (!fs::exists(directory / StoredManifest)) return std::nullopt;
  const auto bytes = ReadSmallFile(directory / StoredManifest, MaxManifestBytes);
  const auto signature = ReadSmallFile(directory / StoredSignature, MaxSignatureBytes);
  if (!bytes || !signature) {
    problem = "its manifest or signature cannot be read";
    return std::nullopt;
  }
  VerifiedSet set;
  try {
    set.manifest = VerifyManifest(key, *bytes, *signature);
  } catch (const FeedError& e) {
    problem = e.what();
    return std::nullopt;
  }
  for (const ManifestFile& file : set.manifest.files) {
    auto content = ReadSmallFile(directory / file.name, file.size);
    if (!content || content->size() != file.size || Sha256Hex(*content) != file.sha256) {
      problem = file.name + " is not the file its manifest names";
      return std::nullopt;
    }
    set.files.push_back(std::move(*content));
  }
  set.manifestBytes = *bytes;
  set.signature = *signature;
  return set;
}

}  // namespace bases_feed
