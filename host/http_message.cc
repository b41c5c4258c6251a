#include "host/http_message.h"

#include <algorithm>
#include <stdexcept>

#include "host/host_object.h"
#include "url_parser/special_schemes.h"

namespace host {
namespace {

using orv::network::EqualsIgnoringAsciiCase;
using orv::result_t;

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// The field operations both header kinds share.
template <class Interface>
class Header : public HostObject<Interface> {
 public:
  explicit Header(std::shared_ptr<HttpMessage> message) : m_message(std::move(message)) {}

  result_t GetFieldValues(std::string_view name, dnt::StringList* values) override;
  result_t SetFieldValues(std::string_view name, const dnt::StringList& values) override;
  result_t GetField(std::string_view name, std::string* value) override;
  result_t SetField(std::string_view name, std::string_view value) override;
  result_t RemoveField(std::string_view name) override;

 protected:
  std::shared_ptr<HttpMessage> m_message;
};

class RequestHeader final : public Header<dnt::IHttpRequestHeader> {
 public:
  using Header::Header;
  result_t GetRequestLine(dnt::HttpRequestLine* line) override;
  result_t SetRequestUrl(std::string_view url) override;
};

using ResponseHeader = Header<dnt::IHttpResponseHeader>;

class Controller final : public HostObject<dnt::IHttpMessageController, dnt::IHttpOkResponse> {
  using Base = HostObject<dnt::IHttpMessageController, dnt::IHttpOkResponse>;

 public:
  Controller(std::shared_ptr<HttpMessage> message, bool withOkResponse)
      : m_message(std::move(message)), m_withOkResponse(withOkResponse) {}

  result_t QueryInterface(orv::iid_t iid, void** out) override;
  result_t SetForbiddenResponse(const std::string& first, std::string_view second) override;
  result_t SetOkResponse(const std::string& first, std::string_view second) override;

 private:
  std::shared_ptr<HttpMessage> m_message;
  bool m_withOkResponse;
};

// Runs `work` unless the operation is told to fail; nothing escapes.
template <class Work>
result_t Perform(const HttpMessage& message, HttpOperation operation, Work&& work) noexcept {
  if (const result_t failure = message.FailureOf(operation)) return failure;
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return orv::result::OutOfMemory;
  } catch (...) {
    return orv::result::Unexpected;
  }
}

template <class Interface>
result_t Header<Interface>::GetFieldValues(std::string_view name, dnt::StringList* values) {
  if (!values) return orv::result::InvalidArgument;
  return Perform(*m_message, HttpOperation::GetFieldValues, [&] {
    *values = m_message->Values(name);
    return values->empty() ? orv::result::NotFound : orv::result::NoError;
  });
}

template <class Interface>
result_t Header<Interface>::SetFieldValues(std::string_view name, const dnt::StringList& values) {
  return Perform(*m_message, HttpOperation::SetFieldValues, [&] {
    m_message->SetValues(name, values);
    return orv::result::NoError;
  });
}

template <class Interface>
result_t Header<Interface>::GetField(std::string_view name, std::string* value) {
  if (!value) return orv::result::InvalidArgument;
  return Perform(*m_message, HttpOperation::GetField, [&] {
    std::optional<std::string> combined = m_message->CombinedValue(name);
    if (!combined) return orv::result::NotFound;
    *value = std::move(*combined);
    return orv::result::NoError;
  });
}

template <class Interface>
result_t Header<Interface>::SetField(std::string_view name, std::string_view value) {
  return Perform(*m_message, HttpOperation::SetField, [&] {
    m_message->SetValues(name, {std::string(value)});
    return orv::result::NoError;
  });
}

template <class Interface>
result_t Header<Interface>::RemoveField(std::string_view name) {
  return Perform(*m_message, HttpOperation::RemoveField,
                 [&] { return m_message->Remove(name) ? orv::result::NoError : orv::result::NotFound; });
}

result_t RequestHeader::GetRequestLine(dnt::HttpRequestLine* line) {
  if (!line) return orv::result::InvalidArgument;
  return Perform(*m_message, HttpOperation::GetRequestLine, [&] {
    *line = m_message->Line();
    return orv::result::NoError;
  });
}

result_t RequestHeader::SetRequestUrl(std::string_view url) {
  return Perform(*m_message, HttpOperation::SetRequestUrl, [&] {
    m_message->SetTarget(url);
    return orv::result::NoError;
  });
}

result_t Controller::QueryInterface(orv::iid_t iid, void** out) {
  if (iid == dnt::IHttpOkResponse::iid) {
    if (!out) return orv::result::InvalidArgument;
    *out = nullptr;
    if (const result_t failure = m_message->FailureOf(HttpOperation::QueryOkResponse)) return failure;
    if (!m_withOkResponse) return orv::result::InterfaceNotSupported;
  }
  return Base::QueryInterface(iid, out);
}

result_t Controller::SetForbiddenResponse(const std::string& first, std::string_view second) {
  return Perform(*m_message, HttpOperation::SetForbiddenResponse, [&] {
    m_message->SetForbiddenResponse({first, std::string(second)});
    return orv::result::NoError;
  });
}

result_t Controller::SetOkResponse(const std::string& first, std::string_view second) {
  return Perform(*m_message, HttpOperation::SetOkResponse, [&] {
    m_message->SetOkResponse({first, std::string(second)});
    return orv::result::NoError;
  });
}

}  // namespace

