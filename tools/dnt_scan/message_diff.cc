#include "tools/dnt_scan/message_diff.h"

#include <algorithm>

#include "tools/dnt_scan/ascii.h"

namespace dnt_scan {
namespace {

std::vector<std::string> ValuesOf(const HeaderFields& fields, const std::string& name) {
  std::vector<std::string> values;
  for (const HeaderField& field : fields) {
    if (EqualIgnoringCase(field.name, name)) values.push_back(field.value);
  }
  return values;
}

std::string Joined(const std::vector<std::string>& values) {
  std::string text;
  for (const std::string& value : values) text += (text.empty() ? "" : ", ") + value;
  return text;
}

std::vector<std::string> NamesInOrder(const HeaderFields& before, const HeaderFields& after) {
  std::vector<std::string> names;
  for (const HeaderFields* fields : {&before, &after}) {
    for (const HeaderField& field : *fields) {
      const bool known = std::any_of(names.begin(), names.end(),
                                     [&](const std::string& name) { return EqualIgnoringCase(name, field.name); });
      if (!known) names.push_back(field.name);
    }
  }
  return names;
}

}  // namespace

std::vector<std::string> DiffFields(const HeaderFields& before, const HeaderFields& after) {
  std::vector<std::string> changes;
  for (const std::string& name : NamesInOrder(before, after)) {
    const std::vector<std::string> was = ValuesOf(before, name), is = ValuesOf(after, name);
    if (was == is) continue;
    if (is.empty()) {
      changes.push_back("removed " + name);
    } else if (was.empty()) {
      changes.push_back("added " + name + ": " + Joined(is));
    } else {
      changes.push_back("changed " + name + ": " + Joined(was) + " -> " + Joined(is));
    }
  }
  return changes;
}

}  // namespace dnt_scan
