// Opening the scanner's input: a file or standard input, read in chunks
// whose progress can be watched, in the format it is written in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "tools/dnt_scan/traffic.h"

namespace dnt_scan {

enum class TrafficFormat { Auto, Har, JsonLines };

/// A stream buffer over a C stream that counts the bytes it has read and
/// can show the start of the input before anything is consumed.
class ChunkedInput final : public std::streambuf {
 public:
  /// Called with the bytes read so far after each chunk.
  using Progress = std::function<void(uint64_t bytesRead)>;

  explicit ChunkedInput(std::FILE* file, Progress progress = {});

  /// Up to `size` bytes from the current position, not consumed.
  std::string_view Peek(size_t size);
  uint64_t BytesRead() const { return m_bytesRead; }

 protected:
  int_type underflow() override;

 private:
  static constexpr size_t ChunkSize = 64 * 1024;

  std::FILE* m_file;
  Progress m_progress;
  std::vector<char> m_buffer;
  uint64_t m_bytesRead = 0;
};

/// The format of an input named `name` whose first bytes are `start`: by
/// the name's extension (.har; .jsonl, .ndjson), otherwise JSON Lines when
/// the first line is a whole JSON object that is not a HAR's.
TrafficFormat DetectFormat(const std::string& name, std::string_view start);

/// Reads `input` in `format` (Auto: DetectFormat) and gives it to `sink`;
/// returns the format read. Throws InputError.
TrafficFormat ReadTraffic(ChunkedInput& input, const std::string& name, TrafficFormat format, TrafficSink& sink);

/// A C stream for `path` ("-" is standard input), closed by the deleter.
/// Throws InputError when the file cannot be opened.
std::unique_ptr<std::FILE, int (*)(std::FILE*)> OpenInputFile(const std::string& path);

/// The input's size in bytes, or 0 when it is not a regular file.
uint64_t InputSize(const std::string& path);

}  // namespace dnt_scan
