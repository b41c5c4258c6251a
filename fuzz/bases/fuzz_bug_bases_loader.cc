// Arbitrary bytes as a dntbugs.dat, or as damage done to a valid one: the load
// either succeeds or returns a failure code, and a loaded database answers
// its queries; never a crash, an over-read or a huge allocation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bug_bases_loader.h"
#include "do_not_track/dnt_engine/bug_queries.h"
#include "host/memory_io.h"
#include "tools/bases_writer/bases_writer.h"

namespace {

using namespace dnt;

// A valid file with every stream, fix groups and a timestamp.
const std::vector<uint8_t>& Template() {
  static const std::vector<uint8_t> bytes = [] {
    bases_writer::Database db;
    db.services = {{1, 4, "Pixel"}, {2, 6, "Partner"}, {3, 7, "Incompatible"}};
    db.bugs = {{10, 1}, {11, 2}, {12, 3}};
    db.rules = {{"pixel.test/t", 10}, {"*.ads.test", 10}};
    db.exceptions = {{"partner.test", 11, std::vector<uint32_t>{12}}, {"plain.test", 12, std::nullopt}};
    db.httpsDomains = {"*.secure.test", "bank.test"};
    db.partnerSites = {"partner.test"};
    db.incompatibleSites = {"broken.test"};
    db.timestamp = 139285911090000000;
    return bases_writer::Write(db);
  }();
  return bytes;
}

// Mode 0: the input is the file. Mode 1: the input overwrites the template
// from an offset. Mode 2: the template cut to a length.
std::vector<uint8_t> FileFromInput(const uint8_t* data, size_t size) {
  if (size < 3) return std::vector<uint8_t>(data, data + size);
  const size_t position = (size_t{data[1]} << 8 | data[2]) % Template().size();
  switch (data[0] % 3) {
    case 1: {
      std::vector<uint8_t> file = Template();
      for (size_t i = 3; i < size && position + i - 3 < file.size(); ++i) file[position + i - 3] ^= data[i];
      return file;
    }
    case 2:
      return std::vector<uint8_t>(Template().begin(), Template().begin() + static_cast<std::ptrdiff_t>(position));
    default:
      return std::vector<uint8_t>(data + 3, data + size);
  }
}

void Query(const BugBases& bases) {
  static const std::string urls[] = {"http://pixel.test/t?x", "partner.test"};
  for (const std::string& url : urls) {
    const auto length = static_cast<uint32_t>(url.size());
    const std::vector<uint32_t> rules = MatchBugRules(bases, url.data(), length);
    const std::vector<uint32_t> exceptions = MatchBugExceptions(bases, url.data(), length);
    // Loaded values always name existing bugs.
    for (const uint32_t bug : rules) GetBugService(bases, bug);
    DetectExceptionalSites(bases, exceptions);
    GetSiteCategory(bases, url.data(), length);
    IsHttpsDomainProcessingRequired(bases, url.data(), length);
  }
  std::vector<std::u16string> sites;
  for (const ExceptionalSites* list : {&bases.PartnerSites(), &bases.IncompatibleSites()}) {
    try {
      list->Enumerate(sites);
    } catch (const std::exception&) {
    }
  }
  std::vector<SupportedTrackingService> services;
  try {
    GetSupportedTrackingServices(bases, 4, services);
  } catch (const std::bad_cast&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BugBases bases{orv::ComPtr<orv::ITracer>()};
  const auto stream = host::MakeHostObject<host::MemoryIO>(FileFromInput(data, size));
  if (orv::Succeeded(BugBasesLoader::Load(bases, stream.Get()))) Query(bases);
  return 0;
}
