// The script bases: every script of the script base files, precompiled and
// filed under the name it registers itself with.
#pragma once

#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "orv/com_ptr.h"
#include "orv/io.h"
#include "orv/result.h"
#include "orv/tracer.h"

namespace dnt {

class ScriptBases {
 public:
  /// Registration name -> precompiled chunk (as lua_dump writes it).
  using ScriptMap = std::map<std::string, std::string, std::less<>>;

  explicit ScriptBases(orv::ComPtr<orv::ITracer> tracer) : m_tracer(std::move(tracer)) {}
  ScriptBases(const ScriptBases&) = delete;
  ScriptBases& operator=(const ScriptBases&) = delete;

  /// Runs every script of `files` once in a discovery-stage host, learns the
  /// names they register and replaces the map with the precompiled scripts.
  /// All or nothing: on any failure the failure is traced ("Failed to read
  /// script file i/n: ...") and its result code returned, and the previous
  /// map stays.
  orv::result_t Load(std::span<const orv::ComPtr<orv::IIO>> files) noexcept;

  /// The precompiled chunk registered as `name`, or null.
  const std::string* Find(std::string_view name) const noexcept;
  const ScriptMap& Scripts() const noexcept { return m_scripts; }

 private:
  orv::ComPtr<orv::ITracer> m_tracer;
  ScriptMap m_scripts;
};

}  // namespace dnt
