#include "tools/bases_writer/bases_writer.h"

#include <algorithm>
#include <stdexcept>

#include "do_not_track/util/binary_serializer.h"

namespace dnt::bases_writer {

namespace {

constexpr uint32_t HeaderSize = 20;
constexpr uint32_t DirectoryEntrySize = 20;

uint32_t Count(size_t n) {
  if (n > UINT32_MAX) throw std::length_error("too many records for one stream");
  return static_cast<uint32_t>(n);
}

uint32_t Offset(size_t n) {
  if (n > UINT32_MAX) throw std::length_error("the bug database would exceed 4 GiB");
  return static_cast<uint32_t>(n);
}

Stream NewStream(uint32_t tag, size_t count) {
  Stream stream;
  stream.tag = tag;
  stream.count = Count(count);
  return stream;
}

// Rules and exceptions share the record: the mask, then the bug id.
template <class Record>
Stream EncodeMaskRecords(uint32_t tag, const std::vector<Record>& records) {
  Stream stream = NewStream(tag, records.size());
  for (const Record& record : records) {
    AppendBlob(stream.bytes, record.mask);
    AppendVarint(stream.bytes, record.bugId);
  }
  return stream;
}

}  // namespace

void AppendVarint(std::vector<uint8_t>& out, uint64_t value) {
  const size_t start = out.size();
  out.resize(start + VarintSize(value));
  WriteVarint(out.data() + start, value);
}

void AppendFixed32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void AppendFixed64(std::vector<uint8_t>& out, uint64_t value) {
  for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void AppendBlob(std::vector<uint8_t>& out, std::string_view bytes) {
  AppendVarint(out, bytes.size());
  out.insert(out.end(), bytes.begin(), bytes.end());
}

Stream EncodeServices(const std::vector<Service>& services) {
  Stream stream = NewStream(tag::Services, services.size());
  for (const Service& service : services) {
    AppendVarint(stream.bytes, service.id);
    AppendVarint(stream.bytes, service.category);
    AppendBlob(stream.bytes, service.name);
  }
  return stream;
}

Stream EncodeBugs(const std::vector<Bug>& bugs) {
  Stream stream = NewStream(tag::Bugs, bugs.size());
  for (const Bug& bug : bugs) {
    AppendVarint(stream.bytes, bug.id);
    AppendVarint(stream.bytes, bug.serviceId);
  }
  return stream;
}

Stream EncodeRules(const std::vector<Rule>& rules) { return EncodeMaskRecords(tag::Rules, rules); }

Stream EncodeExceptions(const std::vector<Exception>& exceptions) {
  return EncodeMaskRecords(tag::Exceptions, exceptions);
}

Stream EncodeExceptionsFix(const std::vector<Exception>& exceptions) {
  Stream stream = NewStream(tag::ExceptionsFix, 0);
  for (const Exception& exception : exceptions) {
    if (!exception.fixGroup) continue;
    AppendVarint(stream.bytes, exception.bugId);
    AppendVarint(stream.bytes, exception.fixGroup->size());
    for (const uint32_t id : *exception.fixGroup) AppendVarint(stream.bytes, id);
  }
  return stream;
}

Stream EncodeHttpsDomains(const std::vector<std::string>& domains) {
  return EncodeSiteList(tag::HttpsDomains, domains);
}

Stream EncodeSiteList(uint32_t tag, const std::vector<std::string>& sites) {
  Stream stream = NewStream(tag, sites.size());
  for (const std::string& site : sites) AppendBlob(stream.bytes, site);
  return stream;
}

Stream EncodeTimestamp(int64_t timestamp) {
  Stream stream = NewStream(tag::Timestamp, 1);
  AppendFixed64(stream.bytes, static_cast<uint64_t>(timestamp));
  return stream;
}

FileLayout Layout(const Database& database) {
  FileLayout layout;
  layout.version = database.version;
  layout.streams.push_back(EncodeServices(database.services));
  layout.streams.push_back(EncodeBugs(database.bugs));
  layout.streams.push_back(EncodeRules(database.rules));
  layout.streams.push_back(EncodeExceptions(database.exceptions));
  const bool anyGroup = std::any_of(database.exceptions.begin(), database.exceptions.end(),
                                    [](const Exception& e) { return e.fixGroup.has_value(); });
  if (database.exceptionsFix || anyGroup) layout.streams.push_back(EncodeExceptionsFix(database.exceptions));
  layout.streams.push_back(EncodeHttpsDomains(database.httpsDomains));
  layout.streams.push_back(EncodeSiteList(tag::PartnerSites, database.partnerSites));
  layout.streams.push_back(EncodeSiteList(tag::IncompatibleSites, database.incompatibleSites));
  if (database.timestamp) layout.streams.push_back(EncodeTimestamp(*database.timestamp));
  return layout;
}

std::vector<uint8_t> Assemble(const FileLayout& layout) {
  const size_t directorySize = layout.streams.size() * DirectoryEntrySize;
  std::vector<uint8_t> directory;
  directory.reserve(directorySize);
  size_t position = HeaderSize + directorySize;
  for (const Stream& stream : layout.streams) {
    AppendFixed32(directory, stream.tag);
    AppendFixed32(directory, stream.version);
    AppendFixed32(directory, stream.offset.value_or(Offset(position)));
    AppendFixed32(directory, stream.size.value_or(Offset(stream.bytes.size())));
    AppendFixed32(directory, stream.count);
    position += stream.bytes.size();
  }
  Offset(position);

  std::vector<uint8_t> file;
  file.reserve(position);
  AppendFixed32(file, layout.magic);
  AppendFixed32(file, layout.version);
  AppendFixed32(file, layout.directoryOffset.value_or(HeaderSize));
  AppendFixed32(file, layout.directorySize.value_or(Offset(directorySize)));
  AppendFixed32(file, layout.directoryCount.value_or(Count(layout.streams.size())));
  file.insert(file.end(), directory.begin(), directory.end());
  for (const Stream& stream : layout.streams) file.insert(file.end(), stream.bytes.begin(), stream.bytes.end());
  return file;
}

Stream* FindStream(FileLayout& layout, uint32_t tag) {
  for (Stream& stream : layout.streams) {
    if (stream.tag == tag) return &stream;
  }
  return nullptr;
}

void RemoveStream(FileLayout& layout, uint32_t tag) {
  std::erase_if(layout.streams, [tag](const Stream& stream) { return stream.tag == tag; });
}

std::vector<uint8_t> Write(const Database& database) {
  Validate(database);
  return Assemble(Layout(database));
}

void AppendScriptRecord(std::vector<uint8_t>& file, std::string_view script, uint8_t continuity) {
  AppendFixed32(file, static_cast<uint32_t>(script.size()));
  file.insert(file.end(), {continuity, 0, 0, 0});
  file.insert(file.end(), script.begin(), script.end());
}

std::vector<uint8_t> WriteScriptFile(std::span<const std::string> scripts) {
  std::vector<uint8_t> file;
  for (const std::string& script : scripts) AppendScriptRecord(file, script);
  return file;
}

}  // namespace dnt::bases_writer
