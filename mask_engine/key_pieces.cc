#include "mask_engine/key_pieces.h"

#include "mask_engine/mask_symbols.h"

namespace mask_engine {

namespace {

uint32_t PieceCount(std::span<const uint32_t> part) {
  uint32_t count = 1;
  for (const uint32_t symbol : part) count += symbol == kAnyRunSymbol;
  return count;
}

void AppendLengths(std::span<const uint32_t> part, std::vector<uint8_t>& bytes) {
  uint8_t length = 0;
  for (const uint32_t symbol : part) {
    if (symbol != kAnyRunSymbol) {
      ++length;
      continue;
    }
    bytes.push_back(length);
    length = 0;
  }
  bytes.push_back(length);
}

void AppendPieceBytes(std::span<const uint32_t> part, std::vector<uint8_t>& bytes, std::vector<uint8_t>& anyChars) {
  for (const uint32_t symbol : part) {
    if (symbol == kAnyRunSymbol) continue;
    bytes.push_back(static_cast<uint8_t>(symbol & 0xFF));
    anyChars.push_back(symbol == kAnyCharSymbol);
  }
}

}  // namespace

void Pieces::Offsets(uint32_t (&out)[kMaxCount]) const {
  uint32_t at = offset;
  for (uint32_t i = 0; i < count; ++i) {
    out[i] = at;
    at += lengths[i];
  }
}

PiecedKey ReadPiecedKey(const uint8_t* literal, uint32_t literalLength) {
  const uint8_t* description = literal + literalLength;
  PiecedKey key;
  key.head.count = description[0];
  key.tail.count = description[1];
  key.head.lengths = description + 2;
  key.tail.lengths = key.head.lengths + key.head.count;
  key.head.offset = literalLength + 2 + key.head.count + key.tail.count;
  key.tail.offset = key.head.offset;
  for (uint32_t i = 0; i < key.head.count; ++i) key.tail.offset += key.head.lengths[i];
  return key;
}

void WritePieces(std::span<const uint32_t> head, std::span<const uint32_t> tail, std::vector<uint8_t>& bytes,
                 std::vector<uint8_t>& anyChars) {
  const size_t from = bytes.size();
  bytes.push_back(static_cast<uint8_t>(PieceCount(head)));
  bytes.push_back(static_cast<uint8_t>(PieceCount(tail)));
  AppendLengths(head, bytes);
  AppendLengths(tail, bytes);
  anyChars.resize(anyChars.size() + bytes.size() - from, 0);
  AppendPieceBytes(head, bytes, anyChars);
  AppendPieceBytes(tail, bytes, anyChars);
}

}  // namespace mask_engine
