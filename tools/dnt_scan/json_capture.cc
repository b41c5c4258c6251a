#include "tools/dnt_scan/json_capture.h"

#include "tools/dnt_scan/entry_reader.h"

namespace dnt_scan {

void JsonCapture::Begin(bool object, KeyFilter filter) {
  m_root = object ? nlohmann::json::object() : nlohmann::json::array();
  m_open.assign(1, &m_root);
  m_depth = 1;
  m_skipFrom = 0;
  m_skipNext = false;
  m_bytes = 0;
  m_oversized = false;
  m_filter = filter;
}

void JsonCapture::Key(const std::string& key) {
  if (!Keeping()) return;
  Spend(key.size());
  m_skipNext = !m_filter(key, m_depth);
  m_key = key;
}

bool JsonCapture::SkipThis() {
  const bool skip = m_skipNext;
  m_skipNext = false;
  return skip;
}

void JsonCapture::StartContainer(bool object) {
  ++m_depth;
  if (!Keeping()) return;
  if (SkipThis()) {
    m_skipFrom = m_depth;
    return;
  }
  m_open.push_back(Insert(object ? nlohmann::json::object() : nlohmann::json::array()));
}

bool JsonCapture::EndContainer() {
  if (Keeping()) {
    m_open.pop_back();
  } else if (m_skipFrom == m_depth) {
    m_skipFrom = 0;
  }
  return --m_depth == 0;
}

void JsonCapture::Value(nlohmann::json value) {
  if (Keeping() && !SkipThis()) Insert(std::move(value));
}

void JsonCapture::String(const std::string& text) {
  if (!Keeping() || SkipThis()) return;
  Spend(text.size());
  if (Keeping()) Insert(text.size() > MaxTextLength ? CapturedString(text) : nlohmann::json(text));
}

nlohmann::json JsonCapture::Take() {
  if (m_oversized) return nullptr;
  return std::move(m_root);
}

nlohmann::json* JsonCapture::Insert(nlohmann::json value) {
  nlohmann::json& parent = *m_open.back();
  if (parent.is_object()) {
    nlohmann::json& slot = parent[m_key];
    slot = std::move(value);
    return &slot;
  }
  parent.push_back(std::move(value));
  return &parent.back();
}

void JsonCapture::Spend(size_t bytes) {
  m_bytes += bytes;
  if (m_bytes > Budget) m_oversized = true;
}

}  // namespace dnt_scan
