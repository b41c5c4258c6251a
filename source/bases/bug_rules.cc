#include "do_not_track/dnt_engine/bug_rules.h"

#include <stdexcept>

#include "orv/rtl/error_handling/exceptions.h"

namespace dnt {

namespace {

void CheckBugIndex(uint32_t bugIndex) {
  if (bugIndex & BugListFlag) throw orv::CheckFailedException("bug_rules", 23, u"The bug index is out of range");
}

}  // namespace

BugRules::BugRules(orv::ComPtr<orv::ITracer> tracer, bool withListTable)
    : m_tracer(std::move(tracer)), m_masks(mask_engine::MaskEngine::Create()), m_withListTable(withListTable) {}

mask_engine::AddMaskResult BugRules::AddToEngine(std::string_view mask) {
  if (mask.size() > UINT32_MAX) throw std::length_error("the mask is too long");
  return m_masks->AddMask(mask.data(), static_cast<uint32_t>(mask.size()));
}

void BugRules::AddMask(std::string_view mask, uint32_t bugIndex) {
  CheckBugIndex(bugIndex);
  // The value is pushed before the mask goes in, so that an allocation
  // failure never leaves a mask index without its value.
  m_values.push_back(bugIndex);
  if (!AddToEngine(mask).added) m_values.pop_back();
}

void BugRules::AddMaskList(std::string_view mask, std::span<const uint32_t> bugIndexes) {
  if (bugIndexes.empty()) throw orv::CheckFailedException("bug_rules", 165, u"The bug index list is empty");
  for (const uint32_t bugIndex : bugIndexes) CheckBugIndex(bugIndex);
  if (bugIndexes.size() == 1) {
    AddMask(mask, bugIndexes.front());
    return;
  }
  if (!m_withListTable) throw std::logic_error("this mask table holds no lists");
  const size_t position = m_listTable.size();
  if (position >= BugListFlag || bugIndexes.size() >= UINT32_MAX) throw std::length_error("the bug list table is full");
  m_values.push_back(BugListFlag | static_cast<uint32_t>(position));
  m_listTable.reserve(position + 1 + bugIndexes.size());
  if (!AddToEngine(mask).added) {
    m_values.pop_back();
    return;
  }
  m_listTable.push_back(static_cast<uint32_t>(bugIndexes.size()));
  m_listTable.insert(m_listTable.end(), bugIndexes.begin(), bugIndexes.end());
}

void BugRules::Finalize() {
  m_masks->Finalize();
  m_values.shrink_to_fit();
  m_listTable.shrink_to_fit();
}

void BugRules::Match(const char* text, uint32_t length, mask_engine::MatchScratch& scratch,
                     std::vector<uint32_t>& bugIndexes) const {
  bugIndexes.clear();
  // Most texts match nothing.
  const std::vector<mask_engine::MaskMatch>& matches = m_masks->Match(text, length, scratch);
  if (!matches.empty()) AppendValues(matches, bugIndexes);
}

void BugRules::AppendValues(const std::vector<mask_engine::MaskMatch>& matches,
                            std::vector<uint32_t>& bugIndexes) const {
  for (const mask_engine::MaskMatch& match : matches) {
    if (match.index >= m_values.size()) continue;
    const uint32_t value = m_values[static_cast<size_t>(match.index)];
    if ((value & BugListFlag) == 0) {
      bugIndexes.push_back(value);
      continue;
    }
    // AddMaskList wrote the count and its indexes together, so the list is
    // whole.
    const auto list = m_listTable.begin() + static_cast<std::ptrdiff_t>(value & ~BugListFlag);
    bugIndexes.insert(bugIndexes.end(), list + 1, list + 1 + static_cast<std::ptrdiff_t>(*list));
  }
}

size_t BugRules::MemoryBytes() const noexcept {
  const mask_engine::MaskEngineStats stats = m_masks->Stats();
  return (m_values.capacity() + m_listTable.capacity()) * sizeof(uint32_t) + stats.layoutBytes + stats.indexBytes;
}

}  // namespace dnt
