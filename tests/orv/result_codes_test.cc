#include <gtest/gtest.h>

#include "orv/rtl/error_handling/result_text.h"

namespace {

using orv::ResultCodeToText;
using orv::Win32ErrorToResult;

TEST(ResultCodes, TextsCoverBothFacilitiesAndNothingElse) {
  EXPECT_EQ(ResultCodeToText(0), "No error");
  EXPECT_EQ(ResultCodeToText(1), "False");
  EXPECT_EQ(ResultCodeToText(0x80000001), "Interface not supported");
  EXPECT_EQ(ResultCodeToText(0x8000006a), "Invalid state");
  EXPECT_EQ(ResultCodeToText(0x80000313), "DateTime syntax error");
  EXPECT_EQ(ResultCodeToText(0x80010100), "Unspecified platform error");
  EXPECT_EQ(ResultCodeToText(0x80010118), "System shutdown in progress");
  // Gaps inside the table, the text-less platform codes, other facilities and
  // successes other than 0 and 1.
  for (orv::result_t code : {0x8000004eu, 0x80010119u, 0x8001010au, 0x8001010fu, 0x80020000u, 0x80070005u, 2u})
    EXPECT_EQ(ResultCodeToText(code), "Unknown result code") << std::hex << code;
}

TEST(ResultCodes, OsErrorsMapThroughTableFacilityAndUnwrapping) {
  EXPECT_EQ(Win32ErrorToResult(0), 0u);
  EXPECT_EQ(Win32ErrorToResult(2), 0x80010102u);
  EXPECT_EQ(Win32ErrorToResult(267), 0x80010103u);
  EXPECT_EQ(Win32ErrorToResult(1460), 0x80000221u);
  EXPECT_EQ(Win32ErrorToResult(14001), 0x80010108u);
  // Unlisted small numbers keep their value under facility 7.
  EXPECT_EQ(Win32ErrorToResult(9999), 0x8007270fu);
  // Success values and foreign failures.
  EXPECT_EQ(Win32ErrorToResult(0x10000), 0u);
  EXPECT_EQ(Win32ErrorToResult(0x80004005), 0x80010100u);
  // Wrapped OS errors are unwrapped and mapped again.
  EXPECT_EQ(Win32ErrorToResult(0x80070005), 0x80000045u);
  EXPECT_EQ(Win32ErrorToResult(0x800700ea), 0x80000044u);
  EXPECT_EQ(Win32ErrorToResult(0x80071234), 0x80071234u);
}

}  // namespace
