// The inspection subcommands of dntbases against bases built from the sample
// source: what a bases author sees, including the failure texts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "tests/tools/program_run.h"

namespace {

namespace fs = std::filesystem;

using ToolRun = tools_test::ProgramRun;

class DntbasesCommands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = tools_test::MakeScratchDirectory("dntbases_commands");
    ToolRun built = Tool("build '" + std::string(DNT_SOURCE_ROOT) + "/bases/sample/source.json' '" + Bases() + "'");
    ASSERT_EQ(built.exitCode, 0) << built.err;
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  static std::string Bases() { return (dir / "bases").string(); }

  static ToolRun Tool(const std::string& arguments, const std::string& input = "") {
    return tools_test::RunProgram("'" DNTBASES_PATH "' " + arguments, dir, input);
  }

  static inline fs::path dir;
};

TEST_F(DntbasesCommands, DumpShowsThePackedDatabase) {
  ToolRun dump = Tool("dump '" + Bases() + "/dntbugs.dat'");
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
  ToolRun failed = Tool("dump '" + broken.string() + "'");
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_NE(failed.err.find("invalid bugs database"), std::string::npos) << failed.err;
}

TEST_F(DntbasesCommands, MatchReportsRulesExceptionsAndCategories) {
  ToolRun match = Tool("match '" + Bases() + "' http://connect.friendface.test/en_US/sdk.js https://www.shop.example/cart");
  ASSERT_EQ(match.exitCode, 0) << match.err;
  std::istringstream lines(match.out);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  const auto hit = nlohmann::json::parse(first);
  EXPECT_EQ(hit["rules"], nlohmann::json::parse("[0]"));
  EXPECT_EQ(hit["services"], nlohmann::json::parse("[1]"));
  const auto partner = nlohmann::json::parse(second);
  EXPECT_EQ(partner["category"], 6);
  EXPECT_TRUE(partner["rules"].empty());
}

TEST_F(DntbasesCommands, CheckAndRunLoadTheScriptsAsTheComponentDoes) {
  ToolRun check = Tool("check '" + Bases() + "'");
  ASSERT_EQ(check.exitCode, 0) << check.err;
  EXPECT_EQ(nlohmann::json::parse(check.out)["scripts"],
            nlohmann::json::parse(R"(["GetVerdict", "RequestProcessor", "ResponseProcessor"])"));

  ToolRun verdict = Tool("run '" + Bases() + "' GetVerdict");
  ASSERT_EQ(verdict.exitCode, 0) << verdict.err;
  EXPECT_EQ(verdict.out.substr(0, 7), "table: ");
  EXPECT_NE(verdict.out.find("\n0\n"), std::string::npos) << verdict.out;

  ToolRun missing = Tool("run '" + Bases() + "' Nope");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("fatal script error: runtime error: couldn't find the script 'Nope'"), std::string::npos)
      << missing.err;

  // A request from the command line: the results, then what the script changed.
  ToolRun request = Tool("run '" + Bases() + "' RequestProcessor --setting addDntHttpHeader=1 --setting "
                         "blockTrackingServiceCategories=1 --request 'GET /en_US/sdk.js HTTP/1.1' "
                         "--header 'Host: connect.friendface.test'");
  ASSERT_EQ(request.exitCode, 0) << request.err;
  EXPECT_EQ(request.out, "false\nadded DNT: 1\nforbidden response: 403 Forbidden\n");
  EXPECT_EQ(Tool("run '" + Bases() + "' RequestProcessor --request 'GET'").exitCode, 1);

  ToolRun noBases = Tool("check '" + (dir / "nowhere").string() + "'");
  EXPECT_EQ(noBases.exitCode, 1);
}

TEST_F(DntbasesCommands, ImportWritesToStandardOutputOrAnyFile) {
  std::ofstream(dir / "list.txt") << "||ads.example^\n";
  std::ofstream(dir / "s.lua") << "return 'S', function() end\n";
  const std::string import =
      "cd " + tools_test::Quoted(dir.string()) + " && '" DNTBASES_PATH "' import --adblock list.txt --script s.lua";
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

TEST_F(DntbasesCommands, MaskMatchPrintsIndexesPerLine) {
  const fs::path masks = dir / "masks.txt";
  std::ofstream(masks) << "*.tracker.test\n\nsite.test/ad\n";
  ToolRun run = Tool("mask-match '" + masks.string() + "'", "http://x.tracker.test/p\nhttp://site.test/ad/1\nhttp://site.test/adx\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "0\n1\n\n");
}

}  // namespace

namespace {

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

TEST_F(DntbasesCommands, SessionRunsRequestsAndReportsTheVerdict) {
  const fs::path requests = dir / "requests.jsonl";
  std::ofstream(requests) << R"({"method":"GET","url":"http://connect.friendface.test/en_US/sdk.js",)"
                          << R"("response":{"headers":{"Set-Cookie":"t=1"}}})" << "\n";
  ToolRun run = Tool("session '" + Bases() + "' --setting blockTrackingServiceCategories=3 " +
                     "--request 'GET https://ads.adbroker.example/serve/banner?id=42 HTTP/1.1' --header 'Cookie: a=1' " +
                     "--request 'HEAD / HTTP/1.1' --requests '" + requests.string() + "'");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[0]["changes"], nlohmann::json::array({"forbidden response: 403 Forbidden"}));
  EXPECT_EQ(lines[1]["method"], "HEAD");
  EXPECT_EQ(lines[2]["response"]["changes"], nlohmann::json::array({"removed Set-Cookie"}));
  EXPECT_EQ(lines[3]["verdict"]["name"], "blocked");
  EXPECT_EQ(lines[3]["verdict"]["service"]["name"], "AdBroker Network");

  EXPECT_NE(Tool("session '" + Bases() + "' --header 'X: y'").exitCode, 0);
  std::ofstream(requests) << "{\"method\":\"GET\"}\n";
  ToolRun bad = Tool("session '" + Bases() + "' --requests '" + requests.string() + "'");
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("line 1: url must be a string"), std::string::npos) << bad.err;
}

}  // namespace
