// The unpacked content of a packed base file, read from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace squeeze {

/// Immutable content with a read position; not safe for concurrent use.
class UnsqueezedReadableFile {
 public:
  /// Reads the SQZE container at `path` whole and unpacks it. Throws
  /// std::runtime_error: "Failed to open file [" + path + "]", "Failed to
  /// move to the beginning of the file", "Failed to read the file" or
  /// "Failed to unpack the file".
  static std::shared_ptr<UnsqueezedReadableFile> Open(const std::string& path);

  explicit UnsqueezedReadableFile(std::vector<uint8_t> content);

  uint64_t Size() const { return m_content.size(); }
  /// Sets the position (which may lie past the end) and returns it.
  uint64_t Seek(uint64_t position);
  /// Copies up to `count` bytes from the position and advances it; returns
  /// the number copied, 0 at or past the end.
  std::size_t Read(void* destination, std::size_t count);

 private:
  std::vector<uint8_t> m_content;
  uint64_t m_position = 0;
};

}  // namespace squeeze
