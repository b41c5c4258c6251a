#include "tools/dnt_scan/message_objects.h"

#include <algorithm>
#include <new>

#include "tools/dnt_scan/ascii.h"

namespace dnt_scan {
namespace {

using orv::result_t;
namespace result = orv::result;

// Host objects answer with result codes: nothing may escape them.
template <class Body>
result_t Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return result::OutOfMemory;
  } catch (...) {
    return result::Unexpected;
  }
}

bool Named(const HeaderField& field, std::string_view name) { return EqualIgnoringCase(field.name, name); }

// Replaces every field `name` with `values`, at the place of the first one
// (at the end when there was none).
void Replace(HeaderFields& fields, std::string_view name, const dnt::StringList& values) {
  auto first = std::find_if(fields.begin(), fields.end(), [&](const HeaderField& f) { return Named(f, name); });
  size_t at = static_cast<size_t>(first - fields.begin());
  fields.erase(std::remove_if(fields.begin(), fields.end(), [&](const HeaderField& f) { return Named(f, name); }),
               fields.end());
  at = std::min(at, fields.size());
  for (const std::string& value : values) fields.insert(fields.begin() + static_cast<ptrdiff_t>(at++), {std::string(name), value});
}

// Field operations shared by request and response headers.
template <class Interface>
class HeaderObject : public host::HostObject<Interface> {
 public:
  explicit HeaderObject(HeaderFields& fields) : m_fields(fields) {}

  result_t GetFieldValues(std::string_view name, dnt::StringList* values) override {
    if (!values) return result::InvalidArgument;
    return Guarded([&] {
      dnt::StringList found;
      for (const HeaderField& field : m_fields) {
        if (Named(field, name)) found.push_back(field.value);
      }
      if (found.empty()) return result::NotFound;
      *values = std::move(found);
      return result::NoError;
    });
  }

  result_t SetFieldValues(std::string_view name, const dnt::StringList& values) override {
    return Guarded([&] {
      Replace(m_fields, name, values);
      return result::NoError;
    });
  }

  // Several fields of one name read as one value: cookies joined with "; ",
  // others with ", ".
  result_t GetField(std::string_view name, std::string* value) override {
    if (!value) return result::InvalidArgument;
    dnt::StringList values;
    const result_t code = GetFieldValues(name, &values);
    if (orv::Failed(code)) return code;
    return Guarded([&] {
      const char* separator = EqualIgnoringCase(name, "cookie") ? "; " : ", ";
      value->clear();
      for (const std::string& each : values) *value += (value->empty() ? "" : separator) + each;
      return result::NoError;
    });
  }

  result_t SetField(std::string_view name, std::string_view value) override {
    return Guarded([&] {
      Replace(m_fields, name, {std::string(value)});
      return result::NoError;
    });
  }

  result_t RemoveField(std::string_view name) override {
    return Guarded([&] {
      const size_t before = m_fields.size();
      Replace(m_fields, name, {});
      return m_fields.size() == before ? result::NotFound : result::NoError;
    });
  }

 private:
  HeaderFields& m_fields;
};

class RequestHeader final : public HeaderObject<dnt::IHttpRequestHeader> {
 public:
  explicit RequestHeader(HttpRequestMessage& message) : HeaderObject(message.fields), m_message(message) {}

  result_t GetRequestLine(dnt::HttpRequestLine* line) override {
    if (!line) return result::InvalidArgument;
    return Guarded([&] {
      *line = {m_message.target, m_message.method, m_message.version};
      return result::NoError;
    });
  }

  result_t SetRequestUrl(std::string_view url) override {
    return Guarded([&] {
      m_message.target = url;
      return result::NoError;
    });
  }

 private:
  HttpRequestMessage& m_message;
};

class ResponseHeader final : public HeaderObject<dnt::IHttpResponseHeader> {
 public:
  using HeaderObject::HeaderObject;
};

}  // namespace

orv::ComPtr<dnt::IHttpRequestHeader> MakeRequestHeader(HttpRequestMessage& message) {
  return host::MakeHostObject<RequestHeader>(message);
}

orv::ComPtr<dnt::IHttpResponseHeader> MakeResponseHeader(HttpResponseMessage& message) {
  return host::MakeHostObject<ResponseHeader>(message.fields);
}

result_t AnswerController::SetForbiddenResponse(const std::string& first, std::string_view second) {
  return Set(EngineAnswer::Kind::Forbidden, first, second);
}

result_t AnswerController::SetOkResponse(const std::string& first, std::string_view second) {
  return Set(EngineAnswer::Kind::Ok, first, second);
}

result_t AnswerController::Set(EngineAnswer::Kind kind, const std::string& first, std::string_view second) {
  return Guarded([&] {
    m_answer = {kind, first, std::string(second)};
    return result::NoError;
  });
}

}  // namespace dnt_scan
