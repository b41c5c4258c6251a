#include "do_not_track/dnt_engine/bug_bases_loader.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/trace/trace_stream.h"

namespace dnt {

namespace {

constexpr const char* LoaderLocation = "bug_bases_loader";
constexpr uint32_t HeaderSize = 20;
constexpr uint32_t DirectoryEntrySize = 20;
// The smallest record of each stream: what a count may claim is capped by
// the bytes that could hold it before anything is reserved for it.
constexpr uint64_t MinServiceRecord = 3;
constexpr uint64_t MinBugRecord = 2;
constexpr uint64_t MinMaskRecord = 2;

[[noreturn]] void ThrowSizeMismatch() { throw std::runtime_error("bugs database stream size mismatch"); }

void CheckConsumed(const BinaryStreamReader& reader, uint32_t size) {
  if (reader.Consumed() != size) ThrowSizeMismatch();
}

size_t Capped(uint32_t count, uint64_t available, uint64_t minRecord) {
  return static_cast<size_t>(std::min<uint64_t>(count, available / minRecord));
}

std::string TagText(uint32_t tag) {
  std::string text;
  for (int shift = 0; shift < 32; shift += 8) text.push_back(static_cast<char>((tag >> shift) & 0xFF));
  return text;
}

}  // namespace

BugBasesLoader::BugBasesLoader(BugBases& bases, orv::IIO* stream) : m_bases(bases), m_stream(stream) {}

orv::result_t BugBasesLoader::Load(BugBases& bases, orv::IIO* stream) noexcept {
  try {
    if (!stream) throw orv::InvalidArgumentException(LoaderLocation, __LINE__, u"no bug database stream");
    if (bases.m_version != 0) throw std::logic_error("the bug bases are loaded already");
    BugBasesLoader(bases, stream).Run();
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(bases.Tracer(), "Failed to load bug bases: ");
  }
}

void BugBasesLoader::Run() {
  // The size only bounds what a length field may ask for; a stream that
  // cannot tell it is read without that help.
  m_fileSizeKnown = orv::Succeeded(m_stream->GetSize(&m_fileSize));

  uint32_t directoryOffset = 0;
  uint32_t directorySize = 0;
  uint32_t directoryCount = 0;
  ReadHeader(directoryOffset, directorySize, directoryCount);
  ReadDirectory(directoryOffset, directorySize, directoryCount);

  orv::ITracer* tracer = m_bases.Tracer();
  LoadServices();
  orv::TraceStream(tracer, orv::trace_level::Routine) << "Bugs db: loaded " << m_bases.m_services.Count() << " services";
  LoadBugs();
  orv::TraceStream(tracer, orv::trace_level::Routine) << "Bugs db: loaded " << m_bases.m_bugs.size() << " bugs";
  LoadRules();
  orv::TraceStream(tracer, orv::trace_level::Routine)
      << "Bugs db: loaded " << m_bases.m_rules.Values().size() << " rules";
  LoadExceptions();
  orv::TraceStream(tracer, orv::trace_level::Routine)
      << "Bugs db: loaded " << m_bases.m_exceptions.Values().size() << " exceptions";
  m_bugIds.clear();
  m_bugIds.shrink_to_fit();

  LoadHttpsDomains();
  LoadSiteList(m_bases.m_partnerSites, stream_tag::PartnerSites, " known partner sites",
               "Failed to load bug bases partner site list: ");
  LoadSiteList(m_bases.m_incompatibleSites, stream_tag::IncompatibleSites, " known incompatible sites",
               "Failed to load bug bases incompatible site list: ");

  const std::string localTime = LoadTimestamp();
  orv::TraceStream line(tracer, orv::trace_level::Milestone);
  line << "Bug bases";
  if (!localTime.empty()) line << " built on " << localTime << " (" << m_bases.m_builtOn << ")";
  line << " successfully loaded";
}

BinaryStreamReader BugBasesLoader::OpenSection(uint32_t offset, uint32_t declaredSize) {
  orv::CheckResult(m_stream->Seek(orv::seek_origin::Begin, offset, nullptr), LoaderLocation, __LINE__);
  uint64_t limit = declaredSize;
  if (m_fileSizeKnown) limit = m_fileSize > offset ? m_fileSize - offset : 0;
  return BinaryStreamReader(m_stream, limit);
}

void BugBasesLoader::ReadHeader(uint32_t& directoryOffset, uint32_t& directorySize, uint32_t& directoryCount) {
  BinaryStreamReader reader = OpenSection(0, HeaderSize);
  const uint32_t magic = reader.ReadFixed32();
  const uint32_t version = reader.ReadFixed32();
  directoryOffset = reader.ReadFixed32();
  directorySize = reader.ReadFixed32();
  directoryCount = reader.ReadFixed32();
  if (magic != BugBasesMagic) throw std::runtime_error("invalid bugs database");
  if (version < BugBasesMinVersion) throw std::runtime_error("unsupported bugs database version");
  m_bases.m_version = version;
}

void BugBasesLoader::ReadDirectory(uint32_t offset, uint32_t size, uint32_t count) {
  BinaryStreamReader reader = OpenSection(offset, size);
  m_directory.reserve(Capped(count, reader.Remaining(), DirectoryEntrySize));
  for (uint32_t i = 0; i < count; ++i) {
    StreamDescriptor entry;
    entry.tag = reader.ReadFixed32();
    entry.version = reader.ReadFixed32();
    entry.offset = reader.ReadFixed32();
    entry.size = reader.ReadFixed32();
    entry.count = reader.ReadFixed32();
    m_directory.push_back(entry);
  }
  CheckConsumed(reader, size);
}

const StreamDescriptor* BugBasesLoader::FindStream(uint32_t tag) const noexcept {
  for (const StreamDescriptor& entry : m_directory) {
    if (entry.tag == tag && entry.version == StreamVersion) return &entry;
  }
  return nullptr;
}

const StreamDescriptor& BugBasesLoader::RequireStream(uint32_t tag) const {
  if (const StreamDescriptor* entry = FindStream(tag)) return *entry;
  throw std::runtime_error("bugs stream [" + TagText(tag) + ", " + std::to_string(StreamVersion >> 16) + "." +
                           std::to_string(StreamVersion & 0xFFFF) + "] not found");
}

std::vector<uint8_t> BugBasesLoader::ReadWholeSection(const StreamDescriptor& entry) {
  BinaryStreamReader reader = OpenSection(entry.offset, entry.size);
  std::vector<uint8_t> bytes;
  reader.ReadBytes(bytes, entry.size);
  return bytes;
}

void BugBasesLoader::LoadServices() {
  const StreamDescriptor& entry = RequireStream(stream_tag::Services);
  BinaryStreamReader reader = OpenSection(entry.offset, entry.size);
  FlatObjectListBlock& services = m_bases.m_services;
  services.Reserve(Capped(entry.count, reader.Remaining(), MinServiceRecord), 2);
  uint32_t previousId = 0;
  std::string name;
  for (uint32_t i = 0; i < entry.count; ++i) {
    const uint32_t id = reader.ReadVarint32();
    const uint32_t category = reader.ReadVarint32();
    reader.ReadBlob(name);
    if (id <= previousId) throw std::runtime_error("bugs db: service stream is not sorted");
    previousId = id;
    services.Add(id, category, name);
  }
  CheckConsumed(reader, entry.size);
  services.ShrinkToFit();
}

void BugBasesLoader::LoadBugs() {
  const StreamDescriptor& entry = RequireStream(stream_tag::Bugs);
  BinaryStreamReader reader = OpenSection(entry.offset, entry.size);
  const FlatObjectListBlock& services = m_bases.m_services;
  const size_t reserve = Capped(entry.count, reader.Remaining(), MinBugRecord);
  m_bases.m_bugs.reserve(reserve);
  m_bugIds.reserve(reserve);
  uint32_t previousId = 0;
  for (uint32_t i = 0; i < entry.count; ++i) {
    const uint32_t bugId = reader.ReadVarint32();
    const uint32_t serviceId = reader.ReadVarint32();
    if (bugId <= previousId) throw std::runtime_error("bugs db: bugs stream is not sorted: " + std::to_string(bugId));
    previousId = bugId;
    // Lower bound over the services, whose ids ascend.
    size_t low = 0;
    size_t high = services.Count();
    while (low < high) {
      const size_t middle = low + (high - low) / 2;
      if (services.GetId(middle) < serviceId) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    if (low == services.Count() || services.GetId(low) != serviceId) {
      throw std::runtime_error("bugs db: bugs stream: unexpected service id");
    }
    m_bases.m_bugs.push_back(static_cast<uint32_t>(low));
    m_bugIds.push_back(bugId);
  }
  CheckConsumed(reader, entry.size);
  m_bases.m_bugs.shrink_to_fit();
}

uint32_t BugBasesLoader::ResolveBugId(uint32_t bugId) const {
  const auto found = std::lower_bound(m_bugIds.begin(), m_bugIds.end(), bugId);
  if (found == m_bugIds.end() || *found != bugId) throw std::runtime_error("rules/exceptions stream: unexpected bug id");
  return static_cast<uint32_t>(found - m_bugIds.begin());
}

void BugBasesLoader::LoadRules() {
  ReadMaskRecords(m_bases.m_rules, RequireStream(stream_tag::Rules), nullptr);
}

void BugBasesLoader::LoadExceptions() {
  const StreamDescriptor* fixEntry = FindStream(stream_tag::ExceptionsFix);
  const StreamDescriptor& entry = RequireStream(stream_tag::Exceptions);
  if (!fixEntry) {
    ReadMaskRecords(m_bases.m_exceptions, entry, nullptr);
    return;
  }
  orv::TraceStream(m_bases.Tracer(), orv::trace_level::Milestone) << "Using v2 exception stream";
  const std::vector<uint8_t> fix = ReadWholeSection(*fixEntry);
  ReadMaskRecords(m_bases.m_exceptions, entry, &fix);
}

void BugBasesLoader::ReadMaskRecords(BugRules& table, const StreamDescriptor& entry, const std::vector<uint8_t>* fix) {
  std::vector<uint8_t> noFix;
  const std::vector<uint8_t>& fixBytes = fix ? *fix : noFix;
  ByteSpanReader fixReader(fixBytes.data(), fixBytes.data() + fixBytes.size(), u"exceptions fix");
  uint32_t target = 0;
  if (!fixReader.AtEnd()) target = fixReader.ReadVarint32();

  BinaryStreamReader reader = OpenSection(entry.offset, entry.size);
  table.Reserve(Capped(entry.count, reader.Remaining(), MinMaskRecord));
  std::string mask;
  std::vector<uint32_t> group;
  for (uint32_t i = 0; i < entry.count; ++i) {
    reader.ReadBlob(mask);
    const uint32_t bugId = reader.ReadVarint32();
    if (fixReader.AtEnd() || bugId != target) {
      table.AddMask(mask, ResolveBugId(bugId));
      continue;
    }
    group.assign(1, bugId);
    const uint32_t extra = fixReader.ReadVarint32();
    for (uint32_t k = 0; k < extra; ++k) group.push_back(fixReader.ReadVarint32());
    for (uint32_t& id : group) id = ResolveBugId(id);
    table.AddMaskList(mask, group);
    if (!fixReader.AtEnd()) target = fixReader.ReadVarint32();
  }
  CheckConsumed(reader, entry.size);
  table.Finalize();
}

}  // namespace dnt
