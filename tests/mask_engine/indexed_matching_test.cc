// The literal index against the automaton, which defines what matches:
// generated mask sets (repeats, escapes, wildcards anywhere, '.x' and '*.x'
// heads) and URLs (schemes, "www.", percent escapes, ports, brackets, user
// information), fixed seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "mask_engine/mask_engine.h"
#include "mask_engine/mask_engine_impl.h"

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
  const Sets sets{{"*.a/", "*.a", "a/", "*", "a", ".", "/"}, {"a", ".", "/", ".a/", "a.a/"}, 6, 40};
  size_t reported = 0;
  for (uint32_t seed = 21; seed <= 23; ++seed) reported += ExpectIndexAgreesWithAutomaton(seed, sets);
  EXPECT_GT(reported, 2000u);
}

}  // namespace
}  // namespace mask_engine
