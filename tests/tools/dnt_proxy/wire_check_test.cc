// What may go into a head or a log line: the grammar the engine's edits are
// held to, and the escapes that keep every text log line one record.
#include <gtest/gtest.h>

#include "tools/dnt_proxy/wire_check.h"

namespace {

using namespace dnt_proxy;
using namespace std::string_literals;

TEST(WireCheck, HoldsEditsToTheHttpGrammar) {
  for (const char* name : {"X-Echo", "DNT", "a!#$%&'*+-.^_`|~9"}) EXPECT_TRUE(IsFieldName(name)) << name;
  for (const std::string& name : {""s, "X Echo"s, "X:Echo"s, "X\r\nEvil"s, "X\0"s, "Caf\xc3\xa9"s}) {
    EXPECT_FALSE(IsFieldName(name)) << name;
  }
  for (const std::string& value : {""s, "a=1; b=2"s, "tab\there"s, "caf\xc3\xa9"s}) EXPECT_TRUE(IsFieldValue(value)) << value;
  for (const std::string& value : {"a\r\nSet-Cookie: x=1"s, "a\nb"s, "a\rb"s, "a\0b"s, "a\x7f"s}) {
    EXPECT_FALSE(IsFieldValue(value));
    EXPECT_FALSE(IsReasonPhrase(value));
  }
  for (const char* target : {"/", "/a/b?c=d&e=%0D", "/caf\xc3\xa9"}) EXPECT_TRUE(IsOriginTarget(target)) << target;
  for (const char* target : {"", "a/b", "/a b", "/a\r\nGET /b", "/a#frag", "/a\tb"}) {
    EXPECT_FALSE(IsOriginTarget(target)) << target;
  }
}

TEST(WireCheck, EscapesWhatWouldBreakALogLine) {
  const struct {
    std::string text;
    std::string logged;
  } cases[] = {
      {"GET http://a.test/ ok", "GET http://a.test/ ok"},
      {"x\r\n2024-01-01T00:00:00.000Z blocked GET http://forged", "x\\r\\n2024-01-01T00:00:00.000Z blocked GET http://forged"},
      {"tab\tnul\0bell\a del\x7f"s, "tab\\tnul\\x00bell\\x07 del\\x7F"},
      {"back\\slash", "back\\\\slash"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},              // UTF-8 stays
      {"nel\xc2\x85 ls\xe2\x80\xa8", "nel\\xC2\\x85 ls\\xE2\\x80\\xA8"},  // C1 and separators
      {"bad\xff\xc3 \xed\xa0\x80", "bad\\xFF\\xC3 \\xED\\xA0\\x80"},     // not UTF-8, a surrogate
      {"csi\x1b[2J", "csi\\x1B[2J"},
  };
  for (const auto& c : cases) EXPECT_EQ(LogText(c.text), c.logged) << c.logged;
}

}  // namespace
