#include "orv/trace/trace_stream.h"

#include <algorithm>
#include <cstring>

#include "orv/text/utf.h"

namespace orv {

TraceStream::TraceStream(ITracer* tracer, uint32_t level) noexcept {
  if (!tracer) return;
  TraceRecord record{nullptr, tracer};
  if (Failed(tracer->BeginLine(level, &record, TraceLineInitialSize)) || !record.buffer) return;
  m_record = record;
  m_record.tracer = tracer;
  m_buffer = record.buffer;
}

void TraceStream::End() noexcept {
  if (!m_record.buffer) return;
  ITracer* tracer = m_record.tracer;
  char* buffer = m_record.buffer;
  m_record = TraceRecord{};
  m_buffer = nullptr;
  tracer->SubmitLine(buffer, m_length);
}

uint32_t TraceStream::GrownCapacity(uint32_t capacity, size_t needed) noexcept {
  if (needed > UINT32_MAX) return 0;
  // Doubling a capacity above 2 GiB leaves 32 bits: the largest line the
  // tracer's sizes can express is the most a line grows to.
  return static_cast<uint32_t>(std::min<size_t>(std::max<size_t>(needed, size_t{capacity} * 2), UINT32_MAX));
}

bool TraceStream::Reserve(size_t n) noexcept {
  if (!m_buffer) return false;
  if (n > UINT32_MAX - m_length) return false;  // beyond any line: the item is dropped
  const size_t needed = size_t{m_length} + n;
  if (needed <= m_capacity) return true;
  // Once an enlarge has failed the capacity is 0 and the line stays cut off.
  if (m_capacity == 0) return false;
  const uint32_t newSize = GrownCapacity(m_capacity, needed);
  if (Failed(m_record.tracer->BeginLine(trace_level::Enlarge, &m_record, newSize)) || !m_record.buffer) {
    m_length = 0;
    m_capacity = 0;
    return false;
  }
  m_buffer = m_record.buffer;
  m_capacity = newSize;
  return true;
}

void TraceStream::Append(const char* data, size_t length) noexcept {
  if (length == 0 || !Reserve(length)) return;
  std::memcpy(m_buffer + m_length, data, length);
  m_length += static_cast<uint32_t>(length);
}

void TraceStream::WriteFill(size_t count) noexcept {
  if (count == 0 || !Reserve(count)) return;
  std::memset(m_buffer + m_length, m_fill, count);
  m_length += static_cast<uint32_t>(count);
}

void TraceStream::WriteItem(const char* prefix, size_t prefixLength, const char* item, size_t length) noexcept {
  if (!m_buffer) return;
  size_t padding = m_width > prefixLength + length ? m_width - prefixLength - length : 0;
  uint32_t adjust = m_flags & AdjustMask;
  if (adjust != Left && adjust != Internal) WriteFill(padding);
  Append(prefix, prefixLength);
  if (adjust == Internal) WriteFill(padding);
  Append(item, length);
  if (adjust == Left) WriteFill(padding);
  m_width = 0;
}

TraceStream& TraceStream::Write(const char* text, size_t length) noexcept {
  WriteItem(nullptr, 0, text, length);
  return *this;
}

TraceStream& TraceStream::operator<<(const char* text) noexcept {
  if (!text) text = "(null)";
  return Write(text, std::strlen(text));
}

void TraceStream::WriteInteger(bool negative, uint64_t magnitude) noexcept {
  if (!m_buffer) return;
  unsigned base = 10;
  if ((m_flags & BaseMask) == Oct) base = 8;
  if ((m_flags & BaseMask) == Hex) base = 16;
  char digits[24];
  char* end = digits + sizeof digits;
  char* p = end;
  do {
    *--p = "0123456789abcdef"[magnitude % base];
    magnitude /= base;
  } while (magnitude);
  const char* prefix = "";
  if (base == 10 && negative) prefix = "-";
  if ((m_flags & ShowBase) && base == 16) prefix = "0x";
  if ((m_flags & ShowBase) && base == 8) prefix = "0";
  WriteItem(prefix, std::strlen(prefix), p, static_cast<size_t>(end - p));
}

TraceStream& TraceStream::WriteSigned(int64_t value) noexcept {
  // Only decimal shows a sign; other bases show the two's complement bits.
  bool decimal = (m_flags & BaseMask) != Oct && (m_flags & BaseMask) != Hex;
  if (decimal && value < 0)
    WriteInteger(true, uint64_t{0} - static_cast<uint64_t>(value));
  else
    WriteInteger(false, static_cast<uint64_t>(value));
  return *this;
}

TraceStream& TraceStream::WriteUnsigned(uint64_t value) noexcept {
  WriteInteger(false, value);
  return *this;
}

TraceStream& TraceStream::WritePointer(const void* p) noexcept {
  if (!m_buffer) return *this;
  char digits[20];
  char* end = digits + sizeof digits;
  char* q = end;
  auto v = reinterpret_cast<uintptr_t>(p);
  do {
    *--q = "0123456789abcdef"[v % 16];
    v /= 16;
  } while (v);
  WriteItem("0x", 2, q, static_cast<size_t>(end - q));
  return *this;
}

TraceStream& TraceStream::WriteWide(std::u16string_view text) noexcept {
  if (!m_buffer) return *this;
  try {
    std::string utf8 = text::ToUtf8(text);
    WriteItem(nullptr, 0, utf8.data(), utf8.size());
  } catch (...) {
    // Out of memory while converting: the item is dropped like a refused enlarge.
  }
  return *this;
}

TraceStream& hex(TraceStream& s) noexcept {
  s.setf(TraceStream::Hex, TraceStream::BaseMask);
  return s;
}
TraceStream& dec(TraceStream& s) noexcept {
  s.setf(TraceStream::Dec, TraceStream::BaseMask);
  return s;
}
TraceStream& oct(TraceStream& s) noexcept {
  s.setf(TraceStream::Oct, TraceStream::BaseMask);
  return s;
}
TraceStream& showbase(TraceStream& s) noexcept {
  s.setf(TraceStream::ShowBase, TraceStream::ShowBase);
  return s;
}
TraceStream& noshowbase(TraceStream& s) noexcept {
  s.setf(0, TraceStream::ShowBase);
  return s;
}
TraceStream& left(TraceStream& s) noexcept {
  s.setf(TraceStream::Left, TraceStream::AdjustMask);
  return s;
}
TraceStream& right(TraceStream& s) noexcept {
  s.setf(TraceStream::Right, TraceStream::AdjustMask);
  return s;
}
TraceStream& internal(TraceStream& s) noexcept {
  s.setf(TraceStream::Internal, TraceStream::AdjustMask);
  return s;
}

}  // namespace orv
