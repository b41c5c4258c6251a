// A text in the form every engine matches against (canonical text and
// anchors), kept so that matching one text against several engines in a
// row (rules, then exceptions) does that work once.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "mask_engine/canonical_text.h"
#include "mask_engine/text_anchors.h"

namespace mask_engine {

class PreparedText {
 public:
  PreparedText() = default;
  PreparedText(const PreparedText&) = delete;
  PreparedText& operator=(const PreparedText&) = delete;

  /// Rebuilds everything unless `text` equals the text prepared last.
  /// Throws std::length_error when the canonical text exceeds 4 GiB.
  void Prepare(const char* text, uint32_t length);

  std::string_view Host() const { return m_canonical.Host(); }
  std::string_view Rest() const { return m_canonical.Rest(); }
  std::string_view Whole() const { return m_canonical.Whole(); }

  /// Start and dot anchors of the whole text and of the host alone.
  std::span<const TextAnchor> WholeLiterals() const { return m_wholeLiterals.Anchors(); }
  std::span<const TextAnchor> HostLiterals() const { return m_hostLiterals; }
  /// Whether the host is the whole text's first segment, so that its
  /// anchors are the whole text's that end within it.
  bool HostIsFirstSegment() const { return m_hostIsFirstSegment; }
  /// Where the whole text holds a '.' or a '/', ascending; the host's are
  /// those before its end.
  std::span<const uint32_t> WholeSeparators() const { return m_canonical.Separators(); }
  std::span<const uint32_t> HostSeparators() const { return m_hostSeparators; }

 private:
  void ReleaseBuffers();

  bool m_prepared = false;
  CanonicalText m_canonical;
  AnchorList m_wholeLiterals;
  AnchorList m_ownHostLiterals;
  std::span<const TextAnchor> m_hostLiterals;
  bool m_hostIsFirstSegment = false;
  std::span<const uint32_t> m_hostSeparators;
};

}  // namespace mask_engine
