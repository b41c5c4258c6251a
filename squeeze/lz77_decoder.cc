#include "squeeze/lz77_decoder.h"

#include "squeeze/lz77_format.h"

namespace squeeze {
namespace {

using namespace lz77;

// Every accessor fails instead of reading past the input; the caller turns a
// failure into a malformed-stream result.
class StreamReader {
 public:
  explicit StreamReader(std::span<const uint8_t> input) : m_input(input) {}

  bool Start() { return ReadFlagWord(); }

  bool Byte(unsigned& value) {
    if (m_pos >= m_input.size()) return false;
    value = m_input[m_pos++];
    return true;
  }

  // The refill happens the moment the 16th bit is taken, before any data
  // byte that follows it: that is where the encoder put the next word.
  bool Bit(unsigned& bit) {
    bit = m_flags & 1u;
    if (--m_bitsLeft == 0) return ReadFlagWord();
    m_flags >>= 1;
    return true;
  }

 private:
  bool ReadFlagWord() {
    if (m_input.size() - m_pos < 2) return false;
    m_flags = unsigned{m_input[m_pos]} | unsigned{m_input[m_pos + 1]} << 8;
    m_pos += 2;
    m_bitsLeft = kFlagBits;
    return true;
  }

  std::span<const uint8_t> m_input;
  std::size_t m_pos = 0;
  unsigned m_flags = 0;
  std::size_t m_bitsLeft = 0;
};

}  // namespace

std::optional<std::size_t> DecodeLz77(std::span<const uint8_t> packed, std::span<uint8_t> output) {
  StreamReader in(packed);
  if (!in.Start()) return std::nullopt;
  std::size_t out = 0;
  for (;;) {
    unsigned bit = 0;
    if (!in.Bit(bit)) return std::nullopt;
    if (bit == 1) {
      unsigned literal = 0;
      if (!in.Byte(literal) || out == output.size()) return std::nullopt;
      output[out++] = static_cast<uint8_t>(literal);
      continue;
    }
    if (!in.Bit(bit)) return std::nullopt;
    std::size_t distance = 0;
    std::size_t length = 0;
    if (bit == 1) {
      unsigned b0 = 0, b1 = 0;
      if (!in.Byte(b0) || !in.Byte(b1)) return std::nullopt;
      distance = kLongMaxDistance - ((b1 >> 3) << 8 | b0);
      if ((b1 & 7) != 0) {
        length = (b1 & 7) + 2;
      } else {
        unsigned c = 0;
        if (!in.Byte(c)) return std::nullopt;
        if (c == kEndMarker) return out;
        if (c == kNoOp) continue;
        length = std::size_t{c} + 1;
      }
    } else {
      unsigned x = 0, y = 0, b = 0;
      if (!in.Bit(x) || !in.Bit(y) || !in.Byte(b)) return std::nullopt;
      distance = kShortMaxDistance - b;
      length = 2 * x + y + kShortMinLength;
    }
    if (distance > out || length > output.size() - out) return std::nullopt;
    // Byte by byte on purpose: a distance shorter than the length repeats
    // the bytes this very copy has just written.
    for (std::size_t i = 0; i < length; ++i, ++out) output[out] = output[out - distance];
  }
}

}  // namespace squeeze
