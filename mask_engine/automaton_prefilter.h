// A cheap test that lets a text skip the automaton. Every key that the
// automaton holds needs something in the text: a literal at one of the
// text's anchors (see text_anchors.h), else one of its three-byte runs; the
// rarest among the engine's keys is chosen. A text that has none of these
// for any key cannot match. Literals at start and dot anchors are looked up
// by the literal index, which probes those anchors anyway.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "mask_engine/key_list.h"
#include "mask_engine/literal_index.h"
#include "mask_engine/prepared_text.h"

namespace mask_engine {

/// How often the trigrams of some keys occur in the engine's mask texts
/// (back to back), by TrigramHash; the rarest are the best to require.
class TrigramUses {
 public:
  TrigramUses(std::span<const KeyEntry> keys, std::string_view maskTexts);
  /// The count of a trigram of the keys (0 for any other).
  uint16_t Of(uint16_t hash) const;

 private:
  size_t Slot(uint16_t hash) const;

  std::vector<uint64_t> m_wanted;
  std::vector<uint16_t> m_hashes;  // sorted
  std::vector<uint16_t> m_counts;  // by m_hashes
};

class AutomatonPrefilter {
 public:
  /// A filter for `automatonKeys`; the engine's mask texts (`maskTexts`,
  /// back to back) tell which trigrams are rare, and `hostTags[tag]` whether
  /// a key's mask is matched against the host alone. A key with neither an
  /// anchor nor a trigram makes every text pass. Returns the literals left
  /// to the index.
  std::vector<LiteralRequirement> Build(std::span<const KeyEntry> automatonKeys, std::string_view maskTexts,
                                        const std::vector<bool>& hostTags);

  /// False only when no key of the automaton can match `text`, unless the
  /// text has one of the literals left to the index.
  bool MayMatch(const PreparedText& text) const {
    if (m_passAll) return true;
    // Keys of host masks need their literals in the host.
    if (m_hostOnly) return AnyIn(text.Host(), text.HostSeparators());
    return AnyIn(text.Whole(), text.WholeSeparators()) ||
           (!m_anchors.empty() && !text.HostIsFirstSegment() && AnyHostEdge(text));
  }

  size_t MemoryBytes() const {
    return (m_anchors.capacity() + m_trigramBits.capacity()) * sizeof(uint64_t) +
           (m_labelShapes.capacity() + m_segmentShapes.capacity()) * sizeof(uint32_t);
  }

 private:
  bool AnyIn(std::string_view text, std::span<const uint32_t> separators) const {
    return (!m_labelShapes.empty() && AnyLabel(text, separators)) ||
           (!m_segmentShapes.empty() && AnySegment(text, separators)) ||
           (!m_trigramBits.empty() && AnyTrigramOf(text));
  }
  bool AnyHostEdge(const PreparedText& text) const;
  bool AnyLabel(std::string_view text, std::span<const uint32_t> separators) const;
  bool AnySegment(std::string_view text, std::span<const uint32_t> separators) const;
  bool HasEdge(AnchorKind kind, const uint8_t* text, size_t begin, size_t end) const;
  bool AnyTrigramOf(std::string_view text) const;
  bool HasAnchor(uint64_t mixed) const;
  void AddAnchors(const std::vector<uint64_t>& anchors);
  void AddTrigrams(std::span<const KeyEntry* const> keys, const TrigramUses& uses);

  // Open addressing over the mixed anchor hashes; 0 marks a free slot.
  std::vector<uint64_t> m_anchors;
  unsigned m_anchorShift = 64;
  // By an edge literal's first byte, a bit per wanted length; empty when
  // no key wants an edge of that kind.
  std::vector<uint32_t> m_labelShapes;
  std::vector<uint32_t> m_segmentShapes;
  std::vector<uint64_t> m_trigramBits;
  bool m_passAll = false;
  bool m_hostOnly = false;
};

}  // namespace mask_engine
