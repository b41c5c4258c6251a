// Collects what the literal index holds while masks are added: each
// distinct key once, for the first mask that has it, as a record and its
// bytes. The variants of a key that only differ in the anchor they take
// ('*.name.tld' and 'name.tld') share a record, and simple variants share
// their bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "mask_engine/key_set.h"
#include "mask_engine/key_shape.h"
#include "mask_engine/literal_index.h"
#include "mask_engine/mask_keys.h"

namespace mask_engine {

class IndexBuilder {
 public:
  IndexBuilder();

  /// Adds the variants of `key` that no key added before has. `shape` is
  /// the key's (ClassifyForIndex); `whole` tells whether its mask is
  /// matched against the whole text rather than the host.
  void Add(const GeneratedKey& key, const IndexShape& shape, uint32_t tag, bool whole);

  /// Distinct keys added.
  size_t KeyCount() const { return m_seen.Size(); }

  std::vector<IndexedKey>& Records() { return m_records; }
  std::vector<uint8_t>& Bytes() { return m_bytes; }

 private:
  struct Block {
    uint32_t offset;
    bool anyChar;
  };
  Block Reserve(size_t size, bool anyChar);
  void MarkAnyChar(const Block& block, size_t i);
  Block SimpleBlock(std::span<const uint32_t> fromLiteral);
  Block SimpleBlockWithAnyChar(std::span<const uint32_t> fromLiteral);
  Block PiecedBlock(std::span<const uint32_t> literal, std::span<const uint32_t> head, std::span<const uint32_t> tail);
  void AddRecord(const IndexedKey& record, size_t firstOfKey);

  KeySet m_seen;
  std::vector<IndexedKey> m_records;
  std::vector<uint8_t> m_bytes;
  // A pieced key's bytes and which of them stand for '?'.
  std::vector<uint8_t> m_block;
  std::vector<uint8_t> m_anyChars;
};

}  // namespace mask_engine
