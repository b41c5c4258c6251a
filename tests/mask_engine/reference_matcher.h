// A slow, obviously correct matcher to hold the automaton against: every key
// of every mask is globbed against the canonical text on its own.
#pragma once

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mask_engine/mask_engine.h"

namespace mask_engine::testing {

/// minLen to maxLen pieces drawn from `pieces`, joined.
std::string Pick(std::mt19937& rng, const std::vector<std::string>& pieces, int minLen, int maxLen);

/// The mask indexes of `matches`, in the order reported or sorted.
std::vector<uint64_t> Indexes(const std::vector<MaskMatch>& matches, bool sorted = false);

/// Ways `key` (9-bit key symbols) matches all of `text`, counted up to `cap`:
/// one per way of splitting the text among the key's any-runs.
int CountRoutes(const std::vector<uint16_t>& key, std::string_view text, int cap);

/// Masks and their keys. A key that several masks have is the first one's,
/// as in the engine, so repeats and overlapping masks are reported once.
class ReferenceMasks {
 public:
  /// Accepts a mask unless it is empty; accepted masks get indexes 0, 1,
  /// 2 ..., as the engine gives them.
  bool Add(const std::string& mask);

  const std::vector<std::string>& Masks() const { return m_masks; }

  /// Sorted mask indexes the engine should report for `url`, repeats included.
  std::vector<uint64_t> Match(std::string_view url, int countCap) const;

 private:
  struct Mask {
    std::vector<std::vector<uint16_t>> keys;  // distinct, and no earlier mask's
    bool domainFlag;
  };
  std::vector<std::string> m_masks;
  std::vector<Mask> m_compiled;
  std::set<std::vector<uint16_t>> m_allKeys;
};

}  // namespace mask_engine::testing
