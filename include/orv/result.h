// Result codes: 32-bit, bit 31 set means failure.
#pragma once

#include <cstdint>

namespace orv {

using result_t = uint32_t;
using iid_t = uint32_t;
using clsid_t = uint32_t;

inline constexpr bool Failed(result_t r) { return (r & 0x80000000u) != 0; }
inline constexpr bool Succeeded(result_t r) { return !Failed(r); }

namespace result {
inline constexpr result_t NoError = 0x00000000;
inline constexpr result_t False = 0x00000001;
inline constexpr result_t InterfaceNotSupported = 0x80000001;
inline constexpr result_t Unexpected = 0x80000040;
inline constexpr result_t OutOfMemory = 0x80000041;
inline constexpr result_t NotSupported = 0x80000042;
inline constexpr result_t NotImplemented = 0x80000043;
inline constexpr result_t BufferTooSmall = 0x80000044;
inline constexpr result_t AccessDenied = 0x80000045;
inline constexpr result_t InvalidArgument = 0x80000046;
inline constexpr result_t BadCast = 0x80000047;
inline constexpr result_t NotMatched = 0x8000004a;
inline constexpr result_t UnspecifiedError = 0x8000004b;
inline constexpr result_t NotFound = 0x8000004c;
inline constexpr result_t Found = 0x8000004d;
inline constexpr result_t Locked = 0x8000004f;
inline constexpr result_t NotLocked = 0x80000050;
inline constexpr result_t OperationCancelled = 0x80000051;
inline constexpr result_t MethodNotFound = 0x80000057;
inline constexpr result_t StackIsEmpty = 0x80000058;
inline constexpr result_t MediaError = 0x80000059;
inline constexpr result_t InvalidSignature = 0x8000005a;
inline constexpr result_t InvalidVersion = 0x8000005b;
inline constexpr result_t InvalidSize = 0x8000005c;
inline constexpr result_t InvalidType = 0x8000005d;
inline constexpr result_t OutOfRange = 0x8000005e;
inline constexpr result_t OutOfSpace = 0x80000062;
inline constexpr result_t NotReady = 0x80000063;
inline constexpr result_t LessThan = 0x80000064;
inline constexpr result_t MoreThan = 0x80000065;
inline constexpr result_t Prohibited = 0x80000066;
inline constexpr result_t AlreadyDone = 0x80000067;
inline constexpr result_t NeedReboot = 0x80000068;
inline constexpr result_t BasesCorrupted = 0x80000069;
inline constexpr result_t InvalidState = 0x8000006a;
inline constexpr result_t NotInitialized = 0x8000006b;
inline constexpr result_t InsufficientResources = 0x8000006c;
inline constexpr result_t InvalidResult = 0x80000071;
inline constexpr result_t UnknownException = 0x80000072;
inline constexpr result_t MetaInformationNotFound = 0x80000076;
inline constexpr result_t NumericalTypeOverflow = 0x80000077;
inline constexpr result_t FileIsTooBig = 0x80000078;
inline constexpr result_t TraceLevelOk = 0x80000079;
inline constexpr result_t TraceLevelProhibited = 0x8000007a;
inline constexpr result_t ClassNotFound = 0x80000100;
inline constexpr result_t SettingsAreRequired = 0x80000101;
inline constexpr result_t UnexpectedSettings = 0x80000102;
inline constexpr result_t WrongSettingsType = 0x80000103;
inline constexpr result_t WrongSettingsRevision = 0x80000104;
inline constexpr result_t SettingsNotFound = 0x80000105;
inline constexpr result_t ObjectIsUntrusted = 0x80000106;
inline constexpr result_t NoCurrentException = 0x80000150;
inline constexpr result_t ExceptionHasNoResultCode = 0x80000151;
inline constexpr result_t ExceptionWithSuccessfulResultCode = 0x80000152;
inline constexpr result_t PropertyNotFound = 0x80000180;
inline constexpr result_t OperationTimeout = 0x80000221;
inline constexpr result_t InvalidSymbol = 0x80000300;
inline constexpr result_t NonDecSymbol = 0x80000301;
inline constexpr result_t NonHexSymbol = 0x80000302;
inline constexpr result_t NonBase64Symbol = 0x80000303;
inline constexpr result_t SyntaxError = 0x80000310;
inline constexpr result_t GuidSyntaxError = 0x80000311;
inline constexpr result_t OidSyntaxError = 0x80000312;
inline constexpr result_t DateTimeSyntaxError = 0x80000313;

inline constexpr result_t UnspecifiedPlatformError = 0x80010100;
inline constexpr result_t InvalidHandle = 0x80010101;
inline constexpr result_t FileNotFound = 0x80010102;
inline constexpr result_t PathNotFound = 0x80010103;
inline constexpr result_t SharingViolation = 0x80010104;
inline constexpr result_t AlreadyExists = 0x80010105;
inline constexpr result_t WaitAbandoned = 0x80010106;
inline constexpr result_t SymbolNotFound = 0x80010107;
inline constexpr result_t SxsIsIncorrect = 0x80010108;
inline constexpr result_t InvalidPathName = 0x80010109;
inline constexpr result_t CannotOpenAnonymousToken = 0x80010110;
inline constexpr result_t PasswordIsInvalid = 0x80010111;
inline constexpr result_t ModuleNotFound = 0x80010112;
inline constexpr result_t SystemImageBadSignature = 0x80010113;
inline constexpr result_t CloudFileRequestAborted = 0x80010114;
inline constexpr result_t MemoryMappingFailed = 0x80010115;
inline constexpr result_t NetworkError = 0x80010116;
inline constexpr result_t SystemImageBadFormat = 0x80010117;
inline constexpr result_t SystemShutdownInProgress = 0x80010118;

// Facility 7 wraps a raw OS error number in its low 16 bits.
inline constexpr result_t Win32Facility = 0x80070000;
}  // namespace result

}  // namespace orv
