#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "mask_engine/key_list.h"
#include "mask_engine/mask_engine.h"
#include "mask_engine/mask_engine_impl.h"
#include "mask_engine/mask_keys.h"
#include "mask_engine/node_layout.h"

namespace mask_engine {
namespace {

using Key = std::vector<uint16_t>;

// Walks a finished layout, checks that every node is well formed and that
// the nodes tile the layout exactly once, and collects the keys it spells.
class LayoutWalker {
 public:
  explicit LayoutWalker(const node_layout& layout) : m_base(layout.data()), m_size(layout.size_bytes()) {}

  std::set<Key> Walk() {
    std::set<Key> keys;
    if (m_size == 0) return keys;
    struct Item {
      size_t pos;
      Key prefix;
    };
    std::vector<Item> stack{{0, {}}};
    size_t covered = 0;
    while (!stack.empty()) {
      Item item = std::move(stack.back());
      stack.pop_back();
      size_t pos = item.pos;
      Key& prefix = item.prefix;
      EXPECT_TRUE(m_visited.insert(pos).second) << "node reached twice at " << pos;
      if (layout::IsLabel(m_base + pos)) {
        const layout::Label label(m_base + pos);
        EXPECT_EQ(m_base[pos], layout::kLabel);
        EXPECT_GE(label.Length(), 1u);
        EXPECT_LE(label.Length(), layout::kMaxLabelLength);
        ExpectZeroPadding(pos + 2 + label.Length(), pos + layout::Align4(2 + label.Length()));
        for (size_t i = 0; i < label.Length(); ++i) prefix.push_back(kKeyLiteral | label.Bytes()[i]);
        covered += layout::Align4(2 + label.Length());
        pos += layout::Align4(2 + label.Length());
        if (!ExpectInside(pos, 4)) continue;
      }
      const layout::Branch branch(m_base + pos);
      EXPECT_EQ(branch.Flags() & ~(layout::kHasAnyRun | layout::kHasAnyChar | layout::kHasTag), 0);
      if (!ExpectInside(pos, branch.Size())) continue;
      covered += branch.Size();
      const uint8_t* bytes = branch.LiteralBytes();
      for (size_t i = 1; i < branch.LiteralCount(); ++i) EXPECT_LT(bytes[i - 1], bytes[i]);
      ExpectZeroPadding(pos + 2 + branch.LiteralCount(), pos + layout::Align4(2 + branch.LiteralCount()));
      if (branch.HasTag()) {
        EXPECT_TRUE(keys.insert(prefix).second);
        m_tags.push_back(branch.Tag());
      }
      const bool leaf = branch.LiteralCount() == 0 && !branch.HasAnyRun() && !branch.HasAnyChar();
      EXPECT_TRUE(!leaf || branch.HasTag()) << "dead end at " << pos;
      auto push = [&](const uint8_t* child, uint16_t edge) {
        const auto offset = child - (m_base + pos);
        EXPECT_GT(offset, 0);
        const auto childPos = static_cast<size_t>(child - m_base);
        if (offset <= 0 || childPos % 4 != 0 || !ExpectInside(childPos, 4)) return;
        Key next = prefix;
        next.push_back(edge);
        stack.push_back({childPos, std::move(next)});
      };
      // Pushed in reverse so that children are visited in layout order.
      if (branch.HasAnyChar()) push(branch.AnyCharChild(), kKeyAnyChar);
      for (size_t i = branch.LiteralCount(); i-- > 0;) push(branch.LiteralChild(i), kKeyLiteral | bytes[i]);
      if (branch.HasAnyRun()) push(branch.AnyRunChild(), kKeyAnyRun);
    }
    EXPECT_EQ(covered, m_size) << "nodes do not tile the layout";
    return keys;
  }

  const std::vector<uint32_t>& Tags() const { return m_tags; }

 private:
  bool ExpectInside(size_t pos, size_t size) {
    EXPECT_LE(pos + size, m_size) << "node at " << pos << " runs past the layout";
    return pos + size <= m_size;
  }
  void ExpectZeroPadding(size_t from, size_t to) {
    for (size_t i = from; i < to && i < m_size; ++i) EXPECT_EQ(m_base[i], 0) << "padding at " << i;
  }

