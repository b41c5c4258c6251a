#pragma once

#include <cstdint>
#include <vector>

#include "host/host_object.h"
#include "orv/io.h"

namespace host {

/// A readable stream over bytes in memory. Faults can be injected: a read
/// failure code, a cap on the bytes one read delivers, or a failing seek.
class MemoryIO final : public HostObject<orv::IIO> {
 public:
  explicit MemoryIO(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

  orv::result_t Read(void* destination, uint32_t size, uint32_t* read) override;
  orv::result_t Write(const void*, uint32_t, uint32_t*) override { return orv::result::NotImplemented; }
  orv::result_t Seek(uint32_t origin, int64_t offset, uint64_t* newPosition) override;
  orv::result_t GetSize(uint64_t* size) override;
  orv::result_t SetSize(uint64_t) override { return orv::result::NotImplemented; }
  orv::result_t Flush() override { return orv::result::NotImplemented; }

  /// Reads that start at or after `offset` fail with `code`.
  void FailReadsFrom(uint64_t offset, orv::result_t code) {
    m_failFrom = offset;
    m_failCode = code;
  }
  /// Each read delivers at most `n` bytes (a short-reading stream).
  void LimitReadSize(uint32_t n) { m_maxRead = n; }
  void FailSeeks(orv::result_t code) { m_seekFailure = code; }
  uint32_t ReadCalls() const { return m_readCalls; }

 private:
  std::vector<uint8_t> m_bytes;
  uint64_t m_position = 0;
  uint64_t m_failFrom = UINT64_MAX;
  orv::result_t m_failCode = orv::result::UnspecifiedError;
  uint32_t m_maxRead = UINT32_MAX;
  orv::result_t m_seekFailure = orv::result::NoError;
  uint32_t m_readCalls = 0;
};

}  // namespace host
