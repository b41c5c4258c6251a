#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host/host_object.h"
#include "orv/tracer.h"

namespace host {

/// A tracer that keeps the submitted lines with their levels. It accepts
/// levels up to a threshold and can be told to refuse enlarging a line.
class CapturingTracer final : public HostObject<orv::ITracer> {
 public:
  struct Line {
    uint32_t level;
    std::string text;
  };

  explicit CapturingTracer(uint32_t threshold = 1000) : m_threshold(threshold) {}

  orv::result_t BeginLine(uint32_t level, orv::TraceRecord* record, uint32_t size) override;
  void SubmitLine(char* buffer, uint32_t length) override;

  void SetThreshold(uint32_t threshold) { m_threshold = threshold; }
  void SetRefuseEnlarge(bool refuse) { m_refuseEnlarge = refuse; }
  /// Calls `observer` with every submitted line, on the submitting thread and
  /// outside the tracer's lock, so a test can act at a chosen point of the
  /// engine's work. Set it before the engine runs.
  void SetObserver(std::function<void(const Line&)> observer) { m_observer = std::move(observer); }

  std::vector<Line> Lines() const;
  /// Lines at `level` only.
  std::vector<std::string> Texts(uint32_t level) const;
  /// Every line's text joined with '\n'.
  std::string All() const;
  void Clear();
  /// Number of BeginLine calls (begin and enlarge alike).
  uint32_t Calls() const { return m_calls; }
  /// Buffers handed out and not yet submitted.
  int OpenBuffers() const { return m_open; }

 private:
  mutable std::mutex m_lock;
  uint32_t m_threshold;
  bool m_refuseEnlarge = false;
  uint32_t m_calls = 0;
  int m_open = 0;
  std::vector<Line> m_lines;
  std::function<void(const Line&)> m_observer;
  // Level of each open buffer, to file the submitted line under.
  std::vector<std::pair<char*, uint32_t>> m_pending;
};

/// A tracer for the tools: writes each accepted line as the level, a space
/// and the text to a stream (stderr by default).
class StreamTracer final : public HostObject<orv::ITracer> {
 public:
  explicit StreamTracer(std::FILE* out = stderr, uint32_t threshold = 1000) : m_out(out), m_threshold(threshold) {}

  orv::result_t BeginLine(uint32_t level, orv::TraceRecord* record, uint32_t size) override;
  void SubmitLine(char* buffer, uint32_t length) override;

 private:
  std::mutex m_lock;
  std::FILE* m_out;
  const uint32_t m_threshold;
  std::vector<std::pair<char*, uint32_t>> m_pending;
};

}  // namespace host
