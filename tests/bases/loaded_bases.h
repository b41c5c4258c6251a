// Loads bug databases written by the test's own writer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bug_bases.h"
#include "do_not_track/dnt_engine/bug_bases_loader.h"
#include "host/capturing_tracer.h"
#include "host/memory_io.h"
#include "tools/bases_writer/bases_writer.h"

namespace dnt::testing {

struct LoadedBases {
  orv::ComPtr<host::CapturingTracer> tracer = host::MakeHostObject<host::CapturingTracer>();
  std::unique_ptr<BugBases> bases = std::make_unique<BugBases>(orv::ComPtr<orv::ITracer>(tracer.Get()));
  orv::result_t result = orv::result::Unexpected;

  /// The level-300 lines, joined.
  std::string Failures() const {
    std::string all;
    for (const std::string& line : tracer->Texts(orv::trace_level::Failure)) all += line + "\n";
    return all;
  }
};

/// `maxRead` caps the bytes one read of the stream delivers.
inline LoadedBases LoadBytes(std::vector<uint8_t> bytes, uint32_t maxRead = UINT32_MAX) {
  LoadedBases loaded;
  const auto stream = host::MakeHostObject<host::MemoryIO>(std::move(bytes));
  stream->LimitReadSize(maxRead);
  loaded.result = BugBasesLoader::Load(*loaded.bases, stream.Get());
  return loaded;
}

inline LoadedBases LoadLayout(const bases_writer::FileLayout& layout) { return LoadBytes(bases_writer::Assemble(layout)); }

inline LoadedBases LoadDatabase(const bases_writer::Database& database) {
  return LoadBytes(bases_writer::Write(database));
}

/// Two services (ids 10 category 4, 20 category 6), three bugs (ids 100 and
/// 101 of service 10, 200 of service 20), a rule and an exception each.
inline bases_writer::Database SmallDatabase() {
  bases_writer::Database db;
  db.services = {{10, 4, "Pixel Co"}, {20, 6, "Partner Inc"}};
  db.bugs = {{100, 10}, {101, 10}, {200, 20}};
  db.rules = {{"pixel.test/track", 100}, {"*.ads.test", 101}};
  db.exceptions = {{"partner.test", 200, std::nullopt}};
  db.httpsDomains = {"*.secure.test"};
  db.partnerSites = {"partner.test"};
  db.incompatibleSites = {"broken.test"};
  return db;
}

}  // namespace dnt::testing
