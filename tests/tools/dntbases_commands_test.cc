// The inspection subcommands of dntbases against bases built from the sample
// source: what a bases author sees, including the failure texts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cmake/build_paths.h"
#include "squeeze/container_reader.h"
#include "squeeze/whole_file.h"
#include "tests/tools/program_run.h"

namespace {

namespace fs = std::filesystem;

using ToolRun = tools_test::ProgramRun;
using tools_test::Quoted;

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

class DntbasesCommands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = tools_test::MakeScratchDirectory("dntbases_commands");
    ToolRun built = Tool("build " + Quoted(std::string(DNT_SOURCE_ROOT) + "/bases/sample/source.json") + " " + Quoted(Bases()));
    ASSERT_EQ(built.exitCode, 0) << built.err;
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  static std::string Bases() { return (dir / "bases").string(); }

  static ToolRun Tool(const std::string& arguments, const std::string& input = "") {
    return tools_test::RunProgram(tools_test::Program(DNTBASES_PATH) + " " + arguments, dir, input);
  }

  static inline fs::path dir;
};

TEST_F(DntbasesCommands, DumpShowsThePackedDatabase) {
  ToolRun dump = Tool("dump " + Quoted(Bases() + "/dntbugs.dat"));
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  const auto json = nlohmann::json::parse(dump.out);
  EXPECT_EQ(json["version"], "1.0");
  EXPECT_EQ(json["built_on"], "2024-03-01T13:05:09Z");
  EXPECT_EQ(json["services"][0]["name"], "FriendFace");
  EXPECT_EQ(json["bugs"].size(), 11u);
  EXPECT_EQ(json["exception_lists"], nlohmann::json::parse("[[5, 6, 7]]"));
  EXPECT_EQ(json["https_domains"]["loaded"], 3);
  EXPECT_EQ(json["partner_sites"], nlohmann::json::parse(R"(["*.shop.example", "news.example"])"));

  // A damaged database is reported with the loader's text and status 1.
  const fs::path broken = dir / "broken.dat";
  std::ofstream(broken, std::ios::binary) << std::string(40, 'x');
  ToolRun failed = Tool("dump " + Quoted(broken.string()));
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_NE(failed.err.find("invalid bugs database"), std::string::npos) << failed.err;
}

TEST_F(DntbasesCommands, MatchReportsRulesExceptionsAndCategories) {
  std::ofstream(dir / "urls.txt", std::ios::binary) << "https://www.shop.example/cart\r\n\n";
  ToolRun match = Tool("match " + Quoted(Bases()) + " http://connect.friendface.test/en_US/sdk.js --urls-from " +
                       Quoted((dir / "urls.txt").string()));
  ASSERT_EQ(match.exitCode, 0) << match.err;
  const auto lines = JsonLines(match.out);
  ASSERT_EQ(lines.size(), 2u) << match.out;
  EXPECT_EQ(lines[0]["rules"], nlohmann::json::parse("[0]"));
  EXPECT_EQ(lines[0]["services"], nlohmann::json::parse("[1]"));
  EXPECT_EQ(lines[1]["url"], "https://www.shop.example/cart");
  EXPECT_EQ(lines[1]["category"], 6);
  EXPECT_TRUE(lines[1]["rules"].empty());
}

