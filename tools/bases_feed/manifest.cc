#include "tools/bases_feed/manifest.h"

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

#include "tools/bases_feed/feed_error.h"

namespace bases_feed {
namespace {

using nlohmann::json;

// The manifest's shape is root object, files array, file objects, values.
constexpr int MaxDepth = 3;

[[noreturn]] void Malformed(const std::string& what) { throw FeedError(Failure::Manifest, "malformed manifest: " + what); }

const json& Field(const json& object, const char* name) {
  const auto found = object.find(name);
  if (found == object.end()) Malformed(std::string("no \"") + name + "\"");
  return *found;
}

void OnlyFields(const json& object, std::initializer_list<std::string_view> names, const char* where) {
  for (const auto& [key, value] : object.items()) {
    if (std::find(names.begin(), names.end(), key) == names.end()) {
      Malformed("unknown field " + json(key).dump(-1, ' ', true, json::error_handler_t::replace) + " in " + where);
    }
  }
}

uint64_t Unsigned(const json& value, const char* name) {
  if (!value.is_number_unsigned()) Malformed(std::string("\"") + name + "\" is not a whole number");
  return value.get<uint64_t>();
}

const std::string& Text(const json& value, const char* name) {
  if (!value.is_string()) Malformed(std::string("\"") + name + "\" is not a string");
  return value.get_ref<const std::string&>();
}

std::time_t Time(const json& object, const char* name) {
  const auto time = ParseUtcText(Text(Field(object, name), name));
  if (!time) Malformed(std::string("\"") + name + "\" is not a time such as 2026-03-01T13:05:09Z");
  return *time;
}

bool IsHash(const std::string& text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::string LowerFileName(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

ManifestFile ParseFile(const json& entry, uint64_t& total) {
  if (!entry.is_object()) Malformed("a file entry is not an object");
  OnlyFields(entry, {"name", "size", "sha256"}, "a file entry");
  ManifestFile file{Text(Field(entry, "name"), "name"), Unsigned(Field(entry, "size"), "size"),
                    Text(Field(entry, "sha256"), "sha256")};
  if (!IsPlainName(file.name)) {
    Malformed("file name " + json(file.name).dump(-1, ' ', true, json::error_handler_t::replace) +
              " is not a plain name");
  }
  if (!IsHash(file.sha256)) Malformed("the SHA-256 of " + file.name + " is not 64 lower-case hexadecimal digits");
  if (file.size > MaxFileBytes) {
    throw FeedError(Failure::TooLarge, file.name + " is " + std::to_string(file.size) + " bytes, over the limit of " +
                                           std::to_string(MaxFileBytes));
  }
  total += file.size;
  return file;
}

}  // namespace

Manifest ParseManifest(std::string_view bytes) {
  if (bytes.size() > MaxManifestBytes) {
    throw FeedError(Failure::TooLarge, "the manifest is over " + std::to_string(MaxManifestBytes) + " bytes");
  }
  json root;
  try {
    root = json::parse(bytes.begin(), bytes.end(), [](int depth, json::parse_event_t, json&) {
      if (depth > MaxDepth) Malformed("nested too deeply");
      return true;
    });
  } catch (const json::exception& e) {
    Malformed(std::string("not JSON (") + e.what() + ")");
  }
  if (!root.is_object()) Malformed("not a JSON object");
  OnlyFields(root, {"format", "version", "created", "expires", "files"}, "the manifest");
  if (Text(Field(root, "format"), "format") != ManifestFormat) {
    Malformed("\"format\" is not \"" + std::string(ManifestFormat) + "\"");
  }
  Manifest manifest;
  manifest.version = Unsigned(Field(root, "version"), "version");
  if (manifest.version == 0 || manifest.version > MaxVersion) Malformed("\"version\" is out of range");
  manifest.created = Time(root, "created");
  manifest.expires = Time(root, "expires");
  if (manifest.expires <= manifest.created) Malformed("it expires before it was made");
  const json& files = Field(root, "files");
  if (!files.is_array() || files.empty()) Malformed("\"files\" is not a list of files");
  if (files.size() > MaxFiles) throw FeedError(Failure::TooLarge, "the manifest lists over " + std::to_string(MaxFiles) + " files");
  uint64_t total = 0;
  std::set<std::string> names;
  for (const json& entry : files) {
    manifest.files.push_back(ParseFile(entry, total));
    // Some file systems do not tell case apart.
    if (!names.insert(LowerFileName(manifest.files.back().name)).second) Malformed(manifest.files.back().name + " is listed twice");
  }
  if (total > MaxSetBytes) {
    throw FeedError(Failure::TooLarge, "the files are " + std::to_string(total) + " bytes together, over the limit of " +
                                           std::to_string(MaxSetBytes));
  }
  return manifest;
}

std::string ManifestText(const Manifest& manifest) {
  nlohmann::ordered_json files = nlohmann::ordered_json::array();
  for (const ManifestFile& file : manifest.files) {
    files.push_back({{"name", file.name}, {"size", file.size}, {"sha256", file.sha256}});
  }
  const nlohmann::ordered_json root = {{"format", ManifestFormat},
                                       {"version", manifest.version},
                                       {"created", UtcText(manifest.created)},
                                       {"expires", UtcText(manifest.expires)},
                                       {"files", files}};
  return root.dump(2) + "\n";
}

bool IsPlainName(std::string_view name) {
  if (name.empty() || name.size() > 128 || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
  });
}

std::string UtcText(std::time_t time) {
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::optional<std::time_t> ParseUtcText(std::string_view text) {
  // Exactly YYYY-MM-DDTHH:MM:SSZ, each field in its range.
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      text[19] != 'Z') {
    return std::nullopt;
  }
  const auto number = [&](std::size_t at, std::size_t length, int low, int high) -> std::optional<int> {
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    if (value < low || value > high) return std::nullopt;
    return value;
  };
  const auto year = number(0, 4, 1970, 9999), month = number(5, 2, 1, 12), day = number(8, 2, 1, 31),
             hour = number(11, 2, 0, 23), minute = number(14, 2, 0, 59), second = number(17, 2, 0, 59);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  std::tm utc{};
  utc.tm_year = *year - 1900;
  utc.tm_mon = *month - 1;
  utc.tm_mday = *day;
  utc.tm_hour = *hour;
  utc.tm_min = *minute;
  utc.tm_sec = *second;
  const std::time_t time = timegm(&utc);
  // 31 February comes back as a day of March: refused.
  if (UtcText(time) != text) return std::nullopt;
  return time;
}

std::chrono::seconds ParseDuration(std::string_view text, bool days) {
  const std::string units = days ? "smhd" : "smh";
  const auto fail = [&]() -> std::chrono::seconds {
    throw std::invalid_argument("\"" + std::string(text) + "\" is not a duration such as 90s, 15m or 6h" +
                                (days ? " or 14d" : ""));
  };
  if (text.size() < 2 || units.find(text.back()) == std::string::npos) return fail();
  uint64_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size() - 1, count);
  if (error != std::errc() || end != text.data() + text.size() - 1 || count == 0 || count > 100'000'000) return fail();
  static constexpr uint64_t Seconds[] = {1, 60, 3600, 86400};
  return std::chrono::seconds(count * Seconds[units.find(text.back())]);
}

}  // namespace bases_feed
