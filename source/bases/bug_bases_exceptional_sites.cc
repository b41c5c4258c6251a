#include "do_not_track/dnt_engine/bug_bases_exceptional_sites.h"

#include <algorithm>
#include <stdexcept>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/text/utf.h"

namespace dnt {

namespace {

constexpr const char* ExceptionalSitesLocation = "bug_bases_exceptional_sites";

[[noreturn]] void ThrowUnexpectedEnd(int32_t line) {
  throw orv::RuntimeError(ExceptionalSitesLocation, line, u"Unexpected end of the exceptional sites stream");
}

uint32_t ReadLength(const uint8_t*& cursor, const uint8_t* end) {
  uint32_t value = 0;
  for (uint32_t k = 1;; ++k) {
    if (k > 5) throw std::out_of_range("serialized scalar is out of range");
    if (cursor == end) ThrowUnexpectedEnd(53);
    const uint8_t byte = *cursor++;
    value = (value << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) return value;
  }
}

}  // namespace

void ExceptionalSites::Assign(std::vector<uint8_t> bytes, uint32_t count) {
  m_bytes = std::move(bytes);
  m_count = count;
}

template <class Visit>
void ExceptionalSites::Walk(Visit&& visit) const {
  const uint8_t* cursor = m_bytes.data();
  const uint8_t* const end = cursor + m_bytes.size();
  for (uint32_t i = 0; i < m_count; ++i) {
    const uint32_t length = ReadLength(cursor, end);
    if (length == 0 || cursor == end) {
      throw orv::RuntimeError(ExceptionalSitesLocation, 77, u"The exceptional sites stream is broken");
    }
    if (static_cast<size_t>(end - cursor) < length) ThrowUnexpectedEnd(62);
    visit(std::string_view(reinterpret_cast<const char*>(cursor), length));
    cursor += length;
  }
  if (cursor != end) throw orv::RuntimeError(ExceptionalSitesLocation, 85, u"The exceptional sites stream size mismatch detected");
}

void ExceptionalSites::Validate() const {
  Walk([](std::string_view) {});
}

void ExceptionalSites::Enumerate(std::vector<std::u16string>& sites) const {
  std::vector<std::u16string> decoded;
  // Every record takes at least two bytes, whatever count the file claims.
  decoded.reserve(std::min<size_t>(m_count, m_bytes.size() / 2));
  Walk([&decoded](std::string_view text) {
    std::optional<std::u16string> wide = orv::text::FromUtf8(text);
    if (!wide) throw orv::CheckResultFailedException(ExceptionalSitesLocation, 27, orv::result::InvalidArgument);
    decoded.push_back(std::move(*wide));
  });
  sites.swap(decoded);
}

}  // namespace dnt
