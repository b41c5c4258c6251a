// Limits of the LZ77 bit stream shared by the encoder and the decoder.
//
// Stream: 16-bit little-endian flag words interleaved with data bytes; the
// next flag word is read as soon as the previous one's 16th bit is taken.
//   1                 literal byte follows
//   0 0 x y, b        short match: distance 256 - b, length 2x + y + 2
//   0 1, b0 b1 [c]    long match: distance 8192 - ((b1 >> 3) << 8 | b0);
//                     length (b1 & 7) + 2, or when b1 & 7 == 0 a byte c:
//                     0 ends the data, 1 does nothing, otherwise c + 1
#pragma once

#include <cstddef>

namespace squeeze::lz77 {

inline constexpr std::size_t kFlagBits = 16;

inline constexpr std::size_t kShortMaxDistance = 256;
inline constexpr std::size_t kShortMinLength = 2;
inline constexpr std::size_t kShortMaxLength = 5;

inline constexpr std::size_t kLongMaxDistance = 8192;
inline constexpr std::size_t kLongMinLength = 3;
/// Longest match that fits the 3-bit length field.
inline constexpr std::size_t kLongMaxInlineLength = 9;
/// Longest match given by the extra length byte.
inline constexpr std::size_t kLongMaxLength = 256;

inline constexpr unsigned kEndMarker = 0;
inline constexpr unsigned kNoOp = 1;

}  // namespace squeeze::lz77
