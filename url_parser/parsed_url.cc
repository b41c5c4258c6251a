#include "url_parser/parsed_url.h"

#include <algorithm>

namespace orv::network {

std::string_view ParsedUrl::Part(UrlPart part) const noexcept {
  const PartRange& range = m_parts[Index(part)];
  const std::string* source = range.inReplacement ? ReplacementText(part) : &m_text;
  return std::string_view(*source).substr(range.begin, range.end - range.begin);
}

std::string_view ParsedUrl::UserInformation() const noexcept {
  const PartRange& user = m_parts[Index(UrlPart::User)];
  const PartRange& password = m_parts[Index(UrlPart::Password)];
  if (user.begin == user.end && password.begin == password.end) return {};
  // The parser keeps both ranges ordered, so the span covers the ':' too.
  const std::size_t end = std::max(user.end, password.end);
  return std::string_view(m_text).substr(user.begin, end - user.begin);
}

void ParsedUrl::SetHost(std::string_view host) { Replace(UrlPart::Host, m_hostText, host); }
void ParsedUrl::SetPort(std::string_view port) { Replace(UrlPart::Port, m_portText, port); }
void ParsedUrl::SetPath(std::string_view path) { Replace(UrlPart::Path, m_pathText, path); }
void ParsedUrl::SetQuery(std::string_view query) { Replace(UrlPart::Query, m_queryText, query); }
void ParsedUrl::SetFragment(std::string_view fragment) {
  Replace(UrlPart::Fragment, m_fragmentText, fragment);
}

void ParsedUrl::EraseHost() noexcept { m_parts[Index(UrlPart::Host)] = PartRange{}; }

const std::string* ParsedUrl::ReplacementText(UrlPart part) const noexcept {
  switch (part) {
    case UrlPart::Host: return &m_hostText;
    case UrlPart::Port: return &m_portText;
    case UrlPart::Path: return &m_pathText;
    case UrlPart::Query: return &m_queryText;
    case UrlPart::Fragment: return &m_fragmentText;
    default: return &m_text;
  }
}

void ParsedUrl::Replace(UrlPart part, std::string& storage, std::string_view value) {
  // Assign first: if it throws, the part still refers to its old text.
  storage.assign(value);
  m_parts[Index(part)] = PartRange{0, storage.size(), true};
}

}  // namespace orv::network
