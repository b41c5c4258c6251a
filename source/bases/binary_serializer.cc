#include "do_not_track/util/binary_serializer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "orv/rtl/error_handling/exceptions.h"

namespace dnt {

namespace {

constexpr uint32_t Varint32MaxBytes = 5;
constexpr uint32_t BlobLengthMaxBytes = 10;
// The largest single read handed to the host stream, whose size is 32-bit.
constexpr uint64_t MaxDirectRead = 0x80000000u;

[[noreturn]] void ThrowOutOfData() { throw std::out_of_range("out of serialized data"); }
[[noreturn]] void ThrowScalarOutOfRange() { throw std::out_of_range("serialized scalar is out of range"); }

}  // namespace

BinaryStreamReader::BinaryStreamReader(orv::IIO* stream, uint64_t limit)
    : m_buffer(BufferSize), m_cursor(m_buffer.data()), m_end(m_buffer.data()), m_limit(limit), m_stream(stream) {}

uint32_t BinaryStreamReader::Refill(uint8_t* destination, uint32_t size, uint32_t minimum) {
  // A stream may deliver less than it was asked for at any time (a pipe, a
  // decompressor); only a read of nothing means the data has ended.
  uint32_t filled = 0;
  while (filled < minimum) {
    uint32_t read = 0;
    const orv::result_t code = m_stream->Read(destination + filled, size - filled, &read);
    if (orv::Failed(code)) throw orv::CheckResultFailedException("binary_serializer", 92, code, u"failed to fetch serialized data");
    // A stream that claims more than it was asked for is treated as short.
    if (read == 0 || read > size - filled) ThrowOutOfData();
    filled += read;
  }
  return filled;
}

uint8_t BinaryStreamReader::FetchByte() {
  if (m_cursor == m_end) {
    const uint32_t read = Refill(m_buffer.data(), BufferSize, 1);
    m_cursor = m_buffer.data();
    m_end = m_cursor + read;
  }
  return *m_cursor++;
}

uint64_t BinaryStreamReader::ReadVarint(uint32_t maxBytes) {
  uint64_t value = 0;
  for (uint32_t k = 1;; ++k) {
    if (k > maxBytes) ThrowScalarOutOfRange();
    const uint8_t byte = FetchByte();
    ++m_consumed;
    value = (value << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) return value;
  }
}

uint32_t BinaryStreamReader::ReadVarint32() {
  // Bits pushed beyond bit 31 are dropped, as 32-bit accumulation would.
  return static_cast<uint32_t>(ReadVarint(Varint32MaxBytes));
}

uint32_t BinaryStreamReader::ReadFixed32() {
  uint32_t value = 0;
  for (uint32_t shift = 0; shift < 32; shift += 8) value |= static_cast<uint32_t>(FetchByte()) << shift;
  m_consumed += 4;
  return value;
}

void BinaryStreamReader::RequireAvailable(uint64_t size) const {
  if (size > Remaining()) ThrowOutOfData();
}

void BinaryStreamReader::ReadRaw(void* destination, uint64_t size) {
  if (size == 0) return;
  auto* out = static_cast<uint8_t*>(destination);
  if (m_cursor == m_end) {
    const uint32_t read = Refill(m_buffer.data(), BufferSize, 1);
    m_cursor = m_buffer.data();
    m_end = m_cursor + read;
  }
  const uint64_t fromBuffer = std::min<uint64_t>(size, static_cast<uint64_t>(m_end - m_cursor));
  std::memcpy(out, m_cursor, fromBuffer);
  m_cursor += fromBuffer;
  uint64_t missing = size - fromBuffer;
  out += fromBuffer;
  if (missing > 0 && missing < BufferSize) {
    const auto need = static_cast<uint32_t>(missing);
    const uint32_t read = Refill(m_buffer.data(), BufferSize, need);
    std::memcpy(out, m_buffer.data(), need);
    m_cursor = m_buffer.data() + need;
    m_end = m_buffer.data() + read;
  } else {
    while (missing > 0) {
      const auto chunk = static_cast<uint32_t>(std::min(missing, MaxDirectRead));
      Refill(out, chunk, chunk);
      out += chunk;
      missing -= chunk;
    }
  }
  m_consumed += size;
}

void BinaryStreamReader::ReadBytes(std::vector<uint8_t>& destination, uint64_t size) {
  RequireAvailable(size);
  destination.resize(static_cast<size_t>(size));
  ReadRaw(destination.data(), size);
}

void BinaryStreamReader::ReadBlob(std::vector<uint8_t>& destination) {
  ReadBytes(destination, ReadVarint(BlobLengthMaxBytes));
}

void BinaryStreamReader::ReadBlob(std::string& destination) {
  const uint64_t length = ReadVarint(BlobLengthMaxBytes);
  RequireAvailable(length);
  destination.resize(static_cast<size_t>(length));
  ReadRaw(destination.data(), length);
}

ByteSpanReader::ByteSpanReader(const uint8_t* begin, const uint8_t* end, std::u16string sectionName)
    : m_cursor(begin), m_end(end), m_sectionName(std::move(sectionName)) {}

uint8_t ByteSpanReader::ReadByte() {
  if (m_cursor == m_end) {
    std::u16string message = u"Unexpected end of the ";
    if (!m_sectionName.empty()) message += m_sectionName + u" ";
    message += u"stream";
    throw orv::RuntimeError("bug_bases", 114, std::move(message));
  }
  return *m_cursor++;
}

uint32_t ByteSpanReader::ReadVarint32() {
  uint32_t value = 0;
  for (uint32_t k = 1;; ++k) {
    if (k > Varint32MaxBytes) ThrowScalarOutOfRange();
    const uint8_t byte = ReadByte();
    value = (value << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) return value;
  }
}

uint64_t ByteSpanReader::ReadFixed64() {
  uint64_t value = 0;
  for (uint32_t shift = 0; shift < 64; shift += 8) value |= static_cast<uint64_t>(ReadByte()) << shift;
  return value;
}

uint32_t VarintSize(uint64_t value) noexcept {
  uint32_t size = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++size;
  }
  return size;
}

uint8_t* WriteVarint(uint8_t* destination, uint64_t value) noexcept {
  const uint32_t size = VarintSize(value);
  uint8_t* p = destination + size;
  *--p = static_cast<uint8_t>(value & 0x7F);
  while (p != destination) {
    value >>= 7;
    *--p = static_cast<uint8_t>(0x80 | (value & 0x7F));
  }
  return destination + size;
}

}  // namespace dnt
