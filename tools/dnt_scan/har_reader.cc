#include "tools/dnt_scan/har_reader.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <vector>

#include "tools/dnt_scan/entry_reader.h"
#include "tools/dnt_scan/json_capture.h"

namespace dnt_scan {
namespace {

using nlohmann::json;

// An entry keeps what a host sees of a request and its response; bodies,
// timings and the exporters' own "_" members are skipped unread.
bool KeepEntryMember(std::string_view key, size_t depth) {
  if (depth == 1) return key == "pageref" || key == "request" || key == "response";
  static constexpr std::array<std::string_view, 6> Skipped = {"postData", "content", "queryString",
                                                             "text",     "timings", "cache"};
  return !key.starts_with('_') && std::find(Skipped.begin(), Skipped.end(), key) == Skipped.end();
}

bool KeepPageMember(std::string_view key, size_t depth) { return depth == 1 && (key == "id" || key == "title"); }

// Where the parser stands, one element per open container.
enum class Place { Root, Log, PageList, EntryList, Captured, Ignored };

class HarHandler final : public json::json_sax_t {
 public:
  HarHandler(const std::string& defaultPage, TrafficSink& sink) : m_defaultPage(defaultPage), m_sink(sink) {}

  bool null() override { return Scalar(nullptr); }
  bool boolean(bool value) override { return Scalar(value); }
  bool number_integer(number_integer_t value) override { return Scalar(value); }
  bool number_unsigned(number_unsigned_t value) override { return Scalar(value); }
  bool number_float(number_float_t value, const string_t&) override { return Scalar(value); }
  bool binary(binary_t&) override { return Scalar(nullptr); }
  bool string(string_t& value) override {
    if (m_capture.Active()) {
      m_capture.String(value);
      return true;
    }
    return Scalar(nullptr);
  }
  bool key(string_t& key) override {
    if (m_capture.Active()) {
      m_capture.Key(key);
    } else {
      m_key = key;
    }
    return true;
  }
  bool start_object(std::size_t) override { return Start(true); }
  bool start_array(std::size_t) override { return Start(false); }
  bool end_object() override { return End(); }
  bool end_array() override { return End(); }

  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) override {
    std::string what = e.what();
    what.erase(0, what.find("] ") == std::string::npos ? 0 : what.find("] ") + 2);
    m_error = "not valid JSON at byte " + std::to_string(position) + ": " + what;
    if (m_capture.Active() && m_inEntry) m_error = "entry " + std::to_string(m_entries) + ": " + m_error;
    return false;
  }

  /// Why the input is not a HAR file, or empty.
  std::string Error() const {
    if (!m_error.empty()) return m_error;
    if (!m_sawLog) return "not a HAR file: no \"log\" object";
    if (!m_sawEntries) return "not a HAR file: \"log\" has no \"entries\" list";
    return {};
  }

 private:
  bool Start(bool object) {
    if (m_capture.Active()) {
      m_capture.StartContainer(object);
      m_places.push_back(Place::Captured);
      return true;
    }
    const Place next = NextPlace(object);
    if (next == Place::Captured) {
      m_inEntry = m_places.back() == Place::EntryList;
      if (m_inEntry) ++m_entries;
      m_capture.Begin(object, m_inEntry ? KeepEntryMember : KeepPageMember);
    }
    m_places.push_back(next);
    return m_error.empty();
  }

  Place NextPlace(bool object) {
    if (m_places.empty()) {
      if (!object) m_error = "not a HAR file: the top level is not an object";
      return Place::Root;
    }
    switch (m_places.back()) {
      case Place::Root:
        if (object && m_key == "log") {
          m_sawLog = true;
          return Place::Log;
        }
        return Place::Ignored;
      case Place::Log:
        if (!object && m_key == "pages") return Place::PageList;
        if (!object && m_key == "entries") {
          m_sawEntries = true;
          return Place::EntryList;
        }
        return Place::Ignored;
      case Place::PageList:
      case Place::EntryList:
        return Place::Captured;
      default:
        return Place::Ignored;
    }
  }

  bool End() {
    const Place place = m_places.back();
    m_places.pop_back();
    if (place == Place::Captured && m_capture.EndContainer()) Deliver();
    return true;
  }

  bool Scalar(json value) {
    if (m_capture.Active()) {
      m_capture.Value(std::move(value));
    } else if (m_places.empty()) {
      m_error = "not a HAR file: the top level is not an object";
      return false;
    } else if (m_places.back() == Place::EntryList) {
      m_sink.Problem({++m_entries, "the entry is not an object"});
    }
    return true;
  }

  void Deliver() {
    json value = m_capture.Take();
    if (!m_inEntry) return DeliverPage(value);
    if (value.is_null()) {
      return m_sink.Problem({m_entries, "the entry holds more than " + std::to_string(JsonCapture::Budget) +
                                            " bytes of header fields and names"});
    }
    try {
      m_sink.Entry(ReadHarEntry(value, m_entries, m_defaultPage));
    } catch (const EntryProblem& problem) {
      m_sink.Problem({m_entries, problem.what()});
    }
  }

  void DeliverPage(const json& page) {
    if (!page.is_object() || !page.contains("id") || !page["id"].is_string()) return;
    const auto title = page.find("title");
    m_sink.Page({page["id"].get<std::string>(),
                 title != page.end() && title->is_string() ? title->get<std::string>() : std::string()});
  }

  const std::string& m_defaultPage;
  TrafficSink& m_sink;
  std::vector<Place> m_places;
  std::string m_key;
  JsonCapture m_capture;
  bool m_inEntry = false;
  size_t m_entries = 0;
  bool m_sawLog = false;
  bool m_sawEntries = false;
  std::string m_error;
};

}  // namespace

void ReadHar(std::istream& in, const std::string& defaultPage, TrafficSink& sink) {
  HarHandler handler(defaultPage, sink);
  json::sax_parse(in, &handler);
  if (std::string error = handler.Error(); !error.empty()) throw InputError(error);
}

}  // namespace dnt_scan
