#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "mask_engine/canonical_text.h"

namespace mask_engine {
namespace {

struct Canonical {
  std::string host;
  std::string rest;
  bool operator==(const Canonical&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Canonical& c) { return os << '{' << c.host << " | " << c.rest << '}'; }

Canonical Canon(const std::string& url) {
  CanonicalText text;
  text.Build(url.data(), static_cast<uint32_t>(url.size()));
  return Canonical{std::string(text.Host()), std::string(text.Rest())};
}

TEST(CanonicalText, Host) {
  EXPECT_EQ(Canon("http://WWW.Site.Test/"), (Canonical{"site.test", ""}));
  EXPECT_EQ(Canon("site.test"), (Canonical{"site.test", ""}));
  EXPECT_EQ(Canon("www.www.site.test"), (Canonical{"www.site.test", ""}));
  EXPECT_EQ(Canon("www."), (Canonical{"www", ""}));  // dots go before "www." is looked for
  EXPECT_EQ(Canon("%73ite.test"), (Canonical{"site.test", ""}));
  EXPECT_EQ(Canon("%57ww.site.test"), (Canonical{"site.test", ""}));
  EXPECT_EQ(Canon("site.test.."), (Canonical{"site.test", ""}));
  EXPECT_EQ(Canon("https://user:pw@site.test:8080/x"), (Canonical{"site.test", "/x"}));
  EXPECT_EQ(Canon("http://[::1]:80/a"), (Canonical{"%u005b::1%u005d", "/a"}));
  EXPECT_EQ(Canon("a%20b%zz%4"), (Canonical{"a%u0020b%zz%4", ""}));
  EXPECT_EQ(Canon("\xC3\xA9.test"), (Canonical{"%u00c3%u00a9.test", ""}));
  EXPECT_EQ(Canon("a%7Fb\x01"), (Canonical{"a%u007fb%u0001", ""}));
  EXPECT_EQ(Canon("a^b{c}"), (Canonical{"a%u005eb%u007bc%u007d", ""}));
  EXPECT_EQ(Canon("ftp+x-1:site.test"), (Canonical{"site.test", ""}));
  // Not a scheme: the text starts with the authority.
  EXPECT_EQ(Canon("1http://a/b"), (Canonical{"1http", "/a/b"}));
  EXPECT_EQ(Canon(""), (Canonical{"", ""}));
  EXPECT_EQ(Canon("http://"), (Canonical{"", ""}));
}

TEST(CanonicalText, Rest) {
  EXPECT_EQ(Canon("h.t/A/B/"), (Canonical{"h.t", "/a/b"}));
  EXPECT_EQ(Canon("h.t//a/b"), (Canonical{"h.t", "/a/b"}));
  EXPECT_EQ(Canon("h.t///a//b"), (Canonical{"h.t", "/a//b"}));
  EXPECT_EQ(Canon("h.t/a#frag/x"), (Canonical{"h.t", "/a"}));
  EXPECT_EQ(Canon("h.t#frag"), (Canonical{"h.t", ""}));
  EXPECT_EQ(Canon("h.t/"), (Canonical{"h.t", ""}));
  EXPECT_EQ(Canon("h.t?q=A B"), (Canonical{"h.t", "?q=a%u0020b"}));
  // The trailing '/' is looked for after decoding; only one goes.
  EXPECT_EQ(Canon("h.t/a%2F"), (Canonical{"h.t", "/a"}));
  EXPECT_EQ(Canon("h.t/a//"), (Canonical{"h.t", "/a/"}));
  EXPECT_EQ(Canon("h.t/%C3%A9"), (Canonical{"h.t", "/%u00c3%u00a9"}));
  EXPECT_EQ(Canon("h.t/%25"), (Canonical{"h.t", "/%"}));
}

// URLs already in canonical form are used where they lie; the result must be
// what writing them out gives, separators included.
TEST(CanonicalText, InPlaceAsWrittenOut) {
  const std::vector<std::string> pieces{"a",  "b",   ".",  "/",  "//", "?", "#", ":", "@", "www.", "http://",
                                        "A",  "%41", "%2e", " ", "[",  "]", "-", "_", "~", "a.b/", "\xC3"};
  std::mt19937 rng(13);
  CanonicalText inPlace;
  CanonicalText written;
  for (int round = 0; round < 20000; ++round) {
    std::string url;
    const int length = static_cast<int>(rng() % 12);
    for (int i = 0; i < length; ++i) url += pieces[rng() % pieces.size()];
    inPlace.Build(url.data(), static_cast<uint32_t>(url.size()));
    written.BuildInBuffer(url.data(), static_cast<uint32_t>(url.size()));
    ASSERT_EQ(inPlace.Host(), written.Host()) << url;
    ASSERT_EQ(inPlace.Rest(), written.Rest()) << url;
    ASSERT_TRUE(std::ranges::equal(inPlace.Separators(), written.Separators())) << url;
    ASSERT_EQ(inPlace.HostSeparators().size(), written.HostSeparators().size()) << url;
    ASSERT_EQ(inPlace.HostHasSlash(), written.HostHasSlash()) << url;
  }
}

}  // namespace
}  // namespace mask_engine
