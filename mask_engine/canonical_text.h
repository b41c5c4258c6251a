// The canonical form of a URL or domain that masks are matched against:
// host (lowercase, without trailing dots and one leading "www.") followed by
// the rest up to the fragment, with percent escapes decoded and bytes outside
// printable ASCII written as "%u00hh".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <span>
#include <string_view>
#include <vector>

#include "mask_engine/text_anchors.h"

namespace mask_engine {

/// Where the host and the rest lie in a raw URL.
struct UrlParts {
  size_t hostBegin = 0;
  size_t hostEnd = 0;
  size_t restBegin = 0;
};

class CanonicalText {
 public:
  /// Rebuilds the text from `length` bytes of `text`, reusing its buffers.
  /// The views below point into a copy, which keeps LiteralHash::kPadding
  /// readable bytes before them and eight after them.
  void Build(const char* text, uint32_t length);
  /// The same, always writing the text out byte by byte: what Build's
  /// in-place shortcut is held against.
  void BuildInBuffer(const char* text, uint32_t length);

  /// Whether `text` is what was built last.
  bool Holds(const char* text, uint32_t length) const {
    return m_built && length == m_rawLength && (length == 0 || std::memcmp(text, Raw(), length) == 0);
  }
  /// Whether a buffer has grown past `bytes`.
  bool HoldsMoreThan(size_t bytes) const { return m_raw.capacity() > bytes || m_buffer.capacity() > bytes; }

  std::string_view Host() const { return View(m_begin, m_hostEnd); }
  std::string_view Rest() const { return View(m_hostEnd, m_end); }
  std::string_view Whole() const { return View(m_begin, m_end); }
  /// Where Whole() holds a '.' or a '/', ascending; the host's come first.
  std::span<const uint32_t> Separators() const { return {m_separators.data(), m_separatorCount}; }
  std::span<const uint32_t> HostSeparators() const { return Separators().first(m_hostSeparators); }
  /// Whether the host holds a '/' (a bracketed or percent-encoded one).
  bool HostHasSlash() const { return m_hostHasSlash; }

 private:
  std::string_view View(size_t from, size_t to) const { return std::string_view(m_base + from, to - from); }
  const char* Raw() const { return m_raw.data() + LiteralHash::kPadding; }
  std::string_view CopyRaw(const char* text, uint32_t length);
  void ReserveSeparators(size_t rawLength);
  bool ScanInPlace(std::string_view raw);
  void CopyIntoBuffer(std::string_view raw);
  size_t Append(size_t at, std::string_view bytes);
  void Finish();

  // The text last built, after LiteralHash::kPadding bytes and before a
  // stop byte (0) that ends the in-place scan.
  std::vector<char> m_raw;
  size_t m_rawLength = 0;
  bool m_built = false;
  // The text is [m_begin, m_end) of m_base: the raw copy, or the buffer,
  // sized for the longest text seen.
  const char* m_base = nullptr;
  std::string m_buffer;
  size_t m_begin = 0;
  size_t m_hostEnd = 0;
  size_t m_end = 0;
  bool m_hostHasSlash = false;
  // Each separator comes from at least one raw byte, so the raw length
  // bounds their number; positions past 4 GiB never get read (Prepare
  // refuses such texts).
  std::vector<uint32_t> m_separators;
  size_t m_separatorCount = 0;
  size_t m_hostSeparators = 0;
};

/// Splits leniently: optional "scheme:" and slashes, optional user
/// information up to '@', the host (bracketed or up to ':', '/', '?', '#'),
/// an ignored port; the rest starts at the next '/', '?' or '#'.
UrlParts SplitUrl(std::string_view text);

}  // namespace mask_engine
