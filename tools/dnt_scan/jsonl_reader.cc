#include "tools/dnt_scan/jsonl_reader.h"

#include <nlohmann/json.hpp>

#include "tools/dnt_scan/entry_reader.h"
#include "tools/dnt_scan/json_capture.h"

namespace dnt_scan {
namespace {

using nlohmann::json;

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

// One line captured as the entry reader reads it.
class LineHandler final : public CapturingHandler {
 public:
  enum class Outcome { NotJson, NotAnObject, Read };

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    m_outcome = Outcome::NotJson;
    return false;
  }

  Outcome Result() const { return m_outcome; }
  const json& Value() const { return m_value; }

 private:
  bool OutsideStart(bool object) override {
    if (!object) return OutsideScalar();
    m_capture.Begin(true, JsonLinesShape());
    return true;
  }
  void OutsideEnd() override {}
  bool OutsideScalar() override {
    m_outcome = Outcome::NotAnObject;
    return false;
  }
  void OutsideKey(const std::string&) override {}
  void Captured(json value) override {
    m_outcome = Outcome::Read;
    m_value = std::move(value);
  }

  Outcome m_outcome = Outcome::NotJson;
  json m_value;
};

}  // namespace

void ReadJsonLines(std::istream& in, const std::string& defaultPage, TrafficSink& sink) {
  std::string line;
  bool tooLong = false;
  bool first = true;
  for (size_t number = 1; ReadLine(in, line, tooLong); ++number) {
    if (!tooLong && IsBlank(line)) continue;
    LineHandler handler;
    if (!tooLong) json::sax_parse(line, &handler);
    using Outcome = LineHandler::Outcome;
    const Outcome outcome = tooLong ? Outcome::NotJson : handler.Result();
    if (first && outcome != Outcome::Read) {
      throw InputError("line " + std::to_string(number) + ": not JSON Lines of requests (" +
                       (tooLong ? "the line is too long" : "not a JSON object") + ")");
    }
    first = false;
    if (tooLong) {
      sink.Problem({number, "the line is longer than " + std::to_string(MaxLineLength) + " bytes"});
    } else if (outcome == Outcome::NotJson) {
      sink.Problem({number, "not JSON"});
    } else if (outcome == Outcome::NotAnObject) {
      sink.Problem({number, "the line is not a JSON object"});
    } else {
      try {
        sink.Entry(ReadJsonLinesEntry(handler.Value(), number, defaultPage));
      } catch (const EntryProblem& problem) {
        sink.Problem({number, problem.what()});
      }
    }
  }
}

}  // namespace dnt_scan
