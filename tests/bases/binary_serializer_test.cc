// The encodings themselves, read by the component and written by the bases
// writer; what the loader makes of broken or short streams is tested on whole
// files.
#include "do_not_track/util/binary_serializer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "host/memory_io.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "tests/bases/loaded_bases.h"
#include "tests/support/thrown.h"

namespace dnt {
namespace {

using bases_writer::Database;
using testing::Thrown;

TEST(BinaryStreamReaderTest, VarintsAndTheirLimits) {
  auto io = host::MakeHostObject<host::MemoryIO>(std::vector<uint8_t>{0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x80, 0x05, 0x81,
                                                                      0x00, 0x80, 0x80, 0x80, 0x80, 0x81});
  BinaryStreamReader reader(io.Get());
  EXPECT_EQ(reader.ReadVarint32(), 0xFFFFFFFFu);
  EXPECT_EQ(reader.Consumed(), 5u);
  EXPECT_EQ(reader.ReadVarint32(), 5u);  // non-minimal form
  EXPECT_EQ(reader.ReadVarint32(), 128u);
  // Five bytes only: a sixth fetch would report the end of data instead.
  EXPECT_EQ(Thrown<std::out_of_range>([&] { reader.ReadVarint32(); }), "serialized scalar is out of range");

  std::vector<uint8_t> elevenByteLength(10, 0x80);
  elevenByteLength.push_back(0x01);
  auto blobIo = host::MakeHostObject<host::MemoryIO>(elevenByteLength);
  BinaryStreamReader blobReader(blobIo.Get());
  std::vector<uint8_t> blob;
  EXPECT_EQ(Thrown<std::out_of_range>([&] { blobReader.ReadBlob(blob); }), "serialized scalar is out of range");

  auto failing = host::MakeHostObject<host::MemoryIO>(std::vector<uint8_t>{1, 2, 3});
  failing->FailReadsFrom(0, orv::result::MediaError);
  BinaryStreamReader failingReader(failing.Get());
  try {
    failingReader.ReadVarint32();
    FAIL() << "no exception";
  } catch (const orv::CheckResultFailedException& e) {
    EXPECT_EQ(orv::GetResultCode(e), orv::result::MediaError);
    EXPECT_EQ(e.WideMessage(), u"failed to fetch serialized data");
  }
}

TEST(VarintWriterTest, MinimalFormsRoundTrip) {
  uint8_t out[5];
  EXPECT_EQ(WriteVarint(out, 300) - out, 2);
  EXPECT_EQ(out[0], 0x82);
  EXPECT_EQ(out[1], 0x2C);
  for (const uint32_t value : {0u, 127u, 128u, 0x3FFFu, 0x4000u, 0x1FFFFFu, 0x200000u, 0xFFFFFFFu, 0x10000000u,
                               0xFFFFFFFFu}) {
    const uint8_t* end = WriteVarint(out, value);
    EXPECT_EQ(static_cast<uint32_t>(end - out), VarintSize(value));
    ByteSpanReader reader(out, end);
    EXPECT_EQ(reader.ReadVarint32(), value);
    EXPECT_TRUE(reader.AtEnd());
  }
}

TEST(BasesWriterTest, ExactBytesOfASmallFile) {
  Database db;
  db.services = {{300, 4, "s"}};
  db.bugs = {{1, 300}};
  const std::vector<uint8_t> bytes = bases_writer::Write(db);
  // Header, seven directory entries (no fix, no timestamp), then the streams.
  ASSERT_EQ(bytes.size(), 20u + 7 * 20 + 5 + 3);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{'B', 'T', 'N', 'D'}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 20, bytes.begin() + 24), (std::vector<uint8_t>{'S', 'V', 'R', 'S'}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 160, bytes.end()),
            (std::vector<uint8_t>{0x82, 0x2C, 0x04, 0x01, 's', 0x01, 0x82, 0x2C}));
  std::vector<uint8_t> varint;
  bases_writer::AppendVarint(varint, 127);
  bases_writer::AppendVarint(varint, 128);
  bases_writer::AppendVarint(varint, UINT64_MAX);
  EXPECT_EQ(varint.size(), 1u + 2u + 10u);
  EXPECT_EQ(varint[1], 0x81);
  EXPECT_EQ(varint[3], 0x81);  // 64 bits: one bit in the first group
}

TEST(BasesWriterTest, ValidationNamesTheEntry) {
  EXPECT_NO_THROW(bases_writer::Validate(testing::SmallDatabase()));
  const std::pair<std::function<void(Database&)>, std::string> cases[] = {
      {[](Database& db) { db.services[1].id = 10; }, "services[1]: id 10 is not greater than the previous id 10"},
      {[](Database& db) { db.bugs[0].id = 0; }, "bugs[0]: id 0 is not allowed, ids start at 1"},
      {[](Database& db) { db.bugs[2].serviceId = 15; }, "bugs[2] (id 200): unknown service id 15"},
      {[](Database& db) { db.rules[1].bugId = 7; }, "rules[1] (mask \"*.ads.test\"): unknown bug id 7"},
      {[](Database& db) { db.exceptions = {{"a", 100, std::nullopt}, {"b", 100, std::vector<uint32_t>{101}}}; },
       "exceptions[0] (bug id 100) has no fix group but comes before exceptions[1]"},
      {[](Database& db) { db.exceptions = {{"b", 100, std::vector<uint32_t>{5}}}; },
       "exceptions[0] (mask \"b\") fix group: unknown bug id 5"},
      {[](Database& db) { db.partnerSites.push_back(""); }, "partnerSites[1]: empty site name"},
  };
  for (const auto& [change, message] : cases) {
    Database db = testing::SmallDatabase();
    change(db);
    EXPECT_THAT(Thrown<std::invalid_argument>([&] { bases_writer::Write(db); }), ::testing::HasSubstr(message));
  }
}

}  // namespace
}  // namespace dnt
