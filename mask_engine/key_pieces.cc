#include "mask_engine/key_pieces.h"

#include "mask_engine/mask_symbols.h"

namespace mask_engine {

namespace {

uint32_t PieceCount(std::span<const uint32_t> part) {
  uint32_t count = 1;
  for (const uint32_t symbol : part) count += symbol == kAnyRunSymbol;
  return count;
}

void AppendPieceEntry(uint32_t offset, uint8_t length, std::vector<uint8_t>& bytes) {
  bytes.resize(bytes.size() + Pieces::kEntryBytes);
  WritePieceEntry(&bytes[bytes.size() - Pieces::kEntryBytes], offset, length);
}

// The entries of a part's pieces, whose bytes start at `offset`; returns
// where the next part's bytes start.
uint32_t AppendEntries(std::span<const uint32_t> part, uint32_t offset, std::vector<uint8_t>& bytes) {
  uint8_t length = 0;
  for (const uint32_t symbol : part) {
    if (symbol != kAnyRunSymbol) {
      ++length;
      continue;
    }
    AppendPieceEntry(offset, length, bytes);
    offset += length;
    length = 0;
  }
  AppendPieceEntry(offset, length, bytes);
  return offset + length;
}

void AppendPieceBytes(std::span<const uint32_t> part, std::vector<uint8_t>& bytes, std::vector<uint8_t>& anyChars) {
  for (const uint32_t symbol : part) {
    if (symbol == kAnyRunSymbol) continue;
    bytes.push_back(static_cast<uint8_t>(symbol & 0xFF));
    anyChars.push_back(symbol == kAnyCharSymbol);
  }
}

}  // namespace

void WritePieces(std::span<const uint32_t> head, std::span<const uint32_t> tail, std::vector<uint8_t>& bytes,
                 std::vector<uint8_t>& anyChars) {
  const size_t from = bytes.size();
  const uint32_t headCount = PieceCount(head);
  const uint32_t tailCount = PieceCount(tail);
  bytes.push_back(static_cast<uint8_t>(headCount));
  bytes.push_back(static_cast<uint8_t>(tailCount));
  const auto piecesAt = static_cast<uint32_t>(from + 2 + Pieces::kEntryBytes * (headCount + tailCount));
  AppendEntries(tail, AppendEntries(head, piecesAt, bytes), bytes);
  anyChars.resize(anyChars.size() + bytes.size() - from, 0);
  AppendPieceBytes(head, bytes, anyChars);
  AppendPieceBytes(tail, bytes, anyChars);
}

}  // namespace mask_engine
