#include "orv/rtl/error_handling/result_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace orv {
namespace {

struct CodeText {
  result_t code;
  std::string_view text;
};

// Sorted by code so that lookup is a binary search.
constexpr CodeText kTexts[] = {
    {0x00000000, "No error"},
    {0x00000001, "False"},
    {0x80000001, "Interface not supported"},
    {0x80000040, "Unexpected"},
    {0x80000041, "Out of memory"},
    {0x80000042, "Not supported"},
    {0x80000043, "Not implemented"},
    {0x80000044, "Buffer too small"},
    {0x80000045, "Access denied"},
    {0x80000046, "Invalid argument"},
    {0x80000047, "Bad cast"},
    {0x8000004a, "Not matched"},
    {0x8000004b, "Unspecified error"},
    {0x8000004c, "Not found"},
    {0x8000004d, "Found"},
    {0x8000004f, "Locked"},
    {0x80000050, "Not locked"},
    {0x80000051, "Operation cancelled"},
    {0x80000057, "Method not found"},
    {0x80000058, "Stack is empty"},
    {0x80000059, "Media error"},
    {0x8000005a, "Invalid signature"},
    {0x8000005b, "Invalid version"},
    {0x8000005c, "Invalid size"},
    {0x8000005d, "Invalid type"},
    {0x8000005e, "Out of range"},
    {0x80000062, "Out of space"},
    {0x80000063, "Not ready"},
    {0x80000064, "Less than"},
    {0x80000065, "More than"},
    {0x80000066, "Prohibited"},
    {0x80000067, "Already done"},
    {0x80000068, "Need reboot"},
    {0x80000069, "Bases corrupted"},
    {0x8000006a, "Invalid state"},
    {0x8000006b, "Not initialized"},
    {0x8000006c, "Insufficient resources"},
    {0x80000071, "Invalid result"},
    {0x80000072, "Unknown exception"},
    {0x80000076, "Meta information not found"},
    {0x80000077, "Numerical type overflow"},
    {0x80000078, "File is too big"},
    {0x80000079, "Trace level ok"},
    {0x8000007a, "Trace level prohibited"},
    {0x80000100, "Class not found"},
    {0x80000101, "Settings are required"},
    {0x80000102, "Unexpected settings"},
    {0x80000103, "Wrong settings type"},
    {0x80000104, "Wrong settings revision"},
    {0x80000105, "Settings not found"},
    {0x80000106, "Object is untrusted"},
    {0x80000150, "No current exception"},
    {0x80000151, "Exception has no result code"},
    {0x80000152, "Exception with successful result code"},
    {0x80000180, "Property not found"},
    {0x80000221, "Operation timeout"},
    {0x80000300, "Invalid symbol"},
    {0x80000301, "Non dec symbol"},
    {0x80000302, "Non hex symbol"},
    {0x80000303, "Non base64 symbol"},
    {0x80000310, "Syntax error"},
    {0x80000311, "GUID syntax error"},
    {0x80000312, "OID syntax error"},
    {0x80000313, "DateTime syntax error"},
    {0x80010100, "Unspecified platform error"},
    {0x80010101, "Invalid handle"},
    {0x80010102, "File not found"},
    {0x80010103, "Path not found"},
    {0x80010104, "Sharing violation"},
    {0x80010105, "Already exists"},
    {0x80010106, "Wait abandoned"},
    {0x80010107, "Symbol not found"},
    {0x80010108, "Sxs is incorrect"},
    {0x80010109, "Invalid path name"},
    {0x80010110, "Cannot open an anonymous level security token"},
    {0x80010111, "Password is invalid"},
    {0x80010112, "Module not found"},
    {0x80010113, "System image bad signature"},
    {0x80010114, "Cloud file request aborted"},
    {0x80010115, "Memory mapping failed"},
    {0x80010116, "Network error"},
    {0x80010117, "System image bad format"},
    {0x80010118, "System shutdown in progress"},
};

struct ErrorMapping {
  uint32_t osError;
  result_t code;
};

// OS error numbers in Windows numbering, sorted.
constexpr ErrorMapping kOsErrors[] = {
    {0, 0},
    {1, result::NotSupported},
    {2, result::FileNotFound},
    {3, result::PathNotFound},
    {5, result::AccessDenied},
    {6, result::InvalidHandle},
    {8, result::OutOfMemory},
    {21, result::NotReady},
    {24, result::InvalidSize},
    {31, result::UnspecifiedError},
    {32, result::SharingViolation},
    {33, result::SharingViolation},
    {50, result::NotSupported},
    {53, result::PathNotFound},
    {80, result::AlreadyExists},
    {87, result::InvalidArgument},
    {111, result::BufferTooSmall},
    {112, result::OutOfSpace},
    {122, result::BufferTooSmall},
    {123, result::InvalidPathName},
    {126, result::ModuleNotFound},
    {127, result::SymbolNotFound},
    {160, result::InvalidArgument},
    {183, result::AlreadyExists},
    {193, result::SystemImageBadFormat},
    {234, result::BufferTooSmall},
    {267, result::PathNotFound},
    {393, result::CloudFileRequestAborted},
    {637, result::SystemImageBadSignature},
    {995, result::OperationCancelled},
    {1168, result::NotFound},
    {1247, result::AlreadyDone},
    {1347, result::CannotOpenAnonymousToken},
    {1413, result::OutOfRange},
    {1450, result::InsufficientResources},
    {1460, result::OperationTimeout},
    {1630, result::InvalidType},
    {14001, result::SxsIsIncorrect},
};

template <class Table, class Key>
auto* FindSorted(const Table& table, Key key, Key (*keyOf)(const std::remove_reference_t<decltype(table[0])>&)) {
  auto it = std::lower_bound(std::begin(table), std::end(table), key,
                             [&](const auto& entry, Key k) { return keyOf(entry) < k; });
  return (it != std::end(table) && keyOf(*it) == key) ? &*it : nullptr;
}

}  // namespace

std::string_view ResultCodeToText(result_t code) noexcept {
  const CodeText* hit = FindSorted(kTexts, code, +[](const CodeText& e) { return e.code; });
  return hit ? hit->text : std::string_view("Unknown result code");
}

result_t Win32ErrorToResult(uint32_t osError) noexcept {
  for (;;) {
    if (const ErrorMapping* hit = FindSorted(kOsErrors, osError, +[](const ErrorMapping& e) { return e.osError; }))
      return hit->code;
    if (osError < 0x10000) return result::Win32Facility | osError;
    if ((osError & 0x80000000u) == 0) return result::NoError;
    if (((osError >> 16) & 0x0fff) != 7) return result::UnspecifiedPlatformError;
    osError &= 0xffff;
  }
}

std::string DescribeResultCode(result_t code) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08x", code);
  return std::string(number) + " (" + std::string(ResultCodeToText(code)) + ")";
}

}  // namespace orv
