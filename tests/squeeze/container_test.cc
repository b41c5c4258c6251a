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
#include "squeeze/scramble.h"

namespace squeeze {
namespace {

using Bytes = std::vector<uint8_t>;

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
  Scramble(payload);
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
  std::mt19937 rng(3);
  Bytes random(50000);
  for (auto& b : random) b = static_cast<uint8_t>(rng());
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
