// The framework's exception family. Every exception records where it was
// thrown (a short source name and a line), a message, typed properties and
// the call stack; copies share one details block.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <variant>

#include "orv/result.h"

namespace orv {

/// Typed property values.
struct ResultCodeValue {
  result_t value;
};
struct OsErrorValue {
  uint32_t value;
};
/// A value of a type the description cannot show; written as "<typeid=...>".
struct OpaqueValue {
  const std::type_info* type;
};
using PropertyValue = std::variant<ResultCodeValue, OsErrorValue, uint64_t, std::string, std::u16string, OpaqueValue>;

namespace property {
inline constexpr std::string_view Result = "orv.result";
inline constexpr std::string_view OsResult = "os.result";
inline constexpr std::string_view Iid = "orv.iid";
inline constexpr std::string_view ServiceKey = "orv.serviceKey";
inline constexpr std::string_view Clsid = "orv.clsid";
}  // namespace property

/// Root of the family.
class exception : public std::exception {
 public:
  exception(const char* file, int32_t line);
  exception(const char* file, int32_t line, std::string message);
  ~exception() override;
  exception(const exception&) noexcept;
  exception& operator=(const exception&) noexcept;

  /// File, line, message, properties and call stack, built on first use.
  const char* what() const noexcept override;

  const char* File() const noexcept { return m_file; }
  int32_t Line() const noexcept { return m_line; }
  std::string_view Message() const noexcept;

  /// Replaces the value of an existing name or appends a new property.
  /// Names are cut to 31 characters.
  void SetProperty(std::string_view name, PropertyValue value);
  const PropertyValue* FindProperty(std::string_view name) const noexcept;

 private:
  struct Details;
  const char* m_file;
  int32_t m_line;
  std::shared_ptr<Details> m_details;
};

/// Adds nothing; keeps the concrete class and its base visible in the type.
template <class Self, class Base>
class ExceptionBase : public Base {
 public:
  using Base::Base;
};

class GetInterfaceException : public ExceptionBase<GetInterfaceException, exception> {
 public:
  GetInterfaceException(const char* file, int32_t line, iid_t iid, uint32_t serviceKey, result_t code);
};

class CreateInstanceException : public ExceptionBase<CreateInstanceException, exception> {
 public:
  CreateInstanceException(const char* file, int32_t line, clsid_t clsid, result_t code);
};

/// Adds a wide message, owned by the exception.
class Exception : public ExceptionBase<Exception, exception> {
 public:
  Exception(const char* file, int32_t line, std::u16string message = {}, std::string narrowMessage = {});
  /// The wide description written into trace lines.
  virtual std::u16string GetDescription() const;
  const std::u16string& WideMessage() const noexcept { return m_message; }

 private:
  std::u16string m_message;
};

/// A failure with a result code in "orv.result".
class ResultCodeException : public ExceptionBase<ResultCodeException, Exception> {
 public:
  ResultCodeException(const char* file, int32_t line);
  ResultCodeException(const char* file, int32_t line, result_t code, std::u16string message,
                      std::string narrowMessage = {});
  /// message, ": " when it is not empty, "0x" and 8 hex digits, " (", text, ")".
  std::u16string GetDescription() const override;
};

/// A call that had to succeed failed with the carried code.
class CheckResultFailedException : public ExceptionBase<CheckResultFailedException, ResultCodeException> {
 public:
  CheckResultFailedException(const char* file, int32_t line, result_t code);
  CheckResultFailedException(const char* file, int32_t line, result_t code, std::u16string message);
};

class InvalidArgumentException : public ExceptionBase<InvalidArgumentException, ResultCodeException> {
 public:
  InvalidArgumentException(const char* file, int32_t line, std::u16string message);
};

/// Carries an OS error number in "os.result" besides the result code.
class SystemException : public ExceptionBase<SystemException, ResultCodeException> {
 public:
  SystemException(const char* file, int32_t line, result_t code, std::u16string message);
  SystemException(const char* file, int32_t line, result_t code, std::u16string message, uint32_t osError);
};

/// A failure with a message and no code.
class RuntimeError : public ExceptionBase<RuntimeError, Exception> {
 public:
  RuntimeError(const char* file, int32_t line, std::u16string message);
};

/// A failed condition.
class CheckFailedException : public ExceptionBase<CheckFailedException, Exception> {
 public:
  CheckFailedException(const char* file, int32_t line, std::u16string message = {});
};

namespace datetime {
class TimeSystemError : public ExceptionBase<TimeSystemError, SystemException> {
 public:
  TimeSystemError(const char* file, int32_t line, result_t code, std::u16string message);
};
}  // namespace datetime

/// The result code an exception carries: "orv.result", else the mapped
/// "os.result", else ExceptionHasNoResultCode.
result_t GetResultCode(const exception& e) noexcept;

/// Throws CheckResultFailedException when `code` is a failure.
inline void CheckResult(result_t code, const char* file, int32_t line) {
  if (Failed(code)) throw CheckResultFailedException(file, line, code);
}

}  // namespace orv
