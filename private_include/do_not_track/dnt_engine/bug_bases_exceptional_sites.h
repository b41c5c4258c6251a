// Partner and incompatible site lists: kept as the raw bytes of their stream
// and decoded only when the host asks for them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "orv/com_ptr.h"
#include "orv/tracer.h"

namespace dnt {

class ExceptionalSites {
 public:
  explicit ExceptionalSites(orv::ComPtr<orv::ITracer> tracer) : m_tracer(std::move(tracer)) {}

  /// Keeps the stream's bytes and record count as read from the file.
  void Assign(std::vector<uint8_t> bytes, uint32_t count);
  /// Walks every record and throws its error (orv::RuntimeError,
  /// std::out_of_range) when the bytes do not hold exactly `count` records.
  void Validate() const;
  /// Replaces `sites` with the decoded names, or throws and leaves it alone;
  /// a name that is not UTF-8 throws orv::CheckResultFailedException
  /// with the invalid-argument code.
  void Enumerate(std::vector<std::u16string>& sites) const;

  uint32_t Count() const noexcept { return m_count; }
  const std::vector<uint8_t>& Bytes() const noexcept { return m_bytes; }

 private:
  /// Calls `visit` with every record's text, in file order.
  template <class Visit>
  void Walk(Visit&& visit) const;

  orv::ComPtr<orv::ITracer> m_tracer;
  std::vector<uint8_t> m_bytes;
  uint32_t m_count = 0;
};

}  // namespace dnt
