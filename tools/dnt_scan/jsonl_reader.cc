#include "tools/dnt_scan/jsonl_reader.h"

#include <nlohmann/json.hpp>

#include "tools/dnt_scan/entry_reader.h"

namespace dnt_scan {
namespace {

// Reads one line into `line`; false at the end of the input. A line longer
// than MaxLineLength is consumed but not kept: `tooLong` is set.
bool ReadLine(std::istream& in, std::string& line, bool& tooLong) {
  line.clear();
  tooLong = false;
  std::streambuf& buffer = *in.rdbuf();
  int c = buffer.sbumpc();
  if (c == std::char_traits<char>::eof()) return false;
  for (; c != std::char_traits<char>::eof() && c != '\n'; c = buffer.sbumpc()) {
    if (line.size() < MaxLineLength) {
      line.push_back(static_cast<char>(c));
    } else {
      tooLong = true;
    }
  }
  return true;
}

bool IsBlank(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

}  // namespace

void ReadJsonLines(std::istream& in, const std::string& defaultPage, TrafficSink& sink) {
  std::string line;
  bool tooLong = false;
  bool first = true;
  for (size_t number = 1; ReadLine(in, line, tooLong); ++number) {
    if (!tooLong && IsBlank(line)) continue;
    const nlohmann::json value = tooLong ? nlohmann::json() : nlohmann::json::parse(line, nullptr, false);
    if (first && !value.is_object()) {
      throw InputError("line " + std::to_string(number) + ": not JSON Lines of requests (" +
                       (tooLong ? "the line is too long" : "not a JSON object") + ")");
    }
    first = false;
    if (tooLong) {
      sink.Problem({number, "the line is longer than " + std::to_string(MaxLineLength) + " bytes"});
    } else if (value.is_discarded()) {
      sink.Problem({number, "not JSON"});
    } else {
      try {
        sink.Entry(ReadJsonLinesEntry(value, number, defaultPage));
      } catch (const EntryProblem& problem) {
        sink.Problem({number, problem.what()});
      }
    }
  }
}

}  // namespace dnt_scan
