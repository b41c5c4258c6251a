#include "host/http_changes.h"

#include <algorithm>

#include "url_parser/special_schemes.h"

namespace host {
namespace {

// Field names of both messages, each once, in the order they first appear.
std::vector<std::string> FieldNames(const HttpMessage& a, const HttpMessage& b) {
  std::vector<std::string> names;
  for (const HttpMessage* message : {&a, &b}) {
    for (const HttpField& field : message->Fields()) {
      const bool known = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        return orv::network::EqualsIgnoringAsciiCase(name, field.name);
      });
      if (!known) names.push_back(field.name);
    }
  }
  return names;
}

std::string ResponseText(const HttpResponseTexts& texts) { return texts.first + " | " + texts.second; }

}  // namespace

std::vector<std::string> DescribeChanges(const HttpMessage& before, const HttpMessage& after) {
  std::vector<std::string> lines;
  for (const std::string& name : FieldNames(after, before)) {
    const std::vector<std::string> values = after.Values(name);
    if (values == before.Values(name)) continue;
    if (values.empty()) lines.push_back("field removed: " + name);
    for (const std::string& value : values) lines.push_back("field set: " + name + ": " + value);
  }
  if (after.Line().url != before.Line().url) lines.push_back("request URL: " + after.Line().url);
  if (after.ForbiddenResponse() && after.ForbiddenResponse() != before.ForbiddenResponse()) {
    lines.push_back("forbidden response: " + ResponseText(*after.ForbiddenResponse()));
  }
  if (after.OkResponse() && after.OkResponse() != before.OkResponse()) {
    lines.push_back("OK response: " + ResponseText(*after.OkResponse()));
  }
  return lines;
}

}  // namespace host
