#include "source/scripting/http_cookies.h"

#include <algorithm>

namespace dnt {
namespace {

bool IsBlank(char c) noexcept { return static_cast<unsigned char>(c) <= 32; }

std::size_t SkipBlanks(std::string_view text, std::size_t at) noexcept {
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at;
}

std::string_view TrimTrailingBlanks(std::string_view text) noexcept {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The end of the quoted value opening at `at` (just past its closing quote),
// or the end of the text when it is never closed.
std::size_t QuotedEnd(std::string_view text, std::size_t at, bool& closed) noexcept {
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;  // a final backslash just ends the text
    } else if (text[i] == '"') {
      closed = true;
      return i + 1;
    }
  }
  closed = false;
  return text.size();
}

std::size_t NextSemicolon(std::string_view text, std::size_t at) noexcept {
  const std::size_t semicolon = text.find(';', at);
  return semicolon == std::string_view::npos ? text.size() : semicolon;
}

}  // namespace

std::vector<CookiePair> ParseCookies(std::string_view text) {
  std::vector<CookiePair> pairs;
  std::size_t at = SkipBlanks(text, 0);
  while (at < text.size()) {
    const std::size_t nameEnd = std::min(text.find_first_of(";=", at), text.size());
    const std::string_view name = TrimTrailingBlanks(text.substr(at, nameEnd - at));
    if (nameEnd == text.size() || text[nameEnd] == ';') {
      at = SkipBlanks(text, nameEnd + 1);
      continue;
    }
    const std::size_t valueStart = SkipBlanks(text, nameEnd + 1);
    CookiePair pair{name, {}};
    std::size_t itemEnd = 0;
    if (valueStart < text.size() && text[valueStart] == '"') {
      bool closed = false;
      const std::size_t valueEnd = QuotedEnd(text, valueStart, closed);
      pair.value = text.substr(valueStart, valueEnd - valueStart);
      pair.openQuote = !closed;
      itemEnd = NextSemicolon(text, valueEnd);
    } else {
      itemEnd = NextSemicolon(text, valueStart);
      pair.value = TrimTrailingBlanks(text.substr(valueStart, itemEnd - std::min(valueStart, itemEnd)));
    }
    pairs.push_back(pair);
    at = SkipBlanks(text, itemEnd + 1);
  }
  return pairs;
}

}  // namespace dnt
