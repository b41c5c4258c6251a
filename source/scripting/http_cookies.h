// The Cookie field as scripts see it: name/value pairs in text order.
#pragma once

#include <string_view>
#include <vector>

namespace dnt {

struct CookiePair {
  std::string_view name;
  std::string_view value;  ///< a quoted value keeps its quotes
  /// The value opened a double quote that the text never closed: it runs to
  /// the end of the text.
  bool openQuote = false;
};

/// Splits a Cookie field value into pairs, views into `text`. Items without
/// "=" are dropped; blanks (bytes 0-32) around names and values are cut; a
/// double-quoted value runs to its closing quote (a backslash escapes the
/// next byte) and whatever follows it up to the next ";" is ignored.
std::vector<CookiePair> ParseCookies(std::string_view text);

}  // namespace dnt
