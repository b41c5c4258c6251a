// The host's trace service: one line per event, each with a level.
#pragma once

#include "orv/object.h"

namespace orv {

class ITracer;

/// One open trace line: the buffer the tracer set, and the tracer that owns it.
/// A null buffer means nothing is written.
struct TraceRecord {
  char* buffer = nullptr;
  ITracer* tracer = nullptr;
};

namespace trace_level {
inline constexpr uint32_t Failure = 300;
inline constexpr uint32_t Irregularity = 500;
inline constexpr uint32_t Milestone = 700;
inline constexpr uint32_t Routine = 800;
/// Passed in place of a level to enlarge the buffer of an open line.
inline constexpr uint32_t Enlarge = 1000;
}  // namespace trace_level

inline constexpr uint32_t TraceLineInitialSize = 512;

class ITracer : public IObject {
 public:
  static constexpr iid_t iid = 0x6ef3329b;
  /// Begins a line at `level` with a buffer of `size` bytes (result 0 and a
  /// non-null buffer mean the level is enabled), or, with level
  /// trace_level::Enlarge, enlarges the open line's buffer to at least `size`
  /// bytes keeping its text. On a failed enlarge the line is cut off.
  virtual result_t BeginLine(uint32_t level, TraceRecord* record, uint32_t size) = 0;
  /// Submits `length` bytes of the line; the tracer takes the buffer back.
  virtual void SubmitLine(char* buffer, uint32_t length) = 0;

 protected:
  ~ITracer() = default;
};

}  // namespace orv