dnt::HttpRequestLine ParseRequestLine(std::string_view text) {
  const std::size_t first = text.find(' ');
  const std::size_t last = text.rfind(' ');
  if (first == std::string_view::npos || first == 0 || last <= first + 1 || last + 1 == text.size()) {
    throw std::invalid_argument("a request line is 'METHOD TARGET VERSION', not [" + std::string(text) + "]");
  }
  return {std::string(text.substr(first + 1, last - first - 1)), std::string(text.substr(0, first)),
          std::string(text.substr(last + 1))};
}

HttpField ParseHeaderField(std::string_view text) {
  const std::size_t colon = text.find(':');
  const std::string_view name = colon == std::string_view::npos ? std::string_view() : TrimBlanks(text.substr(0, colon));
  if (name.empty()) throw std::invalid_argument("a header field is 'Name: value', not [" + std::string(text) + "]");
  return {std::string(name), std::string(TrimBlanks(text.substr(colon + 1)))};
}

std::vector<std::string> HttpMessage::Values(std::string_view name) const {
  std::vector<std::string> values;
  for (const HttpField& field : m_fields) {
    if (EqualsIgnoringAsciiCase(field.name, name)) values.push_back(field.value);
  }
  return values;
}

std::optional<std::string> HttpMessage::CombinedValue(std::string_view name) const {
  // Cookie lines join with "; " (how HTTP/2 splits them); other fields with
  // the list separator of HTTP.
  const char* separator = EqualsIgnoringAsciiCase(name, "cookie") ? "; " : ", ";
  std::optional<std::string> combined;
  for (const HttpField& field : m_fields) {
    if (!EqualsIgnoringAsciiCase(field.name, name)) continue;
    if (combined) {
      *combined += separator;
      *combined += field.value;
    } else {
      combined = field.value;
    }
  }
  return combined;
}

void HttpMessage::SetValues(std::string_view name, const std::vector<std::string>& values) {
  const auto matches = [&](const HttpField& field) { return EqualsIgnoringAsciiCase(field.name, name); };
  std::vector<HttpField> replacement;
  replacement.reserve(values.size());
  for (const std::string& value : values) replacement.push_back({std::string(name), value});
  auto first = std::find_if(m_fields.begin(), m_fields.end(), matches);
  const auto position = first - m_fields.begin();
  if (first != m_fields.end()) {
    m_fields.erase(std::remove_if(first, m_fields.end(), matches), m_fields.end());
  }
  m_fields.insert(m_fields.begin() + position, std::make_move_iterator(replacement.begin()),
                  std::make_move_iterator(replacement.end()));
}

bool HttpMessage::Remove(std::string_view name) {
  return std::erase_if(m_fields, [&](const HttpField& field) { return EqualsIgnoringAsciiCase(field.name, name); }) > 0;
}

void HttpMessage::Fail(HttpOperation operation, orv::result_t code) noexcept {
  m_failures[static_cast<std::size_t>(operation)] = code;
}

orv::result_t HttpMessage::FailureOf(HttpOperation operation) const noexcept {
  return m_failures[static_cast<std::size_t>(operation)];
}

orv::ComPtr<dnt::IHttpRequestHeader> MakeRequestHeader(std::shared_ptr<HttpMessage> message) {
  return MakeHostObject<RequestHeader>(std::move(message));
}

orv::ComPtr<dnt::IHttpResponseHeader> MakeResponseHeader(std::shared_ptr<HttpMessage> message) {
  return MakeHostObject<ResponseHeader>(std::move(message));
}

orv::ComPtr<dnt::IHttpMessageController> MakeController(std::shared_ptr<HttpMessage> message, bool withOkResponse) {
  return MakeHostObject<Controller>(std::move(message), withOkResponse);
}

}  // namespace host
