#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "url_parser/parsed_url.h"

namespace orv::network {
namespace {

TEST(ParsedUrlEdits, PartsAreWrittenAsGivenAndErasingTheHostKeepsTheRest) {
  ParsedUrl url = ParsedUrl::Parse("http://h.test/a?q=1#f");
  url.SetPath("/x");
  url.SetQuery("b=%20");
  url.SetFragment("");
  url.SetHost("::1");
  EXPECT_EQ(url.Serialise(), "http://[::1]//x?b=%20");
  EXPECT_EQ(url.Part(UrlPart::Host), "::1");
  // A part may be set from its own current text.
  url.SetQuery(url.Part(UrlPart::Query).substr(2));
  EXPECT_EQ(url.Part(UrlPart::Query), "%20");

  for (const auto& [text, erased] : {std::pair{"http://h.test/p?q", "http:/p?q"}, {"file://srv/share", "file:///share"}}) {
    ParsedUrl edited = ParsedUrl::Parse(text);
    edited.EraseHost();
    EXPECT_EQ(edited.Part(UrlPart::Host), "");
    EXPECT_EQ(edited.Serialise(), erased);
  }
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
