// Helpers shared by the base-file tests: a scratch directory, packed files
// and the outcome of a call that is expected to throw.
#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "orv/com_ptr.h"
#include "orv/io.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/text/utf.h"
#include "squeeze/container_writer.h"
#include "tests/support/temp_dir.h"

namespace base_files_test {

namespace fs = std::filesystem;

using dnt::testing::TempDir;

inline std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
inline std::vector<uint8_t> Packed(const std::string& content) {
  return squeeze::PackContainer(Bytes(content), "record");
}

/// Everything a stream delivers from its start.
inline std::string ReadAll(orv::IIO* stream) {
  if (orv::Failed(stream->Seek(orv::seek_origin::Begin, 0, nullptr))) return "<seek failed>";
  std::string out;
  char buffer[7];  // odd size: content crosses read boundaries
  for (;;) {
    uint32_t got = 0;
    if (orv::Failed(stream->Read(buffer, sizeof buffer, &got))) return "<read failed>";
    if (got == 0) return out;
    out.append(buffer, got);
  }
}

/// What a call threw: the location, the result code and the message.
struct Failure {
  std::string file;
  orv::result_t code = 0;
  std::string message;
};

inline Failure FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const orv::CheckResultFailedException& e) {
    return {e.File(), orv::GetResultCode(e), orv::text::ToUtf8(e.WideMessage())};
  } catch (const std::runtime_error& e) {
    return {"runtime_error", 0, e.what()};
  }
  return {"no error", 0, ""};
}

}  // namespace base_files_test
