// Writes flag bits and data bytes in the order the decoder takes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "squeeze/lz77_format.h"

namespace squeeze::lz77 {

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : m_out(out) { ReserveFlagWord(); }

  // Once a word is full its successor is reserved at once, ahead of any data
  // byte, because the decoder fetches it the moment it takes the 16th bit.
  void Bit(unsigned bit) {
    m_flags |= (bit & 1u) << m_bitsUsed;
    if (++m_bitsUsed == kFlagBits) {
      StoreFlagWord();
      ReserveFlagWord();
    }
  }

  void Byte(unsigned value) { m_out.push_back(static_cast<uint8_t>(value)); }

  /// Stores the partly filled last flag word; call once, after the end marker.
  void Finish() { StoreFlagWord(); }

 private:
  void ReserveFlagWord() {
    m_flagPos = m_out.size();
    m_out.push_back(0);
    m_out.push_back(0);
    m_flags = 0;
    m_bitsUsed = 0;
  }

  void StoreFlagWord() {
    m_out[m_flagPos] = static_cast<uint8_t>(m_flags);
    m_out[m_flagPos + 1] = static_cast<uint8_t>(m_flags >> 8);
  }

  std::vector<uint8_t>& m_out;
  std::size_t m_flagPos = 0;
  unsigned m_flags = 0;
  std::size_t m_bitsUsed = 0;
};

}  // namespace squeeze::lz77
