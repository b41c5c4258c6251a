// The canonical form of a URL or domain that masks are matched against:
// host (lowercase, without trailing dots and one leading "www.") followed by
// the rest up to the fragment, with percent escapes decoded and bytes outside
// printable ASCII written as "%u00hh".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <span>
#include <string_view>
#include <vector>

namespace mask_engine {

/// Where the host and the rest lie in a raw URL.
struct UrlParts {
  size_t hostBegin = 0;
  size_t hostEnd = 0;
  size_t restBegin = 0;
};

class CanonicalText {
 public:
  /// Rebuilds the text from `length` bytes of `text`; reuses its buffer.
  /// When `text` already holds the canonical form in one piece, as most URLs
  /// do, the views below point into it, so it must outlive their use.
  void Build(const char* text, uint32_t length);

  std::string_view Host() const { return View(m_begin, m_hostEnd); }
  std::string_view Rest() const { return View(m_hostEnd, m_end); }
  std::string_view Whole() const { return View(m_begin, m_end); }
  /// Where Whole() holds a '.' or a '/', ascending; the host's come first.
  std::span<const size_t> Separators() const { return m_separators; }
  std::span<const size_t> HostSeparators() const { return Separators().first(m_hostSeparators); }

 private:
  std::string_view View(size_t from, size_t to) const { return std::string_view(m_base + from, to - from); }
  bool UseInPlace(std::string_view raw, const UrlParts& parts);
  size_t Append(size_t at, std::string_view bytes);
  void Finish();

  // The text is [m_begin, m_end) of m_base: the caller's text, or the
  // buffer, sized for the longest text seen.
  const char* m_base = nullptr;
  std::string m_buffer;
  size_t m_begin = 0;
  size_t m_hostEnd = 0;
  size_t m_end = 0;
  std::vector<size_t> m_separators;
  size_t m_hostSeparators = 0;
};

/// Splits leniently: optional "scheme:" and slashes, optional user
/// information up to '@', the host (bracketed or up to ':', '/', '?', '#'),
/// an ignored port; the rest starts at the next '/', '?' or '#'.
UrlParts SplitUrl(std::string_view text);

}  // namespace mask_engine
