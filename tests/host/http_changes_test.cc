// The one wording every host tool uses for what the engine changed.
#include "host/http_changes.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

TEST(DescribeChanges, OneLinePerFieldNameThenTheUrlAndTheAnswers) {
  const host::HttpMessage before(
      host::ParseRequestLine("GET /p HTTP/1.1"),
      {{"Cookie", "a=1"}, {"Referer", "http://s.test/"}, {"cookie", "b=2"}, {"Accept", "x"}});
  EXPECT_EQ(host::DescribeChanges(before, before), Lines{});

  host::HttpMessage after = before;
  after.SetValues("COOKIE", {"a=1"});
  after.Remove("referer");
  after.SetValues("DNT", {"1"});
  after.SetValues("accept", {"x"});  // the same value under another spelling
  after.SetTarget("/q");
  after.SetForbiddenResponse({"403 Forbidden", ""});
  after.SetOkResponse({"200 OK", "body"});
  EXPECT_EQ(host::DescribeChanges(before, after),
            (Lines{"changed Cookie: a=1; b=2 -> a=1", "removed Referer", "added DNT: 1", "request URL: /q",
                   "forbidden response: 403 Forbidden", "OK response: 200 OK | body"}));

  host::HttpMessage emptyOk = before;
  emptyOk.SetOkResponse({"", ""});
  EXPECT_EQ(host::DescribeChanges(before, emptyOk), Lines{"OK response"});
  EXPECT_EQ(host::DescribeChanges(emptyOk, emptyOk), Lines{});
}

}  // namespace
