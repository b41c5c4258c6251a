#include "orv/rtl/error_handling/exceptions.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <vector>

#include "orv/rtl/error_handling/result_text.h"
#include "orv/system/stack_trace.h"
#include "orv/text/utf.h"

namespace orv {
namespace {

constexpr unsigned kSkippedFrames = 3;
constexpr unsigned kMaxFrames = 62;
constexpr size_t kMaxPropertyName = 31;

std::string Hex(uint64_t value, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%0*" PRIx64, digits, value);
  return buf;
}

std::string FormatValue(const PropertyValue& value) {
  struct Visitor {
    std::string operator()(const ResultCodeValue& v) const { return Hex(v.value, 8); }
    std::string operator()(const OsErrorValue& v) const { return Hex(v.value, 8); }
    std::string operator()(uint64_t v) const { return Hex(v, 16); }
    std::string operator()(const std::string& v) const { return v; }
    std::string operator()(const std::u16string& v) const { return text::ToUtf8(v); }
    std::string operator()(const OpaqueValue& v) const { return std::string("<typeid=") + v.type->name() + ">"; }
  };
  return std::visit(Visitor{}, value);
}

}  // namespace

struct exception::Details {
  std::string message;
  std::vector<void*> stack;
  std::vector<std::pair<std::string, PropertyValue>> properties;
  std::once_flag described;
  std::string description;
};

exception::exception(const char* file, int32_t line) : exception(file, line, std::string()) {}

exception::exception(const char* file, int32_t line, std::string message)
    : m_file(file), m_line(line), m_details(std::make_shared<Details>()) {
  m_details->message = std::move(message);
  m_details->stack = system::CaptureStackTrace(kSkippedFrames, kMaxFrames);
}

exception::~exception() = default;
exception::exception(const exception&) noexcept = default;
exception& exception::operator=(const exception&) noexcept = default;

std::string_view exception::Message() const noexcept {
  return m_details ? std::string_view(m_details->message) : std::string_view();
}

void exception::SetProperty(std::string_view name, PropertyValue value) {
  name = name.substr(0, kMaxPropertyName);
  auto& props = m_details->properties;
  auto it = std::find_if(props.begin(), props.end(), [&](const auto& p) { return p.first == name; });
  if (it != props.end())
    it->second = std::move(value);
  else
    props.emplace_back(std::string(name), std::move(value));
}

const PropertyValue* exception::FindProperty(std::string_view name) const noexcept {
  if (!m_details) return nullptr;
  for (const auto& [key, value] : m_details->properties)
    if (key == name) return &value;
  return nullptr;
}

const char* exception::what() const noexcept {
  if (!m_details) return "Unknown exception";
  Details& d = *m_details;
  try {
    std::call_once(d.described, [&] {
      std::string s = std::string(m_file ? m_file : "") + "(" + std::to_string(m_line) + "): " + d.message + ".";
      if (d.properties.empty()) {
        s += " ";
      } else {
        s += " Properties:";
        for (const auto& [name, value] : d.properties) s += "\n" + name + "=" + FormatValue(value);
        s += "\n";
      }
      s += "Call stack:\n";
      // Module table of the captured frames, sorted by base for binary search.
      std::vector<system::ModuleInfo> modules;
      for (void* frame : d.stack) {
        auto hit = std::find_if(modules.begin(), modules.end(), [&](const system::ModuleInfo& m) {
          auto a = reinterpret_cast<uintptr_t>(frame);
          return a >= m.base && a - m.base < m.size;
        });
        if (hit != modules.end()) continue;
        if (auto module = system::FindModule(frame)) modules.push_back(std::move(*module));
      }
      std::sort(modules.begin(), modules.end(), [](const auto& a, const auto& b) { return a.base < b.base; });
      for (size_t i = 0; i < d.stack.size(); ++i) {
        auto address = reinterpret_cast<uintptr_t>(d.stack[i]);
        s += std::to_string(i) + "# ";
        auto it = std::upper_bound(modules.begin(), modules.end(), address,
                                   [](uintptr_t a, const system::ModuleInfo& m) { return a < m.base; });
        char hex[24];
        if (it != modules.begin() && address - std::prev(it)->base < std::prev(it)->size) {
          const auto& m = *std::prev(it);
          s += m.path + "!" + m.name + "!";
          address -= m.base;
        }
        std::snprintf(hex, sizeof hex, "%" PRIxPTR, address);
        s += hex;
        s += "\n";
      }
      d.description = std::move(s);
    });
  } catch (...) {
    return "Unknown exception";
  }
  return d.description.c_str();
}

GetInterfaceException::GetInterfaceException(const char* file, int32_t line, iid_t iid, uint32_t serviceKey,
                                             result_t code)
    : ExceptionBase(file, line, "Can't get interface") {
  SetProperty(property::Iid, ResultCodeValue{iid});
  SetProperty(property::ServiceKey, ResultCodeValue{serviceKey});
  SetProperty(property::Result, ResultCodeValue{code});
}

CreateInstanceException::CreateInstanceException(const char* file, int32_t line, clsid_t clsid, result_t code)
    : ExceptionBase(file, line, "Can't create object") {
  SetProperty(property::Clsid, ResultCodeValue{clsid});
  SetProperty(property::Result, ResultCodeValue{code});
}

Exception::Exception(const char* file, int32_t line, std::u16string message, std::string narrowMessage)
    : ExceptionBase(file, line, narrowMessage.empty() ? text::ToUtf8(message) : std::move(narrowMessage)),
      m_message(std::move(message)) {}

std::u16string Exception::GetDescription() const { return m_message; }

ResultCodeException::ResultCodeException(const char* file, int32_t line)
    : ResultCodeException(file, line, result::InterfaceNotSupported, {}) {}

ResultCodeException::ResultCodeException(const char* file, int32_t line, result_t code, std::u16string message,
                                         std::string narrowMessage)
    : ExceptionBase(file, line, std::move(message), std::move(narrowMessage)) {
  SetProperty(property::Result, ResultCodeValue{code});
}

std::u16string ResultCodeException::GetDescription() const {
  std::u16string out = WideMessage();
  if (!out.empty()) out += u": ";
  out += text::Widen(DescribeResultCode(GetResultCode(*this)));
  return out;
}

CheckResultFailedException::CheckResultFailedException(const char* file, int32_t line, result_t code)
    : CheckResultFailedException(file, line, code, {}) {}

CheckResultFailedException::CheckResultFailedException(const char* file, int32_t line, result_t code,
                                                       std::u16string message)
    : ExceptionBase(file, line, code, std::move(message), "Expression failed") {}

InvalidArgumentException::InvalidArgumentException(const char* file, int32_t line, std::u16string message)
    : ExceptionBase(file, line, result::InvalidArgument, std::move(message)) {}

SystemException::SystemException(const char* file, int32_t line, result_t code, std::u16string message)
    : ExceptionBase(file, line, code, std::move(message)) {}

SystemException::SystemException(const char* file, int32_t line, result_t code, std::u16string message,
                                 uint32_t osError)
    : ExceptionBase(file, line, code, std::move(message)) {
  SetProperty(property::OsResult, OsErrorValue{osError});
}

RuntimeError::RuntimeError(const char* file, int32_t line, std::u16string message)
    : ExceptionBase(file, line, std::move(message)) {}

CheckFailedException::CheckFailedException(const char* file, int32_t line, std::u16string message)
    : ExceptionBase(file, line, std::move(message)) {}

namespace datetime {
TimeSystemError::TimeSystemError(const char* file, int32_t line, result_t code, std::u16string message)
    : ExceptionBase(file, line, code, std::move(message)) {}
}  // namespace datetime

result_t GetResultCode(const exception& e) noexcept {
  if (const PropertyValue* v = e.FindProperty(property::Result))
    if (const auto* code = std::get_if<ResultCodeValue>(v)) return code->value;
  if (const PropertyValue* v = e.FindProperty(property::OsResult))
    if (const auto* os = std::get_if<OsErrorValue>(v)) return Win32ErrorToResult(os->value);
  return result::ExceptionHasNoResultCode;
}

}  // namespace orv
