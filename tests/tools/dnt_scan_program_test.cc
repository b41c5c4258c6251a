// dnt-scan as its users run it: the engine module loaded through its
// exports, the default bases, the bundled page load. The report's numbers
// are checked against what the entity list says about each host.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/tools/entity_reference.h"
#include "tests/tools/program_run.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using tools_test::ProgramRun;
using tools_test::Quoted;

const std::string Page = DNT_SOURCE_ROOT "/examples/ferguson.com-2022.har";

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
  const ProgramRun noInput = Scan(Quoted((dir / "missing.har").string()));
  EXPECT_EQ(noInput.exitCode, 1);
  EXPECT_NE(noInput.err.find("missing.har: cannot open"), std::string::npos) << noInput.err;
  const ProgramRun noBases = Scan(Quoted(Page) + " --bases " + Quoted((dir / "nowhere").string()));
  EXPECT_EQ(noBases.exitCode, 1);
  EXPECT_NE(noBases.err.find("nowhere does not exist"), std::string::npos) << noBases.err;
  const ProgramRun noModule = Scan(Quoted(Page) + " --module " + Quoted((dir / "none.so").string()));
  EXPECT_NE(noModule.err.find("cannot load"), std::string::npos) << noModule.err;
  const ProgramRun badCategory = Scan(Quoted(Page) + " --block cdn");
  EXPECT_NE(badCategory.exitCode, 0);
  EXPECT_NE(badCategory.err.find("unknown category \"cdn\""), std::string::npos) << badCategory.err;
}

TEST_F(DntScanProgram, EveryTrackerRequestOfThePageIsReportedWithItsService) {
  const json report = Report(Quoted(Page));
  const json entities = tools_test::ReadEntityList();
  EXPECT_EQ(report["summary"]["requests"], 174);
  EXPECT_EQ(report["summary"]["trackers"], 61);
  EXPECT_EQ(report["summary"]["blocked"], 0);
  EXPECT_EQ(report["summary"]["by_category"],
            json::parse(R"({"web analytics": 37, "ad agency": 17, "social network": 4, "web bug": 3})"));
  for (const json& request : report["requests"]) {
    const std::string listed = tools_test::ListedService(entities, request["session"]).name;
    EXPECT_EQ(request["service"], listed.empty() ? json(nullptr) : json(listed)) << request["url"];
  }
  for (const json& session : report["sessions"]) {
    const bool tracker = !session["service"].is_null();
    EXPECT_EQ(session["verdict"], tracker ? "detected" : "not detected") << session["domain"];
  }
}

TEST_F(DntScanProgram, BlockedCategoriesAreAnsweredAndOtherTrackersStripped) {
  const json report = Report(Quoted(Page) + " --block ad --dnt");
  EXPECT_EQ(report["summary"]["blocked"], 17);
  for (const json& request : report["requests"]) {
    const std::string category =
        request["service"].is_null() ? "" : tools_test::ListedService(tools_test::ReadEntityList(), request["session"]).category;
    if (category == "ad") {
      EXPECT_EQ(request["action"], "blocked") << request["url"];
    } else if (!category.empty()) {
      EXPECT_EQ(request["action"], "modified") << request["url"];
      EXPECT_NE(std::find(request["changes"].begin(), request["changes"].end(), "added DNT: 1"), request["changes"].end());
    } else {
      EXPECT_EQ(request["action"], "untouched") << request["url"];
    }
  }
}

TEST_F(DntScanProgram, MinimalHarWithoutHeadersOrResponses) {
  const json report = Report(Quoted(DNT_SOURCE_ROOT "/tests/tools/data/ga-hits-minimal.har") + " --block analytics");
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
