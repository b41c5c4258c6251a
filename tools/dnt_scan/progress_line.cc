#include "tools/dnt_scan/progress_line.h"

#include <unistd.h>

namespace dnt_scan {
namespace {

constexpr auto Interval = std::chrono::milliseconds(200);
constexpr double Megabyte = 1024.0 * 1024.0;

}  // namespace

ProgressLine::ProgressLine(std::FILE* out, uint64_t total)
    : m_out(out), m_enabled(::isatty(::fileno(out)) == 1), m_total(total) {}

void ProgressLine::Update(uint64_t bytesRead, size_t requests) {
  if (!m_enabled) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - m_last < Interval) return;
  m_last = now;
  std::fprintf(m_out, "\rdnt-scan: %.1f", bytesRead / Megabyte);
  if (m_total) std::fprintf(m_out, " of %.1f MB (%d%%)", m_total / Megabyte, static_cast<int>(bytesRead * 100 / m_total));
  else std::fprintf(m_out, " MB");
  std::fprintf(m_out, " read, %zu requests\x1b[K", requests);
  std::fflush(m_out);
  m_shown = true;
}

void ProgressLine::Clear() {
  if (!m_shown) return;
  std::fprintf(m_out, "\r\x1b[K");
  std::fflush(m_out);
  m_shown = false;
}

}  // namespace dnt_scan
