// A list file imported as one service with one bug.
#pragma once

#include <cstdint>
#include <string>

#include "tools/list_import/imported_bases.h"
#include "tools/list_import/text_lines.h"

namespace list_import {

/// Lists name no services of their own, so their one bug ranks after every
/// entity rule of the same bases.
inline constexpr uint32_t ListSpecificity = UINT32_MAX;

/// Adds the service and its bug when the list gave any rule or exception.
inline void AddListService(ImportedBug bug, uint32_t category, const std::string& name, ImportedBases& bases,
                           ImportReport& report) {
  if (bug.rules.empty() && bug.exceptions.empty()) {
    report.emptyServices.push_back(name);
    return;
  }
  bases.services.push_back({bug.serviceId, category, name});
  ++report.services;
  report.rules += bug.rules.size();
  report.exceptions += bug.exceptions.size();
  bases.bugs.push_back(std::move(bug));
}

/// Imports the lines of `text` with `importLine(number, line, bug, report)`
/// into one bug of a new service.
template <class ImportLine>
void ImportListService(std::string_view text, uint32_t serviceId, uint32_t category, const std::string& name,
                       ImportedBases& bases, ImportReport& report, ImportLine importLine) {
  ImportedBug bug{serviceId, {}, {}, ListSpecificity};
  ForEachLine(text, [&](size_t number, std::string_view line) { importLine(number, line, bug, report); });
  AddListService(std::move(bug), category, name, bases, report);
}

}  // namespace list_import
