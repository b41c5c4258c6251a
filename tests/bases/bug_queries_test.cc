#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <typeinfo>
#include <utility>

#include "do_not_track/dnt_engine/bug_queries.h"
#include "do_not_track/dnt_engine/service_settings_validation.h"
#include "host/capturing_tracer.h"
#include "host/counting_allocator.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "tests/bases/loaded_bases.h"

namespace dnt {
namespace {

using ::testing::ElementsAre;

// Services: 1 (web bug), 2 (partner), 3 (incompatible), 4 (web bug, bad
// UTF-8 name in the variant that wants one). Bugs 10..19 map to index 0..9.
bases_writer::Database QueryDatabase() {
  bases_writer::Database db;
  db.services = {{1, 4, "Zeta pixel"}, {2, 6, "Partner"}, {3, 7, "Incompatible"}, {4, 4, "Alpha pixel"}};
  for (uint32_t i = 0; i < 10; ++i) db.bugs.push_back({10 + i, i == 1 ? 2u : i == 2 ? 3u : i == 3 ? 4u : 1u});
  db.rules = {{"pixel.test/track", 10}, {"q.test/p*x=1", 13}};
  db.exceptions = {
      {"list.test", 14, std::vector<uint32_t>{19, 12}},            // expands to 4, 9, 2
      {"partner-first.test", 11, std::vector<uint32_t>{12}},      // 6 before 7
      {"incompatible-first.test", 12, std::vector<uint32_t>{11}}, // 7 before 6
  };
  return db;
}

struct Fixture {
  testing::LoadedBases loaded = testing::LoadDatabase(QueryDatabase());
  const BugBases& bases() const { return *loaded.bases; }
};

std::vector<uint32_t> Rules(const BugBases& bases, const std::string& url) {
  return MatchBugRules(bases, url.data(), static_cast<uint32_t>(url.size()));
}
std::vector<uint32_t> Exceptions(const BugBases& bases, const std::string& url) {
  return MatchBugExceptions(bases, url.data(), static_cast<uint32_t>(url.size()));
}
uint32_t SiteCategory(const BugBases& bases, const std::string& url) {
  return GetSiteCategory(bases, url.data(), static_cast<uint32_t>(url.size()));
}

const std::vector<std::string> Urls = {"http://pixel.test/track", "http://list.test/a", "http://q.test/px=1",
                                       "http://partner-first.test/", "http://none.test/"};

TEST(BugQueriesTest, MatchingStopsAtTheQueryAndExceptionListsExpandInPlace) {
  Fixture f;
  ASSERT_EQ(f.loaded.result, orv::result::NoError) << f.loaded.Failures();
  EXPECT_THAT(Rules(f.bases(), "http://pixel.test/track?id=5"), ElementsAre(0u));
  EXPECT_THAT(Rules(f.bases(), "http://q.test/px=1"), ElementsAre(3u));
  EXPECT_TRUE(Rules(f.bases(), "http://q.test/p?x=1").empty());
  EXPECT_TRUE(Rules(f.bases(), "?http://pixel.test/track").empty());
  EXPECT_TRUE(Rules(f.bases(), "").empty());
  EXPECT_THAT(Exceptions(f.bases(), "http://list.test/x?y"), ElementsAre(4u, 9u, 2u));
  EXPECT_EQ(SiteCategory(f.bases(), "http://partner-first.test/"), 6u);
  EXPECT_EQ(SiteCategory(f.bases(), "http://incompatible-first.test/"), 7u);
  EXPECT_EQ(SiteCategory(f.bases(), "http://list.test/"), 7u);
  EXPECT_EQ(SiteCategory(f.bases(), "http://nothing.test/"), 0u);
}

TEST(BugQueriesTest, ServiceBlocking) {
  Fixture f;
  ServiceSettings settings;
  settings.blockTrackingServiceCategories = {4, 6};
  settings.trackingServicesSettings = {{1, 0}, {3, 1}};
  EXPECT_FALSE(IsServiceBlockingEnabled(f.bases(), 0, settings));  // per-service 0 beats the category
  EXPECT_TRUE(IsServiceBlockingEnabled(f.bases(), 1, settings));   // category 6 blocked
  EXPECT_TRUE(IsServiceBlockingEnabled(f.bases(), 2, settings));   // per-service 1, category not blocked
  EXPECT_TRUE(IsServiceBlockingEnabled(f.bases(), 3, settings));
  settings.trackingServicesSettings = {{4, 2}};
  EXPECT_FALSE(IsServiceBlockingEnabled(f.bases(), 3, settings));  // only 1 means enabled
  EXPECT_FALSE(IsServiceBlockingEnabled(f.bases(), 2, ServiceSettings{}));
  EXPECT_THROW(IsServiceBlockingEnabled(f.bases(), 4, settings), std::out_of_range);
}

TEST(BugQueriesTest, SupportedTrackingServices) {
  Fixture f;
  std::vector<SupportedTrackingService> services{{u"old", 0, 0}};
  GetSupportedTrackingServices(f.bases(), 5, services);
  EXPECT_TRUE(services.empty());
  GetSupportedTrackingServices(f.bases(), 4, services);
  ASSERT_EQ(services.size(), 2u);
  EXPECT_EQ(services[0].name, u"Zeta pixel");
  EXPECT_EQ(services[0].id, 1u);
  EXPECT_EQ(services[1].name, u"Alpha pixel");
  EXPECT_EQ(services[1].category, 4u);

  bases_writer::Database db = QueryDatabase();
  db.services[3].name = "bad \xC3";
  const testing::LoadedBases bad = testing::LoadDatabase(db);
  ASSERT_EQ(bad.result, orv::result::NoError);
  EXPECT_THROW(GetSupportedTrackingServices(*bad.bases, 4, services), std::bad_cast);
  EXPECT_EQ(services.size(), 2u);
}

TEST(BugQueriesTest, ARepeatedMaskKeepsTheFirstRecordsBug) {
  bases_writer::Database db = QueryDatabase();
  // The second shares both of the first's keys; the third repeats it.
  db.rules = {{"dup.test/p", 13}, {"*.dup.test/p", 15}, {"dup.test/p", 12}};
  db.exceptions = {{"ex.test", 16, std::nullopt}, {"ex.test", 11, std::nullopt}};
  const testing::LoadedBases loaded = testing::LoadDatabase(db);
  ASSERT_EQ(loaded.result, orv::result::NoError) << loaded.Failures();
  EXPECT_THAT(Rules(*loaded.bases, "http://dup.test/p"), ElementsAre(3u));
  EXPECT_THAT(Rules(*loaded.bases, "http://dup.test/p/x"), ElementsAre(3u));
  EXPECT_THAT(Rules(*loaded.bases, "http://a.dup.test/p"), ElementsAre(5u));
  EXPECT_THAT(Exceptions(*loaded.bases, "http://ex.test/"), ElementsAre(6u));
}

// A context keeps nothing of the bases it served: the same text against
// other bases gets their answer, and the first bases may be gone by then.
TEST(BugQueriesTest, AContextServesAnyBasesOneAfterAnother) {
  BugMatchContext context;
  auto expectSameAsFresh = [&](const BugBases& bases) {
    for (int round = 0; round < 3; ++round) {
      for (const std::string& url : Urls) {
        const auto length = static_cast<uint32_t>(url.size());
        EXPECT_EQ(MatchBugRules(bases, url.data(), length, context), Rules(bases, url)) << url;
        EXPECT_EQ(MatchBugExceptions(bases, url.data(), length, context), Exceptions(bases, url)) << url;
        EXPECT_EQ(GetSiteCategory(bases, url.data(), length, context), SiteCategory(bases, url)) << url;
      }
    }
  };
  {
    Fixture f;
    expectSameAsFresh(f.bases());
  }
  bases_writer::Database db = QueryDatabase();
  db.rules = {{"*.list.test", 17}, {"none.test", 18}};
  const testing::LoadedBases other = testing::LoadDatabase(db);
  ASSERT_EQ(other.result, orv::result::NoError);
  expectSameAsFresh(*other.bases);
  EXPECT_THAT(MatchBugRules(*other.bases, Urls[1].data(), static_cast<uint32_t>(Urls[1].size()), context),
              ElementsAre(7u));
}

TEST(BugQueriesTest, ConcurrentQueriesAgree) {
  Fixture f;
  const auto answers = [&](const std::string& url) {
    return std::pair(Rules(f.bases(), url), Exceptions(f.bases(), url));
  };
  std::vector<decltype(answers(""))> expected;
  for (const std::string& url : Urls) expected.push_back(answers(url));
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < 200; ++round) {
        for (size_t i = 0; i < Urls.size(); ++i) mismatches += answers(Urls[i]) != expected[i];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

std::u16string ValidationError(const ServiceSettings& settings) {
  try {
    CopyValidatedServiceSettings(settings);
  } catch (const orv::InvalidArgumentException& e) {
    EXPECT_EQ(orv::GetResultCode(e), orv::result::InvalidArgument);
    return e.WideMessage();
  }
  return u"(valid)";
}

TEST(ServiceSettingsTest, ValidatedCopyIsSortedWithoutRepeats) {
  ServiceSettings settings;
  settings.excludeIncompatibleSites = true;
  settings.enableVerboseTrace = true;
  settings.blockTrackingServiceCategories = {4, 1};
  settings.trackingServicesSettings = {{9, 0}, {2, 1}};
  const ServiceSettings copy = CopyValidatedServiceSettings(settings);
  EXPECT_EQ(std::vector<uint32_t>(copy.blockTrackingServiceCategories.begin(), copy.blockTrackingServiceCategories.end()),
            (std::vector<uint32_t>{1, 4}));
  ASSERT_EQ(copy.trackingServicesSettings.size(), 2u);
  EXPECT_EQ(copy.trackingServicesSettings[0].serviceId, 2u);
  EXPECT_EQ(copy.trackingServicesSettings[1].serviceId, 9u);
  EXPECT_TRUE(copy.excludeIncompatibleSites && copy.enableVerboseTrace);
  EXPECT_FALSE(copy.excludePartnerSites || copy.addTrackingNoise || copy.addDntHttpHeader);
  // The source keeps the caller's order.
  EXPECT_EQ(settings.blockTrackingServiceCategories[0], 4u);

  settings.blockTrackingServiceCategories = {4, 1, 4};
  EXPECT_EQ(ValidationError(settings), u"repeated options in ServiceSettings");
  settings.blockTrackingServiceCategories = {};
  settings.trackingServicesSettings = {{7, 1}, {7, 0}};
  EXPECT_EQ(ValidationError(settings), u"repeated options in ServiceSettings");
}

TEST(ServiceSettingsTest, ListsAllocateThroughTheAttachedAllocator) {
  const auto allocator = host::MakeHostObject<host::CountingAllocator>();
  {
    ServiceSettings settings{orv::ComPtr<orv::IAllocator>(allocator.Get())};
    settings.blockTrackingServiceCategories = {3, 1};
    settings.trackingServicesSettings = {{5, 1}};
    EXPECT_EQ(allocator->LiveBlocks(), 2);
    const ServiceSettings copy = CopyValidatedServiceSettings(settings);
    EXPECT_EQ(allocator->LiveBlocks(), 4);
    allocator->SetFailing(true);
    ServiceSettings failing{orv::ComPtr<orv::IAllocator>(allocator.Get())};
    EXPECT_THROW(failing.blockTrackingServiceCategories.push_back(1), std::bad_alloc);
    allocator->SetFailing(false);
  }
  EXPECT_EQ(allocator->LiveBlocks(), 0);
}

TEST(ServiceSettingsTest, TraceShowsTheCallersOrder) {
  const auto tracer = host::MakeHostObject<host::CapturingTracer>();
  ServiceSettings settings;
  settings.addDntHttpHeader = true;
  settings.blockTrackingServiceCategories = {3, 1};
  settings.trackingServicesSettings = {{2, 1}, {9, 0}};
  TraceServiceSettings(tracer.Get(), settings);
  EXPECT_EQ(tracer->Texts(800), std::vector<std::string>{
                                    "ProcessorFactory::ProcessorFactory(): ServiceSettings are: \n"
                                    "\texcludePartnerSites = 0\n"
                                    "\texcludeIncompatibleSites = 0\n"
                                    "\taddTrackingNoise = 0\n"
                                    "\taddDntHttpHeader = 1\n"
                                    "\tenableVerboseTrace = 0\n"
                                    "\tblockTrackingServiceCategories = [3, 1]\n"
                                    "\ttrackingServicesSettings = [2:1, 9:0]\n"});
  tracer->Clear();
  TraceServiceSettings(tracer.Get(), ServiceSettings{});
  EXPECT_NE(tracer->All().find("blockTrackingServiceCategories = []\n\ttrackingServicesSettings = []\n"),
            std::string::npos);
}

}  // namespace
}  // namespace dnt
