#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/system/datetime.h"
#include "tests/bases/loaded_bases.h"

namespace dnt {
namespace {

using ::testing::HasSubstr;

// Sets TZ for one test and puts the old value back.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) m_old = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (m_old) {
      setenv("TZ", m_old->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> m_old;
};

testing::LoadedBases LoadWithTimestamp(int64_t timestamp) {
  bases_writer::Database db = testing::SmallDatabase();
  db.timestamp = timestamp;
  return testing::LoadBytes(bases_writer::Assemble(bases_writer::Layout(db)));
}

constexpr int64_t March2024 = 139285911090000000;  // 2024-03-01T13:05:09Z

TEST(BugBasesTimestampTest, BuiltOnTextAndFinalTraceLine) {
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const testing::LoadedBases loaded = LoadWithTimestamp(March2024);
  ASSERT_EQ(loaded.result, orv::result::NoError) << loaded.Failures();
  EXPECT_EQ(loaded.bases->BuiltOn(), "2024-03-01T13:05:09Z");
  EXPECT_EQ(loaded.tracer->Texts(700).back(),
            "Bug bases built on 2024-03-01 14:05:09 (2024-03-01T13:05:09Z) successfully loaded");
}

TEST(BugBasesTimestampTest, EdgesOfTheRange) {
  ScopedTimeZone zone("UTC");
  const testing::LoadedBases first = LoadWithTimestamp(orv::datetime::GregorianToFileTimeOffset);
  ASSERT_EQ(first.result, orv::result::NoError) << first.Failures();
  EXPECT_EQ(first.bases->BuiltOn(), "1601-01-01T00:00:00Z");

  const testing::LoadedBases before = LoadWithTimestamp(orv::datetime::GregorianToFileTimeOffset - 1);
  EXPECT_EQ(before.result, orv::result::InvalidArgument);
  EXPECT_THAT(before.Failures(), HasSubstr("Invalid utc timestamp for windows platform"));

  const testing::LoadedBases last = LoadWithTimestamp(INT64_MAX);
  ASSERT_EQ(last.result, orv::result::NoError) << last.Failures();
  EXPECT_EQ(last.bases->BuiltOn().size(), 21u);  // a five-digit year
  EXPECT_TRUE(LoadWithTimestamp(INT64_MIN).result == orv::result::InvalidArgument);
}

TEST(BugBasesTimestampTest, StreamLength) {
  bases_writer::FileLayout layout = bases_writer::Layout(testing::SmallDatabase());
  layout.streams.push_back(bases_writer::EncodeTimestamp(March2024));
  layout.streams.back().bytes.push_back(0xEE);  // bytes after the first 8 are ignored
  EXPECT_EQ(testing::LoadLayout(layout).result, orv::result::NoError);

  layout.streams.back().bytes.resize(7);
  const testing::LoadedBases cut = testing::LoadLayout(layout);
  EXPECT_TRUE(orv::Failed(cut.result));
  EXPECT_THAT(cut.Failures(), HasSubstr("Unexpected end of the timestamp stream"));
}

TEST(DatetimeTest, CalendarFieldsInUtc) {
  // Year-month-day, day of the week (0 Sunday), h:m:s.ms.
  const auto fields = [](uint64_t fileTime) {
    const orv::datetime::SystemTime t = orv::datetime::FileTimeToSystemTime(fileTime);
    char text[64];
    std::snprintf(text, sizeof text, "%d-%d-%d %d %d:%d:%d.%d", t.year, t.month, t.day, t.dayOfWeek, t.hour, t.minute,
                  t.second, t.milliseconds);
    return std::string(text);
  };
  using orv::datetime::UtcTimestampToFileTime;
  EXPECT_EQ(fields(UtcTimestampToFileTime(131711615990000000 + 1234567)), "2000-2-29 2 23:59:59.123");
  EXPECT_EQ(fields(UtcTimestampToFileTime(2656215935990000000)), "9999-12-31 5 23:59:59.0");
  EXPECT_EQ(fields(0), "1601-1-1 1 0:0:0.0");
  EXPECT_THROW(orv::datetime::FileTimeToSystemTime(uint64_t{1} << 63), orv::datetime::TimeSystemError);
}

}  // namespace
}  // namespace dnt
