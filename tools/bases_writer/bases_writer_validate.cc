// The rules a bug database must follow, checked with messages that name the
// offending entry.
#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>

#include "orv/system/datetime.h"
#include "tools/bases_writer/bases_writer.h"

namespace dnt::bases_writer {

namespace {

[[noreturn]] void Fail(const std::string& message) { throw std::invalid_argument(message); }

std::string Entry(const char* list, size_t index) { return std::string(list) + "[" + std::to_string(index) + "]"; }

template <class Record>
void CheckAscendingIds(const std::vector<Record>& records, const char* list) {
  uint32_t previous = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const uint32_t id = records[i].id;
    if (id == 0) Fail(Entry(list, i) + ": id 0 is not allowed, ids start at 1");
    if (id <= previous) {
      Fail(Entry(list, i) + ": id " + std::to_string(id) + " is not greater than the previous id " +
           std::to_string(previous));
    }
    previous = id;
  }
}

// Ids are known to ascend by the time references are checked.
template <class Record>
bool HasId(const std::vector<Record>& records, uint32_t id) {
  const auto found = std::lower_bound(records.begin(), records.end(), id,
                                      [](const Record& record, uint32_t value) { return record.id < value; });
  return found != records.end() && found->id == id;
}

void CheckBugReference(const Database& database, const std::string& entry, uint32_t bugId) {
  if (!HasId(database.bugs, bugId)) Fail(entry + ": unknown bug id " + std::to_string(bugId));
}

void CheckExceptions(const Database& database) {
  for (size_t i = 0; i < database.exceptions.size(); ++i) {
    const Exception& exception = database.exceptions[i];
    const std::string entry = Entry("exceptions", i) + " (mask \"" + exception.mask + "\")";
    CheckBugReference(database, entry, exception.bugId);
    if (!exception.fixGroup) continue;
    for (const uint32_t id : *exception.fixGroup) CheckBugReference(database, entry + " fix group", id);
  }
  // The loader hands a fix group to the first exception with the group's bug
  // id after the previous group: an exception without a group must not sit
  // in that place.
  std::optional<size_t> nextGroup;
  for (size_t i = database.exceptions.size(); i-- > 0;) {
    const Exception& exception = database.exceptions[i];
    if (exception.fixGroup) {
      nextGroup = i;
      continue;
    }
    if (nextGroup && database.exceptions[*nextGroup].bugId == exception.bugId) {
      Fail(Entry("exceptions", i) + " (bug id " + std::to_string(exception.bugId) +
           ") has no fix group but comes before " + Entry("exceptions", *nextGroup) +
           ", whose fix group is for the same bug id; put the group on the first of them");
    }
  }
}

void CheckSites(const std::vector<std::string>& sites, const char* list) {
  for (size_t i = 0; i < sites.size(); ++i) {
    if (sites[i].empty()) Fail(Entry(list, i) + ": empty site name");
  }
}

}  // namespace

void Validate(const Database& database) {
  if (database.version < Version1_0) Fail("version: below 1.0");
  CheckAscendingIds(database.services, "services");
  CheckAscendingIds(database.bugs, "bugs");
  for (size_t i = 0; i < database.bugs.size(); ++i) {
    const Bug& bug = database.bugs[i];
    if (!HasId(database.services, bug.serviceId)) {
      Fail(Entry("bugs", i) + " (id " + std::to_string(bug.id) + "): unknown service id " +
           std::to_string(bug.serviceId));
    }
  }
  for (size_t i = 0; i < database.rules.size(); ++i) {
    CheckBugReference(database, Entry("rules", i) + " (mask \"" + database.rules[i].mask + "\")",
                      database.rules[i].bugId);
  }
  CheckExceptions(database);
  CheckSites(database.partnerSites, "partnerSites");
  CheckSites(database.incompatibleSites, "incompatibleSites");
  if (database.timestamp && *database.timestamp < orv::datetime::GregorianToFileTimeOffset) {
    Fail("timestamp: " + std::to_string(*database.timestamp) + " is before 1601-01-01");
  }
}

}  // namespace dnt::bases_writer
