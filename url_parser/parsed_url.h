#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "url_parser/url_syntax_error.h"

namespace orv::network {

// The eight parts of a URL, in model order.
enum class UrlPart : std::uint8_t { Scheme, User, Password, Host, Port, Path, Query, Fragment };
inline constexpr std::size_t kUrlPartCount = 8;

// Presence markers for delimiters whose part is empty: "@" with no user
// name, ":" with no password, "?" with no query, "#" with no fragment.
enum class UrlFlag : std::uint8_t { EmptyLogin, EmptyPassword, EmptyQuery, EmptyFragment };
inline constexpr std::size_t kUrlFlagCount = 4;

// A URL taken apart. Owns a copy of the parsed text and the texts that later
// replace the host, port, path, query or fragment; every part is an offset range
// into one of those strings, so copies and moves stay valid.
//
// Parts exclude their delimiters: the scheme has no ':', the port no ':',
// the path no leading '/', the query no '?', the fragment no '#'. An IPv6
// host keeps its brackets. Nothing is decoded or case-folded.
class ParsedUrl {
 public:
  // The empty URL; it serialises to "/".
  ParsedUrl() = default;

  // Takes `text` apart. Throws UrlSyntaxError on text the model cannot hold.
  static ParsedUrl Parse(std::string_view text);

  // Writes the URL back as text. Throws UrlSyntaxError when the parts and
  // flags contradict each other (for example after EraseHost on a URL with a
  // port, or a query set on a URL that was marked as having an empty one).
  std::string Serialise() const;

  // The text of one part; valid until the model is changed or destroyed.
  std::string_view Part(UrlPart part) const noexcept;

  // The user name, ':' and password as written (empty when absent).
  std::string_view UserInformation() const noexcept;

  // The text given to Parse, unchanged.
  const std::string& Text() const noexcept { return m_text; }

  bool Flag(UrlFlag flag) const noexcept { return m_flags[Index(flag)] != 0; }
  void SetFlag(UrlFlag flag, bool value) noexcept { m_flags[Index(flag)] = value ? 1 : 0; }

  // Replace a part with new text, taken as it is (no encoding). The path is
  // given without its leading '/'. Flags are left as they are.
  void SetHost(std::string_view host);
  void SetPort(std::string_view port);
  void SetPath(std::string_view path);
  void SetQuery(std::string_view query);
  void SetFragment(std::string_view fragment);

  // Drops the host; user information and port stay.
  void EraseHost() noexcept;

 private:
  friend class UrlParser;

  struct PartRange {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool inReplacement = false;  // into the part's own replacement text, not m_text
  };

  static constexpr std::size_t Index(UrlPart part) noexcept { return static_cast<std::size_t>(part); }
  static constexpr std::size_t Index(UrlFlag flag) noexcept { return static_cast<std::size_t>(flag); }

  const std::string* ReplacementText(UrlPart part) const noexcept;
  void Replace(UrlPart part, std::string& storage, std::string_view value);

  std::string m_text;
  std::string m_hostText;
  std::string m_portText;
  std::string m_pathText;
  std::string m_queryText;
  std::string m_fragmentText;
  std::array<PartRange, kUrlPartCount> m_parts{};
  std::array<std::uint8_t, kUrlFlagCount> m_flags{};
};

}  // namespace orv::network
