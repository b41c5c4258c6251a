#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mask_engine/mask_keys.h"
#include "mask_engine/mask_symbols.h"

namespace mask_engine {
namespace {

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
