// The build time of the bug database.
#include <cstdio>
#include <string>

#include "do_not_track/dnt_engine/bug_bases_loader.h"
#include "orv/system/datetime.h"

namespace dnt {

namespace {

constexpr size_t MaxBuiltOnLength = 27;

// `separator` goes between date and time, `suffix` after the time.
std::string Format(const orv::datetime::SystemTime& t, char separator, const char* suffix) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u%c%02u:%02u:%02u%s", unsigned{t.year}, unsigned{t.month},
                unsigned{t.day}, separator, unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second}, suffix);
  return text;
}

}  // namespace

std::string BugBasesLoader::LoadTimestamp() {
  const StreamDescriptor* entry = FindStream(stream_tag::Timestamp);
  if (!entry) return {};
  const std::vector<uint8_t> bytes = ReadWholeSection(*entry);
  ByteSpanReader reader(bytes.data(), bytes.data() + bytes.size(), u"timestamp");
  const auto timestamp = static_cast<int64_t>(reader.ReadFixed64());
  const uint64_t fileTime = orv::datetime::UtcTimestampToFileTime(timestamp);
  m_bases.m_builtOn = Format(orv::datetime::FileTimeToSystemTime(fileTime), 'T', "Z").substr(0, MaxBuiltOnLength);
  return Format(orv::datetime::FileTimeToLocalTime(fileTime), ' ', "");
}

}  // namespace dnt
