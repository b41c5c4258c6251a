#include "tests/mask_engine/reference_matcher.h"

#include <algorithm>

#include "mask_engine/canonical_text.h"
#include "mask_engine/mask_keys.h"
#include "mask_engine/mask_symbols.h"

namespace mask_engine::testing {

std::string Pick(std::mt19937& rng, const std::vector<std::string>& pieces, int minLen, int maxLen) {
  std::string out;
  const int len = minLen + static_cast<int>(rng() % static_cast<unsigned>(maxLen - minLen + 1));
  for (int i = 0; i < len; ++i) out += pieces[rng() % pieces.size()];
  return out;
}

std::vector<uint64_t> Indexes(const std::vector<MaskMatch>& matches, bool sorted) {
  std::vector<uint64_t> ids;
  for (const MaskMatch& m : matches) ids.push_back(m.index);
  if (sorted) std::sort(ids.begin(), ids.end());
  return ids;
}

int CountRoutes(const std::vector<uint16_t>& key, std::string_view text, int cap) {
  // ways[j]: routes matching key[i..] against text[j..], built from the end.
  const size_t n = text.size();
  std::vector<int> ways(n + 1, 0);
  ways[n] = 1;
  std::vector<int> next(n + 1);
  for (size_t i = key.size(); i-- > 0;) {
    const uint16_t symbol = key[i];
    next[n] = symbol == kKeyAnyRun ? ways[n] : 0;
    for (size_t j = n; j-- > 0;) {
      if (symbol == kKeyAnyRun) {
        next[j] = std::min(cap, ways[j] + next[j + 1]);
      } else if (symbol == kKeyAnyChar || symbol == (kKeyLiteral | static_cast<unsigned char>(text[j]))) {
        next[j] = ways[j + 1];
      } else {
        next[j] = 0;
      }
    }
    ways.swap(next);
  }
  return ways[0];
}

bool ReferenceMasks::Add(const std::string& mask) {
  std::vector<std::vector<uint16_t>> keys = EffectiveKeys(mask.data(), static_cast<uint32_t>(mask.size()));
  if (keys.empty()) return false;
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::erase_if(keys, [&](const std::vector<uint16_t>& key) { return !m_allKeys.insert(key).second; });
  std::vector<uint32_t> symbols;
  ParseMaskSymbols(mask.data(), static_cast<uint32_t>(mask.size()), symbols);
  m_masks.push_back(mask);
  m_compiled.push_back(Mask{std::move(keys), ComputeDomainFlag(symbols)});
  return true;
}

std::vector<uint64_t> ReferenceMasks::Match(std::string_view url, int countCap) const {
  CanonicalText canonical;
  canonical.Build(url.data(), static_cast<uint32_t>(url.size()));
  std::vector<uint64_t> ids;
  for (size_t i = 0; i < m_compiled.size(); ++i) {
    // Host masks end where the host ends; the others at the end of the text.
    const std::string_view text = m_compiled[i].domainFlag ? canonical.Host() : canonical.Whole();
    for (const auto& key : m_compiled[i].keys) {
      ids.insert(ids.end(), static_cast<size_t>(CountRoutes(key, text, countCap)), i);
    }
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

}  // namespace mask_engine::testing
