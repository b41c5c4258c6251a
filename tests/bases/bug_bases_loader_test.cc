#include "do_not_track/dnt_engine/bug_bases_loader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "do_not_track/dnt_engine/bug_queries.h"
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

TEST(BugBasesLoaderTest, RepeatedAndEmptyMasks) {
  Database db = SmallDatabase();
  db.rules = {{"dup.test/p", 100}, {"", 101}, {"dup.test/p", 200}};
  const LoadedBases loaded = LoadDatabase(db);
  ASSERT_EQ(loaded.result, orv::result::NoError) << loaded.Failures();
  // Both repeats are stored and counted; the empty mask is not.
  EXPECT_EQ(loaded.bases->Rules().Values(), (std::vector<uint32_t>{0, 2}));
  EXPECT_EQ(loaded.tracer->Texts(800)[2], "Bugs db: loaded 2 rules");
  const std::string url = "http://dup.test/p";
  const std::vector<uint32_t> matched = MatchBugRules(*loaded.bases, url.data(), static_cast<uint32_t>(url.size()));
  ASSERT_EQ(matched.size(), 1u);
  EXPECT_THAT(matched[0], ::testing::AnyOf(0u, 2u));
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

TEST(BugBasesLoaderTest, LoadsOnlyOnce) {
  LoadedBases loaded = LoadDatabase(SmallDatabase());
  ASSERT_EQ(loaded.result, orv::result::NoError);
  auto io = host::MakeHostObject<host::MemoryIO>(bases_writer::Write(SmallDatabase()));
  EXPECT_TRUE(orv::Failed(BugBasesLoader::Load(*loaded.bases, io.Get())));
  EXPECT_EQ(loaded.bases->ServiceCount(), 2u);
}

}  // namespace
}  // namespace dnt
