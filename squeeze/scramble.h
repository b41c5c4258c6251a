// The payload of a packed base file is scrambled before compression. Reader
// and writer must agree on the key, so it lives here and nowhere else.
#pragma once

#include <cstdint>
#include <span>

namespace squeeze {

inline constexpr uint8_t kScrambleKey = 0x5A;

/// Scrambles or descrambles in place (the operation is its own inverse).
inline void Scramble(std::span<uint8_t> bytes) {
  for (uint8_t& byte : bytes) byte ^= kScrambleKey;
}

}  // namespace squeeze
