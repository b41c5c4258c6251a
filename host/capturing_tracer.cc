#include "host/capturing_tracer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace host {

using namespace orv;

namespace {

// Shared buffer handling of both tracers: begin allocates, enlarge grows in
// place of the same record, submit frees.
result_t BeginOrEnlarge(std::vector<std::pair<char*, uint32_t>>& pending, uint32_t level, TraceRecord* record,
                        uint32_t size, bool refuseEnlarge) {
  if (level == trace_level::Enlarge) {
    auto it = std::find_if(pending.begin(), pending.end(), [&](auto& p) { return p.first == record->buffer; });
    if (refuseEnlarge || it == pending.end()) return result::OutOfMemory;
    char* grown = static_cast<char*>(std::realloc(record->buffer, size));
    if (!grown) return result::OutOfMemory;
    it->first = grown;
    record->buffer = grown;
    return result::NoError;
  }
  char* buffer = static_cast<char*>(std::malloc(size));
  if (!buffer) return result::OutOfMemory;
  pending.emplace_back(buffer, level);
  record->buffer = buffer;
  return result::NoError;
}

uint32_t TakePending(std::vector<std::pair<char*, uint32_t>>& pending, char* buffer) {
  auto it = std::find_if(pending.begin(), pending.end(), [&](auto& p) { return p.first == buffer; });
  if (it == pending.end()) return 0;
  uint32_t level = it->second;
  pending.erase(it);
  return level;
}

}  // namespace

result_t CapturingTracer::BeginLine(uint32_t level, TraceRecord* record, uint32_t size) {
  std::lock_guard lock(m_lock);
  ++m_calls;
  if (!record) return result::InvalidArgument;
  if (level != trace_level::Enlarge && level > m_threshold) return result::TraceLevelProhibited;
  result_t r = BeginOrEnlarge(m_pending, level, record, size, m_refuseEnlarge);
  if (Succeeded(r) && level != trace_level::Enlarge) ++m_open;
  return r;
}

void CapturingTracer::SubmitLine(char* buffer, uint32_t length) {
  Line line;
  {
    std::lock_guard lock(m_lock);
    line = Line{TakePending(m_pending, buffer), std::string(buffer, length)};
    m_lines.push_back(line);
    std::free(buffer);
    --m_open;
  }
  if (m_observer) m_observer(line);
}

std::vector<CapturingTracer::Line> CapturingTracer::Lines() const {
  std::lock_guard lock(m_lock);
  return m_lines;
}

std::vector<std::string> CapturingTracer::Texts(uint32_t level) const {
  std::lock_guard lock(m_lock);
  std::vector<std::string> out;
  for (const auto& line : m_lines)
    if (line.level == level) out.push_back(line.text);
  return out;
}

std::string CapturingTracer::All() const {
  std::lock_guard lock(m_lock);
  std::string out;
  for (const auto& line : m_lines) out += line.text + "\n";
  return out;
}

void CapturingTracer::Clear() {
  std::lock_guard lock(m_lock);
  m_lines.clear();
}

result_t StreamTracer::BeginLine(uint32_t level, TraceRecord* record, uint32_t size) {
  if (!record) return result::InvalidArgument;
  // Refused levels are the common case on busy threads: no lock for them.
  if (level != trace_level::Enlarge && level > m_threshold) return result::TraceLevelProhibited;
  std::lock_guard lock(m_lock);
  return BeginOrEnlarge(m_pending, level, record, size, false);
}

void StreamTracer::SubmitLine(char* buffer, uint32_t length) {
  std::lock_guard lock(m_lock);
  uint32_t level = TakePending(m_pending, buffer);
  std::fprintf(m_out, "%u %.*s\n", level, static_cast<int>(length), buffer);
  std::fflush(m_out);
  std::free(buffer);
}

}  // namespace host
