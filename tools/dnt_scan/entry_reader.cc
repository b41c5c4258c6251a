#include "tools/dnt_scan/entry_reader.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "tools/dnt_scan/json_capture.h"
#include "url_parser/special_schemes.h"

namespace dnt_scan {
namespace {

using nlohmann::json;

// More fields than any browser sends; a bound on what one entry may hold.
constexpr size_t MaxFields = 512;
constexpr size_t MaxMethodLength = 32;
constexpr size_t MaxNameLength = 256;
constexpr size_t HeadLength = 256;
constexpr const char* DefaultVersion = "HTTP/1.1";

// The first characters of `text` with anything unprintable written as '?'.
std::string Shown(std::string_view text) {
  std::string shown(text.substr(0, 40));
  for (char& c : shown) c = c >= ' ' && c < 0x7F ? c : '?';
  return text.size() > 40 ? shown + "..." : shown;
}

// What the readers below look at, and nothing else, is captured.
const CaptureShape* const Leaf = &LeafShape;
// A field's value, or the list of its values.
const CaptureShape Values{.members = {}, .elements = Leaf};
// {"name": ..., "value": ...} or [name, value].
const CaptureShape NameAndValue{.members = {{"name", Leaf}, {"value", Leaf}}, .elements = Leaf};
// An object of names to values, or a list of names and values.
const CaptureShape Fields{.members = {}, .anyMember = &Values, .elements = &NameAndValue};
const CaptureShape Cookies{.members = {}, .elements = &NameAndValue};
const CaptureShape Message{.members = {{"method", Leaf}, {"url", Leaf}, {"httpVersion", Leaf}, {"status", Leaf},
                                       {"headers", &Fields}, {"cookies", &Cookies}}};
const CaptureShape HarEntry{.members = {{"pageref", Leaf}, {"request", &Message}, {"response", &Message}}};
const CaptureShape JsonLine{.members = {{"method", Leaf}, {"url", Leaf}, {"httpVersion", Leaf}, {"page", Leaf},
                                        {"headers", &Fields}, {"cookies", &Cookies}, {"response", &Message}}};

// The length of a string too long to scan: one the reader kept only the
// head of (CapturedString), or one longer than MaxTextLength; 0 otherwise.
size_t OversizedLength(const json& value) {
  if (value.is_binary()) return value.get_binary().subtype();
  return value.is_string() && value.get_ref<const std::string&>().size() > MaxTextLength
             ? value.get_ref<const std::string&>().size()
             : 0;
}

// The first bytes of a string that OversizedLength measured.
std::string Head(const json& value) {
  if (value.is_string()) return value.get_ref<const std::string&>().substr(0, HeadLength);
  const json::binary_t& head = value.get_binary();
  return std::string(head.begin(), head.end());
}

// What a value says, to show it in a note.
std::string TextOf(const json& value) {
  if (OversizedLength(value)) return Head(value);
  return value.is_string() ? value.get<std::string>() : value.dump();
}

// The notes of one entry: the first MaxNotes, then how many more there were.
class EntryNotes {
 public:
  void Add(std::string note) {
    if (m_notes.size() < MaxNotes) {
      m_notes.push_back(std::move(note));
    } else {
      ++m_more;
    }
  }

  std::vector<std::string> Take() {
    if (m_more) m_notes.push_back("and " + std::to_string(m_more) + " more notes");
    return std::move(m_notes);
  }

