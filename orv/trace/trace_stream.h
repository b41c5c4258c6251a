// The trace line writer. A line is opened only when the tracer accepts its
// level; every write on a closed stream does nothing, so callers may format
// unconditionally or test the stream first to skip costly arguments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "orv/tracer.h"

namespace orv {

class TraceStream {
 public:
  enum Flags : uint32_t {
    ShowBase = 0x8,
    Left = 0x40,
    Right = 0x80,
    Internal = 0x100,
    AdjustMask = 0x1c0,
    Dec = 0x200,
    Oct = 0x400,
    Hex = 0x800,
    BaseMask = 0xe00,
    SkipWhite = 0x1,
  };

  /// Opens a line at `level` when `tracer` accepts it.
  TraceStream(ITracer* tracer, uint32_t level) noexcept;
  ~TraceStream() { End(); }
  TraceStream(const TraceStream&) = delete;
  TraceStream& operator=(const TraceStream&) = delete;

  bool IsOpen() const noexcept { return m_record.buffer != nullptr; }
  explicit operator bool() const noexcept { return IsOpen(); }

  /// Hands the line to the tracer; later writes do nothing.
  void End() noexcept;

  TraceStream& Write(const char* text, size_t length) noexcept;
  TraceStream& WriteChar(char c) noexcept { return Write(&c, 1); }
  TraceStream& WriteSigned(int64_t value) noexcept;
  TraceStream& WriteUnsigned(uint64_t value) noexcept;
  /// "0x" and lower-case hex digits without leading zeros ("0x0" for null).
  TraceStream& WritePointer(const void* p) noexcept;
  /// UTF-16 written as UTF-8.
  TraceStream& WriteWide(std::u16string_view text) noexcept;

  /// What a line of `capacity` bytes grows to when it needs `needed`: twice
  /// its capacity or what it needs, whichever is larger, at most 4 GiB - 1;
  /// 0 when `needed` is beyond that.
  static uint32_t GrownCapacity(uint32_t capacity, size_t needed) noexcept;

  uint32_t flags() const noexcept { return m_flags; }
  void setf(uint32_t flags, uint32_t mask) noexcept { m_flags = (m_flags & ~mask) | (flags & mask); }
  void width(uint32_t w) noexcept { m_width = w; }
  void fill(char c) noexcept { m_fill = c; }
  uint32_t precision() const noexcept { return m_precision; }

  TraceStream& operator<<(std::string_view text) noexcept { return Write(text.data(), text.size()); }
  TraceStream& operator<<(const char* text) noexcept;
  TraceStream& operator<<(const std::string& text) noexcept { return Write(text.data(), text.size()); }
  TraceStream& operator<<(std::u16string_view text) noexcept { return WriteWide(text); }
  TraceStream& operator<<(const std::u16string& text) noexcept { return WriteWide(text); }
  TraceStream& operator<<(char c) noexcept { return WriteChar(c); }
  TraceStream& operator<<(bool b) noexcept { return WriteUnsigned(b ? 1 : 0); }
  TraceStream& operator<<(const void* p) noexcept { return WritePointer(p); }
  template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>)
  TraceStream& operator<<(T value) noexcept {
    if constexpr (std::is_signed_v<T>)
      return WriteSigned(value);
    else
      return WriteUnsigned(value);
  }
  TraceStream& operator<<(TraceStream& (*manipulator)(TraceStream&)) noexcept { return manipulator(*this); }

 private:
  void WriteItem(const char* prefix, size_t prefixLength, const char* item, size_t length) noexcept;
  void Append(const char* data, size_t length) noexcept;
  bool Reserve(size_t n) noexcept;
  void WriteFill(size_t count) noexcept;
  void WriteInteger(bool negative, uint64_t magnitude) noexcept;

  TraceRecord m_record;
  char* m_buffer = nullptr;
  uint32_t m_capacity = TraceLineInitialSize;
  uint32_t m_length = 0;
  uint32_t m_flags = SkipWhite | Dec;
  uint32_t m_precision = 6;
  uint32_t m_width = 0;
  char m_fill = ' ';
};

// Manipulators.
TraceStream& hex(TraceStream& s) noexcept;
TraceStream& dec(TraceStream& s) noexcept;
TraceStream& oct(TraceStream& s) noexcept;
TraceStream& showbase(TraceStream& s) noexcept;
TraceStream& noshowbase(TraceStream& s) noexcept;
TraceStream& left(TraceStream& s) noexcept;
TraceStream& right(TraceStream& s) noexcept;
TraceStream& internal(TraceStream& s) noexcept;

/// Width manipulator: `s << setw(8)`.
struct setw {
  constexpr explicit setw(uint32_t width) noexcept : value(width) {}
  uint32_t value;
};
inline TraceStream& operator<<(TraceStream& s, setw w) noexcept {
  s.width(w.value);
  return s;
}
struct setfill {
  constexpr explicit setfill(char fill) noexcept : value(fill) {}
  char value;
};
inline TraceStream& operator<<(TraceStream& s, setfill f) noexcept {
  s.fill(f.value);
  return s;
}

/// The common prefix of object operations: "[", the address, "]".
struct ObjectPrefix {
  const void* object;
};
inline TraceStream& operator<<(TraceStream& s, ObjectPrefix p) noexcept {
  return s.WriteChar('[').WritePointer(p.object).WriteChar(']');
}

}  // namespace orv
