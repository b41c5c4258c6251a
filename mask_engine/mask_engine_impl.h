// MaskEngine: collects masks as keys, those that a literal anchors for the
// literal index and the others for the automaton, whose layout Finalize
// compiles.
#pragma once

#include <memory>
#include <vector>

#include "mask_engine/index_builder.h"
#include "mask_engine/key_list.h"
#include "mask_engine/literal_index.h"
#include "mask_engine/mask_engine.h"
#include "mask_engine/mask_keys.h"
#include "mask_engine/node_layout.h"
#include "mask_engine/automaton_prefilter.h"

namespace mask_engine {

class MaskEngineImpl final : public MaskEngine, public std::enable_shared_from_this<MaskEngineImpl> {
 public:
  explicit MaskEngineImpl(MatchMethod method);

  AddMaskResult AddMask(const char* text, uint32_t length) override;
  void Finalize() override;
  std::shared_ptr<MaskMatcher> CreateMatcher() const override;
  const std::vector<MaskMatch>& Match(const char* text, uint32_t length, MatchScratch& scratch) const override;
  MaskEngineStats Stats() const override;

  bool Finalized() const { return m_build == nullptr; }
  /// The automaton's layout: every key with MatchMethod::kAutomatonOnly.
  const node_layout* Layout() const { return m_layout.get(); }

 private:
  // Everything only needed until Finalize.
  struct BuildContext {
    BuildContext();
    std::vector<uint32_t> symbols;
    KeyScratch scratch;
    KeyList keys;  // the automaton's
    IndexBuilder index;
  };

  void AddKey(const GeneratedKey& key, uint32_t tag, bool domainFlag);
  void AddVariantsApart(const GeneratedKey& key, uint32_t tag, bool domainFlag);
  bool MatchIndexed(MatchScratch::State& state) const;
  void AddIndexRoutes(MatchScratch::State& state) const;
  // The automaton holds few keys; a text that has none of the literals they
  // need skips it.
  bool NeedsAutomaton(const PreparedText& text, bool required) const {
    if (m_layout->empty()) return false;
    return m_method != MatchMethod::kIndexed || required || m_automatonFilter.MayMatch(text);
  }
  void MatchWithAutomaton(MatchScratch::State& state) const;
  void CollectResult(MatchScratch::State& state) const;

  MatchMethod m_method;
  std::vector<char> m_texts;
  std::vector<uint64_t> m_offsets{0};
  std::vector<bool> m_domainFlags;
  std::unique_ptr<node_layout> m_layout;
  LiteralIndex m_index;
  AutomatonPrefilter m_automatonFilter;
  std::unique_ptr<BuildContext> m_build;
  uint64_t m_keyCount = 0;
  uint64_t m_indexedKeyCount = 0;
};

}  // namespace mask_engine