  const uint8_t* m_base;
  size_t m_size;
  std::set<size_t> m_visited;
  std::vector<uint32_t> m_tags;
};

// The whole trie: with the literal index, most keys would not be in it.
std::shared_ptr<MaskEngine> Compile(const std::vector<std::string>& masks) {
  auto engine = MaskEngine::Create(MatchMethod::kAutomatonOnly);
  for (const auto& m : masks) engine->AddMask(m.data(), static_cast<uint32_t>(m.size()));
  engine->Finalize();
  return engine;
}

const node_layout& LayoutOf(const std::shared_ptr<MaskEngine>& engine) {
  return *std::static_pointer_cast<MaskEngineImpl>(engine)->Layout();
}

std::set<Key> ExpectedKeys(const std::vector<std::string>& masks) {
  std::set<Key> keys;
  for (const auto& m : masks) {
    for (auto& k : EffectiveKeys(m.data(), static_cast<uint32_t>(m.size()))) keys.insert(std::move(k));
  }
  return keys;
}

void ExpectLayoutHoldsExactlyTheKeys(const std::vector<std::string>& masks) {
  const auto engine = Compile(masks);
  LayoutWalker walker(LayoutOf(engine));
  const std::set<Key> expected = ExpectedKeys(masks);
  EXPECT_EQ(walker.Walk(), expected);
  EXPECT_EQ(engine->Stats().keys, expected.size());
  for (uint32_t tag : walker.Tags()) EXPECT_LT(tag, masks.size());
}

TEST(NodeLayout, HoldsExactlyTheKeysOfItsMasks) {
  ExpectLayoutHoldsExactlyTheKeys({"*.site.test", "site.test/ad", ".other.test", "a*b?c", "a*b", "a?*x/y/",
                                   "x\\*y", "\\\x01\\\x02\x03/\x80\xff"});
  // Labels longer than a node can hold are split; shared runs break where keys differ.
  const std::string long1(600, 'q');
  const std::string long2 = std::string(300, 'q') + "r" + std::string(300, 'q');
  ExpectLayoutHoldsExactlyTheKeys({long1, long2, long1 + "*z", "q"});

  std::mt19937 rng(7);
  const std::string alphabet = "ab./*?\\x";
  for (int round = 0; round < 50; ++round) {
    std::vector<std::string> masks;
    for (int i = 0; i < 30; ++i) {
      std::string m;
      const int len = 1 + static_cast<int>(rng() % 10);
      for (int j = 0; j < len; ++j) m += alphabet[rng() % alphabet.size()];
      masks.push_back(m);
    }
    ExpectLayoutHoldsExactlyTheKeys(masks);
  }
}

TEST(NodeLayout, EncodesNodesByteForByte) {
  const auto engine = Compile({"*.a.b"});  // keys "*.a.b" and "a.b"
  const node_layout& layout = LayoutOf(engine);
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
  try {
    engine->AddMask("b", 1);
    ADD_FAILURE() << "AddMask after Finalize";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "the mask engine is finalized");
  }
  EXPECT_EQ(engine->Stats().masks, 2u);

  KeyList keys;
  const std::vector<uint32_t> symbols{'a', 'b', 'c'};
  try {
    keys.Add(symbols, 8, 0, 0);
    ADD_FAILURE() << "head offset 8 accepted";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "mask head offset range error");
  }
  try {
    keys.Add({}, 0, 0, 0);
    ADD_FAILURE() << "empty key accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "empty mask");
  }
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
  auto engine = build(256);
  try {
    engine->Finalize();
    ADD_FAILURE() << "256 literal children compiled";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "node_layout::set_tag_cnt()");
  }
}

TEST(MaskEngine, NoMasksGiveAnEmptyLayout) {
  auto engine = MaskEngine::Create();
  engine->AddMask("", 0);
  engine->Finalize();
  EXPECT_EQ(engine->Stats().layoutBytes, 0u);
  EXPECT_TRUE(engine->CreateMatcher()->Match("anything", 8).empty());
}

}  // namespace
}  // namespace mask_engine
