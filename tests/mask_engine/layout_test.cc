#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "mask_engine/key_list.h"
#include "mask_engine/mask_engine.h"
#include "mask_engine/mask_engine_impl.h"
#include "mask_engine/node_layout.h"
#include "tests/support/thrown.h"

namespace mask_engine {
namespace {

using dnt::testing::Thrown;

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

}  // namespace
}  // namespace mask_engine
