// POSIX implementation of the file platform layer.
//
// Where Windows behaviour cannot be reproduced: paths are joined with '/'
// (name masks still treat '\' and '/' alike); listings come in readdir order,
// which is not the alphabetical order NTFS gives; a symbolic link stands in
// for a reparse point and is a directory when its target is one.
#include "orv/system/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace orv::system {
namespace {

// The listing error is reported in Windows numbering so that callers apply
// the same Win32-error-to-result conversion on every platform.
uint32_t ToWindowsError(int error) {
  switch (error) {
    case ENOENT:
      return file_error::PathNotFound;
    case ENOTDIR:
      return file_error::Directory;
    case EACCES:
    case EPERM:
      return file_error::AccessDenied;
    case ENOMEM:
      return file_error::NotEnoughMemory;
    case EMFILE:
    case ENFILE:
      return file_error::TooManyOpenFiles;
    default:
      return file_error::GenFailure;
  }
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

void ClassifyEntry(const std::string& directory, const dirent& raw, DirectoryEntry& entry) {
  unsigned char type = raw.d_type;
  const std::string path = JoinPath(directory, entry.name);
  struct stat info {};
  if (type == DT_UNKNOWN && lstat(path.c_str(), &info) == 0) {
    type = S_ISLNK(info.st_mode) ? DT_LNK : S_ISDIR(info.st_mode) ? DT_DIR : DT_REG;
  }
  if (type == DT_LNK) {
    entry.isReparsePoint = true;
    entry.isDirectory = stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  } else {
    entry.isDirectory = type == DT_DIR;
  }
}

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

uint32_t ListDirectory(const std::string& directory, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  std::unique_ptr<DIR, DirCloser> dir(opendir(directory.c_str()));
  if (!dir) return ToWindowsError(errno);
  // As with find-next on Windows, a failure after the first entry ends the
  // listing rather than failing it.
  while (const dirent* raw = readdir(dir.get())) {
    DirectoryEntry entry;
    entry.name = raw->d_name;
    ClassifyEntry(directory, *raw, entry);
    entries.push_back(std::move(entry));
  }
  return file_error::None;
}

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

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  path += name;
  return path;
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

ReadOnlyFile::~ReadOnlyFile() {
  if (m_fd >= 0) close(m_fd);
}

bool ReadOnlyFile::Open(const std::string& path) {
  if (m_fd >= 0) close(m_fd);
  // Non-blocking so that opening a FIFO cannot wait for a writer; only
  // regular files are accepted, so reads never block either.
  m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (m_fd < 0) return false;
  struct stat info {};
  if (fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(m_fd);
    m_fd = -1;
    return false;
  }
  return true;
}

bool ReadOnlyFile::GetSize(uint64_t& size) const {
  struct stat info {};
  if (m_fd < 0 || fstat(m_fd, &info) != 0 || info.st_size < 0) return false;
  size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool ReadOnlyFile::SeekToStart() {
  return m_fd >= 0 && lseek(m_fd, 0, SEEK_SET) == 0;
}

std::size_t ReadOnlyFile::Read(void* destination, std::size_t count) {
  if (m_fd < 0) return 0;
  auto* out = static_cast<unsigned char*>(destination);
  std::size_t total = 0;
  while (total < count) {
    const ssize_t got = read(m_fd, out + total, count - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  return total;
}

}  // namespace orv::system
