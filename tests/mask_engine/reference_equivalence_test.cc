// The automaton against a naive glob over every key of every mask, on
// generated masks and URLs (fixed seeds, so failures reproduce).
#include <gtest/gtest.h>

#include <algorithm>
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

void ExpectSameAsReference(uint32_t seed, const std::vector<std::string>& maskPieces,
                           const std::vector<std::string>& urlPieces, int maskLen, int urlLen) {
  std::mt19937 rng(seed);
  size_t reported = 0;
  for (int round = 0; round < 60; ++round) {
    ReferenceMasks reference;
    auto engine = MaskEngine::Create();
    for (int i = 0; i < 25; ++i) {
      const std::string mask = RandomString(rng, maskPieces, 1, maskLen);
      if (reference.Add(mask)) engine->AddMask(mask.data(), static_cast<uint32_t>(mask.size()));
    }
    engine->Finalize();
    auto matcher = engine->CreateMatcher();
    for (int u = 0; u < 60; ++u) {
      const std::string url = RandomString(rng, urlPieces, 0, urlLen);
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

}  // namespace
}  // namespace mask_engine
