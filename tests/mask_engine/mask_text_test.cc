#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "mask_engine/canonical_text.h"
#include "mask_engine/mask_keys.h"
#include "mask_engine/mask_symbols.h"

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

std::vector<uint32_t> Symbols(const std::string& mask) {
  std::vector<uint32_t> out;
  ParseMaskSymbols(mask.data(), static_cast<uint32_t>(mask.size()), out);
  return out;
}

bool DomainFlag(const std::string& mask) { return ComputeDomainFlag(Symbols(mask)); }

// Keys written back as mask text: wildcards as '*' and '?', literal '*', '?'
// and '\' escaped.
std::vector<std::string> Keys(const std::string& mask) {
  std::vector<std::string> out;
  for (const auto& key : EffectiveKeys(mask.data(), static_cast<uint32_t>(mask.size()))) {
    std::string text;
    for (uint16_t s : key) {
      if (s == kKeyAnyRun) {
        text += '*';
      } else if (s == kKeyAnyChar) {
        text += '?';
      } else {
        const char c = static_cast<char>(s & 0xFF);
        if (c == '*' || c == '?' || c == '\\') text += '\\';
        text += c;
      }
    }
    out.push_back(text);
  }
  return out;
}

using Strings = std::vector<std::string>;

TEST(MaskSyntax, EscapesAndWildcardRewrites) {
  const uint32_t R = kAnyRunSymbol;
  const uint32_t C = kAnyCharSymbol;
  EXPECT_EQ(Symbols("a\\*b"), (std::vector<uint32_t>{'a', '*', 'b'}));
  EXPECT_EQ(Symbols("a\\"), (std::vector<uint32_t>{'a', '\\'}));
  EXPECT_EQ(Symbols("\\?\\\\"), (std::vector<uint32_t>{'?', '\\'}));
  EXPECT_EQ(Symbols("a**b"), Symbols("a*b"));
  EXPECT_EQ(Symbols("a*?b"), (std::vector<uint32_t>{'a', C, R, 'b'}));
  EXPECT_EQ(Symbols("a*??b"), (std::vector<uint32_t>{'a', C, C, R, 'b'}));
  EXPECT_EQ(Symbols("*?*"), (std::vector<uint32_t>{C, R}));
  EXPECT_EQ(Keys("a**b"), Keys("a*b"));
  EXPECT_EQ(Keys("a*?b"), Keys("a?*b"));
  // An escaped '*' next to a wildcard is a literal and is not merged.
  EXPECT_EQ(Symbols("*\\*"), (std::vector<uint32_t>{R, '*'}));
  EXPECT_TRUE(Symbols("").empty());
}

TEST(MaskSyntax, DomainFlag) {
  EXPECT_FALSE(DomainFlag("site.test"));        // one dot
  EXPECT_TRUE(DomainFlag("a.site.test"));
  EXPECT_TRUE(DomainFlag(".site.test"));        // the leading dot counts
  EXPECT_TRUE(DomainFlag("*.site.test"));
  EXPECT_TRUE(DomainFlag("*.*.site.test"));     // two any-runs
  EXPECT_FALSE(DomainFlag("*.*.*.site.test"));  // three
  EXPECT_FALSE(DomainFlag("a.site.test/x"));
  EXPECT_FALSE(DomainFlag("a?.site.test"));
  EXPECT_FALSE(DomainFlag("a.site.test\\/"));   // an escaped '/' is still '/'
  EXPECT_TRUE(DomainFlag("a\\?.site.test"));    // an escaped '?' is a literal
}

TEST(KeyGeneration, HostMasks) {
  EXPECT_EQ(Keys("*.site.test"), (Strings{"*.site.test", "site.test"}));
  EXPECT_EQ(Keys(".site.test"), (Strings{"site.test"}));
  EXPECT_EQ(Keys(".*.a.b"), (Strings{"*.a.b", "a.b"}));
  EXPECT_EQ(Keys("site.test"), (Strings{"site.test", "site.test/*"}));
  EXPECT_EQ(Keys("a.site.test"), (Strings{"a.site.test"}));
  // A host ending in an any-run needs no path key.
  EXPECT_EQ(Keys("site*"), (Strings{"site*"}));
  EXPECT_EQ(Keys("*"), (Strings{"*"}));
  // Too short to drop the dot or split off "*.".
  EXPECT_EQ(Keys(".a"), (Strings{".a", ".a/*"}));
  EXPECT_EQ(Keys("*."), (Strings{"*.", "*./*"}));
}

TEST(KeyGeneration, PathNormalisation) {
  // Empty, '*' and '/' paths stand for any path.
  EXPECT_EQ(Keys("h.t/"), (Strings{"h.t", "h.t/*"}));
  EXPECT_EQ(Keys("h.t/*"), (Strings{"h.t", "h.t/*"}));
  EXPECT_EQ(Keys("h.t//"), (Strings{"h.t", "h.t/*"}));
  // One symbol.
  EXPECT_EQ(Keys("h.t/a"), (Strings{"h.t/a/*", "h.t/a"}));
  EXPECT_EQ(Keys("h.t/?"), (Strings{"h.t/?/*", "h.t/?"}));
  // Trailing '/'.
  EXPECT_EQ(Keys("h.t/ad/"), (Strings{"h.t/ad/*", "h.t/ad"}));
  EXPECT_EQ(Keys("h.t/ad*/"), (Strings{"h.t/ad*/"}));
  // Trailing any-run.
  EXPECT_EQ(Keys("h.t/ad*"), (Strings{"h.t/ad*"}));
  EXPECT_EQ(Keys("h.t//*"), (Strings{"h.t//*", "h.t/"}));
  EXPECT_EQ(Keys("h.t/ad*/*"), (Strings{"h.t/ad*"}));
  EXPECT_EQ(Keys("h.t/ad/*"), (Strings{"h.t/ad/*", "h.t/ad"}));
  EXPECT_EQ(Keys("h.t/*/*"), (Strings{"h.t", "h.t/*"}));
  // Any other last symbol.
  EXPECT_EQ(Keys("site.test/ad"), (Strings{"site.test/ad/*", "site.test/ad"}));
  EXPECT_EQ(Keys("h.t/a?"), (Strings{"h.t/a?/*", "h.t/a?"}));
}

TEST(KeyGeneration, HeadAndTailVariants) {
  EXPECT_EQ(Keys("*.a.b/x"), (Strings{"*.a.b/x/*", "*.a.b/x", "a.b/x", "a.b/x/*"}));
  EXPECT_EQ(Keys("*.a.b/x*"), (Strings{"*.a.b/x*", "a.b/x*"}));
  // No host key was added, so the host's trailing any-run does not stop here.
  EXPECT_EQ(Keys("a*/x"), (Strings{"a*/x/*", "a*/x"}));
  EXPECT_EQ(Keys("/ad"), (Strings{"/ad/*", "/ad"}));
  EXPECT_EQ(Keys("a\\*b"), (Strings{"a\\*b", "a\\*b/*"}));
}

}  // namespace
}  // namespace mask_engine
