// Arbitrary bytes as a script base file: the record walk and the
// registration protocol must turn every input into a result code.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "do_not_track/dnt_engine/script_bases.h"
#include "host/capturing_tracer.h"
#include "host/memory_io.h"

namespace {

// Base scripts are trusted code with the full standard library, and Lua 5.2
// has no verifier for binary chunks; keep the fuzzer to text scripts that
// cannot reach the file system, the process or the debug library.
bool IsOutOfScope(std::string_view bytes) {
  if (bytes.find('\x1b') != std::string_view::npos) return true;
  for (std::string_view word : {"os", "io", "debug", "package", "require", "load", "dofile", "string.rep"})
    if (bytes.find(word) != std::string_view::npos) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (IsOutOfScope(std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
  auto tracer = host::MakeHostObject<host::CapturingTracer>();
  auto file = host::MakeHostObject<host::MemoryIO>(std::vector<uint8_t>(data, data + size));
  dnt::ScriptBases bases(tracer);
  orv::ComPtr<orv::IIO> files[] = {orv::ComPtr<orv::IIO>(file.Get())};
  bases.Load(files);
  return 0;
}
