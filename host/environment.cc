#include "host/environment.h"

#include <new>
#include <string_view>

namespace host {

using namespace orv;

result_t Environment::Expand(const char16_t* text, std::u16string* out) {
  if (!text || !out) return result::InvalidArgument;
  if (Failed(m_failure)) return m_failure;
  constexpr std::u16string_view placeholder = u"%Bases%";
  try {
    std::u16string_view rest(text);
    std::u16string expanded;
    for (auto at = rest.find(placeholder); at != std::u16string_view::npos; at = rest.find(placeholder)) {
      expanded.append(rest.substr(0, at)).append(m_basesDirectory);
      rest.remove_prefix(at + placeholder.size());
    }
    expanded.append(rest);
    *out = std::move(expanded);
    return result::NoError;
  } catch (const std::bad_alloc&) {
    return result::OutOfMemory;
  }
}

}  // namespace host
