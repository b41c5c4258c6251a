// How one mask becomes the keys stored in the trie.
//
// A mask yields a host key (the host alone), a full key (host, '/', path) or
// both. A key with head offset h also stands for itself without its first h
// symbols ('*.site.test' -> 'site.test'); a key with tail T also stands for
// itself without its last T symbols ('site.test/ad/*' -> 'site.test/ad').
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mask_engine {

/// Buffers reused by every mask, so adding masks does not allocate once warm.
struct KeyScratch {
  KeyScratch();
  std::vector<uint32_t> path;
  std::vector<uint32_t> key;
};

struct GeneratedKey {
  std::span<const uint32_t> symbols;  // mask symbols (see mask_symbols.h)
  uint8_t head = 0;
  uint8_t tail = 0;
};

struct MaskKeys {
  GeneratedKey keys[2];
  int count = 0;
};

/// The keys of a mask given as symbols. The spans point into `symbols` or
/// `scratch` and stay valid until either changes.
MaskKeys GenerateMaskKeys(std::span<const uint32_t> symbols, bool domainFlag, KeyScratch& scratch);

/// The ranges [begin, end) of a stored key that take part in matching: the
/// whole key, and its head/tail variants.
struct KeyVariant {
  size_t begin;
  size_t end;
};
struct KeyVariants {
  KeyVariant ranges[4];
  int count = 0;
};
KeyVariants VariantsOf(size_t length, uint8_t head, uint8_t tail);

/// Every effective key of a mask text as 9-bit key symbols, in the order the
/// engine stores them. For tests and diagnostics; allocates freely.
std::vector<std::vector<uint16_t>> EffectiveKeys(const char* text, uint32_t length);

}  // namespace mask_engine
