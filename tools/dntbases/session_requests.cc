#include "tools/dntbases/session_requests.h"

#include <stdexcept>

#include <nlohmann/json.hpp>

namespace dntbases {
namespace {

using nlohmann::json;

std::string Text(const json& value, const char* what) {
  if (!value.is_string()) throw std::invalid_argument(std::string(what) + " must be a string");
  return value.get<std::string>();
}

std::vector<host::HttpField> Fields(const json& headers) {
  std::vector<host::HttpField> fields;
  if (headers.is_object()) {
    for (const auto& [name, value] : headers.items()) {
      if (value.is_array()) {
        for (const json& item : value) fields.push_back({name, Text(item, "a header value")});
      } else {
        fields.push_back({name, Text(value, "a header value")});
      }
    }
  } else if (headers.is_array()) {
    for (const json& pair : headers) {
      if (!pair.is_array() || pair.size() != 2) throw std::invalid_argument("a header is a [name, value] pair");
      fields.push_back({Text(pair[0], "a header name"), Text(pair[1], "a header value")});
    }
  } else if (!headers.is_null()) {
    throw std::invalid_argument("headers are an object or an array of [name, value] pairs");
  }
  return fields;
}

SessionRequest ParseEntry(const json& entry) {
  if (!entry.is_object()) throw std::invalid_argument("a request is a JSON object");
  SessionRequest request{host::HttpMessage(
      dnt::HttpRequestLine{Text(entry.value("url", json()), "url"), Text(entry.value("method", json()), "method"),
                           entry.contains("version") ? Text(entry["version"], "version") : "HTTP/1.1"},
      Fields(entry.value("headers", json()))), std::nullopt};
  if (entry.contains("response")) {
    const json& response = entry["response"];
    if (!response.is_object()) throw std::invalid_argument("response must be an object");
    request.response = Fields(response.value("headers", json()));
  }
  return request;
}

}  // namespace

std::vector<SessionRequest> ReadSessionRequests(std::istream& in) {
  std::vector<SessionRequest> requests;
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    try {
      requests.push_back(ParseEntry(json::parse(line)));
    } catch (const std::exception& e) {
      throw std::invalid_argument("line " + std::to_string(number) + ": " + e.what());
    }
  }
  return requests;
}

}  // namespace dntbases
