// `dntbases build` run as a program: its files, its round trip through the
// packed container and the base-file collection, and its error messages.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <lua.hpp>
#include <set>

#include "do_not_track/util/base_files.h"
#include "host/environment.h"
#include "host/service_locator.h"
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

std::vector<uint8_t> Read(const fs::path& path) { return squeeze::ReadWholeFile(path.string()); }

// The scripts of a script base file, record by record.
std::vector<std::string> ScriptRecords(const std::vector<uint8_t>& file) {
  std::vector<std::string> scripts;
  size_t at = 0;
  while (at + 8 <= file.size()) {
    const uint32_t length = file[at] | file[at + 1] << 8 | file[at + 2] << 16 | uint32_t{file[at + 3]} << 24;
    EXPECT_NE(file[at + 4], 0) << "continuity flag";
    at += 8;
    if (length > file.size() - at) break;
    scripts.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(at),
                         file.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  EXPECT_EQ(at, file.size()) << "records must fill the file";
  return scripts;
}

// Runs a script's chunk the way discovery does and returns the registration
// name, checking that the initializer yields an entry point.
std::string RegisteredName(const std::string& script) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  std::string name = "<failed>";
  if (luaL_loadbuffer(L, script.data(), script.size(), "=script") == LUA_OK &&
      lua_pcall(L, 0, 2, 0) == LUA_OK) {
    if (lua_isfunction(L, -1)) lua_pcall(L, 0, 1, 0);
    const bool entryOk = lua_isfunction(L, -1) || (lua_isstring(L, -1) && (lua_getglobal(L, lua_tostring(L, -1)),
                                                                           lua_isfunction(L, -1)));
    lua_settop(L, 1);
    if (lua_isfunction(L, 1)) lua_pcall(L, 0, 1, 0);
    if (entryOk && lua_isstring(L, -1)) name = lua_tostring(L, -1);
  } else {
    ADD_FAILURE() << lua_tostring(L, -1);
  }
  lua_close(L);
  return name;
}

TEST(DntbasesBuild, SampleBasesRoundTripThroughPackingAndCollection) {
  TempDir scratch;
  const std::string source = std::string(DNT_SOURCE_ROOT) + "/bases/sample/source.json";
  const ToolRun packed = Build(scratch, source, scratch.str() + "/packed");
  ASSERT_EQ(packed.exitCode, 0) << packed.errors;
  const ToolRun raw = Build(scratch, source, scratch.str() + "/raw", true);
  ASSERT_EQ(raw.exitCode, 0) << raw.errors;

  const std::vector<uint8_t> rawBugs = Read(scratch.path() / "raw/dntbugs.dat");
  const std::vector<uint8_t> rawScripts = Read(scratch.path() / "raw/dnt0001.dat");
  EXPECT_EQ(squeeze::UnpackContainer(Read(scratch.path() / "packed/dntbugs.dat")), rawBugs);
  EXPECT_EQ(squeeze::UnpackContainer(Read(scratch.path() / "packed/dnt0001.dat")), rawScripts);

  // 2024-03-01T13:05:09Z in 100 ns units since 1582-10-15, as the file stores it.
  const uint64_t timestamp = 139285911090000000;
  std::vector<uint8_t> stamp;
  for (int shift = 0; shift < 64; shift += 8) stamp.push_back(static_cast<uint8_t>(timestamp >> shift));
  EXPECT_NE(std::search(rawBugs.begin(), rawBugs.end(), stamp.begin(), stamp.end()), rawBugs.end());

  std::set<std::string> names;
  for (const std::string& script : ScriptRecords(rawScripts)) names.insert(RegisteredName(script));
  EXPECT_EQ(names, (std::set<std::string>{"RequestProcessor", "ResponseProcessor", "GetVerdict"}));

  auto locator = host::MakeHostObject<host::ServiceLocator>();
  locator->Register(host::MakeHostObject<host::Environment>(orv::text::Widen(scratch.str() + "/packed")));
  const dnt::BaseFiles files = dnt::CollectBaseFiles(locator.Get(), nullptr, nullptr);
  ASSERT_EQ(files.scriptStreams.size(), 1u);
  EXPECT_EQ(ReadAll(files.scriptStreams[0].Get()), std::string(rawScripts.begin(), rawScripts.end()));
  EXPECT_EQ(ReadAll(files.bugStream.Get()), std::string(rawBugs.begin(), rawBugs.end()));
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
