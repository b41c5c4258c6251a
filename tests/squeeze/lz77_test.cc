#include <gtest/gtest.h>

#include <random>
#include <string>

#include "squeeze/lz77_decoder.h"
#include "squeeze/lz77_encoder.h"

namespace squeeze {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(std::size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::optional<Bytes> Decode(const Bytes& packed, std::size_t capacity) {
  Bytes out(capacity);
  const auto written = DecodeLz77(packed, out);
  if (!written) return std::nullopt;
  out.resize(*written);
  return out;
}

void ExpectRoundTrip(const Bytes& input) {
  const Bytes packed = EncodeLz77(input);
  const auto decoded = Decode(packed, input.size());
  ASSERT_TRUE(decoded.has_value());
  EXPECT_TRUE(*decoded == input);
}

TEST(Lz77, RoundTripsRandomRepetitiveAndEmptyData) {
  ExpectRoundTrip({});
  ExpectRoundTrip(Text("a"));
  ExpectRoundTrip(RandomBytes(100000, 1));
  ExpectRoundTrip(Bytes(300000, 'a'));
  Bytes words;
  std::mt19937 rng(7);
  const char* vocabulary[] = {"tracker.", "ads.", "example.com/", "pixel.gif?", "*.", "cdn", "\x01\x80"};
  while (words.size() < 200000) {
    const std::string w = vocabulary[rng() % 7];
    words.insert(words.end(), w.begin(), w.end());
  }
  ExpectRoundTrip(words);
  // Every alignment of flag words against data bytes is exercised by short
  // inputs of each length.
  for (std::size_t n = 0; n < 80; ++n) ExpectRoundTrip(RandomBytes(n, 100 + n));
}

TEST(Lz77, RoundTripsMatchesAtDistanceAndLengthLimits) {
  for (const std::size_t distance : {1, 2, 255, 256, 257, 8191, 8192, 8193}) {
    for (const std::size_t length : {2, 3, 5, 6, 9, 10, 255, 256, 257, 600}) {
      // A random block repeated `distance` bytes later, filler in between.
      Bytes input = RandomBytes(distance + length + 20, static_cast<uint32_t>(distance * 1000 + length));
      const std::size_t start = 10;
      for (std::size_t i = start + distance; i < start + distance + length; ++i) input[i] = input[i - distance];
      SCOPED_TRACE(testing::Message() << "distance " << distance << " length " << length);
      ExpectRoundTrip(input);
      // Within the window the repeat must be found, not spelt out in literals.
      if (distance <= 8192 && length >= 10) {
        EXPECT_LE(EncodeLz77(input).size(), (input.size() - length) * 9 / 8 + 16);
      }
    }
  }
}

TEST(Lz77, DecodesHandBuiltStreams) {
  // Flag bits from the lowest: literal, short match (x=0, y=1: length 3,
  // b=0xFF: distance 1), end marker.
  EXPECT_EQ(Decode({0x51, 0x00, 'A', 0xFF, 0x00, 0x00, 0x00}, 16), Text("AAAA"));
  // Literal, long match with b1 & 7 == 0 and c == 1 (nothing), literal, end.
  EXPECT_EQ(Decode({0x2D, 0x00, 'Q', 0x00, 0x00, 0x01, 'R', 0x00, 0x00, 0x00}, 16), Text("QR"));
  // The 16th flag bit is a literal: the next flag word comes before its byte.
  Bytes sixteen = {0xFF, 0xFF};
  for (char c = 'a'; c <= 'o'; ++c) sixteen.push_back(static_cast<uint8_t>(c));
  sixteen.insert(sixteen.end(), {0x02, 0x00, 'p', 0x00, 0x00, 0x00});
  EXPECT_EQ(Decode(sixteen, 16), Text("abcdefghijklmnop"));
  // Literal, long match with the length byte: offset 0x1FFF is distance 1,
  // c = 9 is length 10; end.
  EXPECT_EQ(Decode({0x15, 0x00, 'z', 0xFF, 0xF8, 0x09, 0x00, 0x00, 0x00}, 16), Bytes(11, 'z'));
}

TEST(Lz77, RejectsHostileStreams) {
  // A match before the start of the output.
  EXPECT_EQ(Decode({0x0C, 0x00, 0xFF, 0x00, 0x00, 0x00}, 16), std::nullopt);
  EXPECT_EQ(Decode({0x51, 0x00, 'A', 0xFE, 0x00, 0x00, 0x00}, 16), std::nullopt);
  // Output larger than the room given.
  EXPECT_EQ(Decode({0x51, 0x00, 'A', 0xFF, 0x00, 0x00, 0x00}, 3), std::nullopt);
  EXPECT_EQ(Decode({0x01, 0x00, 'A'}, 0), std::nullopt);
  // No end marker: every truncation of a valid stream fails.
  const Bytes input = RandomBytes(3000, 5);
  Bytes repeated = input;
  repeated.insert(repeated.end(), input.begin(), input.end());
  const Bytes packed = EncodeLz77(repeated);
  for (std::size_t cut = 0; cut < packed.size(); ++cut) {
    // An exact-size heap copy lets the address sanitizer see any over-read.
    const Bytes truncated(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
    ASSERT_EQ(Decode(truncated, repeated.size()), std::nullopt) << "cut at " << cut;
  }
  // Arbitrary bytes never read or write out of bounds.
  for (uint32_t seed = 0; seed < 2000; ++seed) {
    const Bytes noise = RandomBytes(seed % 64, seed);
    Bytes out(seed % 50);
    const auto written = DecodeLz77(noise, out);
    if (written) {
      EXPECT_LE(*written, out.size());
    }
  }
}

}  // namespace
}  // namespace squeeze
