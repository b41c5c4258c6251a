// A progress line on standard error while a large input is read, for people
// watching a terminal; nothing at all otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace dnt_scan {

class ProgressLine {
 public:
  /// Shows progress only when `out` is a terminal; `total` is the input's
  /// size (0 when unknown).
  ProgressLine(std::FILE* out, uint64_t total);
  ~ProgressLine() { Clear(); }

  /// Redraws the line, at most a few times a second.
  void Update(uint64_t bytesRead, size_t requests);
  /// Removes the line.
  void Clear();

 private:
  std::FILE* m_out;
  bool m_enabled;
  bool m_shown = false;
  uint64_t m_total;
  std::chrono::steady_clock::time_point m_last{};
};

}  // namespace dnt_scan
