// Reads dntbugs.dat from a host stream into an empty BugBases, checking the
// file's structure as it goes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bug_bases.h"
#include "do_not_track/util/binary_serializer.h"
#include "orv/io.h"
#include "orv/result.h"

namespace dnt {

/// Tags of the file's streams (the file holds them least significant byte
/// first, so the services tag reads "SVRS").
namespace stream_tag {
inline constexpr uint32_t Services = 0x53525653;
inline constexpr uint32_t Bugs = 0x42554753;
inline constexpr uint32_t Rules = 0x52554C53;
inline constexpr uint32_t Exceptions = 0x45584350;
inline constexpr uint32_t ExceptionsFix = 0x45584658;
inline constexpr uint32_t HttpsDomains = 0x53534C44;
inline constexpr uint32_t PartnerSites = 0x574C5354;
inline constexpr uint32_t IncompatibleSites = 0x494E434D;
inline constexpr uint32_t Timestamp = 0x4454544D;
}  // namespace stream_tag

inline constexpr uint32_t BugBasesMagic = 0x444E5442;
inline constexpr uint32_t BugBasesMinVersion = 0x00010000;
/// The only stream version the loader looks up.
inline constexpr uint32_t StreamVersion = 0x00010000;

/// One directory entry.
struct StreamDescriptor {
  uint32_t tag = 0;
  uint32_t version = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t count = 0;
};

class BugBasesLoader {
 public:
  /// Loads `bases` (freshly constructed) from `stream`, which must support
  /// read and seek from the start. Returns 0 after a complete load; any
  /// failure is traced at level 300 with "Failed to load bug bases: " and its
  /// result code returned. A broken site or HTTPS domain list is traced but
  /// does not fail the load.
  static orv::result_t Load(BugBases& bases, orv::IIO* stream) noexcept;

 private:
  BugBasesLoader(BugBases& bases, orv::IIO* stream);

  void Run();
  void ReadHeader(uint32_t& directoryOffset, uint32_t& directorySize, uint32_t& directoryCount);
  void ReadDirectory(uint32_t offset, uint32_t size, uint32_t count);
  void LoadServices();
  void LoadBugs();
  void LoadRules();
  void LoadExceptions();
  void ReadMaskRecords(BugRules& table, const StreamDescriptor& entry, const std::vector<uint8_t>* fix);
  void LoadHttpsDomains();
  void LoadSiteList(ExceptionalSites& sites, uint32_t tag, const char* what, const char* failurePrefix);
  /// Returns the local-time text of the build time, or "" without one.
  std::string LoadTimestamp();

  const StreamDescriptor* FindStream(uint32_t tag) const noexcept;
  const StreamDescriptor& RequireStream(uint32_t tag) const;
  /// Seeks to `offset` and returns a reader limited to what the file holds
  /// from there.
  BinaryStreamReader OpenSection(uint32_t offset, uint32_t declaredSize);
  std::vector<uint8_t> ReadWholeSection(const StreamDescriptor& entry);
  uint32_t ResolveBugId(uint32_t bugId) const;

  BugBases& m_bases;
  orv::IIO* m_stream;
  bool m_fileSizeKnown = false;
  uint64_t m_fileSize = 0;
  std::vector<StreamDescriptor> m_directory;
  // Bug ids in ascending order; position = bug index. Only needed while
  // rules and exceptions are read.
  std::vector<uint32_t> m_bugIds;
};

}  // namespace dnt
