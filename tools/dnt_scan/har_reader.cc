#include "tools/dnt_scan/har_reader.h"

#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "tools/dnt_scan/entry_reader.h"
#include "tools/dnt_scan/json_capture.h"

namespace dnt_scan {
namespace {

using nlohmann::json;

const CaptureShape Page{.members = {{"id", &LeafShape}, {"title", &LeafShape}}};

constexpr size_t MaxErrorLength = 200;

// The containers of a HAR file that lead to its pages and entries.
enum class Place { Root, Log, PageList, EntryList, Elsewhere };

class HarHandler final : public CapturingHandler {
 public:
  HarHandler(const std::string& defaultPage, TrafficSink& sink) : m_defaultPage(defaultPage), m_sink(sink) {}

  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) override {
    // The parser's text quotes what it read last, which may be the rest of
    // the file.
    std::string what = e.what();
    what.erase(0, what.find("] ") == std::string::npos ? 0 : what.find("] ") + 2);
    if (what.size() > MaxErrorLength) what = what.substr(0, MaxErrorLength) + "...";
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
  bool OutsideStart(bool object) override {
    const Place keyed = std::exchange(m_keyed, Place::Elsewhere);
    if (m_elsewhere > 0) {
      ++m_elsewhere;
    } else if (m_places.empty()) {
      if (!object) m_error = "not a HAR file: the top level is not an object";
      m_places.push_back(Place::Root);
    } else if (m_places.back() == Place::PageList || m_places.back() == Place::EntryList) {
      m_inEntry = m_places.back() == Place::EntryList;
      m_entries += m_inEntry;
      m_capture.Begin(object, m_inEntry ? HarEntryShape() : Page);
    } else if (keyed == Place::Elsewhere || object != (keyed == Place::Log)) {
      // The log is an object; its pages and entries are lists.
      ++m_elsewhere;
    } else {
      m_sawLog |= keyed == Place::Log;
      m_sawEntries |= keyed == Place::EntryList;
      m_places.push_back(keyed);
    }
    return m_error.empty();
  }

  void OutsideEnd() override {
    if (m_elsewhere > 0) {
      --m_elsewhere;
    } else {
      m_places.pop_back();
    }
  }

  bool OutsideScalar() override {
    m_keyed = Place::Elsewhere;
    if (m_elsewhere > 0) return true;
    if (m_places.empty()) {
      m_error = "not a HAR file: the top level is not an object";
      return false;
    }
    if (m_places.back() == Place::EntryList) m_sink.Problem({++m_entries, "the entry is not an object"});
    return true;
  }

  // Keys are not kept: only "log", "pages" and "entries" matter, and only
  // where a HAR file has them.
  void OutsideKey(const std::string& key) override {
    m_keyed = Place::Elsewhere;
    if (m_elsewhere > 0) return;
    if (m_places.back() == Place::Root && key == "log") m_keyed = Place::Log;
    if (m_places.back() == Place::Log && key == "pages") m_keyed = Place::PageList;
    if (m_places.back() == Place::Log && key == "entries") m_keyed = Place::EntryList;
  }

  void Captured(json value) override {
    if (!m_inEntry) return DeliverPage(value);
    try {
      m_sink.Entry(ReadHarEntry(value, m_entries, m_defaultPage));
    } catch (const EntryProblem& problem) {
      m_sink.Problem({m_entries, problem.what()});
    }
  }

  void DeliverPage(const json& page) {
    const auto id = page.is_object() ? page.find("id") : page.end();
    if (id == page.end() || !id->is_string()) return;
    const auto title = page.find("title");
    m_sink.Page({id->get<std::string>(), title != page.end() && title->is_string() ? title->get<std::string>() : ""});
  }

  const std::string& m_defaultPage;
  TrafficSink& m_sink;
  // The containers from the root down to the one the parser is in, while
  // they lead to pages and entries.
  std::vector<Place> m_places;
  // Containers open below the last of m_places that lead nowhere.
  size_t m_elsewhere = 0;
  // Where the value of the last key leads.
  Place m_keyed = Place::Elsewhere;
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
