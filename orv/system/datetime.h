// Date and time conversions of the platform layer: Windows file times (100 ns
// units since 1601-01-01 UTC) to calendar fields in UTC and in local time.
#pragma once

#include <cstdint>

namespace orv::datetime {

/// Calendar fields, as the Windows SYSTEMTIME holds them.
struct SystemTime {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t dayOfWeek = 0;  ///< 0 = Sunday
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

/// 100 ns units from 1582-10-15 00:00 UTC to 1601-01-01 00:00 UTC.
inline constexpr int64_t GregorianToFileTimeOffset = 5748192000000000;

/// A timestamp in 100 ns units since 1582-10-15 UTC as a file time. Throws
/// orv::datetime::TimeSystemError (invalid argument) "Invalid utc timestamp
/// for windows platform" for a time before 1601.
uint64_t UtcTimestampToFileTime(int64_t timestamp);

/// UTC calendar fields of a file time. Throws TimeSystemError for a file time
/// with bit 63 set.
SystemTime FileTimeToSystemTime(uint64_t fileTime);

/// Local calendar fields of a file time, with the time-zone rules in force at
/// that instant. Throws TimeSystemError when the platform cannot convert it.
SystemTime FileTimeToLocalTime(uint64_t fileTime);

}  // namespace orv::datetime
