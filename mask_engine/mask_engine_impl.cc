#include "mask_engine/mask_engine_impl.h"

#include <algorithm>
#include <stdexcept>

#include "mask_engine/layout_compiler.h"
#include "mask_engine/mask_matcher_impl.h"
#include "mask_engine/mask_symbols.h"
#include "mask_engine/match_scratch_state.h"

namespace mask_engine {

namespace {

constexpr uint32_t kNoIndex = 0xFFFFFFFF;
constexpr int32_t kRouteCap = CursorAutomaton::kMaxCount;

void FeedAll(CursorAutomaton& automaton, std::string_view bytes) {
  for (char c : bytes) {
    if (automaton.Dead()) return;
    automaton.Feed(static_cast<uint8_t>(c));
  }
}

}  // namespace

MaskEngine::~MaskEngine() = default;

std::shared_ptr<MaskEngine> MaskEngine::Create(MatchMethod method) { return std::make_shared<MaskEngineImpl>(method); }

MatchScratch::MatchScratch() : m_state(std::make_unique<State>()) {}
MatchScratch::~MatchScratch() = default;

MaskEngineImpl::BuildContext::BuildContext() { symbols.reserve(512); }

MaskEngineImpl::MaskEngineImpl(MatchMethod method) : m_method(method), m_build(std::make_unique<BuildContext>()) {}

AddMaskResult MaskEngineImpl::AddMask(const char* text, uint32_t length) {
  if (Finalized()) throw std::runtime_error("the mask engine is finalized");
  BuildContext& build = *m_build;
  ParseMaskSymbols(text, length, build.symbols);
  if (build.symbols.empty()) return AddMaskResult{kNoIndex, 0};
  if (m_offsets.size() - 1 >= kNoIndex) throw std::length_error("too many masks");
  // The longest key is the mask plus the '/' and "/*" that normalisation may add.
  if (build.symbols.size() > KeyEntry::kLengthMask - 3) throw std::length_error("mask too long");

  const auto index = static_cast<uint32_t>(m_offsets.size() - 1);
  const bool domainFlag = ComputeDomainFlag(build.symbols);
  const MaskKeys keys = GenerateMaskKeys(build.symbols, domainFlag, build.scratch);
  // Keys first: a mask that fails leaves no trace in the texts or flags.
  for (int k = 0; k < keys.count; ++k) AddKey(keys.keys[k], index, domainFlag);
  m_texts.insert(m_texts.end(), text, text + length);
  m_offsets.push_back(m_texts.size());
  m_domainFlags.push_back(domainFlag);
  return AddMaskResult{index, 1};
}

void MaskEngineImpl::AddKey(const GeneratedKey& key, uint32_t tag, bool domainFlag) {
  BuildContext& build = *m_build;
  const IndexShape shape = m_method == MatchMethod::kIndexed ? ClassifyForIndex(key.symbols) : IndexShape{};
  if (shape.fit == IndexShape::Fit::kIndex) {
    build.index.Add(key, shape, tag, !domainFlag);
  } else if (shape.fit == IndexShape::Fit::kTooLarge) {
    AddVariantsApart(key, tag, domainFlag);
  } else {
    build.keys.Add(key.symbols, key.head, key.tail, tag);
  }
}

// A variant, shorter than its key, may fit the index where the key does
// not. Deciding each variant on its own keeps a key that another mask has
// as a whole key on the same side as that one.
void MaskEngineImpl::AddVariantsApart(const GeneratedKey& key, uint32_t tag, bool domainFlag) {
  const KeyVariants variants = VariantsOf(key.symbols.size(), key.head, key.tail);
  for (int v = 0; v < variants.count; ++v) {
    const KeyVariant& range = variants.ranges[v];
    const GeneratedKey variant{key.symbols.subspan(range.begin, range.end - range.begin), 0, 0};
    const IndexShape shape = ClassifyForIndex(variant.symbols);
    if (shape.fit == IndexShape::Fit::kIndex) {
      m_build->index.Add(variant, shape, tag, !domainFlag);
    } else {
      m_build->keys.Add(variant.symbols, 0, 0, tag);
    }
  }
}

void MaskEngineImpl::Finalize() {
  if (Finalized()) return;
  m_texts.shrink_to_fit();
  m_offsets.shrink_to_fit();
  m_domainFlags.shrink_to_fit();
  BuildContext& build = *m_build;
  build.keys.SortAndDeduplicate();
  const std::vector<KeyEntry>& automatonKeys = build.keys.Entries();
  m_layout = std::make_unique<node_layout>(CompileLayout(automatonKeys));
  if (m_method == MatchMethod::kIndexed) {
    const std::vector<LiteralRequirement> requirements =
        m_automatonFilter.Build(automatonKeys, std::string_view(m_texts.data(), m_texts.size()), m_domainFlags);
    m_index.Build(std::move(build.index.Records()), std::move(build.index.Bytes()), requirements);
  }
  m_indexedKeyCount = build.index.KeyCount();
  m_keyCount = automatonKeys.size() + m_indexedKeyCount;
  m_build.reset();
}

std::shared_ptr<MaskMatcher> MaskEngineImpl::CreateMatcher() const {
  return std::make_shared<MaskMatcherImpl>(shared_from_this(), Finalized());
}

const std::vector<MaskMatch>& MaskEngineImpl::Match(const char* text, uint32_t length, MatchScratch& scratch) const {
  MatchScratch::State& state = scratch.Get();
  state.result.clear();
  state.ids.clear();
  if (!Finalized() || (m_index.Empty() && m_layout->empty())) return state.result;
  state.text.Prepare(text, length);
  const bool required = !m_index.Empty() && MatchIndexed(state);
  if (NeedsAutomaton(state.text, required)) MatchWithAutomaton(state);
  // Most texts match nothing.
  if (!state.ids.empty()) CollectResult(state);
  return state.result;
}

// Returns whether the text has a literal that the automaton's keys need.
bool MaskEngineImpl::MatchIndexed(MatchScratch::State& state) const {
  state.index.hits.clear();
  const bool required = m_index.Probe(state.text, kRouteCap, state.index);
  if (!state.index.hits.empty()) AddIndexRoutes(state);
  return required;
}

// A key can be found at several anchors (a '.name.tld/' in the path as well
// as in the host); its routes add up to the cap, as the automaton's do.
void MaskEngineImpl::AddIndexRoutes(MatchScratch::State& state) const {
  std::vector<KeyHit>& hits = state.index.hits;
  if (hits.size() > 1) SortHits(hits);
  for (size_t i = 0; i < hits.size();) {
    size_t end = i + 1;
    while (end < hits.size() && hits[end].SameKey(hits[i])) ++end;
    const int32_t routes =
        m_index.Routes(std::span<const KeyHit>(hits).subspan(i, end - i), state.text, kRouteCap, state.index);
    const uint32_t tag = m_index.TagOf(hits[i].key);
    if (routes == 1) {
      state.ids.push_back(tag);
    } else {
      state.ids.insert(state.ids.end(), static_cast<size_t>(routes), tag);
    }
    i = end;
  }
}

// Plain host masks match where the host ends, whatever follows; every other
// mask must reach the end of the whole text.
void MaskEngineImpl::MatchWithAutomaton(MatchScratch::State& state) const {
  CursorAutomaton& automaton = state.automaton;
  auto report = [&](bool domainFlag) {
    automaton.Report([&](uint32_t tag, int32_t count) {
      if (tag < m_domainFlags.size() && m_domainFlags[tag] == domainFlag) {
        state.ids.insert(state.ids.end(), static_cast<size_t>(count), tag);
      }
    });
  };
  automaton.Reset(m_layout->data());
  FeedAll(automaton, state.text.Host());
  report(true);
  FeedAll(automaton, state.text.Rest());
  report(false);
}

void MaskEngineImpl::CollectResult(MatchScratch::State& state) const {
  // The index reports in bucket order; the automaton after it.
  if (!std::is_sorted(state.ids.begin(), state.ids.end())) std::sort(state.ids.begin(), state.ids.end());
  for (const uint32_t tag : state.ids) {
    const uint64_t begin = m_offsets[tag];
    state.result.push_back(MaskMatch{m_texts.data() + begin, static_cast<uint32_t>(m_offsets[tag + 1] - begin), tag});
  }
}

MaskEngineStats MaskEngineImpl::Stats() const {
  MaskEngineStats stats;
  stats.masks = m_offsets.size() - 1;
  stats.keys = m_keyCount;
  stats.indexedKeys = m_indexedKeyCount;
  stats.layoutBytes = m_layout ? m_layout->size_bytes() : 0;
  stats.indexBytes = m_index.MemoryBytes() + m_automatonFilter.MemoryBytes();
  return stats;
}

}  // namespace mask_engine
