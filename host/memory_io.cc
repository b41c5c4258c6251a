#include "host/memory_io.h"

#include <algorithm>
#include <cstring>

namespace host {

using namespace orv;

result_t MemoryIO::Read(void* destination, uint32_t size, uint32_t* read) {
  ++m_readCalls;
  if (read) *read = 0;
  if (m_position >= m_failFrom) return m_failCode;
  uint64_t available = m_position < m_bytes.size() ? m_bytes.size() - m_position : 0;
  auto n = static_cast<uint32_t>(std::min<uint64_t>({available, size, m_maxRead}));
  if (n) std::memcpy(destination, m_bytes.data() + m_position, n);
  m_position += n;
  if (read) *read = n;
  return result::NoError;
}

result_t MemoryIO::Seek(uint32_t origin, int64_t offset, uint64_t* newPosition) {
  if (Failed(m_seekFailure)) return m_seekFailure;
  int64_t base = origin == seek_origin::Begin ? 0
                 : origin == seek_origin::Current ? static_cast<int64_t>(m_position)
                 : origin == seek_origin::End     ? static_cast<int64_t>(m_bytes.size())
                                                  : -1;
  if (base < 0 || base + offset < 0) return result::InvalidArgument;
  m_position = static_cast<uint64_t>(base + offset);
  if (newPosition) *newPosition = m_position;
  return result::NoError;
}

result_t MemoryIO::GetSize(uint64_t* size) {
  if (!size) return result::InvalidArgument;
  *size = m_bytes.size();
  return result::NoError;
}

}  // namespace host
