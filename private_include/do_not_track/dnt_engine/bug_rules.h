// A mask table: masks compiled into one mask engine, and the value stored
// for each mask index (a bug index, or for exceptions a list of them).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "mask_engine/mask_engine.h"
#include "orv/com_ptr.h"
#include "orv/tracer.h"

namespace dnt {

/// Bit 31 of a stored value marks a list: the low 31 bits are the position in
/// the list table of a count K followed by K bug indexes.
inline constexpr uint32_t BugListFlag = 0x80000000u;

class BugRules {
 public:
  /// `withListTable`: whether AddMaskList may store lists (exceptions only).
  BugRules(orv::ComPtr<orv::ITracer> tracer, bool withListTable);

  /// Room for `masks` more values.
  void Reserve(size_t masks) { m_values.reserve(m_values.size() + masks); }
  /// Stores `bugIndex` for `mask`. A mask that the engine does not add (an
  /// empty one) stores nothing. Throws orv::CheckFailedException "The bug
  /// index is out of range" for an index with bit 31 set.
  void AddMask(std::string_view mask, uint32_t bugIndex);
  /// Stores a list of bug indexes for `mask` (a single index is stored
  /// plainly). Throws orv::CheckFailedException "The bug index list is empty"
  /// for an empty list, and the index error above.
  void AddMaskList(std::string_view mask, std::span<const uint32_t> bugIndexes);
  /// Compiles the masks and trims the tables; call once after the last add.
  void Finalize();

  const std::vector<uint32_t>& Values() const noexcept { return m_values; }
  const std::vector<uint32_t>& ListTable() const noexcept { return m_listTable; }
  const mask_engine::MaskEngine& Masks() const noexcept { return *m_masks; }

  /// Replaces `bugIndexes` with the bug indexes of every match of `text` in
  /// matcher order, a list value replaced in place by the indexes of its
  /// list. Calls may run at once, each with a scratch of its own.
  void Match(const char* text, uint32_t length, mask_engine::MatchScratch& scratch,
             std::vector<uint32_t>& bugIndexes) const;

  size_t MemoryBytes() const noexcept;

 private:
  mask_engine::AddMaskResult AddToEngine(std::string_view mask);
  void AppendValues(const std::vector<mask_engine::MaskMatch>& matches, std::vector<uint32_t>& bugIndexes) const;

  orv::ComPtr<orv::ITracer> m_tracer;
  std::vector<uint32_t> m_values;
  std::shared_ptr<mask_engine::MaskEngine> m_masks;
  bool m_withListTable;
  std::vector<uint32_t> m_listTable;
};

}  // namespace dnt
