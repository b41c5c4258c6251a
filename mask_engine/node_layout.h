// The compiled trie: byte-packed nodes in one zero-filled word vector, laid
// out depth-first in pre-order, each node on a 4-byte boundary.
//
// Branch node:
//   [0] flags (kHasAnyRun | kHasAnyChar | kHasTag)   [1] n literal children
//   [2..2+n) child bytes, ascending; zero padding to a multiple of 4
//   tag (u32, with kHasTag); n child offsets (u32, in byte-table order);
//   any-run child offset (with kHasAnyRun); any-char child offset (kHasAnyChar)
// Label node (a run of literal bytes shared by every key below):
//   [0] kLabel   [1] L (1..254)   [2..2+L) bytes; padding; its branch follows.
//
// Child offsets count from the first byte of the parent's branch node to the
// child's first node and are always positive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace mask_engine {

namespace layout {

inline constexpr uint8_t kHasAnyRun = 0x01;
inline constexpr uint8_t kHasAnyChar = 0x02;
inline constexpr uint8_t kHasTag = 0x04;
inline constexpr uint8_t kLabel = 0x08;
inline constexpr size_t kMaxLiteralChildren = 255;
inline constexpr size_t kMaxLabelLength = 254;

constexpr size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

inline uint32_t ReadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline bool IsLabel(const uint8_t* node) { return (node[0] & kLabel) != 0; }

/// Read access to a branch node.
class Branch {
 public:
  explicit Branch(const uint8_t* node) : m_node(node) {}

  uint8_t Flags() const { return m_node[0]; }
  bool HasTag() const { return (Flags() & kHasTag) != 0; }
  bool HasAnyRun() const { return (Flags() & kHasAnyRun) != 0; }
  bool HasAnyChar() const { return (Flags() & kHasAnyChar) != 0; }
  size_t LiteralCount() const { return m_node[1]; }
  const uint8_t* LiteralBytes() const { return m_node + 2; }

  uint32_t Tag() const { return ReadU32(TagField()); }
  const uint8_t* LiteralChild(size_t i) const { return Child(i); }
  const uint8_t* AnyRunChild() const { return Child(LiteralCount()); }
  const uint8_t* AnyCharChild() const { return Child(LiteralCount() + (HasAnyRun() ? 1 : 0)); }

  /// The literal child for byte `c`, or nullptr.
  const uint8_t* FindLiteral(uint8_t c) const {
    const uint8_t* bytes = LiteralBytes();
    size_t lo = 0;
    size_t hi = LiteralCount();
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      if (bytes[mid] < c) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo < LiteralCount() && bytes[lo] == c ? Child(lo) : nullptr;
  }

  size_t Size() const {
    const size_t slots = LiteralCount() + (HasAnyRun() ? 1 : 0) + (HasAnyChar() ? 1 : 0);
    return Align4(2 + LiteralCount()) + (HasTag() ? 4 : 0) + 4 * slots;
  }

 private:
  const uint8_t* TagField() const { return m_node + Align4(2 + LiteralCount()); }
  const uint8_t* Child(size_t slot) const {
    return m_node + ReadU32(TagField() + (HasTag() ? 4 : 0) + 4 * slot);
  }

  const uint8_t* m_node;
};

/// Read access to a label node.
class Label {
 public:
  explicit Label(const uint8_t* node) : m_node(node) {}
  size_t Length() const { return m_node[1]; }
  const uint8_t* Bytes() const { return m_node + 2; }
  const uint8_t* BranchAfter() const { return m_node + Align4(2 + Length()); }

 private:
  const uint8_t* m_node;
};

}  // namespace layout

/// The compiled trie of a mask engine; the root branch node is at byte 0.
class node_layout {
 public:
  node_layout() = default;
  explicit node_layout(std::vector<uint32_t> words) : m_words(std::move(words)) {}

  bool empty() const { return m_words.empty(); }
  size_t size_bytes() const { return m_words.size() * sizeof(uint32_t); }
  const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(m_words.data()); }

 private:
  std::vector<uint32_t> m_words;
};

}  // namespace mask_engine
