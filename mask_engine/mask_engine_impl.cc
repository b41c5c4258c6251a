#include "mask_engine/mask_engine_impl.h"

#include <stdexcept>

#include "mask_engine/layout_compiler.h"
#include "mask_engine/mask_matcher_impl.h"
#include "mask_engine/mask_symbols.h"

namespace mask_engine {

namespace {
constexpr uint32_t kNoIndex = 0xFFFFFFFF;
}  // namespace

MaskEngine::~MaskEngine() = default;

std::shared_ptr<MaskEngine> MaskEngine::Create() { return std::make_shared<MaskEngineImpl>(); }

MaskEngineImpl::BuildContext::BuildContext() { symbols.reserve(512); }

MaskEngineImpl::MaskEngineImpl() : m_build(std::make_unique<BuildContext>()) {}

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
  for (int k = 0; k < keys.count; ++k) {
    build.keys.Add(keys.keys[k].symbols, keys.keys[k].head, keys.keys[k].tail, index);
  }
  m_texts.insert(m_texts.end(), text, text + length);
  m_offsets.push_back(m_texts.size());
  m_domainFlags.push_back(domainFlag);
  return AddMaskResult{index, 1};
}

void MaskEngineImpl::Finalize() {
  if (Finalized()) return;
  m_texts.shrink_to_fit();
  m_offsets.shrink_to_fit();
  m_domainFlags.shrink_to_fit();
  m_build->keys.SortAndDeduplicate();
  const std::vector<KeyEntry>& entries = m_build->keys.Entries();
  m_layout = std::make_unique<node_layout>(CompileLayout(entries));
  m_keyCount = entries.size();
  m_build.reset();
}

std::shared_ptr<MaskMatcher> MaskEngineImpl::CreateMatcher() const {
  EngineView view;
  if (Finalized() && !m_layout->empty()) view.root = m_layout->data();
  view.texts = m_texts.data();
  view.offsets = m_offsets.data();
  view.domainFlags = &m_domainFlags;
  return std::make_shared<MaskMatcherImpl>(shared_from_this(), view);
}

MaskEngineStats MaskEngineImpl::Stats() const {
  MaskEngineStats stats;
  stats.masks = m_offsets.size() - 1;
  stats.keys = m_keyCount;
  stats.layoutBytes = m_layout ? m_layout->size_bytes() : 0;
  return stats;
}

}  // namespace mask_engine
