#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "mask_engine/cursor_automaton.h"
#include "mask_engine/key_list.h"
#include "mask_engine/mask_engine.h"
#include "mask_engine/mask_engine_impl.h"
#include "mask_engine/mask_matcher_impl.h"
#include "mask_engine/node_layout.h"
#include "tests/support/thrown.h"

namespace mask_engine {
namespace {

using dnt::testing::Thrown;
using Ids = std::vector<uint64_t>;

TEST(NodeLayout, EncodesNodesByteForByte) {
  // The whole trie: with the literal index, most keys would not be in it.
  const auto engine = MaskEngine::Create(MatchMethod::kAutomatonOnly);
  engine->AddMask("*.a.b", 5);  // keys "*.a.b" and "a.b"
  engine->Finalize();
  const node_layout& layout = *std::static_pointer_cast<MaskEngineImpl>(engine)->Layout();
  const uint8_t* root = layout.data();
  EXPECT_EQ(root[0], layout::kHasAnyRun);
  EXPECT_EQ(root[1], 1);
  EXPECT_EQ(root[2], 'a');
  // Pre-order, any-run child first: root (4 + 2 slots), then the any-run
  // child as label ".a.b" and its tagged leaf, then the 'a' child.
  const layout::Branch branch(root);
  EXPECT_EQ(branch.AnyRunChild() - root, 12);
  EXPECT_EQ(branch.LiteralChild(0) - root, 12 + 8 + 8);
  EXPECT_EQ(layout.size_bytes(), 12u + 16 + 12);
  const uint8_t* anyRun = branch.AnyRunChild();
  EXPECT_EQ(anyRun[0], layout::kLabel);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(anyRun + 2), anyRun[1]), ".a.b");
  const uint8_t* a = branch.LiteralChild(0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a + 2), a[1]), ".b");
  const layout::Branch leaf(layout::Label(a).BranchAfter());
  EXPECT_EQ(leaf.Flags(), layout::kHasTag);
  EXPECT_EQ(leaf.Tag(), 0u);
}

TEST(MaskEngine, ErrorsAndLimits) {
  auto engine = MaskEngine::Create();
  EXPECT_EQ(engine->AddMask("", 0).added, 0);
  EXPECT_EQ(engine->AddMask(nullptr, 0).index, 0xFFFFFFFFu);
  EXPECT_EQ(engine->AddMask("a", 1).index, 0u);
  EXPECT_EQ(engine->AddMask("a", 1).index, 1u);  // repeats get their own index
  engine->Finalize();
  EXPECT_EQ(Thrown<std::runtime_error>([&] { engine->AddMask("b", 1); }), "the mask engine is finalized");
  EXPECT_EQ(engine->Stats().masks, 2u);

  KeyList keys;
  const std::vector<uint32_t> symbols{'a', 'b', 'c'};
  EXPECT_EQ(Thrown<std::out_of_range>([&] { keys.Add(symbols, 8, 0, 0); }), "mask head offset range error");
  EXPECT_EQ(Thrown<std::invalid_argument>([&] { keys.Add({}, 0, 0, 0); }), "empty mask");
}

TEST(MaskEngine, MoreThan255LiteralChildrenFailFinalize) {
  auto build = [](int children) {
    auto engine = MaskEngine::Create(MatchMethod::kAutomatonOnly);
    for (int b = 0; b < children; ++b) {
      const std::string mask = {'\\', static_cast<char>(b), '*'};  // host "<b>*": one key each
      engine->AddMask(mask.data(), static_cast<uint32_t>(mask.size()));
    }
    return engine;
  };
  EXPECT_NO_THROW(build(255)->Finalize());
  EXPECT_EQ(Thrown<std::out_of_range>([&] { build(256)->Finalize(); }), "node_layout::set_tag_cnt()");
}

TEST(MaskEngine, NoLayoutMatchesNothing) {
  auto empty = MaskEngine::Create();
  empty->AddMask("", 0);
  empty->Finalize();
  EXPECT_EQ(empty->Stats().layoutBytes, 0u);
  EXPECT_TRUE(empty->CreateMatcher()->Match("anything", 8).empty());

  auto engine = MaskEngine::Create();
  engine->AddMask("site.test", 9);
  auto early = engine->CreateMatcher();
  engine->Finalize();
  EXPECT_TRUE(early->Match("site.test", 9).empty());
  EXPECT_EQ(engine->CreateMatcher()->Match("site.test", 9).size(), 1u);
}

