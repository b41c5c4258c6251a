// The engine's failure lines, kept per thread so that a failed call can name
// them, and its milestone lines, which tell which bases it loaded. The
// engine creates no threads: it traces on the thread that called it, so the
// lines a thread finds are those of its own calls, whatever other threads do
// meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_object.h"
#include "orv/tracer.h"

namespace module_host {

class FailureLines final : public host::HostObject<orv::ITracer> {
 public:
  struct Line {
    uint32_t level = 0;
    std::string text;
  };

  /// Accepts failure and milestone lines only; every other level is
  /// refused at once.
  orv::result_t BeginLine(uint32_t level, orv::TraceRecord* record, uint32_t size) override;
  void SubmitLine(char* buffer, uint32_t length) override;

  /// The calling thread's lines since the last Take, which it forgets.
  static std::vector<Line> Take();
};

}  // namespace module_host
