// Service records in one byte block: no object per service, the compact
// varint form of the file kept as is.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace dnt {

/// One service as read from the block; `name` points into the block.
struct ServiceInfo {
  uint32_t id = 0;
  uint32_t category = 0;
  std::string_view name;
};

/// Record i is data[offsets[i], offsets[i+1]): varint id, varint category,
/// then the name's bytes to the end of the record.
class FlatObjectListBlock {
 public:
  FlatObjectListBlock() : m_offsets{0} {}

  size_t Count() const noexcept { return m_offsets.size() - 1; }
  /// Throws std::out_of_range "FlatObjectListBlock: the index is out of range".
  ServiceInfo Get(size_t index) const;
  /// Only the id of record `index` (same index check).
  uint32_t GetId(size_t index) const;

  /// Room for `records` more records of about `bytesPerRecord` bytes each.
  void Reserve(size_t records, size_t bytesPerRecord);
  /// Appends a record; the data may not grow beyond 4 GiB (std::length_error).
  void Add(uint32_t id, uint32_t category, std::string_view name);
  void ShrinkToFit();

  /// Bytes held by the block (data and offsets).
  size_t MemoryBytes() const noexcept { return m_data.capacity() + m_offsets.capacity() * sizeof(uint32_t); }

 private:
  void CheckIndex(size_t index) const;

  std::vector<uint8_t> m_data;
  std::vector<uint32_t> m_offsets;
};

}  // namespace dnt
