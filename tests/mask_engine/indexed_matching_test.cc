// The literal index against the automaton, which defines what matches:
// generated mask sets (repeats, escapes, wildcards anywhere, '.x' and '*.x'
// heads) and URLs (schemes, "www.", percent escapes, ports, brackets, user
// information), fixed seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "mask_engine/mask_engine.h"
#include "mask_engine/mask_engine_impl.h"
#include "mask_engine/match_scratch_state.h"

namespace mask_engine {
namespace {

std::string Pick(std::mt19937& rng, const std::vector<std::string>& pieces, int minLen, int maxLen) {
  std::string out;
  const int len = minLen + static_cast<int>(rng() % static_cast<unsigned>(maxLen - minLen + 1));
  for (int i = 0; i < len; ++i) out += pieces[rng() % pieces.size()];
  return out;
}

std::vector<uint64_t> Indexes(const std::vector<MaskMatch>& matches) {
  std::vector<uint64_t> ids;
  for (const MaskMatch& m : matches) ids.push_back(m.index);
  return ids;
}

struct Sets {
  std::vector<std::string> maskPieces;
  std::vector<std::string> urlPieces;
  int maskLen;
  int urlLen;
};

// Returns how many matches the automaton reported, so that a generator that
// never matches shows up.
size_t ExpectIndexAgreesWithAutomaton(uint32_t seed, const Sets& sets) {
  std::mt19937 rng(seed);
  size_t reported = 0;
  MatchScratch scratch;
  for (int round = 0; round < 80; ++round) {
    auto indexed = MaskEngine::Create(MatchMethod::kIndexed);
    auto reference = MaskEngine::Create(MatchMethod::kAutomatonOnly);
    std::vector<std::string> masks;
    for (int i = 0; i < 30; ++i) {
      // Some masks repeat earlier ones, so that a key is shared.
      masks.push_back(i > 0 && rng() % 8 == 0 ? masks[rng() % masks.size()] : Pick(rng, sets.maskPieces, 1, sets.maskLen));
      indexed->AddMask(masks.back().data(), static_cast<uint32_t>(masks.back().size()));
      reference->AddMask(masks.back().data(), static_cast<uint32_t>(masks.back().size()));
    }
    try {
      reference->Finalize();
    } catch (const std::out_of_range&) {
      continue;  // the trie's limit of 255 children
    }
    indexed->Finalize();
    EXPECT_GT(indexed->Stats().indexedKeys, 0u);
    auto automaton = reference->CreateMatcher();
    for (int u = 0; u < 80; ++u) {
      const std::string url = Pick(rng, sets.urlPieces, 0, sets.urlLen);
      const auto length = static_cast<uint32_t>(url.size());
      std::vector<uint64_t> want = Indexes(automaton->Match(url.data(), length));
      std::sort(want.begin(), want.end());
      const std::vector<uint64_t> got = Indexes(indexed->Match(url.data(), length, scratch));
      reported += want.size();
      if (got != want) {
        std::string list;
        for (const auto& m : masks) list += " [" + m + "]";
        ADD_FAILURE() << "seed " << seed << " url [" << url << "] masks" << list << ": got " << got.size()
                      << " ids, want " << want.size();
        return reported;
      }
    }
  }
  return reported;
}

TEST(IndexedMatching, AgreesWithTheAutomatonOnHostsAndPaths) {
  const Sets sets{{"*.", ".", "a", "b", "a.b", "/", "*", "?", "b.a", "/a", "*/"},
                  {"a", "b", ".", "/", "a.b", "b.a", "/a", "./"},
                  8,
                  14};
  size_t reported = 0;
  for (uint32_t seed = 1; seed <= 4; ++seed) reported += ExpectIndexAgreesWithAutomaton(seed, sets);
  EXPECT_GT(reported, 2000u);
}

TEST(IndexedMatching, AgreesWithTheAutomatonOnHostileUrls) {
  const Sets sets{{"*.", ".", "a", "b", "a.b", "/", "*", "?", "\\*", "\\?", "\\", "www.", "%u0020", "%2f", "[", "]", ":"},
                  {"a", "B", ".", "/", "a.b", "%2F", "%2e", "%41", "%", " ", "\x80", "http://", "www.", "WWW.", "#",
                   "?", "//", ":8", "@", "[", "]", "*", "\\"},
                  7,
                  16};
  size_t reported = 0;
  for (uint32_t seed = 11; seed <= 14; ++seed) reported += ExpectIndexAgreesWithAutomaton(seed, sets);
  EXPECT_GT(reported, 500u);
}

TEST(IndexedMatching, AgreesWithTheAutomatonOnRepeatedLabelsAndManyRoutes) {
  // '.a/' many times over: one key found at many anchors, routes up to the cap.
  const Sets sets{{"*.a/", "*.a", "a/", "*", "a", ".", "/"}, {"a", ".", "/", ".a/", "a.a/"}, 6, 30};
  size_t reported = 0;
  for (uint32_t seed = 21; seed <= 22; ++seed) reported += ExpectIndexAgreesWithAutomaton(seed, sets);
  EXPECT_GT(reported, 2000u);
}

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
    std::vector<uint64_t> want = Indexes(automaton->Match(text.data(), length));
    std::sort(want.begin(), want.end());
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