 private:
  std::vector<std::string> m_notes;
  size_t m_more = 0;
};

const json* Member(const json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(name);
  return it == object.end() || it->is_null() ? nullptr : &*it;
}

std::string OverBudget(const std::string& what) {
  return "the " + what + " takes more than " + std::to_string(JsonCapture::Budget / (1024 * 1024)) +
         " MiB of memory in the fields that are read";
}

std::string TooLong(const std::string& what, size_t length) {
  return what + " is " + std::to_string(length) + " bytes long; at most " + std::to_string(MaxTextLength) +
         " are read";
}

bool IsTokenChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool IsToken(std::string_view text) { return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar); }

std::string ReadMethod(const json& request, const char* fallback) {
  const json* method = Member(request, "method");
  if (!method && fallback) return fallback;
  if (!method) throw EntryProblem("the request has no \"method\"");
  if (!method->is_string() || method->get_ref<const std::string&>().size() > MaxMethodLength ||
      !IsToken(method->get_ref<const std::string&>())) {
    throw EntryProblem("\"method\" is not an HTTP method");
  }
  return method->get<std::string>();
}

bool IsHttpLike(std::string_view url) {
  const std::string lower = orv::network::AsciiLowercase(url.substr(0, 8));
  for (std::string_view scheme : {"http://", "https://", "ws://", "wss://"}) {
    if (lower.starts_with(scheme)) return true;
  }
  return false;
}

// A URL too long to keep is refused when it would be scanned; a long data:
// or blob: URL only needs its scheme to be skipped.
std::string ReadUrl(const json& request) {
  const json* url = Member(request, "url");
  if (!url) throw EntryProblem("the request has no \"url\"");
  if (const size_t length = OversizedLength(*url)) {
    const std::string head = Head(*url);
    if (IsHttpLike(head)) throw EntryProblem(TooLong("the URL", length));
    return head;
  }
  if (!url->is_string() || url->get_ref<const std::string&>().empty()) throw EntryProblem("\"url\" is not a URL");
  return url->get<std::string>();
}

std::string ReadVersion(const json& request, EntryNotes& notes) {
  const json* version = Member(request, "httpVersion");
  if (!version) return DefaultVersion;
  const std::string text = version->is_string() ? orv::network::AsciiLowercase(version->get_ref<const std::string&>()) : "?";
  if (text.empty() || text == "http/1.1") return DefaultVersion;
  if (text == "http/1.0") return "HTTP/1.0";
  if (text == "h2" || text == "h2c" || text == "http/2" || text == "http/2.0") return "HTTP/2";
  if (text == "h3" || text.starts_with("h3-") || text == "http/3" || text.find("quic") != std::string::npos) {
    return "HTTP/3";
  }
  notes.Add("httpVersion \"" + Shown(TextOf(*version)) + "\" not understood; " + DefaultVersion + " assumed");
  return DefaultVersion;
}

bool HasField(const HeaderFields& fields, std::string_view name) {
  return std::any_of(fields.begin(), fields.end(), [&](const HeaderField& f) { return orv::network::EqualsIgnoringAsciiCase(f.name, name); });
}

class FieldCollector {
 public:
  explicit FieldCollector(EntryNotes& notes) : m_notes(notes) {}

  void Add(const json& name, const json& value) {
    if (!name.is_string()) return Drop(TextOf(name), OversizedLength(name) ? "not a field name" : "its name is not a string");
    const std::string& text = name.get_ref<const std::string&>();
    // HTTP/2 and HTTP/3 carry the request line as pseudo-header fields;
    // they are no fields of the message.
    if (text.starts_with(':')) {
      if (text == ":authority" && value.is_string()) m_authority = value.get<std::string>();
      return;
    }
    if (!IsToken(text) || text.size() > MaxNameLength) return Drop(text, "not a field name");
    if (const size_t length = OversizedLength(value)) return Drop(text, TooLong("its value", length));
    if (!value.is_string()) return Drop(text, "its value is not a string");
    std::string_view values = value.get_ref<const std::string&>();
    if (values.find('\0') != std::string_view::npos) return Drop(text, "a NUL byte in its value");
    // Browsers write the values of a repeated field (Set-Cookie above all)
    // as one value with a line break between them.
    while (!values.empty()) {
      const size_t end = values.find_first_of("\r\n");
      if (end != 0) AddOne(text, std::string(values.substr(0, end)));
      values.remove_prefix(end == std::string_view::npos ? values.size() : end + 1);
    }
  }

  void AddAll(const json* list) {
    if (!list) return;
    if (list->is_object()) {
      for (const auto& [name, value] : list->items()) {
        if (!value.is_array()) Add(name, value);
        else for (const json& each : value) Add(name, each);
      }
    } else if (list->is_array()) {
      for (const json& item : *list) AddItem(item);
    } else {
      m_notes.Add("header fields that are not a list were dropped");
    }
  }

  // A Cookie or Set-Cookie field from a HAR cookie list, when the header
  // fields hold none.
  void AddCookies(const json* cookies, const std::string& name, bool oneField) {
    if (!cookies || !cookies->is_array() || HasField(m_fields, name)) return;
    std::string joined;
    for (const json& cookie : *cookies) {
      const json* cookieName = Member(cookie, "name");
      const json* value = Member(cookie, "value");
      if (!cookieName || !value || !cookieName->is_string() || !value->is_string()) continue;
      const std::string pair = cookieName->get<std::string>() + "=" + value->get<std::string>();
      if (oneField) {
        joined += (joined.empty() ? "" : "; ") + pair;
      } else {
        Add(name, pair);
      }
    }
    if (!joined.empty()) Add(name, joined);
  }