TEST_F(DntbasesCommands, CheckAndRunLoadTheScriptsAsTheComponentDoes) {
  ToolRun check = Tool("check " + Quoted(Bases()));
  ASSERT_EQ(check.exitCode, 0) << check.err;
  EXPECT_EQ(nlohmann::json::parse(check.out)["scripts"],
            nlohmann::json::parse(R"(["GetVerdict", "RequestProcessor", "ResponseProcessor"])"));

  ToolRun verdict = Tool("run " + Quoted(Bases()) + " GetVerdict");
  ASSERT_EQ(verdict.exitCode, 0) << verdict.err;
  EXPECT_EQ(verdict.out.substr(0, 7), "table: ");
  EXPECT_NE(verdict.out.find("\n0\n"), std::string::npos) << verdict.out;

  ToolRun missing = Tool("run " + Quoted(Bases()) + " Nope");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("fatal script error: runtime error: couldn't find the script 'Nope'"), std::string::npos)
      << missing.err;

  // A request from the command line: the results, then what the script changed.
  ToolRun request = Tool("run " + Quoted(Bases()) + " RequestProcessor --setting addDntHttpHeader=1 --setting "
                         "blockTrackingServiceCategories=1 --request " + Quoted("GET /en_US/sdk.js HTTP/1.1") +
                         " --header " + Quoted("Host: connect.friendface.test"));
  ASSERT_EQ(request.exitCode, 0) << request.err;
  EXPECT_EQ(request.out, "false\nadded DNT: 1\nforbidden response: 403 Forbidden\n");
  EXPECT_EQ(Tool("run " + Quoted(Bases()) + " RequestProcessor --request GET").exitCode, 1);

  ToolRun noBases = Tool("check " + Quoted((dir / "nowhere").string()));
  EXPECT_EQ(noBases.exitCode, 1);
}

TEST_F(DntbasesCommands, ImportWritesToStandardOutputOrAnyFile) {
  std::ofstream(dir / "list.txt") << "||ads.example^\n";
  std::ofstream(dir / "s.lua") << "return 'S', function() end\n";
  const std::string import =
      tools_test::InDirectory(dir) + tools_test::Program(DNTBASES_PATH) + " import --adblock list.txt --script s.lua";
  // Scripts are named absolutely on standard output, relative to the file's
  // folder otherwise.
  ToolRun toOutput = tools_test::RunProgram(import, dir);
  ASSERT_EQ(toOutput.exitCode, 0) << toOutput.err;
  const auto source = nlohmann::json::parse(toOutput.out);
  EXPECT_EQ(source["rules"][0]["mask"], "*.ads.example");
  EXPECT_EQ(source["scripts"][0], (dir / "s.lua").string());
  EXPECT_FALSE(source.contains("timestamp"));
  ToolRun toFile = tools_test::RunProgram(import + " --timestamp 2024-03-01T13:05:09Z -o name.json", dir);
  ASSERT_EQ(toFile.exitCode, 0) << toFile.err;
  std::ifstream written(dir / "name.json");
  const auto fileSource = nlohmann::json::parse(written);
  EXPECT_EQ(fileSource["scripts"][0], "s.lua");
  EXPECT_EQ(fileSource["timestamp"], "2024-03-01T13:05:09Z");

  ToolRun unwritable = tools_test::RunProgram(import + " -o missing/name.json", dir);
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_NE(unwritable.err.find("cannot write \"missing/name.json\": No such file or directory"), std::string::npos)
      << unwritable.err;
}

