#include "tools/module_host/failure_lines.h"

#include <cstdlib>
#include <utility>

namespace module_host {
namespace {

thread_local std::vector<FailureLines::Line> t_lines;
// The level of the line the thread is writing: a thread writes one at a time.
thread_local uint32_t t_level = 0;

}  // namespace

orv::result_t FailureLines::BeginLine(uint32_t level, orv::TraceRecord* record, uint32_t size) {
  if (!record) return orv::result::InvalidArgument;
  if (level > orv::trace_level::Failure && level != orv::trace_level::Milestone && level != orv::trace_level::Enlarge) {
    return orv::result::TraceLevelProhibited;
  }
  // An enlarge grows the buffer this tracer handed out for the open line.
  void* buffer = std::realloc(level == orv::trace_level::Enlarge ? record->buffer : nullptr, size);
  if (!buffer) return orv::result::OutOfMemory;
  record->buffer = static_cast<char*>(buffer);
  if (level != orv::trace_level::Enlarge) t_level = level;
  return orv::result::NoError;
}

void FailureLines::SubmitLine(char* buffer, uint32_t length) {
  try {
    t_lines.push_back({t_level, std::string(buffer, length)});
  } catch (...) {
    // A line that cannot be kept is lost; the failed call is still reported.
  }
  std::free(buffer);
}

std::vector<FailureLines::Line> FailureLines::Take() { return std::exchange(t_lines, {}); }

}  // namespace module_host
