// Block arena for the bytes of mask keys: keys are written once, never freed
// one by one, and released together when compilation ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace mask_engine {

class KeyArena {
 public:
  KeyArena() = default;
  KeyArena(const KeyArena&) = delete;
  KeyArena& operator=(const KeyArena&) = delete;

  /// `size` bytes that stay valid until the arena is destroyed.
  uint8_t* Allocate(size_t size);

 private:
  struct Block {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size;
    size_t used;
  };

  size_t NewBlock(size_t need);

  std::vector<Block> m_blocks;
  // Free bytes -> block index; the smallest block that fits is used first.
  std::multimap<size_t, size_t> m_freeBlocks;
};

}  // namespace mask_engine
