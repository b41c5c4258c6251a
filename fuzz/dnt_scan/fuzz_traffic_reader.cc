// Any bytes as a HAR file and as JSON Lines: the readers either refuse the
// input as a whole or give entries and problems, each numbered in order,
// with the bounds they promise. Format detection reads the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "tools/dnt_scan/entry_reader.h"
#include "tools/dnt_scan/har_reader.h"
#include "tools/dnt_scan/jsonl_reader.h"
#include "tools/dnt_scan/traffic_input.h"

namespace {

using namespace dnt_scan;

void Require(bool condition) {
  if (!condition) std::abort();
}

// Checks each entry and problem as it arrives.
struct CheckingSink final : TrafficSink {
  void Page(PageInfo) override {}
  void Entry(TrafficEntry entry) override {
    Number(entry.number);
    Require(!entry.method.empty() && !entry.url.empty() && entry.url.size() <= MaxTextLength);
    Require(entry.notes.size() <= MaxNotes + 1);
    for (const HeaderField& field : entry.fields) {
      Require(!field.name.empty() && field.name[0] != ':' && field.value.size() <= MaxTextLength);
      Require(field.value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
    }
  }
  void Problem(InputProblem problem) override {
    Number(problem.number);
    Require(!problem.text.empty());
  }
  void Number(size_t number) {
    Require(number > last);
    last = number;
  }
  size_t last = 0;
};

template <class Read>
void Run(const std::string& text, Read read) {
  std::istringstream in(text);
  CheckingSink sink;
  try {
    read(in, "fuzz", sink);
  } catch (const InputError& e) {
    Require(*e.what() != '\0');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Run(text, ReadHar);
  Run(text, ReadJsonLines);
  DetectFormat("-", text);
  return 0;
}
