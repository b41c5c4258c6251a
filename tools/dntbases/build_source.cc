#include "tools/dntbases/build_source.h"

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace dntbases {
namespace {

using nlohmann::json;
namespace writer = dnt::bases_writer;

// The loader refuses an empty script, and a record's length field is 32-bit.
constexpr std::uintmax_t MaxScriptSize = std::numeric_limits<uint32_t>::max();

[[noreturn]] void Fail(const std::string& where, const std::string& problem) {
  throw std::invalid_argument(where + ": " + problem);
}

std::string Member(const std::string& where, std::string_view name) {
  return where.empty() ? std::string(name) : where + "." + std::string(name);
}

std::string Element(const std::string& where, size_t i) { return where + "[" + std::to_string(i) + "]"; }

void CheckObject(const json& value, const std::string& where, std::initializer_list<std::string_view> known) {
  if (!value.is_object()) Fail(where.empty() ? "source" : where, "expected an object");
  for (const auto& item : value.items()) {
    bool isKnown = false;
    for (std::string_view name : known) isKnown = isKnown || item.key() == name;
    if (!isKnown) Fail(Member(where, item.key()), "unknown field");
  }
}

const json* Optional(const json& object, std::string_view name) {
  const auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

const json& Required(const json& object, const std::string& where, std::string_view name) {
  const json* value = Optional(object, name);
  if (!value) Fail(where.empty() ? "source" : where, "missing field \"" + std::string(name) + "\"");
  return *value;
}

uint32_t ToUint32(const json& value, const std::string& where) {
  if (!value.is_number_integer() || value.is_number_float()) Fail(where, "expected an unsigned 32-bit integer");
  if (value.is_number_unsigned()) {
    const auto number = value.get<uint64_t>();
    if (number <= std::numeric_limits<uint32_t>::max()) return static_cast<uint32_t>(number);
  } else {
    const auto number = value.get<int64_t>();
    if (number >= 0 && number <= std::numeric_limits<uint32_t>::max()) return static_cast<uint32_t>(number);
  }
  Fail(where, "expected an unsigned 32-bit integer");
}

std::string ToText(const json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, "expected a string");
  return value.get<std::string>();
}

const json& ToArray(const json& value, const std::string& where) {
  if (!value.is_array()) Fail(where, "expected an array");
  return value;
}

uint32_t Uint32Field(const json& object, const std::string& where, std::string_view name) {
  return ToUint32(Required(object, where, name), Member(where, name));
}

std::string TextField(const json& object, const std::string& where, std::string_view name) {
  return ToText(Required(object, where, name), Member(where, name));
}

std::vector<std::string> TextList(const json& source, std::string_view name) {
  std::vector<std::string> texts;
  const json* list = Optional(source, name);
  if (!list) return texts;
  const std::string where(name);
  for (size_t i = 0; i < ToArray(*list, where).size(); ++i) texts.push_back(ToText((*list)[i], Element(where, i)));
  return texts;
}

uint32_t ReadVersion(const json& source) {
  const json* version = Optional(source, "version");
  if (!version) return writer::Version1_0;
  if (!version->is_array() || version->size() != 2) Fail("version", "expected [major, minor]");
  const uint32_t major = ToUint32((*version)[0], "version[0]");
  const uint32_t minor = ToUint32((*version)[1], "version[1]");
  if (major > 0xFFFF || minor > 0xFFFF) Fail("version", "major and minor must each fit 16 bits");
  return major << 16 | minor;
}

std::vector<writer::Service> ReadServices(const json& source) {
  std::vector<writer::Service> services;
  const json& list = ToArray(Required(source, "", "services"), "services");
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string where = Element("services", i);
    CheckObject(list[i], where, {"id", "category", "name"});
    services.push_back({Uint32Field(list[i], where, "id"), Uint32Field(list[i], where, "category"),
                        TextField(list[i], where, "name")});
  }
  return services;
}

std::vector<writer::Bug> ReadBugs(const json& source) {
  std::vector<writer::Bug> bugs;
  const json& list = ToArray(Required(source, "", "bugs"), "bugs");
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string where = Element("bugs", i);
    CheckObject(list[i], where, {"id", "service"});
    bugs.push_back({Uint32Field(list[i], where, "id"), Uint32Field(list[i], where, "service")});
  }
  return bugs;
}

template <class Entry>
std::vector<Entry> ReadMaskList(const json& source, std::string_view name) {
  std::vector<Entry> entries;
  const std::string listName(name);
  const json& list = ToArray(Required(source, "", name), listName);
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string where = Element(listName, i);
    CheckObject(list[i], where, {"mask", "bug"});
    Entry entry;
    entry.mask = TextField(list[i], where, "mask");
    entry.bugId = Uint32Field(list[i], where, "bug");
    entries.push_back(std::move(entry));
  }
  return entries;
}

