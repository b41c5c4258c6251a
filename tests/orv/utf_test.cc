#include "orv/text/utf.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace orv::text {
namespace {

// Texts that are all ASCII take a shortcut; the others, and a text that
// turns bad after an ASCII start, must still convert (or fail) in full.
TEST(Utf8Conversion, WidensAsciiAndDecodesTheRest) {
  struct Case {
    std::string_view utf8;
    std::optional<std::u16string> wide;
  };
  const Case cases[] = {
      {"", u""},
      {"Google Analytics", u"Google Analytics"},
      {"Caf\xC3\xA9 \xE2\x82\xAC", u"Caf\u00E9 \u20AC"},
      {"pin \xF0\x9F\x93\x8C", u"pin \U0001F4CC"},
      {"ab\xFF", std::nullopt},
      {"\x80", std::nullopt},
      {"ab\xC3", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromUtf8(c.utf8), c.wide) << c.utf8;
    if (c.wide) {
      EXPECT_EQ(ToUtf8(*c.wide), c.utf8);
    }
  }
}

}  // namespace
}  // namespace orv::text
