// Building one JSON value from the events of a streaming parser, keeping
// only the members a filter allows and no more bytes than a budget.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace dnt_scan {

class JsonCapture {
 public:
  /// Whether the member `key` of an object `depth` levels down (1: the
  /// captured value's own members) is kept; a member not kept is skipped
  /// whole.
  using KeyFilter = bool (*)(std::string_view key, size_t depth);

  /// Bytes of names and strings one captured value may hold.
  static constexpr size_t Budget = 4 * 1024 * 1024;

  /// Starts capturing at an object (or array) that has just begun.
  void Begin(bool object, KeyFilter filter);
  bool Active() const { return m_depth > 0; }

  void Key(const std::string& key);
  void StartContainer(bool object);
  /// True when this ends the captured value.
  bool EndContainer();
  void Value(nlohmann::json value);
  /// Strings longer than MaxTextLength are kept as CapturedString.
  void String(const std::string& text);

  /// The captured value, once complete; null when it outgrew the budget.
  nlohmann::json Take();

 private:
  bool Keeping() const { return m_skipFrom == 0 && !m_oversized; }
  /// Consumes the skip decision made by the last key.
  bool SkipThis();
  nlohmann::json* Insert(nlohmann::json value);
  void Spend(size_t bytes);

  nlohmann::json m_root;
  // The kept containers from the root down to the one being filled.
  std::vector<nlohmann::json*> m_open;
  // Containers open in the captured value, kept or not.
  size_t m_depth = 0;
  // The depth of the container being skipped, 0 when none is.
  size_t m_skipFrom = 0;
  bool m_skipNext = false;
  std::string m_key;
  size_t m_bytes = 0;
  bool m_oversized = false;
  KeyFilter m_filter = nullptr;
};

}  // namespace dnt_scan