// Each group goes to the first exception after the previous group's whose
// bug id is the group's target, which is where the loader will look for it.
void AttachFixGroups(const json& source, writer::Database& database) {
  const json* groups = Optional(source, "exceptions_fix");
  if (!groups) return;
  database.exceptionsFix = true;
  size_t next = 0;
  for (size_t g = 0; g < ToArray(*groups, "exceptions_fix").size(); ++g) {
    const std::string where = Element("exceptions_fix", g);
    const json& group = (*groups)[g];
    CheckObject(group, where, {"target", "extra"});
    const uint32_t target = Uint32Field(group, where, "target");
    std::vector<uint32_t> extra;
    const json& extraList = ToArray(Required(group, where, "extra"), Member(where, "extra"));
    for (size_t i = 0; i < extraList.size(); ++i) {
      extra.push_back(ToUint32(extraList[i], Element(Member(where, "extra"), i)));
    }
    while (next < database.exceptions.size() && database.exceptions[next].bugId != target) ++next;
    if (next == database.exceptions.size()) {
      Fail(Member(where, "target"), "no exception with bug id " + std::to_string(target) +
                                        " follows the previous group's exception");
    }
    database.exceptions[next++].fixGroup = std::move(extra);
  }
}

std::optional<int64_t> ReadTimestamp(const json& source) {
  const json* value = Optional(source, "timestamp");
  if (!value) return std::nullopt;
  if (value->is_string()) {
    if (auto parsed = ParseUtcTimestamp(value->get<std::string>())) return parsed;
    Fail("timestamp", "expected a UTC time like \"2024-03-01T13:05:09Z\"");
  }
  if (value->is_number_integer() && !value->is_number_unsigned()) return value->get<int64_t>();
  if (value->is_number_unsigned() && value->get<uint64_t>() <= uint64_t{std::numeric_limits<int64_t>::max()}) {
    return static_cast<int64_t>(value->get<uint64_t>());
  }
  Fail("timestamp", "expected a 64-bit integer or a UTC time text");
}

std::string ReadTextFile(const std::filesystem::path& path, const std::string& where) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) Fail(where, "cannot read \"" + path.string() + "\"");
  if (size == 0) Fail(where, "\"" + path.string() + "\" is empty");
  if (size > MaxScriptSize) Fail(where, "\"" + path.string() + "\" is too large");
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) Fail(where, "cannot read \"" + path.string() + "\"");
  return text;
}

std::vector<std::string> ReadScripts(const json& source, const std::filesystem::path& folder) {
  std::vector<std::string> scripts;
  const std::vector<std::string> paths = TextList(source, "scripts");
  for (size_t i = 0; i < paths.size(); ++i) {
    scripts.push_back(ReadTextFile(folder / paths[i], Element("scripts", i)));
  }
  return scripts;
}

json ParseSource(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open source \"" + path.string() + "\"");
  try {
    return json::parse(in);
  } catch (const json::parse_error& e) {
    throw std::invalid_argument("\"" + path.string() + "\" is not valid JSON: " + e.what());
  }
}

bool IsDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// Days from 1970-01-01 to a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

std::optional<int64_t> ParseUtcTimestamp(std::string_view text) {
  // "YYYY-MM-DDTHH:MM:SSZ"
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  for (auto [at, length] : {std::pair{0, 4}, {5, 2}, {8, 2}, {11, 2}, {14, 2}, {17, 2}}) {
    if (!IsDigits(text.substr(at, length))) return std::nullopt;
  }
  const int year = Number(text.substr(0, 4)), month = Number(text.substr(5, 2)), day = Number(text.substr(8, 2));
  const int hour = Number(text.substr(11, 2)), minute = Number(text.substr(14, 2)),
            second = Number(text.substr(17, 2));
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return std::nullopt;
  }
  constexpr int64_t UnitsPerSecond = 10'000'000;
  constexpr int64_t UnixEpochFromGregorianReform = 122'192'928'000'000'000;
  const int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return seconds * UnitsPerSecond + UnixEpochFromGregorianReform;
}

BasesSource ReadBasesSource(const std::filesystem::path& path) {
  const json source = ParseSource(path);
  CheckObject(source, "", {"version", "services", "bugs", "rules", "exceptions", "exceptions_fix", "https_domains",
                           "partner_sites", "incompatible_sites", "timestamp", "scripts"});
  BasesSource result;
  writer::Database& database = result.database;
  database.version = ReadVersion(source);
  database.services = ReadServices(source);
  database.bugs = ReadBugs(source);
  database.rules = ReadMaskList<writer::Rule>(source, "rules");
  database.exceptions = ReadMaskList<writer::Exception>(source, "exceptions");
  AttachFixGroups(source, database);
  database.httpsDomains = TextList(source, "https_domains");
  database.partnerSites = TextList(source, "partner_sites");
  database.incompatibleSites = TextList(source, "incompatible_sites");
  database.timestamp = ReadTimestamp(source);
  result.scripts = ReadScripts(source, path.parent_path());
  return result;
}

}  // namespace dntbases
