#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>

#include "squeeze/container_reader.h"
#include "squeeze/container_writer.h"
#include "squeeze/crc32.h"
#include "squeeze/little_endian.h"
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
}

void AppendRecord(Bytes& payload, const std::string& name, const Bytes& data, uint32_t declaredSize) {
  AppendLe32(payload, 0x454C4946);
  AppendLe32(payload, declaredSize);
  AppendLe32(payload, static_cast<uint32_t>(name.size()));
  payload.insert(payload.end(), name.begin(), name.end());
  payload.insert(payload.end(), data.begin(), data.end());
}

// A well-formed container around any payload, so that each test breaks
// exactly one thing.
Bytes Container(Bytes payload, uint32_t version = 1, int64_t unpackedSizeDelta = 0) {
  const auto unpackedSize = static_cast<uint32_t>(static_cast<int64_t>(payload.size()) + unpackedSizeDelta);
  for (uint8_t& byte : payload) byte ^= 0x5A;  // the descrambling key
  const Bytes packed = EncodeLz77(payload);
  Bytes file;
  AppendLe32(file, 0x455A5153);
  AppendLe32(file, version);
  AppendLe32(file, 0xDEADBEEF);
  AppendLe32(file, unpackedSize);
  AppendLe32(file, static_cast<uint32_t>(packed.size()));
  AppendLe32(file, Crc32(packed));
  file.insert(file.end(), packed.begin(), packed.end());
  return file;
}

void SetLe32(Bytes& bytes, std::size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

Bytes OneRecord(const Bytes& data) {
  Bytes payload;
  AppendRecord(payload, "dnt0001.dat", data, static_cast<uint32_t>(data.size()));
  return payload;
}

void ExpectUnpackFailure(const Bytes& file) {
  try {
    UnpackContainer(file);
    ADD_FAILURE() << "unpacked a bad container";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Failed to unpack the file");
  }
}

TEST(Crc32, MatchesTheStandardCheckValue) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc32({reinterpret_cast<const uint8_t*>(check.data()), check.size()}), 0xCBF43926u);
  EXPECT_EQ(Crc32({}), 0u);
}

TEST(Container, PackedContentUnpacksUnchanged) {
  const Bytes random = RandomBytes(50000, 3);
  for (const Bytes& content : {Bytes{}, Bytes{'x'}, random, Bytes(70000, 0x5A)}) {
    Bytes file = PackContainer(content, "dntbugs.dat");
    EXPECT_EQ(UnpackContainer(file), content);
    file.insert(file.end(), {1, 2, 3});  // bytes after the packed data are ignored
    EXPECT_EQ(UnpackContainer(file), content);
  }
  // The same bytes in our hand-made container: writer and reader agree with it.
  EXPECT_EQ(UnpackContainer(Container(OneRecord(random))), random);
}

TEST(Container, RejectsBadHeaders) {
  const Bytes good = PackContainer(Bytes(1000, 'q'), "dnt0001.dat");
  ExpectUnpackFailure(Bytes(good.begin(), good.begin() + 23));
  ExpectUnpackFailure({});
  ExpectUnpackFailure(Container(OneRecord({1, 2, 3}), 2));
  Bytes badMagic = good;
  badMagic[3] ^= 1;
  ExpectUnpackFailure(badMagic);
  for (const std::size_t bit : {std::size_t{20 * 8}, std::size_t{24 * 8 + 5}, (good.size() - 1) * 8 + 7}) {
    Bytes flipped = good;
    flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    ExpectUnpackFailure(flipped);
  }
  // Packed size one past the end of the file.
  Bytes overlong = good;
  SetLe32(overlong, 16, static_cast<uint32_t>(good.size() - 23));
  ExpectUnpackFailure(overlong);
  // A 4 GB unpacked size behind a tiny stream is refused, not allocated.
  Bytes huge = Container(OneRecord({}));
  SetLe32(huge, 12, 0xFFFFFFFF);
  ExpectUnpackFailure(huge);
}

TEST(Container, RejectsBadRecordLayouts) {
  const Bytes data = {'l', 'u', 'a'};
  Bytes two = OneRecord(data);
  AppendRecord(two, "second", data, 3);
  ExpectUnpackFailure(Container(two));

  Bytes trailing = OneRecord(data);
  trailing.push_back(0);
  ExpectUnpackFailure(Container(trailing));

  Bytes overrun;
  AppendRecord(overrun, "n", data, 4);
  ExpectUnpackFailure(Container(overrun));
  Bytes hugeName;
  AppendLe32(hugeName, 0x454C4946);
  AppendLe32(hugeName, 0xFFFFFFFF);
  AppendLe32(hugeName, 0xFFFFFFFF);
  ExpectUnpackFailure(Container(hugeName));

  Bytes badMagic = OneRecord(data);
  badMagic[0] ^= 0x20;
  ExpectUnpackFailure(Container(badMagic));

  ExpectUnpackFailure(Container({}));  // no record at all
  ExpectUnpackFailure(Container(OneRecord(data), 1, +1));
  ExpectUnpackFailure(Container(OneRecord(data), 1, -1));
}

TEST(Container, RecordIsNamedAfterTheBaseName) {
  EXPECT_EQ(RecordNameForPath("/bases/dnt0001.dat"), "dnt0001.dat");
  EXPECT_EQ(RecordNameForPath("C:\\bases\\dntbugs.dat"), "dntbugs.dat");
  EXPECT_EQ(RecordNameForPath("plain"), "plain");
}

}  // namespace
}  // namespace squeeze
