// Platform layer for base files on disk: directory listing, name masks and
// whole-file reading. One implementation file per platform sits beside this
// header (files_posix.cc, files_win.cc); files.cc holds what they share.
//
// Names and paths are UTF-8 std::string on POSIX; a Windows implementation
// converts to UTF-16 at its own boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv::system {

/// Error numbers in Windows numbering, whatever the platform, so callers can
/// turn them into result codes with one conversion.
namespace file_error {
inline constexpr uint32_t None = 0;
inline constexpr uint32_t PathNotFound = 3;      // ERROR_PATH_NOT_FOUND
inline constexpr uint32_t TooManyOpenFiles = 4;  // ERROR_TOO_MANY_OPEN_FILES
inline constexpr uint32_t AccessDenied = 5;      // ERROR_ACCESS_DENIED
inline constexpr uint32_t NotEnoughMemory = 8;   // ERROR_NOT_ENOUGH_MEMORY
inline constexpr uint32_t GenFailure = 31;       // ERROR_GEN_FAILURE
inline constexpr uint32_t Directory = 267;       // ERROR_DIRECTORY
}  // namespace file_error

/// One entry of a directory listing.
struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;
  /// A symbolic link (a reparse point on Windows).
  bool isReparsePoint = false;
};

/// Lists `directory` in the order the platform returns its entries (no
/// sorting; "." and ".." included where the platform reports them).
/// Returns file_error::None, or the error that prevented the listing from
/// starting; `entries` is cleared first either way.
uint32_t ListDirectory(const std::string& directory, std::vector<DirectoryEntry>& entries);

/// Case-insensitive (ASCII letters) match of a whole name against a mask:
/// '?' is exactly one character, '*' any run of characters including none,
/// '\' and '/' are the same character. Characters are UTF-8 code points;
/// a byte that is not valid UTF-8 counts as one character.
bool MatchesMask(std::string_view name, std::string_view mask);

/// `directory` + separator + `name`; no separator is added when the
/// directory is empty or already ends with '/' or '\'.
std::string JoinPath(std::string_view directory, std::string_view name);

/// Full paths of the entries of `directory` whose names match `mask` and
/// which are not directories (a directory that is also a link is kept), in
/// listing order. Returns file_error::None or the listing's start error.
uint32_t EnumerateFiles(const std::string& directory, std::string_view mask,
                        std::vector<std::string>& paths);

/// A file opened for reading. Each step reports its own failure so callers
/// can tell opening, positioning and reading apart.
class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  /// Opens a regular file; false for anything else (missing, a directory,
  /// a pipe or device that could block or never end).
  bool Open(const std::string& path);
  /// The file's size in bytes; false when it cannot be taken.
  bool GetSize(uint64_t& size) const;
  bool SeekToStart();
  /// Reads up to `count` bytes, retrying short reads; returns the number
  /// read, which is below `count` only at the end of the file or on error.
  std::size_t Read(void* destination, std::size_t count);

 private:
  /// A file descriptor, or a Windows file handle; -1 when closed (which is
  /// INVALID_HANDLE_VALUE too).
  intptr_t m_handle = -1;
};

}  // namespace orv::system
