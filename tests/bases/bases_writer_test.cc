#include "tools/bases_writer/bases_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "tests/bases/loaded_bases.h"
#include "tests/support/thrown.h"

namespace dnt::bases_writer {
namespace {

using ::testing::HasSubstr;

TEST(BasesWriterTest, ExactBytesOfASmallFile) {
  Database db;
  db.services = {{300, 4, "s"}};
  db.bugs = {{1, 300}};
  const std::vector<uint8_t> bytes = Write(db);
  // Header, seven directory entries (no fix, no timestamp), then the streams.
  ASSERT_EQ(bytes.size(), 20u + 7 * 20 + 5 + 3);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{'B', 'T', 'N', 'D'}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 20, bytes.begin() + 24), (std::vector<uint8_t>{'S', 'V', 'R', 'S'}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 160, bytes.end()),
            (std::vector<uint8_t>{0x82, 0x2C, 0x04, 0x01, 's', 0x01, 0x82, 0x2C}));
  std::vector<uint8_t> varint;
  AppendVarint(varint, 127);
  AppendVarint(varint, 128);
  AppendVarint(varint, UINT64_MAX);
  EXPECT_EQ(varint.size(), 1u + 2u + 10u);
  EXPECT_EQ(varint[1], 0x81);
  EXPECT_EQ(varint[3], 0x81);  // 64 bits: one bit in the first group
}

TEST(BasesWriterTest, ValidationNamesTheEntry) {
  EXPECT_NO_THROW(Validate(testing::SmallDatabase()));
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
    EXPECT_THAT(testing::Thrown<std::invalid_argument>([&] { Write(db); }), HasSubstr(message));
  }
}

}  // namespace
}  // namespace dnt::bases_writer
