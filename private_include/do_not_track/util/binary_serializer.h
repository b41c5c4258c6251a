// Readers of the bug database's binary encoding: fixed little-endian
// integers, big-endian base-128 varints and length-prefixed blobs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orv/com_ptr.h"
#include "orv/io.h"

namespace dnt {

/// Reads one section of a host stream through a 4096-byte read-ahead buffer
/// and counts the bytes handed out, so the caller can compare the count with
/// the section's recorded size. It never seeks: the caller positions the
/// stream first and makes a fresh reader for every section.
class BinaryStreamReader {
 public:
  static constexpr uint32_t BufferSize = 4096;
  static constexpr uint64_t NoLimit = UINT64_MAX;

  /// `limit` is the most bytes the stream can still deliver from here on. It
  /// never stops a read by itself; it only refuses a blob length or a raw
  /// size that could not be satisfied, before anything is allocated for it.
  explicit BinaryStreamReader(orv::IIO* stream, uint64_t limit = NoLimit);
  // The cursor points into the buffer: a copy would read someone else's
  // bytes, a move keeps the buffer where it is.
  BinaryStreamReader(const BinaryStreamReader&) = delete;
  BinaryStreamReader& operator=(const BinaryStreamReader&) = delete;
  BinaryStreamReader(BinaryStreamReader&&) noexcept = default;

  uint32_t ReadFixed32();
  uint32_t ReadVarint32();
  /// Replaces `destination` with the next blob.
  void ReadBlob(std::vector<uint8_t>& destination);
  void ReadBlob(std::string& destination);
  /// Replaces `destination` with the next `size` raw bytes.
  void ReadBytes(std::vector<uint8_t>& destination, uint64_t size);
  /// Fills `size` bytes at `destination`.
  void ReadRaw(void* destination, uint64_t size);

  uint64_t Consumed() const noexcept { return m_consumed; }
  /// Bytes that may still be read, as far as the limit tells.
  uint64_t Remaining() const noexcept { return m_limit > m_consumed ? m_limit - m_consumed : 0; }

 private:
  uint8_t FetchByte();
  uint64_t ReadVarint(uint32_t maxBytes);
  /// Reads at least `minimum` and at most `size` bytes, in as many reads as
  /// the stream needs.
  uint32_t Refill(uint8_t* destination, uint32_t size, uint32_t minimum);
  void RequireAvailable(uint64_t size) const;

  std::vector<uint8_t> m_buffer;
  const uint8_t* m_cursor;
  const uint8_t* m_end;
  uint64_t m_consumed = 0;
  uint64_t m_limit;
  orv::ComPtr<orv::IIO> m_stream;
};

/// Reads a section already held in memory (not owned).
class ByteSpanReader {
 public:
  /// `sectionName` names the section in the end-of-data message.
  ByteSpanReader(const uint8_t* begin, const uint8_t* end, std::u16string sectionName = {});

  uint8_t ReadByte();
  uint32_t ReadVarint32();
  uint64_t ReadFixed64();
  bool AtEnd() const noexcept { return m_cursor == m_end; }

 private:
  const uint8_t* m_cursor;
  const uint8_t* m_end;
  std::u16string m_sectionName;
};

/// Bytes of the minimal varint form of `value` (1 to 5 for 32-bit values,
/// up to 10). The one writer of the form: the bases writer uses it too.
uint32_t VarintSize(uint64_t value) noexcept;
/// Writes the minimal varint of `value` at `destination` and returns the
/// position after it; the caller reserved VarintSize(value) bytes.
uint8_t* WriteVarint(uint8_t* destination, uint64_t value) noexcept;

}  // namespace dnt
