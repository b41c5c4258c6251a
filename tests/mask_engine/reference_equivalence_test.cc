// The literal index, the automaton alone and a naive glob over every key of
// every mask, on generated mask sets (repeats, escapes, wildcards anywhere,
// '.x' and '*.x' heads) and URLs (schemes, "www.", percent escapes, ports,
// brackets, user information); fixed seeds, so failures reproduce.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "mask_engine/cursor_automaton.h"
#include "mask_engine/mask_engine.h"
#include "tests/mask_engine/reference_matcher.h"

namespace mask_engine {
namespace {

using testing::Indexes;
using testing::Pick;
using testing::ReferenceMasks;
using Pieces = std::vector<std::string>;
using MakeMask = std::function<std::string(std::mt19937&)>;
using MakeUrl = std::function<std::string(std::mt19937&, const Pieces& masks)>;

void Add(MaskEngine& engine, const std::string& mask) {
  engine.AddMask(mask.data(), static_cast<uint32_t>(mask.size()));
}

// Returns how many matches the reference reported, so that a generator that
// never matches shows up.
size_t ExpectAllThreeAgree(uint32_t seed, const MakeMask& makeMask, const MakeUrl& makeUrl) {
  std::mt19937 rng(seed);
  size_t reported = 0;
  uint64_t indexedKeys = 0;
  MatchScratch scratch;
  for (int round = 0; round < 60; ++round) {
    ReferenceMasks reference;
    auto indexed = MaskEngine::Create(MatchMethod::kIndexed);
    auto automaton = MaskEngine::Create(MatchMethod::kAutomatonOnly);
    for (int i = 0; i < 30; ++i) {
      // Some masks repeat earlier ones, so that a key is shared.
      const Pieces& earlier = reference.Masks();
      const std::string mask = !earlier.empty() && rng() % 8 == 0 ? earlier[rng() % earlier.size()] : makeMask(rng);
      if (!reference.Add(mask)) continue;
      Add(*indexed, mask);
      Add(*automaton, mask);
    }
    indexed->Finalize();
    indexedKeys += indexed->Stats().indexedKeys;
    std::shared_ptr<MaskMatcher> automatonMatcher;
    try {
      automaton->Finalize();
      automatonMatcher = automaton->CreateMatcher();
    } catch (const std::out_of_range&) {
      // the trie's limit of 255 children
    }
    for (int u = 0; u < 60; ++u) {
      const std::string url = makeUrl(rng, reference.Masks());
      const auto length = static_cast<uint32_t>(url.size());
      const std::vector<uint64_t> want = reference.Match(url, CursorAutomaton::kMaxCount);
      reported += want.size();
      // The index reports in ascending order.
      const bool same = Indexes(indexed->Match(url.data(), length, scratch)) == want &&
                        (!automatonMatcher || Indexes(automatonMatcher->Match(url.data(), length), true) == want);
      if (!same) {
        std::string masks;
        for (const auto& m : reference.Masks()) masks += " [" + m + "]";
        ADD_FAILURE() << "seed " << seed << " url [" << url << "] masks" << masks;
        return reported;
      }
    }
  }
  EXPECT_GT(indexedKeys, 0u) << "the index was never used";
  return reported;
}

// A tracker list's mask: '*.' and a host, now and then with a '*' inside;
// a path in one of three, mostly with '*' inside it or at its end, some
// with '?'. Few letters, so that hosts share labels and paths share pieces.
std::string TrackerListMask(std::mt19937& rng) {
  const Pieces labels{"a", "b", "ab", "a-b", "t"};
  const Pieces hostWildcards{"*.", "a*.", "*-b."};
  const Pieces pathPieces{"p", "a.b", "/", "*", "?", "q*", "/*/", "ab"};
  std::string mask = "*.";
  if (rng() % 8 == 0) mask += hostWildcards[rng() % hostWildcards.size()];
  mask += Pick(rng, labels, 1, 2) + "." + labels[rng() % labels.size()];
  if (rng() % 3 == 0) mask += "/" + Pick(rng, pathPieces, 1, 6);
  return mask;
}

// A URL built from one of the masks, its wildcards filled in (so that it
// mostly matches, along one route or many), or now and then from nothing.
std::string UrlFromMasks(std::mt19937& rng, const Pieces& masks) {
  const Pieces fills{"", "a", "b.", "/a", ".a/", "a.b", "p"};
  const Pieces prefixes{"", "http://", "https://www.", "a."};
  if (masks.empty() || rng() % 6 == 0) return Pick(rng, fills, 0, 8);
  std::string url = prefixes[rng() % prefixes.size()];
  for (const char c : masks[rng() % masks.size()]) {
    if (c == '*') {
      url += Pick(rng, fills, 0, 2);
    } else if (c == '?') {
      url += "ab./"[rng() % 4];
    } else {
      url += c;
    }
  }
  if (rng() % 3 == 0) url += Pick(rng, fills, 1, 3);
  return url;
}

TEST(MatchersAgree, OnGeneratedPieces) {
  const struct {
    uint32_t firstSeed, lastSeed;
    Pieces maskPieces, urlPieces;
    int maskLen, urlLen;
  } sets[] = {
      {1, 1, {"a", "b", ".", "/", "*", "?", "*.", "a.b"}, {"a", "b", ".", "/", "ab.", "b/"}, 8, 12},
      {2, 2, {"a", "b", ".", "/", "*", "?", "\\*", "%u0020", "www."},
       {"a", "B", ".", "/", "%62", " ", "*", "http://", "www.", "#", "?", "//", ":8"}, 7, 14},
      {3, 3, {"a", "*", "?", "a*", "*a"}, {"a", "b"}, 10, 24},
      {1, 4, {"*.", ".", "a", "b", "a.b", "/", "*", "?", "b.a", "/a", "*/"},
       {"a", "b", ".", "/", "a.b", "b.a", "/a", "./"}, 8, 14},
      {11, 14, {"*.", ".", "a", "b", "a.b", "/", "*", "?", "\\*", "\\?", "\\", "www.", "%u0020", "%2f", "[", "]", ":"},
       {"a", "B", ".", "/", "a.b", "%2F", "%2e", "%41", "%", " ", "\x80", "http://", "www.", "WWW.", "#", "?", "//",
        ":8", "@", "[", "]", "*", "\\"},
       7, 16},
      // '.a/' many times over: one key found at many anchors, routes up to the cap.
      {21, 22, {"*.a/", "*.a", "a/", "*", "a", ".", "/"}, {"a", ".", "/", ".a/", "a.a/"}, 6, 30},
  };
  for (const auto& set : sets) {
    size_t reported = 0;
    for (uint32_t seed = set.firstSeed; seed <= set.lastSeed; ++seed) {
      reported += ExpectAllThreeAgree(
          seed, [&](std::mt19937& rng) { return Pick(rng, set.maskPieces, 1, set.maskLen); },
          [&](std::mt19937& rng, const Pieces&) { return Pick(rng, set.urlPieces, 0, set.urlLen); });
    }
    EXPECT_GT(reported, 500u) << "seed " << set.firstSeed;
  }
}

TEST(MatchersAgree, OnTrackerListShapes) {
  for (uint32_t seed = 4; seed <= 6; ++seed) EXPECT_GT(ExpectAllThreeAgree(seed, TrackerListMask, UrlFromMasks), 500u);
}

}  // namespace
}  // namespace mask_engine
