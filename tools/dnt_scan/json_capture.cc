#include "tools/dnt_scan/json_capture.h"

#include <algorithm>
#include <utility>

#include "tools/dnt_scan/entry_reader.h"

namespace dnt_scan {
namespace {

using nlohmann::json;

// What kept values cost in memory, the allocator's bookkeeping included: a
// value in an array takes a slot there (twice its size, as an array's
// capacity runs ahead of its size); an object member takes a tree node and
// its name; a container its own allocation; a string its allocation and
// its bytes.
constexpr size_t ElementCost = 2 * sizeof(json);
constexpr size_t MemberCost = 128;
constexpr size_t ContainerCost = 64;
constexpr size_t StringCost = 64;

}  // namespace

const CaptureShape* CaptureShape::MemberShape(std::string_view name) const {
  const auto it = std::find_if(members.begin(), members.end(), [&](const Member& m) { return m.name == name; });
  return it != members.end() ? it->shape : anyMember;
}

void JsonCapture::Begin(bool object, const CaptureShape& shape) {
  m_root = object ? json::object() : json::array();
  m_open.assign(1, {&m_root, &shape});
  m_depth = 1;
  m_skipFrom = 0;
  m_memberShape = nullptr;
  m_cost = ContainerCost;
  m_oversized = false;
}

void JsonCapture::Key(const std::string& key) {
  if (!Keeping()) return;
  m_memberShape = m_open.back().shape->MemberShape(key);
  if (!m_memberShape) return;
  m_cost += MemberCost + key.size();
  m_oversized = m_cost > Budget;
  if (!m_oversized) m_key = key;
}

const CaptureShape* JsonCapture::NextShape() {
  const Open& parent = m_open.back();
  if (parent.value->is_array()) return parent.shape->elements;
  return std::exchange(m_memberShape, nullptr);
}

void JsonCapture::StartContainer(bool object) {
  ++m_depth;
  if (!Keeping()) return;
  const CaptureShape* shape = NextShape();
  json* kept = shape ? Insert(object ? json::object() : json::array(), ContainerCost) : nullptr;
  if (kept) {
    m_open.push_back({kept, shape});
  } else if (!m_oversized) {
    m_skipFrom = m_depth;
  }
}

bool JsonCapture::EndContainer() {
  if (Keeping()) {
    m_open.pop_back();
  } else if (m_skipFrom == m_depth) {
    m_skipFrom = 0;
  }
  return --m_depth == 0;
}

void JsonCapture::Value(json value) {
  if (Keeping() && NextShape()) Insert(std::move(value), 0);
}

void JsonCapture::String(const std::string& text) {
  if (!Keeping() || !NextShape()) return;
  json value = text.size() > MaxTextLength ? CapturedString(text) : json(text);
  const size_t kept = value.is_binary() ? value.get_binary().size() : text.size();
  Insert(std::move(value), StringCost + kept);
}

json JsonCapture::Take() {
  if (m_oversized) return nullptr;
  return std::move(m_root);
}

json* JsonCapture::Insert(json value, size_t cost) {
  json& parent = *m_open.back().value;
  m_cost += cost + (parent.is_array() ? ElementCost : 0);
  m_oversized = m_cost > Budget;
  if (m_oversized) return nullptr;
  if (parent.is_object()) {
    json& slot = parent[m_key];
    slot = std::move(value);
    return &slot;
  }
  parent.push_back(std::move(value));
  return &parent.back();
}

bool CapturingHandler::string(string_t& value) {
  if (!m_capture.Active()) return OutsideScalar();
  m_capture.String(value);
  return true;
}

bool CapturingHandler::key(string_t& key) {
  if (m_capture.Active()) {
    m_capture.Key(key);
  } else {
    OutsideKey(key);
  }
  return true;
}

bool CapturingHandler::Scalar(json value) {
  if (!m_capture.Active()) return OutsideScalar();
  m_capture.Value(std::move(value));
  return true;
}

bool CapturingHandler::Start(bool object) {
  if (!m_capture.Active()) return OutsideStart(object);
  m_capture.StartContainer(object);
  return true;
}

bool CapturingHandler::End() {
  if (!m_capture.Active()) {
    OutsideEnd();
  } else if (m_capture.EndContainer()) {
    Captured(m_capture.Take());
  }
  return true;
}

}  // namespace dnt_scan