// What the toolchain's other commands and the host tests load is built
// packed; --raw must give the same content unpacked.
TEST_F(DntbasesCommands, BuildWritesRawAsPackedAndNamesBadEntries) {
  const std::string source = std::string(DNT_SOURCE_ROOT) + "/bases/sample/source.json";
  const std::string raw = (dir / "raw").string();
  ToolRun built = Tool("build " + Quoted(source) + " " + Quoted(raw) + " --raw");
  ASSERT_EQ(built.exitCode, 0) << built.err;
  for (const char* name : {"dntbugs.dat", "dnt0001.dat"}) {
    EXPECT_EQ(squeeze::UnpackContainer(squeeze::ReadWholeFile(Bases() + "/" + name)),
              squeeze::ReadWholeFile(raw + "/" + name))
        << name;
  }

  const std::string minimal =
      R"("services": [{"id": 1, "category": 1, "name": "S"}], "bugs": [{"id": 5, "service": 1}],
         "rules": [{"mask": "a.test/*", "bug": 5}], "exceptions": [])";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{" + minimal + "}", ""},
      {R"({"bugs": [], "rules": [], "exceptions": []})", "source: missing field \"services\""},
      {R"({"services": [{"id": "1", "category": 1, "name": "S"}], "bugs": [], "rules": [], "exceptions": []})",
       "services[0].id: expected an unsigned 32-bit integer"},
      {R"({"services": [{"id": -3, "category": 1, "name": "S"}], "bugs": [], "rules": [], "exceptions": []})",
       "services[0].id: expected an unsigned 32-bit integer"},
      {R"({"services": [{"id": 1, "category": 1}], "bugs": [], "rules": [], "exceptions": []})",
       "services[0]: missing field \"name\""},
      {"{" + minimal + R"(, "rule": []})", "rule: unknown field"},
      {"{" + minimal + R"(, "https_domains": "a.test"})", "https_domains: expected an array"},
      {"{" + minimal + R"(, "timestamp": "2024-02-30T00:00:00Z"})", "timestamp: expected a UTC time"},
      {"{" + minimal + R"(, "exceptions_fix": [{"target": 5, "extra": []}]})", "exceptions_fix[0].target"},
      {"{" + minimal + R"(, "scripts": ["missing.lua"]})", "scripts[0]: cannot read"},
      {"{" + minimal + R"(, "version": [1]})", "version: expected [major, minor]"},
      {R"({"services": [{"id": 1, "category": 1, "name": "S"}], "bugs": [{"id": 5, "service": 2}],
           "rules": [], "exceptions": []})",
       "bugs[0]"},
      {"{ not json", "is not valid JSON"},
  };
  int n = 0;
  for (const auto& [json, expected] : cases) {
    const fs::path caseSource = dir / ("source" + std::to_string(n) + ".json");
    const fs::path out = dir / ("out" + std::to_string(n++));
    std::ofstream(caseSource) << json;
    const ToolRun run = Tool("build " + Quoted(caseSource.string()) + " " + Quoted(out.string()));
    if (expected.empty()) {
      EXPECT_EQ(run.exitCode, 0) << run.err;
      EXPECT_TRUE(fs::exists(out / "dntbugs.dat"));
      EXPECT_FALSE(fs::exists(out / "dnt0001.dat"));
      continue;
    }
    EXPECT_EQ(run.exitCode, 1) << json;
    EXPECT_NE(run.err.find(expected), std::string::npos) << json << "\n-> " << run.err;
    EXPECT_FALSE(fs::exists(out / "dntbugs.dat")) << json;
  }
}

TEST_F(DntbasesCommands, MaskMatchPrintsIndexesPerLine) {
  const fs::path masks = dir / "masks.txt";
  std::ofstream(masks, std::ios::binary) << "*.tracker.test\n\nsite.test/ad\n";
  ToolRun run = Tool("mask-match " + Quoted(masks.string()) + "", "http://x.tracker.test/p\nhttp://site.test/ad/1\nhttp://site.test/adx\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "0\n1\n\n");
}

TEST_F(DntbasesCommands, SessionRunsRequestsAndReportsTheVerdict) {
  const fs::path requests = dir / "requests.jsonl";
  std::ofstream(requests) << R"({"method":"GET","url":"http://connect.friendface.test/en_US/sdk.js",)"
                          << R"("response":{"headers":{"Set-Cookie":"t=1"}}})" << "\n";
  ToolRun run = Tool("session " + Quoted(Bases()) + " --setting blockTrackingServiceCategories=3 " +
                     "--request " + Quoted("GET https://ads.adbroker.example/serve/banner?id=42 HTTP/1.1") + " --header " +
                     Quoted("Cookie: a=1") + " --request " + Quoted("HEAD / HTTP/1.1") + " --requests " + Quoted(requests.string()));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[0]["changes"], nlohmann::json::array({"forbidden response: 403 Forbidden"}));
  EXPECT_EQ(lines[1]["method"], "HEAD");
  EXPECT_EQ(lines[2]["response"]["changes"], nlohmann::json::array({"removed Set-Cookie"}));
  EXPECT_EQ(lines[3]["verdict"]["name"], "blocked");
  EXPECT_EQ(lines[3]["verdict"]["service"]["name"], "AdBroker Network");

  EXPECT_NE(Tool("session " + Quoted(Bases()) + " --header " + Quoted("X: y")).exitCode, 0);
  std::ofstream(requests) << "{\"method\":\"GET\"}\n";
  ToolRun bad = Tool("session " + Quoted(Bases()) + " --requests " + Quoted(requests.string()));
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("line 1: url must be a string"), std::string::npos) << bad.err;
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

