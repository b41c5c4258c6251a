// Reading recorded traffic: real HAR exports, minimal ones, JSON Lines, and
// every kind of broken input, each reported with its entry or line number.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "cmake/build_paths.h"
#include "tests/support/thrown.h"
#include "tests/tools/dnt_scan/collecting_sink.h"
#include "tools/dnt_scan/entry_reader.h"
#include "tools/dnt_scan/har_reader.h"
#include "tools/dnt_scan/jsonl_reader.h"
#include "tools/dnt_scan/traffic_input.h"

namespace {

using namespace dnt_scan;
using dnt_scan_test::CollectingSink;

// What the HAR reader, or the JSON Lines one, gives for `in`.
CollectingSink Read(std::istream&& in, bool har = true) {
  CollectingSink sink;
  har ? ReadHar(in, "input.har", sink) : ReadJsonLines(in, "input.jsonl", sink);
  return sink;
}

std::string Entries(const std::string& entries) { return R"({"log": {"version": "1.2", "entries": [)" + entries + "]}}"; }

// One request per item of `requests` (its members), in a HAR file with
// `harMembers` added to each entry and in JSON Lines with `lineMembers`,
// then a last good request: what each reader gives.
std::vector<CollectingSink> ReadBothWays(const std::vector<std::string>& requests, const std::string& harMembers = "",
                                         const std::string& lineMembers = "") {
  std::string har, lines;
  for (const std::string& members : requests) {
    har += R"({"request": {"method": "GET", "url": "http://a.test/", )" + members + "}" + harMembers + "},";
    lines += R"({"url": "http://a.test/", )" + members + lineMembers + "}\n";
  }
  har += R"({"request": {"method": "GET", "url": "http://last.test/"}})";
  lines += R"({"url": "http://last.test/"})";
  return {Read(std::istringstream(Entries(har))), Read(std::istringstream(lines), false)};
}

TEST(TrafficReader, RealAndMinimalHarExports) {
  const CollectingSink page = Read(std::ifstream(std::string(DNT_SOURCE_ROOT) + "/examples/ferguson.com-2022.har", std::ios::binary));
  ASSERT_EQ(page.entries.size(), 174u);
  EXPECT_TRUE(page.problems.empty());
  ASSERT_EQ(page.pages.size(), 1u);
  EXPECT_EQ(page.pages[0].title, "https://www.ferguson.com run 1");
  const TrafficEntry& first = page.entries[0];
  EXPECT_EQ(first.page, "page_1");
  EXPECT_EQ(first.httpVersion, "HTTP/2");
  // Pseudo-header fields are gone, ":authority" became Host, and the fields
  // Chrome records twice are there once.
  EXPECT_EQ(first.fields[0], (HeaderField{"Host", "www.ferguson.com"}));
  size_t userAgents = 0;
  for (const HeaderField& field : first.fields) {
    EXPECT_NE(field.name[0], ':');
    userAgents += field.name == "User-Agent" || field.name == "user-agent";
  }
  EXPECT_EQ(userAgents, 1u);
  ASSERT_TRUE(first.response);
  EXPECT_EQ(first.response->status, 200);

  const CollectingSink minimal = Read(std::ifstream(std::string(DNT_SOURCE_ROOT) + "/tests/tools/data/ga-hits-minimal.har"));
  ASSERT_EQ(minimal.entries.size(), 9u);
  const TrafficEntry& bare = minimal.entries[0];
  EXPECT_TRUE(bare.page == "input.har" && bare.httpVersion == "HTTP/1.1" && bare.fields.empty() && !bare.response);
}

TEST(TrafficReader, BrokenHarEntriesAreReportedWithTheirNumbers) {
  const std::string body(200000, 'x');
  const CollectingSink sink = Read(std::istringstream(Entries(
      R"({"request": {"method": "GET", "url": "http://a.test/", "httpVersion": "HTTP/9\r\nX"}},)"
      R"({"response": {"status": 200}},)"
      R"({"request": {"method": "GET"}},)"
      R"("not an entry",)"
      R"({"request": {"method": "G E T", "url": "http://a.test/"}},)"
      R"({"request": {"method": "POST", "url": "http://a.test/up", "postData": {"text": ")" + body + R"("},)"
      R"(  "headers": [{"name": "X-Big", "value": ")" + body + R"("}, {"name": "Bad Name", "value": "1"}],)"
      R"(  "cookies": [{"name": "a", "value": "1"}, {"name": "b", "value": "2"}]},)"
      R"( "response": {"status": 200, "content": {"text": ")" + body + R"("}, "cookies": [{"name": "c", "value": "3"}]}},)"
      R"({"request": {"method": "GET", "url": "http://a.test/)" + body + R"("}},)"
      R"({"request": {"method": "GET", "url": "data:image/png;base64,)" + body + R"("}})")));
  ASSERT_EQ(sink.entries.size(), 3u);
  EXPECT_EQ(sink.entries[0].httpVersion, "HTTP/1.1");
  EXPECT_EQ(sink.entries[0].notes, std::vector<std::string>{"httpVersion \"HTTP/9??X\" not understood; HTTP/1.1 assumed"});

  const TrafficEntry& upload = sink.entries[1];
  EXPECT_EQ(upload.number, 6u);
  EXPECT_EQ(upload.fields, (HeaderFields{{"Cookie", "a=1; b=2"}}));
  EXPECT_EQ(upload.notes.size(), 2u);
  EXPECT_EQ(upload.response->fields, (HeaderFields{{"Set-Cookie", "c=3"}}));
  EXPECT_EQ(sink.entries[2].url.substr(0, 5), "data:");

  ASSERT_EQ(sink.problems.size(), 5u);
  const std::vector<std::pair<size_t, std::string>> expected = {
      {2, "the entry has no \"request\""},
      {3, "the request has no \"url\""},
      {4, "the entry is not an object"},
      {5, "\"method\" is not an HTTP method"},
      {7, "the URL is " + std::to_string(14 + body.size()) + " bytes long; at most 65536 are read"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(sink.problems[i].number, expected[i].first);
    EXPECT_EQ(sink.problems[i].text, expected[i].second);
  }
}

// Each case is the members of one request in both formats; a case either
// becomes a problem of its own entry or an entry with a note, and the
// entries after it are read all the same.
TEST(TrafficReader, FieldsOfTheWrongTypeAreTheirEntrysProblem) {
  // The members of a request, and what becomes of it: a problem of its own
  // entry, or a note on the entry read.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"("url": {"truncated_from": 5})", "\"url\" is not a URL"},
      {R"("url": {"truncated_from": 99999, "head": "http://a.test/"})", "\"url\" is not a URL"},
      {R"("url": ["http://a.test/"])", "\"url\" is not a URL"},
      {R"("method": 5)", "\"method\" is not an HTTP method"},
      {R"("headers": [{"name": "X", "value": {"truncated_from": "x"}}])",
       "note: header field \"X\" dropped: its value is not a string"},
      {R"("headers": {"X": [{"truncated_from": 1, "head": "y"}]})",
       "note: header field \"X\" dropped: its value is not a string"},
      {R"("headers": [[{"truncated_from": 1}, "v"]])", "note: header field \"{}\" dropped: its name is not a string"},
      {R"("headers": "X: y")", "note: header fields that are not a list were dropped"},
      {R"("httpVersion": {"truncated_from": 1})", "note: httpVersion \"{}\" not understood; HTTP/1.1 assumed"},
      {R"("cookies": {"truncated_from": 1}, "page": 7, "pageref": [], "status": "x")", ""},
  };
  std::vector<std::string> requests;
  for (const auto& [members, outcome] : cases) requests.push_back(members);
  for (const CollectingSink& sink :
       ReadBothWays(requests,
                    R"(, "pageref": {"truncated_from": 1}, "response": {"status": 200, "headers": {"truncated_from": "1"},)"
                    R"( "cookies": [{"name": {"truncated_from": 1}, "value": "v"}]})",
                    R"(, "response": {"status": {"truncated_from": 1}})")) {
    std::map<size_t, std::string> outcomes;
    for (const InputProblem& problem : sink.problems) outcomes[problem.number] = problem.text;
    for (const TrafficEntry& entry : sink.entries) {
      outcomes[entry.number] = entry.notes.empty() ? "" : "note: " + entry.notes[0];
      EXPECT_TRUE(entry.page == "input.har" || entry.page == "input.jsonl") << entry.page;
    }
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(outcomes[i + 1], cases[i].second) << cases[i].first;
    ASSERT_FALSE(sink.entries.empty());
    EXPECT_EQ(sink.entries.back().url, "http://last.test/");
  }
}

// Values cost what they take in memory: a list of empty lists where header
// fields go outgrows the budget of its entry; the same list in a member
// nobody reads is skipped unbuilt; notes stay few however many fields are
// dropped.
TEST(TrafficReader, EntriesAreBoundByTheirMemoryBudget) {
  std::string emptyLists = "[]";
  for (int i = 0; i < 100000; ++i) emptyLists += ",[]";
  std::string badFields = "[1, 2]";
  for (int i = 0; i < 200; ++i) badFields += ", [1, 2]";
  const std::string overBudget = "takes more than 4 MiB of memory in the fields that are read";
  const std::vector<std::string> requests = {R"("headers": [)" + emptyLists + "]", R"("headers": {"X": [)" + emptyLists + "]}",
                                             R"("x": [)" + emptyLists + "]", R"("headers": [)" + badFields + "]"};
  for (const CollectingSink& sink : ReadBothWays(requests)) {
    ASSERT_EQ(sink.problems.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(sink.problems[i].number, i + 1);
      EXPECT_NE(sink.problems[i].text.find(overBudget), std::string::npos) << sink.problems[i].text;
    }
    ASSERT_GE(sink.entries.size(), 2u);
    EXPECT_EQ(sink.entries[0].number, 3u);
    EXPECT_EQ(sink.entries[1].notes.size(), MaxNotes + 1);
    EXPECT_EQ(sink.entries[1].notes.back(), "and 185 more notes");
  }
}

TEST(TrafficReader, InputsThatAreNotHarAreRefusedWithWhereItWent) {
  const auto error = [](const std::string& text) {
    return dnt::testing::Thrown<InputError>([&] { Read(std::istringstream(text)); });
  };
  EXPECT_EQ(error("[1, 2]"), "not a HAR file: the top level is not an object");
  EXPECT_EQ(error("\"text\""), "not a HAR file: the top level is not an object");
  EXPECT_EQ(error(R"({"entries": []})"), "not a HAR file: no \"log\" object");
  EXPECT_EQ(error(R"({"log": {"pages": []}})"), "not a HAR file: \"log\" has no \"entries\" list");
  EXPECT_EQ(error("PK\x03\x04").rfind("not valid JSON at byte 1: ", 0), 0u);
  // Cut inside the second entry: the first was read, the error names the second.
  const std::string cut = Entries(R"({"request": {"method": "GET", "url": "http://a.test/"}}, {"request": {"met)");
  EXPECT_EQ(error(cut.substr(0, cut.size() - 3)).rfind("entry 2: not valid JSON at byte ", 0), 0u);
  // The parser's text quotes what it read last, here half a megabyte.
  std::string run = R"({"log": {"entries": [)";
  for (int i = 0; i < 100000; ++i) run += "[], ";
  EXPECT_LT(error(run + "x").size(), 300u);
}

TEST(TrafficReader, JsonLinesAndFormatDetection) {
  CollectingSink sink;
  std::istringstream in(
      R"({"url": "http://a.test/", "headers": {"Cookie": "a=1", "Accept": ["x", "y"]}, "page": "p1"})"
      "\n\n"
      R"({"method": "POST", "url": "https://b.test/", "headers": [["DNT", "1"]], "response": {"status": 204, "headers": {"Set-Cookie": "s=1"}}})"
      "\nnot json\n[1]\n");
  ReadJsonLines(in, "input.jsonl", sink);
  ASSERT_EQ(sink.entries.size(), 2u);
  EXPECT_EQ(sink.entries[0].method, "GET");
  EXPECT_EQ(sink.entries[0].page, "p1");
  EXPECT_EQ(sink.entries[0].fields, (HeaderFields{{"Accept", "x"}, {"Accept", "y"}, {"Cookie", "a=1"}}));
  EXPECT_EQ(sink.entries[1].number, 3u);
  EXPECT_EQ(sink.entries[1].page, "input.jsonl");
  EXPECT_EQ(sink.entries[1].response->status, 204);
  ASSERT_EQ(sink.problems.size(), 2u);
  EXPECT_EQ(sink.problems[0].number, 4u);
  EXPECT_EQ(sink.problems[1].text, "the line is not a JSON object");

  EXPECT_THROW(Read(std::istringstream("<html>\n"), false), InputError);

  EXPECT_EQ(DetectFormat("a.HAR", "{\"url\": 1}\n"), TrafficFormat::Har);
  EXPECT_EQ(DetectFormat("a.ndjson", "{\n"), TrafficFormat::JsonLines);
  EXPECT_EQ(DetectFormat("-", "{\"url\": \"http://a.test/\"}\n{"), TrafficFormat::JsonLines);
  EXPECT_EQ(DetectFormat("-", "{\"log\": {}}\n"), TrafficFormat::Har);
  EXPECT_EQ(DetectFormat("-", "{\n  \"log\": {"), TrafficFormat::Har);
}

}  // namespace