class Masks {
 public:
  explicit Masks(const std::vector<std::string>& masks) : m_engine(MaskEngine::Create()), m_texts(masks) {
    for (const auto& m : masks) m_engine->AddMask(m.data(), static_cast<uint32_t>(m.size()));
    m_engine->Finalize();
    m_matcher = m_engine->CreateMatcher();
  }

  // Indexes in the order reported; each record must carry its mask's text.
  Ids Match(const std::string& url) {
    Ids ids;
    for (const MaskMatch& m : m_matcher->Match(url.data(), static_cast<uint32_t>(url.size()))) {
      EXPECT_EQ(std::string(m.mask, m.length), m_texts.at(m.index));
      ids.push_back(m.index);
    }
    return ids;
  }
  Ids Sorted(const std::string& url) {
    Ids ids = Match(url);
    std::sort(ids.begin(), ids.end());
    return ids;
  }
  MaskMatcherImpl& Matcher() { return static_cast<MaskMatcherImpl&>(*m_matcher); }

 private:
  std::shared_ptr<MaskEngine> m_engine;
  std::vector<std::string> m_texts;
  std::shared_ptr<MaskMatcher> m_matcher;
};

TEST(MaskMatcher, KeepsItsEngineAlive) {
  auto engine = MaskEngine::Create();
  engine->AddMask("site.test", 9);
  engine->Finalize();
  auto matcher = engine->CreateMatcher();
  engine.reset();
  const auto& result = matcher->Match("site.test", 9);
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(std::string(result[0].mask, result[0].length), "site.test");
}

TEST(MaskMatcher, ReportsEveryMaskWhenMoreThan32CursorsLive) {
  // Every byte of the long run of 'a' starts a cursor along the shared label;
  // each stays alive for up to 60 bytes, far more than 32 at once.
  std::vector<std::string> texts;
  for (int k = 40; k <= 60; ++k) texts.push_back("*" + std::string(k, 'a') + "z");
  Masks masks(texts);
  const std::string url = std::string(100, 'a') + "z";
  Ids all(texts.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  EXPECT_EQ(masks.Sorted(url), all);
  EXPECT_GT(masks.Matcher().PoolCapacity(), CursorAutomaton::kInitialCursors);
  // Grown once; the pool keeps its size for later calls.
  const size_t capacity = masks.Matcher().PoolCapacity();
  EXPECT_EQ(masks.Sorted(url), all);
  EXPECT_EQ(masks.Matcher().PoolCapacity(), capacity);
}

TEST(MaskMatcher, HostileRouteCountsStayBounded) {
  Masks masks({"a*a*a*a*a*a*a*a*", "*a*a*a*a?*a*"});
  const std::string url(2000, 'a');
  const Ids ids = masks.Match(url);
  // Billions of routes, reported at most the cap's number of times each.
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 0u), CursorAutomaton::kMaxCount);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 1u), CursorAutomaton::kMaxCount);
  EXPECT_EQ(ids.size(), 2u * CursorAutomaton::kMaxCount);
}

TEST(MaskMatcher, LargeMasksAndTexts) {
  const std::string longHost(100000, 'x');
  const std::string longPath = "h.test/" + std::string(100000, 'p') + "*";
  std::string wild;  // 20000 any-runs: a deep trie path
  for (int i = 0; i < 20000; ++i) wild += "a*b";
  Masks masks({longHost, longPath, wild, "*.tracker.test"});
  EXPECT_EQ(masks.Sorted(longHost), (Ids{0}));
  EXPECT_EQ(masks.Sorted(longHost + "x"), Ids{});
  EXPECT_EQ(masks.Sorted("h.test/" + std::string(100000, 'p') + "/q"), (Ids{1}));
  // A megabyte of URL: linear work, one report per route up to the cap.
  const std::string megabyte = "http://a.tracker.test/" + std::string(1 << 20, 'q');
  EXPECT_EQ(masks.Sorted(megabyte), (Ids{3}));
  std::string escaped = "e.test/";
  escaped.append(1 << 20, '\x80');
  EXPECT_EQ(masks.Sorted(escaped), Ids{});
  EXPECT_EQ(masks.Sorted("ab" + std::string(100, 'b')), Ids{});
}

}  // namespace
}  // namespace mask_engine
