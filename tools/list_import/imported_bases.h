// What importing tracker lists produces: services, the web bugs that identify
// them, and a report of what each list held that could not be imported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace list_import {

struct ImportedService {
  uint32_t id = 0;
  uint32_t category = 0;
  std::string name;
};

/// One web bug: the masks that identify it and the masks that exempt it.
struct ImportedBug {
  uint32_t serviceId = 0;
  std::vector<std::string> rules;
  std::vector<std::string> exceptions;
  /// Bugs are numbered in ascending order of this key. Scripts take the
  /// lowest matching bug index, so the most specific rule gets the lowest key.
  uint32_t specificity = 0;
};

/// Lists merge into one set of bases: service ids stay unique across lists.
struct ImportedBases {
  std::vector<ImportedService> services;
  std::vector<ImportedBug> bugs;

  /// The id the next list may start after.
  uint32_t LastServiceId() const;
};

/// What one list held, for the person who imports it: nothing is dropped
/// without being counted here.
struct ImportReport {
  /// How many unsupported entries are quoted in full.
  static constexpr size_t SampleLimit = 5;

  std::string input;
  size_t services = 0;
  size_t rules = 0;
  size_t exceptions = 0;
  size_t comments = 0;
  size_t unsupported = 0;
  /// The first SampleLimit unsupported entries: where, what and why.
  std::vector<std::string> samples;
  /// Options that were ignored, by name, with how often.
  std::map<std::string, size_t> ignoredOptions;
  /// Entities of categories that are not imported, by category.
  std::map<std::string, size_t> leftOut;
  /// Entries that name the local machine in hosts files.
  size_t localNames = 0;
  /// Hosts whose leading "www." was folded into the host without it.
  size_t wwwHosts = 0;
  /// Services that got no rule (an entity without domains).
  std::vector<std::string> emptyServices;

  /// Counts one unsupported entry and quotes the first few.
  void Unsupported(const std::string& where, std::string_view text, const std::string& why);
};

/// Human-readable lines describing `report`.
std::string Describe(const ImportReport& report);

/// A bases source (the JSON that `dntbases build` reads) holding `bases`:
/// bug ids numbered by specificity, rules and exceptions, and the rule hosts
/// as HTTPS domains. A mask that an earlier bug already holds is left out
/// and counted in `duplicateMasks`. `scripts` are written as given.
nlohmann::json ToSourceJson(const ImportedBases& bases, const std::vector<std::string>& scripts,
                            size_t& duplicateMasks);

}  // namespace list_import
