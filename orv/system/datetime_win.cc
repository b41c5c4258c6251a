// Windows implementation: the system's own file-time conversions, and local
// time from the time-zone rules of the time's own year where the system has
// them (GetTimeZoneInformationForYear, looked up at run time), else from the
// current rules, else from the current offset between local and UTC time.
#include <windows.h>

#include <string>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/system/datetime.h"
#include "orv/text/utf.h"

namespace orv::datetime {
namespace {

constexpr uint64_t TicksPerSecond = 10000000;
constexpr uint64_t TicksPerMillisecond = 10000;

[[noreturn]] void ThrowPlatformError(int line, const char16_t* message, DWORD error = ::GetLastError(),
                                     result_t code = result::UnspecifiedPlatformError) {
  throw TimeSystemError("datetime", line, code, message + text::Widen(" " + std::to_string(error)));
}

/// What the system answers for a file time it cannot represent.
[[noreturn]] void ThrowUnrepresentable(int line) {
  ThrowPlatformError(line, u"Cannot convert a file time to system time format:", ERROR_INVALID_PARAMETER,
                     result::InvalidArgument);
}

FILETIME ToFileTime(uint64_t fileTime) {
  return FILETIME{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
}

SystemTime FromSystemTime(const SYSTEMTIME& time, uint64_t fileTime) {
  SystemTime out;
  out.year = time.wYear;
  out.month = time.wMonth;
  out.dayOfWeek = time.wDayOfWeek;
  out.day = time.wDay;
  out.hour = time.wHour;
  out.minute = time.wMinute;
  out.second = time.wSecond;
  // Kept from the file time itself, as the other platforms do.
  out.milliseconds = static_cast<uint16_t>(fileTime % TicksPerSecond / TicksPerMillisecond);
  return out;
}

SYSTEMTIME UtcSystemTime(uint64_t fileTime) {
  const FILETIME time = ToFileTime(fileTime);
  SYSTEMTIME utc{};
  if (!::FileTimeToSystemTime(&time, &utc)) {
    ThrowPlatformError(__LINE__, u"Cannot convert a file time to system time format:");
  }
  return utc;
}

using TimeZoneForYear = BOOL(WINAPI*)(USHORT, PDYNAMIC_TIME_ZONE_INFORMATION, LPTIME_ZONE_INFORMATION);

/// The time-zone rules of `year`, else the current ones; false when the
/// system gives neither.
bool TimeZoneRules(USHORT year, TIME_ZONE_INFORMATION& zone) {
  if (const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
    const auto forYear =
        reinterpret_cast<TimeZoneForYear>(reinterpret_cast<void*>(::GetProcAddress(kernel, "GetTimeZoneInformationForYear")));
    if (forYear && forYear(year, nullptr, &zone)) return true;
  }
  return ::GetTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID;
}

}  // namespace

SystemTime FileTimeToSystemTime(uint64_t fileTime) {
  if (fileTime >> 63) ThrowUnrepresentable(__LINE__);
  return FromSystemTime(UtcSystemTime(fileTime), fileTime);
}

SystemTime FileTimeToLocalTime(uint64_t fileTime) {
  if (fileTime >> 63) ThrowUnrepresentable(__LINE__);
  const SYSTEMTIME utc = UtcSystemTime(fileTime);
  SYSTEMTIME local{};
  TIME_ZONE_INFORMATION zone{};
  if (TimeZoneRules(utc.wYear, zone)) {
    if (!::SystemTimeToTzSpecificLocalTime(&zone, &utc, &local)) {
      ThrowPlatformError(__LINE__, u"Cannot get timezone information");
    }
    return FromSystemTime(local, fileTime);
  }
  const FILETIME time = ToFileTime(fileTime);
  FILETIME localTime{};
  if (!::FileTimeToLocalFileTime(&time, &localTime) || !::FileTimeToSystemTime(&localTime, &local)) {
    ThrowPlatformError(__LINE__, u"Cannot convert a file time to system time format:");
  }
  return FromSystemTime(local, fileTime);
}

}  // namespace orv::datetime
