// Building one JSON value from the events of a streaming parser, keeping
// only what a shape names and no more memory than a budget.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace dnt_scan {

/// What a captured value keeps. Scalars are always kept. An object keeps the
/// members `members` names, or every member when `anyMember` is set; an
/// array keeps its elements when `elements` is set. Whatever is not kept is
/// skipped unread, so a container whose shape names nothing stays empty.
struct CaptureShape {
  struct Member {
    std::string_view name;
    const CaptureShape* shape;
  };
  std::vector<Member> members;
  const CaptureShape* anyMember = nullptr;
  const CaptureShape* elements = nullptr;

  /// The shape of the member `name`, or nullptr when it is not kept.
  const CaptureShape* MemberShape(std::string_view name) const;
};

/// A value read for itself: a scalar, or an empty container.
inline const CaptureShape LeafShape;

class JsonCapture {
 public:
  /// Bytes of memory the kept values of one captured value may take,
  /// counted at what the values cost in memory, not in the input.
  static constexpr size_t Budget = 4 * 1024 * 1024;

  /// Starts capturing at an object (or array) that has just begun.
  void Begin(bool object, const CaptureShape& shape);
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
  struct Open {
    nlohmann::json* value;
    const CaptureShape* shape;
  };

  bool Keeping() const { return m_skipFrom == 0 && !m_oversized; }
  /// The shape of the value that comes next in the open container, or
  /// nullptr when it is skipped; consumes the decision of the last key.
  const CaptureShape* NextShape();
  /// Inserts `value` into the open container at `cost` bytes on top of its
  /// slot there; nullptr when that outgrows the budget.
  nlohmann::json* Insert(nlohmann::json value, size_t cost);

  nlohmann::json m_root;
  // The kept containers from the root down to the one being filled.
  std::vector<Open> m_open;
  // Containers open in the captured value, kept or not.
  size_t m_depth = 0;
  // The depth of the container being skipped, 0 when none is.
  size_t m_skipFrom = 0;
  // What the last key decided for the member's value.
  const CaptureShape* m_memberShape = nullptr;
  std::string m_key;
  size_t m_cost = 0;
  bool m_oversized = false;
};

/// A SAX handler that hands every event inside a captured value to its
/// capture, and the events around it to the class that derives from it.
class CapturingHandler : public nlohmann::json::json_sax_t {
 public:
  bool null() final { return Scalar(nullptr); }
  bool boolean(bool value) final { return Scalar(value); }
  bool number_integer(number_integer_t value) final { return Scalar(value); }
  bool number_unsigned(number_unsigned_t value) final { return Scalar(value); }
  bool number_float(number_float_t value, const string_t&) final { return Scalar(value); }
  // JSON text holds no binary values.
  bool binary(binary_t&) final { return Scalar(nullptr); }
  bool string(string_t& value) final;
  bool key(string_t& key) final;
  bool start_object(std::size_t) final { return Start(true); }
  bool start_array(std::size_t) final { return Start(false); }
  bool end_object() final { return End(); }
  bool end_array() final { return End(); }

 protected:
  ~CapturingHandler() = default;

  /// A container begins outside a captured value; it may Begin the
  /// capture. False stops the parser.
  virtual bool OutsideStart(bool object) = 0;
  virtual void OutsideEnd() = 0;
  virtual bool OutsideScalar() = 0;
  virtual void OutsideKey(const std::string& key) = 0;
  /// A captured value is complete (null when it outgrew the budget).
  virtual void Captured(nlohmann::json value) = 0;

  JsonCapture m_capture;

 private:
  bool Scalar(nlohmann::json value);
  bool Start(bool object);
  bool End();
};

}  // namespace dnt_scan
