#include "mask_engine/mask_keys.h"

#include "mask_engine/mask_symbols.h"

namespace mask_engine {

namespace {

constexpr uint32_t kSlashChar = '/';

bool IsDefaultPath(const std::vector<uint32_t>& path, uint8_t tail) {
  return path.size() - tail == 1 && path[0] == kAnyRunSymbol;
}

// Brings the path after the host into the form the trie stores. Most paths
// get a '/*' tail so that 'site.test/ad' covers '/ad/x' as well as '/ad'.
uint8_t NormalizePath(std::span<const uint32_t> path, KeyScratch& scratch) {
  std::vector<uint32_t>& out = scratch.path;
  const size_t n = path.size();
  if (n == 0 || (n == 1 && (path[0] == kAnyRunSymbol || path[0] == kSlashChar))) {
    out.assign(1, kAnyRunSymbol);
    return 0;
  }
  out.assign(path.begin(), path.end());
  const uint32_t last = path[n - 1];
  if (n == 1) {
    // A single literal or '?' gets the tail below.
  } else if (last == kSlashChar) {
    if (path[n - 2] == kAnyRunSymbol) return 0;
    out.pop_back();
  } else if (last == kAnyRunSymbol) {
    if (path[n - 2] != kSlashChar) return 0;
    if (n > 2 && path[n - 3] == kAnyRunSymbol) {
      out.resize(n - 2);
      return 0;
    }
    return 2;
  }
  out.push_back(kSlashChar);
  out.push_back(kAnyRunSymbol);
  return 2;
}

}  // namespace

KeyScratch::KeyScratch() {
  path.reserve(256);
  key.reserve(512);
}

MaskKeys GenerateMaskKeys(std::span<const uint32_t> symbols, bool domainFlag, KeyScratch& scratch) {
  size_t slash = 0;
  while (slash < symbols.size() && symbols[slash] != kSlashChar) ++slash;
  std::span<const uint32_t> host = symbols.first(slash);
  std::span<const uint32_t> path =
      slash < symbols.size() ? symbols.subspan(slash + 1) : std::span<const uint32_t>{};

  uint8_t head = 0;
  if (host.size() >= 3 && host[0] == '.') host = host.subspan(1);
  if (host.size() >= 3 && host[0] == kAnyRunSymbol && host[1] == '.') head = 2;

  const uint8_t tail = NormalizePath(path, scratch);

  MaskKeys result;
  if (!host.empty() && (domainFlag || IsDefaultPath(scratch.path, tail))) {
    result.keys[result.count++] = GeneratedKey{host, head, 0};
    if (domainFlag || host.back() == kAnyRunSymbol) return result;
  }
  scratch.key.assign(host.begin(), host.end());
  scratch.key.push_back(kSlashChar);
  scratch.key.insert(scratch.key.end(), scratch.path.begin(), scratch.path.end());
  result.keys[result.count++] = GeneratedKey{scratch.key, head, tail};
  return result;
}

KeyVariants VariantsOf(size_t length, uint8_t head, uint8_t tail) {
  KeyVariants v;
  v.ranges[v.count++] = {0, length};
  if (tail > 0) {
    v.ranges[v.count++] = {0, length - tail};
    if (head > 0) v.ranges[v.count++] = {head, length - tail};
  }
  if (head > 0) v.ranges[v.count++] = {head, length};
  return v;
}

std::vector<std::vector<uint16_t>> EffectiveKeys(const char* text, uint32_t length) {
  std::vector<uint32_t> symbols;
  ParseMaskSymbols(text, length, symbols);
  std::vector<std::vector<uint16_t>> keys;
  if (symbols.empty()) return keys;
  KeyScratch scratch;
  const MaskKeys generated = GenerateMaskKeys(symbols, ComputeDomainFlag(symbols), scratch);
  for (int k = 0; k < generated.count; ++k) {
    const GeneratedKey& key = generated.keys[k];
    const KeyVariants variants = VariantsOf(key.symbols.size(), key.head, key.tail);
    for (int i = 0; i < variants.count; ++i) {
      std::vector<uint16_t> effective;
      for (size_t p = variants.ranges[i].begin; p < variants.ranges[i].end; ++p) {
        effective.push_back(ToKeySymbol(key.symbols[p]));
      }
      keys.push_back(std::move(effective));
    }
  }
  return keys;
}

}  // namespace mask_engine
