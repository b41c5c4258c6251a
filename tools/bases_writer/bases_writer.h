// Writes bug database files (dntbugs.dat): from an in-memory model to the
// exact bytes, and, for tests that need broken files, from raw streams with
// any tag, version, size and count.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "do_not_track/dnt_engine/bug_bases_loader.h"

namespace dnt::bases_writer {

// The file's constants are the loader's, so writer and reader cannot drift
// apart.
namespace tag = dnt::stream_tag;

inline constexpr uint32_t Magic = BugBasesMagic;
inline constexpr uint32_t Version1_0 = StreamVersion;
static_assert(BugBasesMinVersion == Version1_0);

struct Service {
  uint32_t id = 0;
  uint32_t category = 0;
  std::string name;  ///< UTF-8
};

struct Bug {
  uint32_t id = 0;
  uint32_t serviceId = 0;
};

struct Rule {
  std::string mask;
  uint32_t bugId = 0;
};

struct Exception {
  std::string mask;
  uint32_t bugId = 0;
  /// Further bug ids named by this exception (written to the exceptions fix
  /// stream); an empty group is allowed and names only `bugId`.
  std::optional<std::vector<uint32_t>> fixGroup;
};

struct Database {
  uint32_t version = Version1_0;
  std::vector<Service> services;
  std::vector<Bug> bugs;
  std::vector<Rule> rules;
  std::vector<Exception> exceptions;
  /// Writes the exceptions fix stream even when no exception has a group.
  bool exceptionsFix = false;
  std::vector<std::string> httpsDomains;
  std::vector<std::string> partnerSites;
  std::vector<std::string> incompatibleSites;
  /// Build time in 100 ns units since 1582-10-15 00:00 UTC.
  std::optional<int64_t> timestamp;
};

/// Throws std::invalid_argument, naming the offending entry, when the model
/// does not make a valid file: ids not positive or not ascending, references
/// to unknown services or bugs, empty site names, an exception without a fix
/// group ahead of a group for the same bug id (the loader would give it that
/// group).
void Validate(const Database& database);

/// Validates, then returns the file's bytes.
std::vector<uint8_t> Write(const Database& database);

// ---- Low level: for files that break the rules on purpose. ----

/// Minimal big-endian base-128 form.
void AppendVarint(std::vector<uint8_t>& out, uint64_t value);
void AppendFixed32(std::vector<uint8_t>& out, uint32_t value);
void AppendFixed64(std::vector<uint8_t>& out, uint64_t value);
/// Length varint, then the bytes.
void AppendBlob(std::vector<uint8_t>& out, std::string_view bytes);

/// One stream of the file. `size` and `offset` override what the directory
/// records; the bytes are placed in the file either way.
struct Stream {
  uint32_t tag = 0;
  uint32_t version = Version1_0;
  uint32_t count = 0;
  std::vector<uint8_t> bytes;
  std::optional<uint32_t> size;
  std::optional<uint32_t> offset;
};

/// Header fields, streams in directory order, and overrides of the header's
/// directory fields. The directory follows the header; the streams follow
/// the directory in order.
struct FileLayout {
  uint32_t magic = Magic;
  uint32_t version = Version1_0;
  std::vector<Stream> streams;
  std::optional<uint32_t> directoryOffset;
  std::optional<uint32_t> directorySize;
  std::optional<uint32_t> directoryCount;
};

/// The streams of `database` without validation.
FileLayout Layout(const Database& database);
std::vector<uint8_t> Assemble(const FileLayout& layout);

/// The first stream with `tag`, or null.
Stream* FindStream(FileLayout& layout, uint32_t tag);
void RemoveStream(FileLayout& layout, uint32_t tag);

Stream EncodeServices(const std::vector<Service>& services);
Stream EncodeBugs(const std::vector<Bug>& bugs);
Stream EncodeRules(const std::vector<Rule>& rules);
Stream EncodeExceptions(const std::vector<Exception>& exceptions);
/// The fix stream of the exceptions that have a group.
Stream EncodeExceptionsFix(const std::vector<Exception>& exceptions);
Stream EncodeHttpsDomains(const std::vector<std::string>& domains);
/// Names under `tag`: partner or incompatible sites (the HTTPS domain list
/// has the same form).
Stream EncodeSiteList(uint32_t tag, const std::vector<std::string>& sites);
Stream EncodeTimestamp(int64_t timestamp);

/// Script base files (dnt0???.dat): one record per script, made of the
/// script's 32-bit length, a continuity byte (non-zero in every readable
/// file), three unused bytes and the script itself.
void AppendScriptRecord(std::vector<uint8_t>& file, std::string_view script, uint8_t continuity = 1);
std::vector<uint8_t> WriteScriptFile(std::span<const std::string> scripts);

}  // namespace dnt::bases_writer