  HeaderFields Take() {
    if (!m_authority.empty() && !HasField(m_fields, "host")) m_fields.insert(m_fields.begin(), {"Host", m_authority});
    return std::move(m_fields);
  }

 private:
  void AddItem(const json& item) {
    if (item.is_array() && item.size() == 2) return Add(item[0], item[1]);
    const json* name = Member(item, "name");
    const json* value = Member(item, "value");
    if (!name || !value) return m_notes.Add("a header field without name or value was dropped");
    Add(*name, *value);
  }

  void AddOne(const std::string& name, std::string value) {
    // Browsers record some fields twice (as sent and as logged).
    for (const HeaderField& f : m_fields) {
      if (f.value == value && orv::network::EqualsIgnoringAsciiCase(f.name, name)) return;
    }
    if (m_fields.size() == MaxFields) throw EntryProblem("more than " + std::to_string(MaxFields) + " header fields");
    m_fields.push_back({name, std::move(value)});
  }

  void Drop(const std::string& name, const std::string& why) {
    m_notes.Add("header field \"" + Shown(name) + "\" dropped: " + why);
  }

  EntryNotes& m_notes;
  HeaderFields m_fields;
  std::string m_authority;
};

std::optional<TrafficResponse> ReadResponse(const json* response, EntryNotes& notes) {
  const json* status = response ? Member(*response, "status") : nullptr;
  // HAR writes status 0 for a request that got no response.
  if (!status || !status->is_number_integer() || status->get<int64_t>() <= 0 || status->get<int64_t>() > 999) {
    return std::nullopt;
  }
  FieldCollector fields(notes);
  fields.AddAll(Member(*response, "headers"));
  fields.AddCookies(Member(*response, "cookies"), "Set-Cookie", false);
  return TrafficResponse{static_cast<int>(status->get<int64_t>()), fields.Take()};
}

std::string ReadPage(const json& holder, const char* key, const std::string& defaultPage) {
  const json* page = Member(holder, key);
  return page && page->is_string() && !page->get_ref<const std::string&>().empty() ? page->get<std::string>()
                                                                                     : defaultPage;
}

TrafficEntry ReadEntry(const json& request, const json* response, size_t number, const char* defaultMethod) {
  TrafficEntry entry;
  entry.number = number;
  entry.method = ReadMethod(request, defaultMethod);
  entry.url = ReadUrl(request);
  EntryNotes notes;
  entry.httpVersion = ReadVersion(request, notes);
  FieldCollector fields(notes);
  fields.AddAll(Member(request, "headers"));
  fields.AddCookies(Member(request, "cookies"), "Cookie", true);
  entry.fields = fields.Take();
  entry.response = ReadResponse(response, notes);
  entry.notes = notes.Take();
  return entry;
}

}  // namespace

json CapturedString(const std::string& text) {
  const std::string_view head = std::string_view(text).substr(0, HeadLength);
  return json::binary(json::binary_t::container_type(head.begin(), head.end()), text.size());
}

const CaptureShape& HarEntryShape() { return HarEntry; }

const CaptureShape& JsonLinesShape() { return JsonLine; }

TrafficEntry ReadHarEntry(const json& entry, size_t number, const std::string& defaultPage) {
  if (entry.is_null()) throw EntryProblem(OverBudget("entry"));
  if (!entry.is_object()) throw EntryProblem("the entry is not an object");
  const json* request = Member(entry, "request");
  if (!request || !request->is_object()) throw EntryProblem("the entry has no \"request\"");
  TrafficEntry result = ReadEntry(*request, Member(entry, "response"), number, nullptr);
  result.page = ReadPage(entry, "pageref", defaultPage);
  return result;
}

TrafficEntry ReadJsonLinesEntry(const json& line, size_t number, const std::string& defaultPage) {
  if (line.is_null()) throw EntryProblem(OverBudget("line"));
  if (!line.is_object()) throw EntryProblem("the line is not a JSON object");
  TrafficEntry result = ReadEntry(line, Member(line, "response"), number, "GET");
  result.page = ReadPage(line, "page", defaultPage);
  return result;
}

}  // namespace dnt_scan
