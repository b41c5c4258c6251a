// `dntbases build` run as a program: its files and its error messages.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>

#include "squeeze/container_reader.h"
#include "squeeze/whole_file.h"
#include "tests/base_files/base_files_test_support.h"

namespace {

using namespace base_files_test;

struct ToolRun {
  int exitCode = -1;
  std::string errors;
};

ToolRun Build(const TempDir& scratch, const std::string& source, const std::string& outDir, bool raw = false) {
  const std::string errorsPath = scratch.str() + "/errors.txt";
  const std::string command = std::string("'") + DNTBASES_PATH + "' build '" + source + "' '" + outDir + "'" +
                              (raw ? " --raw" : "") + " 2>'" + errorsPath + "'";
  const int status = std::system(command.c_str());
  ToolRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(errorsPath);
  run.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

// What the toolchain's other commands and the host tests load is built
// packed; --raw must give the same content unpacked.
TEST(DntbasesBuild, RawOutputIsThePackedContent) {
  TempDir scratch;
  const std::string source = std::string(DNT_SOURCE_ROOT) + "/bases/sample/source.json";
  const ToolRun packed = Build(scratch, source, scratch.str() + "/packed");
  ASSERT_EQ(packed.exitCode, 0) << packed.errors;
  const ToolRun raw = Build(scratch, source, scratch.str() + "/raw", true);
  ASSERT_EQ(raw.exitCode, 0) << raw.errors;
  for (const char* name : {"dntbugs.dat", "dnt0001.dat"}) {
    EXPECT_EQ(squeeze::UnpackContainer(squeeze::ReadWholeFile((scratch.path() / "packed" / name).string())),
              squeeze::ReadWholeFile((scratch.path() / "raw" / name).string()))
        << name;
  }
}

TEST(DntbasesBuild, BadSourcesNameTheOffendingEntry) {
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
  for (const auto& [json, expected] : cases) {
    TempDir scratch;
    std::ofstream(scratch.path() / "source.json") << json;
    const ToolRun run = Build(scratch, scratch.str() + "/source.json", scratch.str() + "/out");
    if (expected.empty()) {
      EXPECT_EQ(run.exitCode, 0) << run.errors;
      EXPECT_TRUE(fs::exists(scratch.path() / "out/dntbugs.dat"));
      EXPECT_FALSE(fs::exists(scratch.path() / "out/dnt0001.dat"));
      continue;
    }
    EXPECT_EQ(run.exitCode, 1) << json;
    EXPECT_NE(run.errors.find(expected), std::string::npos) << json << "\n-> " << run.errors;
    EXPECT_FALSE(fs::exists(scratch.path() / "out/dntbugs.dat")) << json;
  }
}

}  // namespace
