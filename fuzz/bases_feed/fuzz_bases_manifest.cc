// Any bytes as a feed's manifest: the reader gives a manifest that keeps
// every promise it makes (plain names, limits, order of times, and the same
// manifest once written again) or refuses with FeedError; any other
// exception escapes and is reported as a finding.
#include <cstdint>
#include <string_view>

#include "tools/bases_feed/feed_error.h"
#include "tools/bases_feed/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace bases_feed;
  try {
    const Manifest manifest = ParseManifest(std::string_view(reinterpret_cast<const char*>(data), size));
    uint64_t total = 0;
    for (const ManifestFile& file : manifest.files) {
      if (!IsPlainName(file.name) || file.size > MaxFileBytes || file.sha256.size() != 64) __builtin_trap();
      total += file.size;
    }
    if (manifest.files.empty() || total > MaxSetBytes || manifest.expires <= manifest.created) __builtin_trap();
    const Manifest again = ParseManifest(ManifestText(manifest));
    if (again.version != manifest.version || again.files.size() != manifest.files.size() ||
        again.created != manifest.created || again.expires != manifest.expires) {
      __builtin_trap();
    }
  } catch (const FeedError&) {
  }
  return 0;
}
