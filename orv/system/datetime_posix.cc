// POSIX implementation. The local time comes from localtime_r over the
// time-zone database, which applies the offset in force at the given instant,
// in place of GetTimeZoneInformationForYear and its per-year transition dates.
#include "orv/system/datetime.h"

#include <cerrno>
#include <ctime>
#include <string>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/text/utf.h"

namespace orv::datetime {

namespace {

constexpr uint64_t TicksPerSecond = 10000000;
constexpr uint64_t TicksPerMillisecond = 10000;
constexpr int64_t SecondsPerDay = 86400;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t UnixEpochSeconds = 11644473600;
// Days from 0000-03-01 (proleptic Gregorian) to 1601-01-01.
constexpr int64_t DaysTo1601 = 584694;

// The message, a space and the platform's error number.
std::u16string WithPlatformError(const char16_t* message, int error) {
  return message + orv::text::Widen(" " + std::to_string(error));
}

// What Windows reports for a file time it cannot represent.
constexpr int InvalidParameterError = 87;

// Civil date of a day count since 0000-03-01 (Howard Hinnant's algorithm).
void CivilFromDays(int64_t days, SystemTime& out) {
  const int64_t era = days / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  out.year = static_cast<uint16_t>(year);
  out.month = static_cast<uint16_t>(month);
  out.day = static_cast<uint16_t>(day);
}

}  // namespace

SystemTime FileTimeToSystemTime(uint64_t fileTime) {
  if (fileTime >> 63) {
    throw TimeSystemError("datetime", __LINE__, result::InvalidArgument,
                          WithPlatformError(u"Cannot convert a file time to system time format:", InvalidParameterError));
  }
  const auto seconds = static_cast<int64_t>(fileTime / TicksPerSecond);
  const int64_t days = seconds / SecondsPerDay;
  const int64_t secondOfDay = seconds % SecondsPerDay;
  SystemTime out;
  CivilFromDays(days + DaysTo1601, out);
  out.dayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
  out.hour = static_cast<uint16_t>(secondOfDay / 3600);
  out.minute = static_cast<uint16_t>(secondOfDay / 60 % 60);
  out.second = static_cast<uint16_t>(secondOfDay % 60);
  out.milliseconds = static_cast<uint16_t>(fileTime % TicksPerSecond / TicksPerMillisecond);
  return out;
}

SystemTime FileTimeToLocalTime(uint64_t fileTime) {
  if (fileTime >> 63) {
    throw TimeSystemError("datetime", __LINE__, result::InvalidArgument,
                          WithPlatformError(u"Cannot convert a file time to system time format:", InvalidParameterError));
  }
  const auto seconds = static_cast<time_t>(static_cast<int64_t>(fileTime / TicksPerSecond) - UnixEpochSeconds);
  std::tm local{};
  errno = 0;
  if (!localtime_r(&seconds, &local)) {
    throw TimeSystemError("datetime", __LINE__, result::UnspecifiedPlatformError,
                          WithPlatformError(u"Cannot convert a file time to system time format:", errno));
  }
  SystemTime out;
  out.year = static_cast<uint16_t>(local.tm_year + 1900);
  out.month = static_cast<uint16_t>(local.tm_mon + 1);
  out.dayOfWeek = static_cast<uint16_t>(local.tm_wday);
  out.day = static_cast<uint16_t>(local.tm_mday);
  out.hour = static_cast<uint16_t>(local.tm_hour);
  out.minute = static_cast<uint16_t>(local.tm_min);
  out.second = static_cast<uint16_t>(local.tm_sec);
  out.milliseconds = static_cast<uint16_t>(fileTime % TicksPerSecond / TicksPerMillisecond);
  return out;
}

}  // namespace orv::datetime
