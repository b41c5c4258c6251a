#include "do_not_track/dnt_engine/flat_object_list_block.h"

#include <cstring>
#include <stdexcept>

#include "do_not_track/util/binary_serializer.h"

namespace dnt {

namespace {

// Records are written by Add in minimal form, so decoding never runs past
// the record; the bound is kept anyway so a damaged block cannot over-read.
uint32_t DecodeVarint(const uint8_t*& p, const uint8_t* end) {
  uint32_t value = 0;
  while (p != end) {
    const uint8_t byte = *p++;
    value = (value << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) break;
  }
  return value;
}

}  // namespace

void FlatObjectListBlock::CheckIndex(size_t index) const {
  if (index >= Count()) throw std::out_of_range("FlatObjectListBlock: the index is out of range");
}

ServiceInfo FlatObjectListBlock::Get(size_t index) const {
  CheckIndex(index);
  const uint8_t* p = m_data.data() + m_offsets[index];
  const uint8_t* end = m_data.data() + m_offsets[index + 1];
  ServiceInfo info;
  info.id = DecodeVarint(p, end);
  info.category = DecodeVarint(p, end);
  info.name = std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
  return info;
}

uint32_t FlatObjectListBlock::GetId(size_t index) const {
  CheckIndex(index);
  const uint8_t* p = m_data.data() + m_offsets[index];
  return DecodeVarint(p, m_data.data() + m_offsets[index + 1]);
}

void FlatObjectListBlock::Reserve(size_t records, size_t bytesPerRecord) {
  m_offsets.reserve(m_offsets.size() + records);
  m_data.reserve(m_data.size() + records * bytesPerRecord);
}

void FlatObjectListBlock::Add(uint32_t id, uint32_t category, std::string_view name) {
  const size_t start = m_data.size();
  const size_t size = size_t{VarintSize(id)} + VarintSize(category) + name.size();
  if (size > UINT32_MAX - start) throw std::length_error("FlatObjectListBlock: too much data");
  m_data.resize(start + size);
  uint8_t* p = m_data.data() + start;
  p = WriteVarint(p, id);
  p = WriteVarint(p, category);
  if (!name.empty()) std::memcpy(p, name.data(), name.size());
  m_offsets.push_back(static_cast<uint32_t>(m_data.size()));
}

void FlatObjectListBlock::ShrinkToFit() {
  m_data.shrink_to_fit();
  m_offsets.shrink_to_fit();
}

}  // namespace dnt
