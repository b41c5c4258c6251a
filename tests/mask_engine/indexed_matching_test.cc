// The literal index against the automaton, which defines what matches, where
// the index has limits of its own; and the reuse of what matching keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "mask_engine/mask_engine.h"
#include "mask_engine/match_scratch_state.h"
#include "tests/mask_engine/reference_matcher.h"

namespace mask_engine {
namespace {

using testing::Indexes;
using testing::Pick;

// Compiles `masks` with the index and with the automaton alone, and
// expects the same matches from both for every text.
void ExpectSameMatchesBothWays(const std::vector<std::string>& masks, const std::vector<std::string>& texts,
                               MatchScratch& scratch) {
  auto indexed = MaskEngine::Create(MatchMethod::kIndexed);
  auto reference = MaskEngine::Create(MatchMethod::kAutomatonOnly);
  for (const std::string& m : masks) {
    indexed->AddMask(m.data(), static_cast<uint32_t>(m.size()));
    reference->AddMask(m.data(), static_cast<uint32_t>(m.size()));
  }
  indexed->Finalize();
  reference->Finalize();
  auto automaton = reference->CreateMatcher();
  for (const std::string& text : texts) {
    const auto length = static_cast<uint32_t>(text.size());
    const std::vector<uint64_t> want = Indexes(automaton->Match(text.data(), length), true);
    EXPECT_EQ(Indexes(indexed->Match(text.data(), length, scratch)), want)
        << masks.front() << " on " << text.substr(text.size() - std::min<size_t>(text.size(), 40));
  }
}

// Thousands of anchors for the same keys (wildcards before the literal as
// well as after it): routes still add up to the cap, and the hits kept
// along the way stay few.
TEST(IndexedMatching, AgreesWithTheAutomatonOnManyAnchors) {
  std::string url;
  for (int i = 0; i < 5000; ++i) url += i % 3 == 0 ? ".a/xb" : ".a/";
  MatchScratch scratch;
  ExpectSameMatchesBothWays({"*.a/*b", "*.a/*x*b", "*.a/x*b*", "a/*x*", "*.a", "*.a/x/b", "*x*.a/*b"},
                            {url + "b", url + "xb", url + "x/b", url}, scratch);
  EXPECT_LE(scratch.Get().index.hits.capacity(), 8192u);
}

// Keys at and past the index's limits (any-runs on one side, piece
// length), where the variants of a key may fit when the key does not, and
// another mask has such a variant as its own key: each key is reported once
// all the same, whichever mask came first.
TEST(IndexedMatching, AgreesWithTheAutomatonAtTheIndexLimits) {
  std::string runs;
  for (int i = 0; i < 15; ++i) runs += "a*";
  const std::string piece(255, 'p');
  const std::vector<std::string> texts{"aaaaaaaaaaaaaaaaaaaa.b", "x.a.b",        "http://h/aaaaaaaaaaaaaaaaax",
                                       "h/aaaaaaaaaaaaaaaaaaaa", "h/" + piece, "x.h/" + piece + "/q",
                                       "h/" + piece + "pp"};
  MatchScratch scratch;
  ExpectSameMatchesBothWays({"*." + runs + ".b", runs + ".b"}, texts, scratch);
  ExpectSameMatchesBothWays({runs + ".b", "*." + runs + ".b"}, texts, scratch);
  ExpectSameMatchesBothWays({"*.h/" + runs + "x", "h/" + runs + "x", "*.h/a" + runs}, texts, scratch);
  ExpectSameMatchesBothWays({"*.h/" + piece + "/", "h/" + piece, "*.h/" + piece + "p*"}, texts, scratch);
}

// One scratch for every query, across engines, repeated texts and a text
// large enough to make it give its buffers back, answers as a fresh one.
TEST(MatchScratch, ReusedAnswersAsAFreshOne) {
  std::mt19937 rng(31);
  const std::vector<std::string> maskPieces{"*.", ".", "a", "b", "a.b", "/", "*", "?", "/a", "*/"};
  const std::vector<std::string> urlPieces{"a", "B", ".", "/", "a.b", "%2F", "http://", "www.", "?", "#", ":8"};
  std::vector<std::shared_ptr<MaskEngine>> engines;
  for (int e = 0; e < 3; ++e) {
    engines.push_back(MaskEngine::Create());
    for (int i = 0; i < 40; ++i) {
      const std::string mask = Pick(rng, maskPieces, 1, 8);
      engines.back()->AddMask(mask.data(), static_cast<uint32_t>(mask.size()));
    }
    // Keeps many cursors alive in the automaton.
    const std::string wide = "*" + std::string(40, 'a') + "z";
    engines.back()->AddMask(wide.data(), static_cast<uint32_t>(wide.size()));
    engines.back()->Finalize();
  }
  MatchScratch reused;
  std::string previous;
  for (int q = 0; q < 3000; ++q) {
    std::string url = q % 7 == 0 ? previous : Pick(rng, urlPieces, 0, 14);
    if (q % 1500 == 750) url = std::string(70000, 'a') + "z";
    previous = url;
    const MaskEngine& engine = *engines[rng() % engines.size()];
    const auto length = static_cast<uint32_t>(url.size());
    MatchScratch fresh;
    EXPECT_EQ(Indexes(engine.Match(url.data(), length, reused)), Indexes(engine.Match(url.data(), length, fresh)))
        << url.substr(0, 40);
  }
}

// Masks that share a key are reported by the first added of them, with
// either method. Many shared keys added in shuffled order would show an
// unstable sort.
TEST(SharedKeys, TheFirstAddedMaskIsReported) {
  std::vector<std::string> masks;
  for (int copy = 0; copy < 2; ++copy) {
    for (int k = 0; k < 500; ++k) {
      const std::string host = "h" + std::to_string(k) + ".test";
      // Keys: 'H' and 'H/*'; '*.H' and 'H'; 'H' and 'H/*'; '*.H/p/*',
      // '*.H/p', 'H/p' and 'H/p/*'; 'H/p/*' and 'H/p'.
      for (const std::string& m : {host, "*." + host, host + "/", "*." + host + "/p", host + "/p/"}) masks.push_back(m);
    }
  }
  std::shuffle(masks.begin(), masks.end(), std::mt19937(5));
  std::map<std::string, uint64_t> first;
  for (size_t i = 0; i < masks.size(); ++i) first.emplace(masks[i], i);

  for (const MatchMethod method : {MatchMethod::kIndexed, MatchMethod::kAutomatonOnly}) {
    auto engine = MaskEngine::Create(method);
    for (const std::string& m : masks) engine->AddMask(m.data(), static_cast<uint32_t>(m.size()));
    engine->Finalize();
    MatchScratch scratch;
    auto match = [&](const std::string& url) {
      return Indexes(engine->Match(url.data(), static_cast<uint32_t>(url.size()), scratch));
    };
    for (int k = 0; k < 500; ++k) {
      const std::string host = "h" + std::to_string(k) + ".test";
      const uint64_t hostKey = std::min({first[host], first["*." + host], first[host + "/"]});
      const uint64_t anyPath = std::min(first[host], first[host + "/"]);
      const uint64_t pathP = std::min(first["*." + host + "/p"], first[host + "/p/"]);
      // 'H' matches any path when the mask it came from is '*.H'.
      std::vector<uint64_t> withPath{anyPath, pathP};
      if (hostKey == first["*." + host]) withPath.push_back(hostKey);
      std::sort(withPath.begin(), withPath.end());
      EXPECT_EQ(match(host), std::vector<uint64_t>{hostKey}) << host;
      EXPECT_EQ(match("http://" + host + "/p"), withPath) << host;
      EXPECT_EQ(match("http://" + host + "/p/q"), withPath) << host;
    }
  }
}

}  // namespace
}  // namespace mask_engine
