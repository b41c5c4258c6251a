#include "squeeze/lz77_encoder.h"

#include <algorithm>
#include <bit>

#include "squeeze/lz77_bit_writer.h"
#include "squeeze/lz77_format.h"

namespace squeeze {
namespace {

using namespace lz77;

struct Match {
  std::size_t length = 0;
  std::size_t distance = 0;
};

// Hash chains over 3-byte prefixes for matches of 3 bytes and more, plus the
// last position of each (hashed) 2-byte pair for 2-byte short matches.
class MatchFinder {
 public:
  // Tables shrink with small inputs, which are common and would otherwise
  // spend their time clearing them.
  explicit MatchFinder(std::span<const uint8_t> input)
      : m_input(input),
        m_hashBits(std::clamp<unsigned>(std::bit_width(input.size()), 8, kMaxHashBits)),
        m_head(std::size_t{1} << m_hashBits, kNone),
        m_prev(std::bit_ceil(std::clamp<std::size_t>(input.size(), 1, kLongMaxDistance)), kNone),
        m_lastPair(std::size_t{1} << m_hashBits, kNone) {}

  Match Find(std::size_t pos) {
    InsertUpTo(pos);
    Match best;
    const std::size_t limit = std::min(kLongMaxLength, m_input.size() - pos);
    if (limit < kShortMinLength) return best;
    if (limit >= kLongMinLength) best = SearchChain(pos, limit);
    if (best.length < kLongMinLength) {
      const int64_t last = m_lastPair[PairHash(pos)];
      const auto lastPos = static_cast<std::size_t>(last);
      if (last != kNone && pos - lastPos <= kShortMaxDistance && m_input[lastPos] == m_input[pos] &&
          m_input[lastPos + 1] == m_input[pos + 1]) {
        best = {kShortMinLength, pos - lastPos};
      }
    }
    return best;
  }

 private:
  static constexpr int64_t kNone = -1;
  static constexpr unsigned kMaxHashBits = 15;
  static constexpr int kMaxChainSteps = 48;

  uint32_t Hash(std::size_t pos) const {
    const uint32_t key = uint32_t{m_input[pos]} << 16 | uint32_t{m_input[pos + 1]} << 8 | m_input[pos + 2];
    return (key * 2654435761u) >> (32 - m_hashBits);
  }

  uint32_t PairHash(std::size_t pos) const {
    const uint32_t key = uint32_t{m_input[pos]} << 8 | m_input[pos + 1];
    return (key * 2654435761u) >> (32 - m_hashBits);
  }

  std::size_t PrevSlot(std::size_t pos) const { return pos & (m_prev.size() - 1); }

  void InsertUpTo(std::size_t end) {
    for (; m_inserted < end; ++m_inserted) {
      const std::size_t pos = m_inserted;
      if (pos + kLongMinLength <= m_input.size()) {
        const uint32_t h = Hash(pos);
        m_prev[PrevSlot(pos)] = m_head[h];
        m_head[h] = static_cast<int64_t>(pos);
      }
      if (pos + kShortMinLength <= m_input.size()) m_lastPair[PairHash(pos)] = static_cast<int64_t>(pos);
    }
  }

  Match SearchChain(std::size_t pos, std::size_t limit) const {
    Match best;
    const uint8_t* here = m_input.data() + pos;
    int64_t candidate = m_head[Hash(pos)];
    for (int steps = kMaxChainSteps; candidate != kNone && steps > 0; --steps) {
      const std::size_t distance = pos - static_cast<std::size_t>(candidate);
      if (distance > kLongMaxDistance) break;
      const uint8_t* there = m_input.data() + candidate;
      if (there[best.length] == here[best.length]) {
        std::size_t length = 0;
        while (length < limit && there[length] == here[length]) ++length;
        if (length > best.length) {
          best = {length, distance};
          if (length == limit) break;
        }
      }
      const int64_t older = m_prev[PrevSlot(static_cast<std::size_t>(candidate))];
      if (older >= candidate) break;  // slot reused by a newer position
      candidate = older;
    }
    if (best.length < kLongMinLength) best = {};
    return best;
  }

  std::span<const uint8_t> m_input;
  unsigned m_hashBits;
  std::vector<int64_t> m_head;
  std::vector<int64_t> m_prev;
  std::vector<int64_t> m_lastPair;
  std::size_t m_inserted = 0;
};

void EmitMatch(BitWriter& out, const Match& match) {
  if (match.distance <= kShortMaxDistance && match.length <= kShortMaxLength) {
    const std::size_t code = match.length - kShortMinLength;
    out.Bit(0);
    out.Bit(0);
    out.Bit(static_cast<unsigned>(code >> 1));
    out.Bit(static_cast<unsigned>(code & 1));
    out.Byte(static_cast<unsigned>(kShortMaxDistance - match.distance));
    return;
  }
  const std::size_t offset = kLongMaxDistance - match.distance;
  const bool inlineLength = match.length <= kLongMaxInlineLength;
  const std::size_t lengthField = inlineLength ? match.length - 2 : 0;
  out.Bit(0);
  out.Bit(1);
  out.Byte(static_cast<unsigned>(offset & 0xFF));
  out.Byte(static_cast<unsigned>((offset >> 8) << 3 | lengthField));
  if (!inlineLength) out.Byte(static_cast<unsigned>(match.length - 1));
}

void EmitEndMarker(BitWriter& out) {
  out.Bit(0);
  out.Bit(1);
  out.Byte(0);
  out.Byte(0);
  out.Byte(kEndMarker);
}

}  // namespace

std::vector<uint8_t> EncodeLz77(std::span<const uint8_t> input) {
  std::vector<uint8_t> packed;
  packed.reserve(input.size() / 2 + 16);
  BitWriter out(packed);
  MatchFinder finder(input);
  // Lazy matching pays off for short matches only; a long one is taken as is.
  constexpr std::size_t kLazyLimit = 32;

  std::size_t pos = 0;
  Match current = finder.Find(pos);
  while (pos < input.size()) {
    if (current.length >= kShortMinLength && current.length < kLazyLimit && pos + 1 < input.size()) {
      const Match next = finder.Find(pos + 1);
      if (next.length > current.length) {
        out.Bit(1);
        out.Byte(input[pos]);
        ++pos;
        current = next;
        continue;
      }
    }
    if (current.length >= kShortMinLength) {
      EmitMatch(out, current);
      pos += current.length;
    } else {
      out.Bit(1);
      out.Byte(input[pos]);
      ++pos;
    }
    if (pos < input.size()) current = finder.Find(pos);
  }
  EmitEndMarker(out);
  out.Finish();
  return packed;
}

}  // namespace squeeze
