// Importing tracker lists: what becomes a rule or an exception, what is
// reported instead, and how the bugs are numbered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/list_import/adblock_list.h"
#include "tools/list_import/entity_list.h"
#include "tools/list_import/hosts_file.h"

namespace {

using namespace list_import;
using Strings = std::vector<std::string>;

TEST(ListImport, AdblockRulesExceptionsAndWhatIsReported) {
  const std::string list =
      "[Adblock Plus 2.0]\n"
      "! Title: test\r\n"
      "||ads.example.com^\n"
      "||Tracker.Example/pixel/^$third-party,~image\n"
      "@@||ads.example.com/optout^\n"
      "||www.news.example^\n"
      "||cdn.example^*/track.js\n"
      "||cdn.example/js\n"
      "example.com##.banner\n"
      "/banner[0-9]+/\n"
      "|http://x.example/\n"
      "||x.example^$removeparam=utm\n"
      "||y.example/path?q=1\n"
      "||z.example:8080^\n"
      "||\xc3\xbc.example^\n";
  ImportedBases bases;
  ImportReport report;
  ImportAdblockList(list, 7, 3, "easy", bases, report);
  ASSERT_EQ(bases.bugs.size(), 1u);
  EXPECT_EQ(bases.bugs[0].rules, (Strings{"*.ads.example.com", "*.tracker.example/pixel/", "news.example",
                                          "*.www.news.example", "*.cdn.example/*/track.js*", "*.cdn.example/js*"}));
  EXPECT_EQ(bases.bugs[0].exceptions, (Strings{"*.ads.example.com/optout"}));
  ASSERT_EQ(bases.services.size(), 1u);
  EXPECT_EQ(bases.services[0].id, 7u);
  EXPECT_EQ(bases.services[0].name, "easy");
  EXPECT_EQ(report.comments, 2u);
  EXPECT_EQ(report.wwwHosts, 1u);
  EXPECT_EQ(report.unsupported, 7u);
  ASSERT_EQ(report.samples.size(), ImportReport::SampleLimit);
  EXPECT_EQ(report.samples[0], "line 9: example.com##.banner (element hiding or scriptlet rule)");
  EXPECT_EQ(report.samples[1], "line 10: /banner[0-9]+/ (regular expression)");
  EXPECT_EQ(report.samples[3], "line 12: ||x.example^$removeparam=utm (option $removeparam changes what the rule does)");
  EXPECT_NE(report.samples[4].find("query string"), std::string::npos);
  EXPECT_EQ(report.ignoredOptions, (std::map<std::string, size_t>{{"image", 1}, {"third-party", 1}}));
  EXPECT_NE(Describe(report).find("7 unsupported entries, the first 5:"), std::string::npos) << Describe(report);
}

// Dropping an option that narrows a rule widens it: harmless for a block,
// wrong for an exception, which would then lift the block everywhere.
TEST(ListImport, NarrowedExceptionsAreNotWidened) {
  struct Case {
    std::string line;
    Strings rules;
    Strings exceptions;
    std::string unsupported;
  };
  const std::vector<Case> cases = {
      {"@@||tracker.test^$domain=partner.test", {}, {}, "an exception narrowed by $domain would apply everywhere"},
      {"@@||tracker.test^$third-party", {}, {}, "an exception narrowed by $third-party would apply everywhere"},
      {"@@||tracker.test^$~Third-Party,important", {}, {},
       "an exception narrowed by $third-party would apply everywhere"},
      {"@@||tracker.test/optout^$important", {}, {"*.tracker.test/optout"}, ""},
      {"||tracker.test^$domain=site.test|~shop.site.test,third-party", {"*.tracker.test"}, {}, ""},
  };
  for (const Case& c : cases) {
    ImportedBases bases;
    ImportReport report;
    ImportAdblockList(c.line + "\n", 1, 3, "list", bases, report);
    EXPECT_EQ(bases.bugs.empty() ? Strings() : bases.bugs[0].rules, c.rules) << c.line;
    EXPECT_EQ(bases.bugs.empty() ? Strings() : bases.bugs[0].exceptions, c.exceptions) << c.line;
    const std::string sample = "line 1: " + c.line + " (" + c.unsupported + ")";
    EXPECT_EQ(report.samples, c.unsupported.empty() ? Strings() : Strings{sample});
  }
}

TEST(ListImport, HostsFileHostsLocalNamesAndBrokenLines) {
  const std::string hosts =
      "# blocklist\n"
      "127.0.0.1 localhost LocalHost\n"
      "0.0.0.0 ads.example.com Tracker.example # two hosts\n"
      "::1 IP6-Localhost BroadcastHost\n"
      "0.0.0.0 www.pixel.example\n"
      "0.0.0.0\n"
      "ads.example.org\n"
      "0.0.0.0 bad_host! 0.0.0.0\n";
  ImportedBases bases;
  ImportReport report;
  ImportHostsFile(hosts, 1, 4, "hosts", bases, report);
  ASSERT_EQ(bases.bugs.size(), 1u);
  EXPECT_EQ(bases.bugs[0].rules, (Strings{"ads.example.com", "tracker.example", "pixel.example"}));
  EXPECT_EQ(bases.services[0].category, 4u);
  EXPECT_EQ(report.localNames, 5u);
  EXPECT_EQ(report.comments, 1u);
  EXPECT_EQ(report.unsupported, 3u);
  EXPECT_EQ(report.samples[0], "line 6: 0.0.0.0 (an address without a host)");
  EXPECT_EQ(report.samples[2], "line 8: bad_host! ('!' in a host name)");

  // A list that yields nothing adds no service but says so.
  ImportReport empty;
  ImportHostsFile("# nothing\n", 2, 3, "empty", bases, empty);
  EXPECT_EQ(bases.services.size(), 1u);
  EXPECT_EQ(empty.emptyServices, Strings{"empty"});
}

TEST(ListImport, EntitiesBecomeServicesWithTheMostSpecificRulesFirst) {
  const std::string entities = R"([
    {"name": "Polls", "category": "analytics", "domains": ["*.polls.example", "polls.example"]},
    {"name": "Static Polls", "category": "ad", "domains": ["static.polls.example", "*.Bad Host"]},
    {"name": "Fonts", "category": "cdn", "domains": ["*.fonts.example"]},
    {"name": "Tags", "category": "tag-manager", "domains": ["www.tags.example"]},
    {"name": "Nothing", "category": "marketing", "domains": []},
    {"name": "Again", "category": "social", "domains": ["polls.example"]},
    "junk"
  ])";
  ImportedBases bases;
  ImportReport report;
  ImportEntities(entities, DefaultEntityCategories(), 1, bases, report);
  EXPECT_EQ(report.services, 5u);
  EXPECT_EQ(report.leftOut, (std::map<std::string, size_t>{{"cdn", 1}}));
  EXPECT_EQ(report.emptyServices, Strings{"Nothing"});
  EXPECT_EQ(report.unsupported, 2u);
  EXPECT_EQ(report.wwwHosts, 1u);
  // Ids follow the entities' positions, whatever is left out.
  EXPECT_EQ(bases.services.back().id, 6u);
  EXPECT_EQ(bases.services.back().category, 1u);

  size_t duplicates = 0;
  const nlohmann::json source = ToSourceJson(bases, {"s.lua"}, duplicates);
  EXPECT_EQ(duplicates, 1u);
  // Three labels before two; a plain host before a wildcard of the same
  // length; the repeated "polls.example" of "Again" stays with "Polls".
  EXPECT_EQ(source["rules"], nlohmann::json::parse(R"([
    {"mask": "static.polls.example", "bug": 1}, {"mask": "tags.example", "bug": 2},
    {"mask": "polls.example", "bug": 3}, {"mask": "*.polls.example", "bug": 5}])"));
  EXPECT_EQ(source["bugs"][0]["service"], 2);
  EXPECT_EQ(source["https_domains"].size(), 4u);
  EXPECT_EQ(source["scripts"], nlohmann::json::parse(R"(["s.lua"])"));

  EXPECT_THROW(ImportEntities("{\"name\": 1}", DefaultEntityCategories(), 1, bases, report), std::invalid_argument);
  EXPECT_THROW(ImportEntities("[", DefaultEntityCategories(), 1, bases, report), std::invalid_argument);
}

}  // namespace
