#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>

#include "do_not_track/dnt_engine/bug_bases_exceptional_sites.h"
#include "do_not_track/dnt_engine/bug_bases_loader.h"
#include "do_not_track/dnt_engine/bug_queries.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/system/datetime.h"
#include "orv/text/utf.h"
#include "tests/bases/loaded_bases.h"

namespace dnt {
namespace {

using bases_writer::AppendVarint;
using bases_writer::Assemble;
using bases_writer::Database;
using bases_writer::FileLayout;
using bases_writer::Layout;
using testing::LoadBytes;
using testing::LoadDatabase;
using testing::LoadedBases;
using testing::LoadLayout;
using testing::SmallDatabase;
using ::testing::HasSubstr;
namespace tag = bases_writer::tag;

void ExpectFailure(const LoadedBases& loaded, const std::string& message) {
  EXPECT_TRUE(orv::Failed(loaded.result)) << message;
  EXPECT_THAT(loaded.Failures(), HasSubstr("Failed to load bug bases: "));
  EXPECT_THAT(loaded.Failures(), HasSubstr(message));
}

FileLayout SmallLayout() { return Layout(SmallDatabase()); }

TEST(BugBasesLoaderTest, LoadsModelAndTracesEveryStep) {
  const LoadedBases loaded = LoadDatabase(SmallDatabase());
  ASSERT_EQ(loaded.result, orv::result::NoError) << loaded.Failures();
  const BugBases& bases = *loaded.bases;
  ASSERT_EQ(bases.ServiceCount(), 2u);
  EXPECT_EQ(bases.Service(1).id, 20u);
  EXPECT_EQ(bases.Service(1).category, 6u);
  EXPECT_EQ(bases.Service(1).name, "Partner Inc");
  EXPECT_EQ(bases.Bugs(), (std::vector<uint32_t>{0, 0, 1}));
  EXPECT_EQ(bases.Rules().Values(), (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(bases.Exceptions().Values(), (std::vector<uint32_t>{2}));
  EXPECT_TRUE(bases.BuiltOn().empty());
  EXPECT_EQ(bases.Version(), 0x00010000u);

  const std::vector<std::string> expected = {
      "800 Bugs db: loaded 2 services",
      "800 Bugs db: loaded 3 bugs",
      "800 Bugs db: loaded 2 rules",
      "800 Bugs db: loaded 1 exceptions",
      "800 Bugs db: loaded 1 out of 1 known https domains",
      "800 Bugs db: loaded 1 known partner sites",
      "800 Bugs db: loaded 1 known incompatible sites",
      "700 Bug bases successfully loaded",
  };
  std::vector<std::string> lines;
  for (const auto& line : loaded.tracer->Lines()) lines.push_back(std::to_string(line.level) + " " + line.text);
  EXPECT_EQ(lines, expected);
}

TEST(BugBasesLoaderTest, HeaderFailures) {
  FileLayout layout = SmallLayout();
  layout.magic = 0x444E5443;
  ExpectFailure(LoadLayout(layout), "invalid bugs database");

  layout = SmallLayout();
  layout.version = 0x0000FFFF;
  ExpectFailure(LoadLayout(layout), "unsupported bugs database version");
  layout.version = 0x00020003;
  EXPECT_EQ(LoadLayout(layout).result, orv::result::NoError);

  // The five fields are read before the magic is looked at.
  std::vector<uint8_t> shortFile = Assemble(SmallLayout());
  shortFile.resize(19);
  shortFile[0] = 'X';
  const LoadedBases cut = LoadBytes(shortFile);
  ExpectFailure(cut, "out of serialized data");
  EXPECT_EQ(cut.result, orv::result::OutOfRange);

  auto io = host::MakeHostObject<host::MemoryIO>(Assemble(SmallLayout()));
  io->FailSeeks(orv::result::AccessDenied);
  LoadedBases seekFails;
  seekFails.result = BugBasesLoader::Load(*seekFails.bases, io.Get());
  EXPECT_EQ(seekFails.result, orv::result::AccessDenied);
}

TEST(BugBasesLoaderTest, DirectoryAndStreamSizesMustBeExact) {
  for (const int delta : {-1, 1}) {
    FileLayout layout = SmallLayout();
    layout.directorySize = static_cast<uint32_t>(20 * layout.streams.size() + delta);
    ExpectFailure(LoadLayout(layout), "bugs database stream size mismatch");

    for (const uint32_t streamTag : {tag::Services, tag::Bugs, tag::Rules, tag::Exceptions}) {
      layout = SmallLayout();
      bases_writer::Stream* stream = bases_writer::FindStream(layout, streamTag);
      stream->size = static_cast<uint32_t>(stream->bytes.size() + delta);
      ExpectFailure(LoadLayout(layout), "bugs database stream size mismatch");
    }
  }
  // Cut inside the incompatible-sites stream, the last one.
  std::vector<uint8_t> bytes = Assemble(SmallLayout());
  bytes.resize(bytes.size() - 1);
  const LoadedBases cut = LoadBytes(bytes);
  EXPECT_EQ(cut.result, orv::result::NoError);
  EXPECT_THAT(cut.Failures(), HasSubstr("Failed to load bug bases incompatible site list:  out of serialized data"));
}

TEST(BugBasesLoaderTest, StreamLookupWantsVersionOneZero) {
  FileLayout layout = SmallLayout();
  bases_writer::FindStream(layout, tag::Services)->version = 0x00010001;
  ExpectFailure(LoadLayout(layout), "bugs stream [SVRS, 1.0] not found");

  // A later entry with the right version is found past the wrong one.
  layout.streams.push_back(bases_writer::EncodeServices(SmallDatabase().services));
  EXPECT_EQ(LoadLayout(layout).result, orv::result::NoError);

  for (const auto& [streamTag, text] : {std::pair{tag::Bugs, "SGUB"}, {tag::Rules, "SLUR"}, {tag::Exceptions, "PCXE"}}) {
    layout = SmallLayout();
    bases_writer::RemoveStream(layout, streamTag);
    ExpectFailure(LoadLayout(layout), std::string("bugs stream [") + text + ", 1.0] not found");
  }
}

TEST(BugBasesLoaderTest, IdsMustAscendAndResolve) {
  const std::pair<std::function<void(Database&)>, std::string> cases[] = {
      {[](Database& db) { db.services = {{5, 1, "a"}, {5, 1, "b"}}; }, "bugs db: service stream is not sorted"},
      {[](Database& db) { db.services = {{0, 1, "zero"}}; }, "bugs db: service stream is not sorted"},
      {[](Database& db) { db.bugs = {{100, 10}, {7, 10}}; }, "bugs db: bugs stream is not sorted: 7"},
      {[](Database& db) { db.bugs.push_back({300, 15}); }, "bugs db: bugs stream: unexpected service id"},
      {[](Database& db) { db.bugs.push_back({300, 21}); }, "bugs db: bugs stream: unexpected service id"},
      {[](Database& db) { db.bugs.push_back({300, 5}); }, "bugs db: bugs stream: unexpected service id"},
      {[](Database& db) { db.rules.push_back({"x.test", 150}); }, "rules/exceptions stream: unexpected bug id"},
      {[](Database& db) { db.exceptions.push_back({"x.test", 201, std::nullopt}); },
       "rules/exceptions stream: unexpected bug id"},
      {[](Database& db) { db.exceptions.push_back({"x.test", 100, std::vector<uint32_t>{999}}); },
       "rules/exceptions stream: unexpected bug id"},
  };
  for (const auto& [change, message] : cases) {
    Database db = SmallDatabase();
    change(db);
    ExpectFailure(LoadLayout(Layout(db)), message);  // Layout does not validate
  }
}

TEST(BugBasesLoaderTest, RepeatedMasksAreKeptEmptyOnesAreNot) {
  Database db = SmallDatabase();
  db.rules = {{"dup.test/p", 100}, {"", 101}, {"dup.test/p", 200}};
  const LoadedBases loaded = LoadDatabase(db);
  ASSERT_EQ(loaded.result, orv::result::NoError) << loaded.Failures();
  EXPECT_EQ(loaded.bases->Rules().Values(), (std::vector<uint32_t>{0, 2}));
  EXPECT_EQ(loaded.tracer->Texts(800)[2], "Bugs db: loaded 2 rules");
}

TEST(BugBasesLoaderTest, FixGroupsMakeBugLists) {
  Database db;
  db.services = {{1, 4, "s"}};
  db.bugs = {{5, 1}, {10, 1}, {11, 1}, {12, 1}};
  db.exceptions = {
      {"a.test", 5, std::nullopt},
      {"b.test", 10, std::vector<uint32_t>{11, 12}},
      {"c.test", 10, std::nullopt},  // after the group: a plain value
      {"d.test", 11, std::vector<uint32_t>{}},
      {"e.test", 12, std::vector<uint32_t>{5}},
  };
  const LoadedBases loaded = LoadDatabase(db);
  ASSERT_EQ(loaded.result, orv::result::NoError) << loaded.Failures();
  const BugRules& exceptions = loaded.bases->Exceptions();
  EXPECT_EQ(exceptions.Values(), (std::vector<uint32_t>{0, 0x80000000u, 1, 2, 0x80000004u}));
  EXPECT_EQ(exceptions.ListTable(), (std::vector<uint32_t>{3, 1, 2, 3, 2, 3, 0}));
  EXPECT_THAT(loaded.tracer->Texts(700), ::testing::Contains("Using v2 exception stream"));
  EXPECT_THAT(loaded.tracer->Texts(800), ::testing::Contains("Bugs db: loaded 5 exceptions"));

  const std::string url = "http://b.test/";
  EXPECT_EQ(MatchBugExceptions(*loaded.bases, url.data(), static_cast<uint32_t>(url.size())),
            (std::vector<uint32_t>{1, 2, 3}));

  // An empty fix stream turns the format on and changes nothing else.
  Database plain = SmallDatabase();
  plain.exceptionsFix = true;
  const LoadedBases empty = LoadDatabase(plain);
  ASSERT_EQ(empty.result, orv::result::NoError);
  EXPECT_EQ(empty.bases->Exceptions().Values(), (std::vector<uint32_t>{2}));
}

TEST(BugBasesLoaderTest, BrokenFixStreams) {
  FileLayout layout = SmallLayout();
  bases_writer::Stream fix;
  fix.tag = tag::ExceptionsFix;
  AppendVarint(fix.bytes, 200);
  AppendVarint(fix.bytes, 3);
  AppendVarint(fix.bytes, 100);
  layout.streams.push_back(fix);
  ExpectFailure(LoadLayout(layout), "Unexpected end of the exceptions fix stream");

  layout.streams.back().bytes = {0x81, 0x48, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // 200, then a 5+ byte varint
  ExpectFailure(LoadLayout(layout), "serialized scalar is out of range");

  // A count of four billion with two ids behind it ends at the data, not in memory.
  layout.streams.back().bytes.clear();
  AppendVarint(layout.streams.back().bytes, 200);
  AppendVarint(layout.streams.back().bytes, 0xFFFFFFFF);
  AppendVarint(layout.streams.back().bytes, 100);
  ExpectFailure(LoadLayout(layout), "Unexpected end of the exceptions fix stream");
}

TEST(BugBasesLoaderTest, HugeCountsAndLengthsFailOnTheData) {
  FileLayout layout = SmallLayout();
  layout.directoryCount = 0xFFFFFFFF;
  ExpectFailure(LoadLayout(layout), "out of serialized data");

  // Records run on into the next streams until something gives; what gives
  // depends on those bytes, but nothing is reserved for four billion records.
  for (const uint32_t streamTag : {tag::Services, tag::Bugs, tag::Rules, tag::Exceptions}) {
    layout = SmallLayout();
    bases_writer::FindStream(layout, streamTag)->count = 0xFFFFFFFF;
    const LoadedBases loaded = LoadLayout(layout);
    EXPECT_TRUE(orv::Failed(loaded.result));
    EXPECT_EQ(loaded.bases->MemoryBytes() < (1u << 20), true);
  }

  // A rule whose mask claims 2^62 bytes.
  layout = SmallLayout();
  bases_writer::Stream* rules = bases_writer::FindStream(layout, tag::Rules);
  rules->bytes.clear();
  AppendVarint(rules->bytes, uint64_t{1} << 62);
  AppendVarint(rules->bytes, 100);
  ExpectFailure(LoadLayout(layout), "out of serialized data");

  // A service name that claims more than the file holds.
  layout = SmallLayout();
  bases_writer::Stream* services = bases_writer::FindStream(layout, tag::Services);
  services->bytes = {1, 1, 0xFF, 0xFF, 0xFF, 0x7F};
  services->count = 1;
  ExpectFailure(LoadLayout(layout), "out of serialized data");

  // A timestamp entry that claims 4 GiB.
  layout = SmallLayout();
  layout.streams.push_back(bases_writer::EncodeTimestamp(5748192000000000));
  layout.streams.back().size = 0xFFFFFFFF;
  ExpectFailure(LoadLayout(layout), "out of serialized data");

  // An absurd directory offset.
  layout = SmallLayout();
  layout.directoryOffset = 0xFFFFFF00;
  ExpectFailure(LoadLayout(layout), "out of serialized data");
}

TEST(BugBasesLoaderTest, ShortReadingStreamsLoadTheSameModel) {
  Database db = SmallDatabase();
  // Blobs longer than the read-ahead buffer: one refills it, one is read past it.
  db.services[0].name = std::string(6000, 'n');
  db.services[1].name = std::string(10000, 'p');
  for (int i = 0; i < 500; ++i) db.partnerSites.push_back("partner" + std::to_string(i) + ".test");
  const std::vector<uint8_t> file = bases_writer::Write(db);
  const LoadedBases whole = LoadBytes(file);
  ASSERT_EQ(whole.result, orv::result::NoError) << whole.Failures();
  ASSERT_EQ(whole.bases->PartnerSites().Count(), 501u);
  for (const uint32_t maxRead : {1u, 7u, 1000u}) {
    const LoadedBases cut = LoadBytes(file, maxRead);
    EXPECT_EQ(cut.result, orv::result::NoError) << maxRead << ": " << cut.Failures();
    EXPECT_EQ(cut.tracer->All(), whole.tracer->All()) << maxRead;
    EXPECT_EQ(cut.bases->Service(0).name, db.services[0].name) << maxRead;
    EXPECT_EQ(cut.bases->Service(1).name, db.services[1].name) << maxRead;
    EXPECT_EQ(cut.bases->PartnerSites().Bytes(), whole.bases->PartnerSites().Bytes()) << maxRead;
  }
}

// Sets the time zone for one test and puts the old one back. Windows takes
// the zone from the system, not from the process: there the test program
// runs in the zone the first test needs (tests/bases/CMakeLists.txt).
class ScopedTimeZone {
 public:
#if defined(_WIN32)
  explicit ScopedTimeZone(const char*) {}
#else
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
#endif
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

// The error text of enumerating `bytes` as `count` records, or the names.
std::string Enumerate(std::vector<uint8_t> bytes, uint32_t count, std::vector<std::u16string>* names = nullptr) {
  ExceptionalSites sites(nullptr);
  sites.Assign(std::move(bytes), count);
  std::vector<std::u16string> out{u"untouched"};
  try {
    sites.Enumerate(out);
  } catch (const orv::ResultCodeException& e) {
    EXPECT_EQ(out, std::vector<std::u16string>{u"untouched"});
    return "code " + std::to_string(orv::GetResultCode(e));
  } catch (const orv::Exception& e) {
    EXPECT_EQ(out, std::vector<std::u16string>{u"untouched"});
    return orv::text::ToUtf8(e.WideMessage());
  } catch (const std::exception& e) {
    return e.what();
  }
  if (names) *names = out;
  return "ok";
}

TEST(ExceptionalSitesTest, RecordWalk) {
  const std::vector<uint8_t> two = {0x03, 'a', 'b', 'c', 0x01, 'x'};
  std::vector<std::u16string> names;
  EXPECT_EQ(Enumerate(two, 2, &names), "ok");
  EXPECT_EQ(names, (std::vector<std::u16string>{u"abc", u"x"}));
  EXPECT_EQ(Enumerate(two, 1), "The exceptional sites stream size mismatch detected");
  EXPECT_EQ(Enumerate(two, 3), "Unexpected end of the exceptional sites stream");
  EXPECT_EQ(Enumerate({0x03, 'a', 'b', 'c', 0x01}, 2), "The exceptional sites stream is broken");
  EXPECT_EQ(Enumerate({0x00}, 1), "The exceptional sites stream is broken");
  EXPECT_EQ(Enumerate({0x05, 'a', 'b'}, 1), "Unexpected end of the exceptional sites stream");
  EXPECT_EQ(Enumerate({0x81}, 1), "Unexpected end of the exceptional sites stream");
  EXPECT_EQ(Enumerate({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 1), "serialized scalar is out of range");
  EXPECT_EQ(Enumerate({}, 0), "ok");
  EXPECT_EQ(Enumerate({0x01}, 0), "The exceptional sites stream size mismatch detected");
  // A count of four billion over a few bytes stops at the bytes.
  EXPECT_EQ(Enumerate(two, 0xFFFFFFFF), "Unexpected end of the exceptional sites stream");
  // Names are UTF-8.
  EXPECT_EQ(Enumerate({0x02, 0xC3, 0xA9, 0x04, 0xF0, 0x9F, 0x98, 0x80}, 2, &names), "ok");
  EXPECT_EQ(names, (std::vector<std::u16string>{u"\u00e9", u"\U0001F600"}));
  EXPECT_EQ(Enumerate({0x01, 0x80}, 1), "code " + std::to_string(orv::result::InvalidArgument));
  EXPECT_EQ(Enumerate({0x02, 0xE2, 0x82}, 1), "code " + std::to_string(orv::result::InvalidArgument));
}

TEST(ExceptionalSitesTest, BrokenListsLeaveTheLoadStanding) {
  bases_writer::FileLayout layout = bases_writer::Layout(testing::SmallDatabase());
  bases_writer::RemoveStream(layout, tag::PartnerSites);
  bases_writer::FindStream(layout, tag::IncompatibleSites)->count = 2;
  const testing::LoadedBases loaded = testing::LoadLayout(layout);
  ASSERT_EQ(loaded.result, orv::result::NoError);
  EXPECT_THAT(loaded.Failures(),
              HasSubstr("Failed to load bug bases partner site list:  bugs stream [TSLW, 1.0] not found"));
  EXPECT_THAT(loaded.Failures(), HasSubstr("Failed to load bug bases incompatible site list:  Unexpected end of the "
                                           "exceptional sites stream"));
  EXPECT_THAT(loaded.tracer->Texts(700), ::testing::Contains("Bug bases successfully loaded"));

  std::vector<std::u16string> sites{u"old"};
  loaded.bases->PartnerSites().Enumerate(sites);
  EXPECT_TRUE(sites.empty());
  // The broken list kept its bytes and fails again the same way.
  EXPECT_EQ(loaded.bases->IncompatibleSites().Count(), 2u);
  EXPECT_THROW(loaded.bases->IncompatibleSites().Enumerate(sites), orv::RuntimeError);
}

TEST(HttpsDomainsTest, LoadedListAndSafeFallback) {
  bases_writer::Database db = testing::SmallDatabase();
  db.httpsDomains = {"*.secure.test", "bank.test", "*.secure.test"};
  const testing::LoadedBases loaded = testing::LoadDatabase(db);
  ASSERT_EQ(loaded.result, orv::result::NoError);
  EXPECT_THAT(loaded.tracer->Texts(800), ::testing::Contains("Bugs db: loaded 3 out of 3 known https domains"));
  const BugBases& bases = *loaded.bases;
  const auto required = [&](const std::string& domain) {
    return IsHttpsDomainProcessingRequired(bases, domain.data(), static_cast<uint32_t>(domain.size()));
  };
  EXPECT_TRUE(required("www.secure.test"));
  EXPECT_TRUE(required("bank.test"));
  EXPECT_FALSE(required("other.test"));
  EXPECT_TRUE(loaded.tracer->Texts(500).empty());

  bases_writer::FileLayout layout = bases_writer::Layout(db);
  bases_writer::FindStream(layout, tag::HttpsDomains)->size = 100;
  const testing::LoadedBases broken = testing::LoadLayout(layout);
  ASSERT_EQ(broken.result, orv::result::NoError);
  EXPECT_THAT(broken.Failures(), HasSubstr("Failed to load https domain list, fallingback to safe shortcut:  bugs "
                                           "database stream size mismatch"));
  EXPECT_EQ(broken.bases->HttpsDomains(), nullptr);
  const std::string domain = "other.test";
  EXPECT_TRUE(IsHttpsDomainProcessingRequired(*broken.bases, domain.data(), static_cast<uint32_t>(domain.size())));
  EXPECT_EQ(broken.tracer->Texts(500), std::vector<std::string>{"Using safe fallback for https domain list"});
}

}  // namespace
}  // namespace dnt
