// dnt-scan as its users run it: the engine module loaded through its
// exports, the default bases, the bundled page load. The report's numbers
// are checked against what the entity list says about each host.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "cmake/build_paths.h"
#include "tests/tools/entity_reference.h"
#include "tests/tools/program_run.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using tools_test::ProgramRun;
using tools_test::Quoted;

const std::string Page = std::string(DNT_SOURCE_ROOT) + "/examples/ferguson.com-2022.har";

class DntScanProgram : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dir = tools_test::MakeScratchDirectory("dnt_scan_program"); }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  static ProgramRun Scan(const std::string& arguments) {
    return tools_test::RunProgram(tools_test::Program(DNT_SCAN_PATH) + " " + arguments, dir);
  }

  static json Report(const std::string& arguments) {
    const ProgramRun run = Scan(arguments + " --json");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.exitCode == 0 ? json::parse(run.out) : json();
  }

  static inline fs::path dir;
};

TEST_F(DntScanProgram, RefusesWhatItCannotUse) {
  const std::pair<std::string, std::string> cases[] = {
      {Quoted((dir / "missing.har").string()), "missing.har: cannot open"},
      {Quoted(Page) + " --bases " + Quoted((dir / "nowhere").string()), "nowhere does not exist"},
      {Quoted(Page) + " --module " + Quoted((dir / "none.so").string()), "cannot load"},
      {Quoted(Page) + " --block cdn", "unknown category \"cdn\""},
  };
  for (const auto& [arguments, error] : cases) {
    const ProgramRun run = Scan(arguments);
    EXPECT_NE(run.exitCode, 0) << arguments;
    EXPECT_NE(run.err.find(error), std::string::npos) << run.err;
  }
}

// Ad trackers blocked, the others stripped of what identifies the user.
TEST_F(DntScanProgram, EveryTrackerRequestOfThePageIsReportedWithItsServiceAndHandled) {
  const json report = Report(Quoted(Page) + " --block ad --dnt");
  const json entities = tools_test::ReadEntityList();
  EXPECT_EQ(report["summary"]["requests"], 174);
  EXPECT_EQ(report["summary"]["trackers"], 61);
  EXPECT_EQ(report["summary"]["blocked"], 17);
  EXPECT_EQ(report["summary"]["by_category"],
            json::parse(R"({"web analytics": 37, "ad agency": 17, "social network": 4, "web bug": 3})"));
  for (const json& request : report["requests"]) {
    const auto listed = tools_test::ListedService(entities, request["session"]);
    EXPECT_EQ(request["service"], listed.name.empty() ? json(nullptr) : json(listed.name)) << request["url"];
    const std::string action = listed.name.empty() ? "untouched" : listed.category == "ad" ? "blocked" : "modified";
    EXPECT_EQ(request["action"], action) << request["url"];
    const std::string changes = request["changes"].dump();
    EXPECT_EQ(changes.find("\"added DNT: 1\",\"added Sec-GPC: 1\"") != std::string::npos, action == "modified");
    EXPECT_EQ(changes.find("Sec-GPC") != std::string::npos, action == "modified") << changes;
  }
  for (const json& session : report["sessions"]) {
    const std::string category = tools_test::ListedService(entities, session["domain"]).category;
    EXPECT_EQ(session["verdict"], category.empty() ? "not detected" : category == "ad" ? "blocked" : "detected")
        << session["domain"];
  }
}

TEST_F(DntScanProgram, MinimalHarWithoutHeadersOrResponses) {
  const json report = Report(Quoted(std::string(DNT_SOURCE_ROOT) + "/tests/tools/data/ga-hits-minimal.har") + " --block analytics");
  EXPECT_EQ(report["summary"]["requests"], 9);
  EXPECT_EQ(report["summary"]["blocked"], 9);
  // Entries without a pageref form a page of their own: one session each.
  ASSERT_EQ(report["sessions"].size(), 2u);
  for (const json& session : report["sessions"]) {
    EXPECT_EQ(session["service"]["name"], "Google Analytics");
    EXPECT_EQ(session["verdict"], "blocked");
  }
}

}  // namespace
