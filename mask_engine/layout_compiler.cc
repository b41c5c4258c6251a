#include "mask_engine/layout_compiler.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace mask_engine {

namespace {

using layout::Align4;

// Keys of one child: entries [begin, end) share the symbol at the parent's depth.
struct Group {
  uint32_t begin;
  uint32_t end;
  uint16_t symbol;
};

// One branch node whose children are still to be emitted. The walk keeps
// these on an explicit stack: keys can be far deeper than the call stack.
struct Frame {
  uint32_t depth;
  size_t branchPos;
  size_t firstGroup;  // children: m_groups[firstGroup, groupEnd)
  size_t groupEnd;
  size_t nextGroup;
  size_t slotBase;    // byte position of the first child offset slot
  size_t literalCount;
  bool hasAnyRun;
};

class LayoutCompiler {
 public:
  explicit LayoutCompiler(const std::vector<KeyEntry>& keys) : m_keys(keys) {}

  node_layout Compile() {
    if (m_keys.empty()) return node_layout();
    m_words.reserve(m_keys.size() * 4);
    EmitBranch(0, static_cast<uint32_t>(m_keys.size()), 0);
    while (!m_stack.empty()) {
      Frame& frame = m_stack.back();
      if (frame.nextGroup == frame.groupEnd) {
        m_groups.resize(frame.firstGroup);
        m_stack.pop_back();
        continue;
      }
      const Group group = m_groups[frame.nextGroup];
      const size_t slot = SlotFor(frame, frame.nextGroup - frame.firstGroup, group.symbol);
      const size_t branchPos = frame.branchPos;
      const uint32_t childDepth = frame.depth + 1;
      ++frame.nextGroup;  // `frame` may dangle once children are pushed
      EmitChild(group, childDepth, branchPos, slot);
    }
    m_words.shrink_to_fit();  // the layout lives as long as the engine
    return node_layout(std::move(m_words));
  }

 private:
  uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(m_words.data()); }

  size_t Grow(size_t bytes) {
    const size_t pos = m_words.size() * 4;
    if (pos + bytes > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
      throw std::length_error("node_layout too large");
    }
    m_words.resize(m_words.size() + bytes / 4, 0);
    return pos;
  }

  // Children come in the order any-run, any-char, literals; the slots hold
  // the literals first, then any-run, then any-char.
  static size_t SlotFor(const Frame& frame, size_t childIndex, uint16_t symbol) {
    if (symbol == kKeyAnyRun) return frame.slotBase + 4 * frame.literalCount;
    if (symbol == kKeyAnyChar) return frame.slotBase + 4 * (frame.literalCount + (frame.hasAnyRun ? 1 : 0));
    const size_t wildcards = (frame.groupEnd - frame.firstGroup) - frame.literalCount;
    return frame.slotBase + 4 * (childIndex - wildcards);
  }

  // Literal symbols after the edge that every key of the group shares. The
  // group is sorted, so its first and last keys bound what all of them share.
  uint32_t SharedLabelLength(const Group& group, uint32_t depth) const {
    const KeyEntry& first = m_keys[group.begin];
    const KeyEntry& last = m_keys[group.end - 1];
    uint32_t length = 0;
    while (length < layout::kMaxLabelLength) {
      const uint16_t a = first.SymbolAt(depth + length);
      if (a < kKeyLiteral || a != last.SymbolAt(depth + length)) break;
      ++length;
    }
    return length;
  }

  void EmitChild(const Group& group, uint32_t depth, size_t parentPos, size_t slot) {
    const size_t childPos = m_words.size() * 4;
    const uint32_t offset = static_cast<uint32_t>(childPos - parentPos);
    std::memcpy(Bytes() + slot, &offset, sizeof offset);

    const uint32_t label = SharedLabelLength(group, depth);
    if (label > 0) {
      const size_t pos = Grow(Align4(2 + label));
      uint8_t* node = Bytes() + pos;
      node[0] = layout::kLabel;
      node[1] = static_cast<uint8_t>(label);
      const KeyEntry& key = m_keys[group.begin];
      for (uint32_t i = 0; i < label; ++i) node[2 + i] = static_cast<uint8_t>(key.SymbolAt(depth + i));
    }
    EmitBranch(group.begin, group.end, depth + label);
  }

  // Appends the groups of [begin, end) by their symbol at `depth`.
  void Partition(uint32_t begin, uint32_t end, uint32_t depth) {
    uint32_t i = begin;
    while (i < end) {
      const uint16_t symbol = m_keys[i].SymbolAt(depth);
      const auto next = std::partition_point(
          m_keys.begin() + i, m_keys.begin() + end,
          [&](const KeyEntry& e) { return e.SymbolAt(depth) <= symbol; });
      const auto stop = static_cast<uint32_t>(next - m_keys.begin());
      m_groups.push_back(Group{i, stop, symbol});
      i = stop;
    }
  }

  void EmitBranch(uint32_t begin, uint32_t end, uint32_t depth) {
    const size_t firstGroup = m_groups.size();
    Partition(begin, end, depth);

    bool hasTag = false;
    uint64_t tag = 0;
    size_t firstChild = firstGroup;
    if (m_groups[firstChild].symbol == kKeyEnd) {
      hasTag = true;
      tag = m_keys[m_groups[firstChild].begin].tag;
      ++firstChild;
    }
    m_groups.erase(m_groups.begin() + static_cast<std::ptrdiff_t>(firstGroup),
                   m_groups.begin() + static_cast<std::ptrdiff_t>(firstChild));
    bool hasAnyRun = false;
    bool hasAnyChar = false;
    for (size_t g = firstGroup; g < m_groups.size() && m_groups[g].symbol < kKeyLiteral; ++g) {
      if (m_groups[g].symbol == kKeyAnyRun) hasAnyRun = true;
      if (m_groups[g].symbol == kKeyAnyChar) hasAnyChar = true;
    }
    const size_t children = m_groups.size() - firstGroup;
    const size_t literals = children - (hasAnyRun ? 1 : 0) - (hasAnyChar ? 1 : 0);
    if (literals > layout::kMaxLiteralChildren) throw std::out_of_range("node_layout::set_tag_cnt()");

    const size_t header = Align4(2 + literals);
    const size_t pos = Grow(header + (hasTag ? 4 : 0) + 4 * children);
    uint8_t* node = Bytes() + pos;
    node[0] = static_cast<uint8_t>((hasAnyRun ? layout::kHasAnyRun : 0) | (hasAnyChar ? layout::kHasAnyChar : 0) |
                                   (hasTag ? layout::kHasTag : 0));
    node[1] = static_cast<uint8_t>(literals);
    for (size_t i = 0; i < literals; ++i) {
      node[2 + i] = static_cast<uint8_t>(m_groups[firstGroup + (children - literals) + i].symbol);
    }
    if (hasTag) {
      const uint32_t tag32 = static_cast<uint32_t>(tag);
      std::memcpy(node + header, &tag32, sizeof tag32);
    }
    if (children == 0) return;  // a key ends here and nothing continues
    m_stack.push_back(Frame{depth, pos, firstGroup, m_groups.size(), firstGroup, pos + header + (hasTag ? 4 : 0),
                            literals, hasAnyRun});
  }

  const std::vector<KeyEntry>& m_keys;
  std::vector<uint32_t> m_words;
  std::vector<Group> m_groups;
  std::vector<Frame> m_stack;
};

}  // namespace

node_layout CompileLayout(const std::vector<KeyEntry>& keys) { return LayoutCompiler(keys).Compile(); }

}  // namespace mask_engine