TEST_F(DntbasesCommands, DefaultScriptsStripDetectedTrackersAndBlockBlockedOnes) {
  nlohmann::json source = nlohmann::json::parse(PolicySource);
  for (const char* script : {"tracking_policy", "request_processor", "response_processor", "get_verdict"}) {
    source["scripts"].push_back(std::string(DNT_SOURCE_ROOT) + "/bases/default/scripts/" + script + ".lua");
  }
  source["scripts"].push_back(std::string(DNT_SOURCE_ROOT) + "/tests/tools/data/policy_probe.lua");
  // Named absolutely: on Windows the scratch folder may be on another drive.
  for (auto& script : source["scripts"]) script = fs::absolute(script.get<std::string>()).string();
  std::ofstream(dir / "policy.json") << source.dump();
  const std::string bases = (dir / "policy").string();
  ASSERT_EQ(Tool("build " + Quoted((dir / "policy.json").string()) + " " + Quoted(bases)).exitCode, 0);
  const auto probe = [&](const std::string& settings) {
    const auto run = Tool("run " + Quoted(bases) + " PolicyProbe " + settings);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.out;
  };

  EXPECT_EQ(probe(""),
            "https://www.stats.test/collect?v=1: set DNT=1, set Sec-GPC=1, removed Cookie, removed Referer, removed Set-Cookie -> true\n"
            "https://shop.test/index.html: set DNT=1, set Sec-GPC=1 -> false\n"
            "https://cdn.ads.test/banner.js: set DNT=1, set Sec-GPC=1, removed Referer, removed Set-Cookie -> true\n"
            "https://ads.test/optout/now: set DNT=1, set Sec-GPC=1 -> false\n"
            "https://pixel.ads.test/p.gif: set DNT=1, set Sec-GPC=1 -> false\n"
            "https://social.test/like: set DNT=1, set Sec-GPC=1 -> false\n"
            "https://api.stats.test/x: set DNT=1, set Sec-GPC=1, removed Cookie, removed Set-Cookie -> true\n"
            "verdict 1 StatCo\n");

  // Blocking by category; a per-service setting overrides it; a host that
  // cannot answer makes the block fail; exclusions can be turned off.
  const std::string blocked = probe(
      "--setting blockTrackingServiceCategories=2,3 --setting trackingServicesSettings=20:0 "
      "--setting excludeIncompatibleSites=0");
  EXPECT_NE(blocked.find("https://www.stats.test/collect?v=1: answered 403 Forbidden -> false\n"),
            std::string::npos)
      << blocked;
  EXPECT_NE(blocked.find("https://cdn.ads.test/banner.js: set DNT=1, set Sec-GPC=1, removed Referer, removed Set-Cookie -> true"),
            std::string::npos);
  EXPECT_NE(blocked.find("https://social.test/like: set DNT=1, set Sec-GPC=1, removed Referer, removed Set-Cookie -> true"),
            std::string::npos);
  EXPECT_NE(blocked.find("https://api.stats.test/x: set DNT=1, set Sec-GPC=1, removed Cookie, removed Set-Cookie -> true\n"
                         "verdict 3 StatCo\n"),
            std::string::npos);

  // Sec-GPC follows DNT: a request that carries "DNT: 1" already gets
  // neither added.
  for (const bool carried : {false, true}) {
    const auto run = Tool("run " + Quoted(bases) + " RequestProcessor --setting addDntHttpHeader=1 --request " +
                          Quoted("GET /index.html HTTP/1.1") + " --header " + Quoted("Host: shop.test") +
                          (carried ? " --header " + Quoted("DNT: 1") : std::string()));
    EXPECT_EQ(run.out, carried ? "false\n" : "false\nadded DNT: 1\nadded Sec-GPC: 1\n") << run.err;
  }
}

}  // namespace
