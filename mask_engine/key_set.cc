#include "mask_engine/key_set.h"

#include <algorithm>
#include <stdexcept>

#include "mask_engine/mask_symbols.h"

namespace mask_engine {

namespace {

// A literal byte stays itself; the wildcards become 0x100 and 0x101.
uint16_t Packed(uint32_t symbol) {
  static_assert(kAnyRunSymbol >> 20 == 1 && kAnyCharSymbol >> 20 == 1);
  return static_cast<uint16_t>((symbol & 0xFF) | (symbol >> 20) << 8);
}

// Two symbols a step: symbols take 21 bits.
uint64_t HashOf(std::span<const uint32_t> key) {
  uint64_t h = key.size();
  size_t i = 0;
  for (; i + 2 <= key.size(); i += 2) h = (h + (uint64_t{key[i]} << 32 | key[i + 1])) * 0x9E3779B97F4A7C15ull;
  if (i < key.size()) h = (h + key[i]) * 0x9E3779B97F4A7C15ull;
  h ^= h >> 29;
  return h != 0 ? h : 1;
}

}  // namespace

void KeySet::SetKey(std::span<const uint32_t> key) {
  m_key = key;
  m_keyStored = false;
}

bool KeySet::Equal(const Slot& slot, std::span<const uint32_t> key) const {
  if (slot.length != key.size()) return false;
  const uint16_t* stored = m_symbols.data() + slot.offset;
  for (size_t i = 0; i < key.size(); ++i) {
    if (stored[i] != Packed(key[i])) return false;
  }
  return true;
}

// The current key's symbols are stored once its first variant is new.
uint32_t KeySet::StoredKey() {
  if (m_keyStored) return m_keyOffset;
  if (m_symbols.size() + m_key.size() > UINT32_MAX) throw std::length_error("too many mask keys");
  m_keyOffset = static_cast<uint32_t>(m_symbols.size());
  m_symbols.resize(m_symbols.size() + m_key.size());
  std::transform(m_key.begin(), m_key.end(), m_symbols.begin() + m_keyOffset, Packed);
  m_keyStored = true;
  return m_keyOffset;
}

bool KeySet::Insert(size_t begin, size_t end) {
  const std::span<const uint32_t> variant = m_key.subspan(begin, end - begin);
  if (2 * (m_size + 1) > m_slots.size()) Grow();
  const uint64_t hash = HashOf(variant);
  const size_t mask = m_slots.size() - 1;
  size_t i = hash & mask;
  for (; m_slots[i].hash != 0; i = (i + 1) & mask) {
    if (m_slots[i].hash == hash && Equal(m_slots[i], variant)) return false;
  }
  m_slots[i] = Slot{hash, static_cast<uint32_t>(StoredKey() + begin), static_cast<uint32_t>(variant.size())};
  ++m_size;
  return true;
}

void KeySet::Grow() {
  std::vector<Slot> old = std::move(m_slots);
  m_slots.assign(old.empty() ? 64 : 2 * old.size(), Slot{});
  const size_t mask = m_slots.size() - 1;
  for (const Slot& slot : old) {
    if (slot.hash == 0) continue;
    size_t i = slot.hash & mask;
    while (m_slots[i].hash != 0) i = (i + 1) & mask;
    m_slots[i] = slot;
  }
}

}  // namespace mask_engine
