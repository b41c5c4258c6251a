#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "url_parser/parsed_url.h"

namespace orv::network {
namespace {

TEST(ParsedUrlEdits, ReplacementTextsAreWrittenAsGiven) {
  ParsedUrl url = ParsedUrl::Parse("http://h.test/a?q=1#f");
  url.SetPath("x/y");
  EXPECT_EQ(url.Serialise(), "http://h.test/x/y?q=1#f");
  url.SetPath("/x");
  EXPECT_EQ(url.Serialise(), "http://h.test//x?q=1#f");
  url.SetQuery("b=%20");
  url.SetFragment("");
  EXPECT_EQ(url.Serialise(), "http://h.test//x?b=%20");
  url.SetHost("::1");
  EXPECT_EQ(url.Serialise(), "http://[::1]//x?b=%20");
  EXPECT_EQ(url.Part(UrlPart::Host), "::1");

  // A part may be set from its own current text.
  url.SetQuery(url.Part(UrlPart::Query).substr(2));
  EXPECT_EQ(url.Part(UrlPart::Query), "%20");
}

TEST(ParsedUrlEdits, EraseHostKeepsTheRest) {
  ParsedUrl url = ParsedUrl::Parse("http://h.test/p?q");
  url.EraseHost();
  EXPECT_EQ(url.Part(UrlPart::Host), "");
  EXPECT_EQ(url.Serialise(), "http:/p?q");

  ParsedUrl file = ParsedUrl::Parse("file://srv/share");
  file.EraseHost();
  EXPECT_EQ(file.Serialise(), "file:///share");
}

TEST(ParsedUrlEdits, CopiesAndMovesAreIndependent) {
  // Texts longer than the small-string buffer and shorter ones both must
  // survive: parts are offsets, not pointers.
  for (const std::string& text : {std::string("http://u:p@h/a?b#c"),
                                 "http://user:password@" + std::string(100, 'h') + "/path?q#f"}) {
    ParsedUrl original = ParsedUrl::Parse(text);
    original.SetFragment("replaced");
    const std::string expected = original.Serialise();

    ParsedUrl copy = original;
    original.SetFragment("changed");
    original.SetPath("other");
    EXPECT_EQ(copy.Serialise(), expected);
    EXPECT_EQ(copy.Part(UrlPart::Fragment), "replaced");

    ParsedUrl moved = std::move(copy);
    EXPECT_EQ(moved.Serialise(), expected);
    EXPECT_EQ(moved.UserInformation(), original.UserInformation());

    ParsedUrl assigned;
    assigned = moved;
    moved = ParsedUrl::Parse("x://y");
    EXPECT_EQ(assigned.Serialise(), expected);
  }
}

}  // namespace
}  // namespace orv::network
