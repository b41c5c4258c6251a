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

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  path += name;
  return path;
}

ReadOnlyFile::~ReadOnlyFile() {
  if (m_handle >= 0) close(m_handle);
}

bool ReadOnlyFile::Open(const std::string& path) {
  if (m_handle >= 0) close(m_handle);
  // Non-blocking so that opening a FIFO cannot wait for a writer; only
  // regular files are accepted, so reads never block either.
  m_handle = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (m_handle < 0) return false;
  struct stat info {};
  if (fstat(m_handle, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(m_handle);
    m_handle = -1;
    return false;
  }
  return true;
}

bool ReadOnlyFile::GetSize(uint64_t& size) const {
  struct stat info {};
  if (m_handle < 0 || fstat(m_handle, &info) != 0 || info.st_size < 0) return false;
  size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool ReadOnlyFile::SeekToStart() {
  return m_handle >= 0 && lseek(m_handle, 0, SEEK_SET) == 0;
}

std::size_t ReadOnlyFile::Read(void* destination, std::size_t count) {
  if (m_handle < 0) return 0;
  auto* out = static_cast<unsigned char*>(destination);
  std::size_t total = 0;
  while (total < count) {
    const ssize_t got = read(m_handle, out + total, count - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  return total;
}

}  // namespace orv::system
