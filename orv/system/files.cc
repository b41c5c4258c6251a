// The platform-independent part of the file layer: name masks and the
// filtering of a listing.
#include "orv/system/files.h"

namespace orv::system {
namespace {

// A character of a name or mask, folded for comparison. Bytes that are not
// valid UTF-8 get values above the Unicode range so they only match themselves.
using Folded = std::u32string;

char32_t FoldCharacter(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c - U'A' + U'a';
  if (c == U'\\') return U'/';
  return c;
}

Folded DecodeFolded(std::string_view text) {
  Folded out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
                                                              : (lead >> 3) == 0x1E ? 4 : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      out.push_back(0x110000 + lead);
      ++i;
      continue;
    }
    out.push_back(FoldCharacter(c));
    i += length;
  }
  return out;
}

}  // namespace

bool MatchesMask(std::string_view nameText, std::string_view maskText) {
  const Folded name = DecodeFolded(nameText);
  const Folded mask = DecodeFolded(maskText);
  // Greedy match with one back-track point: the last '*' seen only ever
  // needs to swallow one more character, so this stays O(name * mask).
  constexpr std::size_t none = static_cast<std::size_t>(-1);
  std::size_t n = 0, m = 0, starMask = none, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == U'*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && (mask[m] == U'?' || mask[m] == name[n])) {
      ++m;
      ++n;
    } else if (starMask != none) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == U'*') ++m;
  return m == mask.size();
}

uint32_t EnumerateFiles(const std::string& directory, std::string_view mask,
                        std::vector<std::string>& paths) {
  paths.clear();
  std::vector<DirectoryEntry> entries;
  if (const uint32_t error = ListDirectory(directory, entries); error != file_error::None) {
    return error;
  }
  for (const DirectoryEntry& entry : entries) {
    const bool isPlainDirectory = entry.isDirectory && !entry.isReparsePoint;
    if (!isPlainDirectory && MatchesMask(entry.name, mask)) {
      paths.push_back(JoinPath(directory, entry.name));
    }
  }
  return file_error::None;
}

}  // namespace orv::system
