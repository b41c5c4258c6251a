#include "mask_engine/key_arena.h"

#include <algorithm>

namespace mask_engine {

namespace {

constexpr size_t kMinBlockSize = 65536;
constexpr size_t kBlockGranule = 2048;
constexpr size_t kBlockOverhead = 40;

size_t BlockSizeFor(size_t need) {
  const size_t wanted = std::max(need + kBlockOverhead, kMinBlockSize);
  return (wanted + kBlockGranule - 1) / kBlockGranule * kBlockGranule;
}

}  // namespace

size_t KeyArena::NewBlock(size_t need) {
  const size_t size = BlockSizeFor(need);
  m_blocks.push_back(Block{std::make_unique_for_overwrite<uint8_t[]>(size), size, 0});
  return m_blocks.size() - 1;
}

uint8_t* KeyArena::Allocate(size_t size) {
  size_t index;
  auto it = m_freeBlocks.lower_bound(size);
  if (it != m_freeBlocks.end()) {
    index = it->second;
    m_freeBlocks.erase(it);
  } else {
    index = NewBlock(size);
  }
  Block& block = m_blocks[index];
  uint8_t* result = block.bytes.get() + block.used;
  block.used += size;
  const size_t left = block.size - block.used;
  if (left > 0) m_freeBlocks.emplace(left, index);
  return result;
}

}  // namespace mask_engine
