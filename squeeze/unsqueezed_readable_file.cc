#include "squeeze/unsqueezed_readable_file.h"

#include <algorithm>
#include <cstring>

#include "squeeze/container_reader.h"
#include "squeeze/whole_file.h"

namespace squeeze {

std::shared_ptr<UnsqueezedReadableFile> UnsqueezedReadableFile::Open(const std::string& path) {
  // The packed bytes go out of scope here, once unpacked.
  std::vector<uint8_t> content = UnpackContainer(ReadWholeFile(path));
  return std::make_shared<UnsqueezedReadableFile>(std::move(content));
}

UnsqueezedReadableFile::UnsqueezedReadableFile(std::vector<uint8_t> content) : m_content(std::move(content)) {}

uint64_t UnsqueezedReadableFile::Seek(uint64_t position) {
  m_position = position;
  return m_position;
}

std::size_t UnsqueezedReadableFile::Read(void* destination, std::size_t count) {
  if (m_position >= m_content.size()) return 0;
  const auto start = static_cast<std::size_t>(m_position);
  const std::size_t copied = std::min(count, m_content.size() - start);
  if (copied != 0) std::memcpy(destination, m_content.data() + start, copied);
  m_position += copied;
  return copied;
}

}  // namespace squeeze
