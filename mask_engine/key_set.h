// The distinct keys seen so far, so that a key that several masks share is
// kept once, for the first of them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mask_engine {

class KeySet {
 public:
  /// The key (mask symbols) whose variants Insert takes next; it must stay
  /// valid until then.
  void SetKey(std::span<const uint32_t> key);

  /// Adds the key's symbols [begin, end); false when an equal key was
  /// added before.
  bool Insert(size_t begin, size_t end);

  size_t Size() const { return m_size; }

 private:
  struct Slot {
    uint64_t hash;  // 0: free
    uint32_t offset;
    uint32_t length;
  };

  bool Equal(const Slot& slot, std::span<const uint32_t> key) const;
  uint32_t StoredKey();
  void Grow();

  std::vector<Slot> m_slots;
  // The keys back to back, each symbol in 16 bits (see Packed); the
  // variants of one key share its symbols.
  std::vector<uint16_t> m_symbols;
  size_t m_size = 0;
  std::span<const uint32_t> m_key;
  uint32_t m_keyOffset = 0;
  bool m_keyStored = false;
};

}  // namespace mask_engine
