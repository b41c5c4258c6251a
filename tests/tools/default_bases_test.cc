// The default bases as the build makes them: every request of the bundled
// page load goes to the service the entity list names for its host, and the
// default scripts carry out the policy on plain-table requests.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "tests/tools/entity_reference.h"
#include "tests/tools/program_run.h"
#include "url_parser/parsed_url.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using tools_test::Quoted;

const std::string SourceRoot = DNT_SOURCE_ROOT;

// A source names its scripts relative to its own folder, and this one is
// written to a scratch folder, which on Windows may sit on another drive.
std::string AbsolutePath(const std::string& path) { return std::filesystem::absolute(path).string(); }

json ReadJson(const fs::path& path) {
  std::ifstream in(path);
  return json::parse(in);
}

class DefaultBases : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dir = tools_test::MakeScratchDirectory("default_bases"); }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  static tools_test::ProgramRun Tool(const std::string& arguments) {
    return tools_test::RunProgram(tools_test::Program(DNTBASES_PATH) + " " + arguments, dir);
  }

  static inline fs::path dir;
};

TEST_F(DefaultBases, EveryRequestOfThePageGoesToTheServiceTheListNames) {
  const auto check = Tool("check " + Quoted(DNT_DEFAULT_BASES_DIR));
  ASSERT_EQ(check.exitCode, 0) << check.err;
  EXPECT_EQ(json::parse(check.out)["scripts"],
            json::parse(R"(["GetVerdict", "RequestProcessor", "ResponseProcessor", "TrackingPolicy"])"));

  const json entities = tools_test::ReadEntityList();
  const json har = ReadJson(SourceRoot + "/examples/ferguson.com-2022.har");
  std::ofstream urls(dir / "urls.txt");
  for (const json& entry : har["log"]["entries"]) urls << entry["request"]["url"].get<std::string>() << '\n';
  urls.close();
  const auto dump = Tool("dump " + Quoted(DNT_DEFAULT_BASES_DIR));
  const auto match = Tool("match " + Quoted(DNT_DEFAULT_BASES_DIR) + " --urls-from " + Quoted((dir / "urls.txt").string()));
  ASSERT_EQ(match.exitCode, 0) << match.err;
  const json bases = json::parse(dump.out);

  std::istringstream lines(match.out);
  size_t requests = 0, trackers = 0;
  for (std::string line; std::getline(lines, line); ++requests) {
    const json result = json::parse(line);
    const auto url = orv::network::ParsedUrl::Parse(result["url"].get<std::string>());
    const std::string expected =
        tools_test::ListedService(entities, std::string(url.Part(orv::network::UrlPart::Host))).name;
    std::string found;
    if (!result["rules"].empty()) {
      const uint32_t firstBug = result["rules"].get<std::vector<uint32_t>>().front();
      found = bases["services"][bases["bugs"][firstBug].get<size_t>()]["name"];
      ++trackers;
    }
    EXPECT_EQ(found, expected) << result["url"];
  }
  EXPECT_EQ(requests, 174u);
  EXPECT_EQ(trackers, 61u);
}

// Bases with a partner site, an incompatible site and an exception, carrying
// the default scripts and a probe that feeds them requests.
const char* PolicySource = R"({
  "services": [
    {"id": 10, "category": 2, "name": "StatCo"}, {"id": 20, "category": 3, "name": "AdCo"},
    {"id": 30, "category": 1, "name": "SocialCo"}, {"id": 40, "category": 6, "name": "Partners"},
    {"id": 50, "category": 7, "name": "Banks"}],
  "bugs": [{"id": 1, "service": 10}, {"id": 2, "service": 20}, {"id": 3, "service": 30},
           {"id": 4, "service": 40}, {"id": 5, "service": 50}],
  "rules": [{"mask": "*.stats.test", "bug": 1}, {"mask": "*.ads.test", "bug": 2}, {"mask": "social.test", "bug": 3}],
  "exceptions": [{"mask": "*.ads.test/optout/*", "bug": 2}, {"mask": "*.partner.test/*", "bug": 4},
                 {"mask": "bank.test", "bug": 5}],
  "scripts": []
})";

TEST_F(DefaultBases, ScriptsStripDetectedTrackersAndBlockBlockedOnes) {
  json source = json::parse(PolicySource);
  for (const char* script : {"tracking_policy", "request_processor", "response_processor", "get_verdict"}) {
    source["scripts"].push_back(AbsolutePath(SourceRoot + "/bases/default/scripts/" + script + ".lua"));
  }
  source["scripts"].push_back(AbsolutePath(SourceRoot + "/tests/tools/data/policy_probe.lua"));
  std::ofstream(dir / "policy.json") << source.dump();
  const std::string bases = (dir / "policy").string();
  ASSERT_EQ(Tool("build " + Quoted((dir / "policy.json").string()) + " " + Quoted(bases)).exitCode, 0);
  const auto probe = [&](const std::string& settings) {
    const auto run = Tool("run " + Quoted(bases) + " PolicyProbe " + settings);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.out;
  };

  EXPECT_EQ(probe(""),
            "https://www.stats.test/collect?v=1: set DNT=1, removed Cookie, removed Referer, removed Set-Cookie -> true\n"
            "https://shop.test/index.html: set DNT=1 -> false\n"
            "https://cdn.ads.test/banner.js: set DNT=1, removed Referer, removed Set-Cookie -> true\n"
            "https://ads.test/optout/now: set DNT=1 -> false\n"
            "https://pixel.ads.test/p.gif: set DNT=1 -> false\n"
            "https://social.test/like: set DNT=1 -> false\n"
            "https://api.stats.test/x: set DNT=1, removed Cookie, removed Set-Cookie -> true\n"
            "verdict 1 StatCo\n");

  // Blocking by category; a per-service setting overrides it; a host that
  // cannot answer makes the block fail; exclusions can be turned off.
  const std::string blocked = probe(
      "--setting blockTrackingServiceCategories=2,3 --setting trackingServicesSettings=20:0 "
      "--setting excludeIncompatibleSites=0");
  EXPECT_NE(blocked.find("https://www.stats.test/collect?v=1: answered 403 Forbidden -> false\n"),
            std::string::npos)
      << blocked;
  EXPECT_NE(blocked.find("https://cdn.ads.test/banner.js: set DNT=1, removed Referer, removed Set-Cookie -> true"),
            std::string::npos);
  EXPECT_NE(blocked.find("https://social.test/like: set DNT=1, removed Referer, removed Set-Cookie -> true"),
            std::string::npos);
  EXPECT_NE(blocked.find("https://api.stats.test/x: set DNT=1, removed Cookie, removed Set-Cookie -> true\n"
                         "verdict 3 StatCo\n"),
            std::string::npos);
}

}  // namespace
