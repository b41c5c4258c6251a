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

// Empty when nothing changed.
std::string FieldChange(const std::string& name, const HttpMessage& before, const HttpMessage& after) {
  if (before.Values(name) == after.Values(name)) return {};
  const std::optional<std::string> was = before.CombinedValue(name), is = after.CombinedValue(name);
  if (!is) return "removed " + name;
  if (!was) return "added " + name + ": " + *is;
  return "changed " + name + ": " + *was + " -> " + *is;
}

// A response the engine set in `after` that `before` did not have.
void AddResponseChange(const char* kind, const std::optional<HttpResponseTexts>& before,
                       const std::optional<HttpResponseTexts>& after, std::vector<std::string>& lines) {
  if (!after || after == before) return;
  const std::string texts = after->second.empty() ? after->first : after->first + " | " + after->second;
  std::string line = kind;
  if (!texts.empty()) line += ": " + texts;
  lines.push_back(std::move(line));
}

}  // namespace

std::vector<std::string> DescribeChanges(const HttpMessage& before, const HttpMessage& after) {
  std::vector<std::string> lines;
  for (const std::string& name : FieldNames(before, after)) {
    if (std::string change = FieldChange(name, before, after); !change.empty()) lines.push_back(std::move(change));
  }
  if (after.Line().url != before.Line().url) lines.push_back("request URL: " + after.Line().url);
  AddResponseChange("forbidden response", before.ForbiddenResponse(), after.ForbiddenResponse(), lines);
  AddResponseChange("OK response", before.OkResponse(), after.OkResponse(), lines);
  return lines;
}

}  // namespace host
