// Walking the lines of a list file.
#pragma once

#include <cstddef>
#include <string_view>

namespace list_import {

/// Calls `visit(number, line)` for every line of `text` (numbers from 1),
/// without its line break ("\n" or "\r\n") and without surrounding blanks.
template <class Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
  size_t number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const size_t first = line.find_first_not_of(" \t\r");
    line = first == std::string_view::npos ? std::string_view() : line.substr(first);
    line = line.substr(0, line.find_last_not_of(" \t\r") + 1);
    visit(++number, line);
  }
}

}  // namespace list_import
