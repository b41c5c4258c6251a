#include "squeeze/whole_file.h"

#include <limits>
#include <stdexcept>

#include "orv/system/files.h"

namespace squeeze {

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  orv::system::ReadOnlyFile file;
  if (!file.Open(path)) throw std::runtime_error("Failed to open file [" + path + "]");
  uint64_t size = 0;
  if (!file.GetSize(size) || size > std::numeric_limits<std::size_t>::max() || !file.SeekToStart()) {
    throw std::runtime_error("Failed to move to the beginning of the file");
  }
  std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
  if (file.Read(bytes.data(), bytes.size()) != bytes.size()) throw std::runtime_error("Failed to read the file");
  return bytes;
}

}  // namespace squeeze
