// The automaton against a naive glob over every key of every mask, on
// generated masks and URLs (fixed seeds, so failures reproduce).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "mask_engine/cursor_automaton.h"
#include "mask_engine/mask_symbols.h"
#include "mask_engine/mask_engine.h"
#include "tests/mask_engine/reference_matcher.h"

namespace mask_engine {
namespace {

using testing::CountRoutes;
using testing::ReferenceMasks;

std::string RandomString(std::mt19937& rng, const std::vector<std::string>& pieces, int minLen, int maxLen) {
  std::string out;
  const int len = minLen + static_cast<int>(rng() % static_cast<unsigned>(maxLen - minLen + 1));
  for (int i = 0; i < len; ++i) out += pieces[rng() % pieces.size()];
  return out;
}

using MakeMask = std::function<std::string(std::mt19937&)>;
using MakeUrl = std::function<std::string(std::mt19937&, const std::vector<std::string>& masks)>;

void ExpectSameAsReference(uint32_t seed, const MakeMask& makeMask, const MakeUrl& makeUrl) {
  std::mt19937 rng(seed);
  size_t reported = 0;
  for (int round = 0; round < 60; ++round) {
    ReferenceMasks reference;
    auto engine = MaskEngine::Create();
    for (int i = 0; i < 25; ++i) {
      const std::string mask = makeMask(rng);
      if (reference.Add(mask)) engine->AddMask(mask.data(), static_cast<uint32_t>(mask.size()));
    }
    engine->Finalize();
    auto matcher = engine->CreateMatcher();
    for (int u = 0; u < 60; ++u) {
      const std::string url = makeUrl(rng, reference.Masks());
      std::vector<uint64_t> got;
      for (const MaskMatch& m : matcher->Match(url.data(), static_cast<uint32_t>(url.size()))) {
        got.push_back(m.index);
      }
      std::sort(got.begin(), got.end());
      const std::vector<uint64_t> want = reference.Match(url, CursorAutomaton::kMaxCount);
      reported += want.size();
      if (got != want) {
        std::string masks;
        for (const auto& m : reference.Masks()) masks += " [" + m + "]";
        ADD_FAILURE() << "url [" << url << "] masks" << masks << ": got " << got.size() << " ids, want "
                      << want.size();
        return;
      }
    }
  }
  // A generator that never matches would prove nothing.
  EXPECT_GT(reported, 500u);
}

void ExpectSameAsReference(uint32_t seed, const std::vector<std::string>& maskPieces,
                           const std::vector<std::string>& urlPieces, int maskLen, int urlLen) {
  ExpectSameAsReference(
      seed, [&](std::mt19937& rng) { return RandomString(rng, maskPieces, 1, maskLen); },
      [&](std::mt19937& rng, const std::vector<std::string>&) { return RandomString(rng, urlPieces, 0, urlLen); });
}

// A tracker list's mask: '*.' and a host, now and then with a '*' inside;
// a path in one of three, mostly with '*' inside it or at its end, some
// with '?'. Few letters, so that hosts share labels and paths share pieces.
std::string TrackerListMask(std::mt19937& rng) {
  const std::vector<std::string> labels{"a", "b", "ab", "a-b", "t"};
  const std::vector<std::string> hostWildcards{"*.", "a*.", "*-b."};
  const std::vector<std::string> pathPieces{"p", "a.b", "/", "*", "?", "q*", "/*/", "ab"};
  std::string mask = "*.";
  if (rng() % 8 == 0) mask += hostWildcards[rng() % hostWildcards.size()];
  mask += RandomString(rng, labels, 1, 2) + "." + labels[rng() % labels.size()];
  if (rng() % 3 == 0) mask += "/" + RandomString(rng, pathPieces, 1, 6);
  return mask;
}

// A URL built from one of the masks, its wildcards filled in (so that it
// mostly matches, along one route or many), or now and then from nothing.
std::string UrlFromMasks(std::mt19937& rng, const std::vector<std::string>& masks) {
  const std::vector<std::string> fills{"", "a", "b.", "/a", ".a/", "a.b", "p"};
  const std::vector<std::string> prefixes{"", "http://", "https://www.", "a."};
  if (masks.empty() || rng() % 6 == 0) return RandomString(rng, fills, 0, 8);
  std::string url = prefixes[rng() % prefixes.size()];
  for (const char c : masks[rng() % masks.size()]) {
    if (c == '*') {
      url += RandomString(rng, fills, 0, 2);
    } else if (c == '?') {
      url += "ab./"[rng() % 4];
    } else {
      url += c;
    }
  }
  if (rng() % 3 == 0) url += RandomString(rng, fills, 1, 3);
  return url;
}

TEST(ReferenceMatcher, CountsRoutes) {
  const std::vector<uint16_t> aStarAStar{kKeyLiteral | 'a', kKeyAnyRun, kKeyLiteral | 'a', kKeyAnyRun};
  EXPECT_EQ(CountRoutes(aStarAStar, "aaa", 100), 2);
  EXPECT_EQ(CountRoutes(aStarAStar, "aaaaa", 100), 4);
  EXPECT_EQ(CountRoutes(aStarAStar, "aaaaa", 3), 3);
  EXPECT_EQ(CountRoutes({kKeyAnyChar, kKeyAnyRun}, "", 100), 0);
  EXPECT_EQ(CountRoutes({kKeyAnyRun}, "", 100), 1);
}

TEST(MaskMatcherVersusReference, HostsAndPaths) {
  ExpectSameAsReference(1, {"a", "b", ".", "/", "*", "?", "*.", "a.b"}, {"a", "b", ".", "/", "ab.", "b/"}, 8, 12);
}

TEST(MaskMatcherVersusReference, UrlsWithSchemesCaseAndEscapes) {
  ExpectSameAsReference(2, {"a", "b", ".", "/", "*", "?", "\\*", "%u0020", "www."},
                        {"a", "B", ".", "/", "%62", " ", "*", "http://", "www.", "#", "?", "//", ":8"}, 7, 14);
}

TEST(MaskMatcherVersusReference, ManyWildcards) {
  ExpectSameAsReference(3, {"a", "*", "?", "a*", "*a"}, {"a", "b"}, 10, 24);
}

TEST(MaskMatcherVersusReference, TrackerListShapes) {
  for (uint32_t seed = 4; seed <= 6; ++seed) ExpectSameAsReference(seed, TrackerListMask, UrlFromMasks);
}

}  // namespace
}  // namespace mask_engine
