#include "do_not_track/dnt_engine/script_bases.h"

#include <lua.hpp>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "do_not_track/dnt_engine/script_host.h"
#include "do_not_track/service_settings.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/trace/trace_stream.h"

namespace dnt {
namespace {

constexpr const char* ScriptBasesLocation = "script_bases";
constexpr std::size_t RecordHeaderSize = 8;
// A script file is read whole; nothing real comes close to this.
constexpr uint64_t MaxScriptFileSize = uint64_t{1} << 30;

uint32_t ReadLittleEndian32(const uint8_t* p) noexcept {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void CheckRead(orv::result_t code, int32_t line) {
  if (orv::Failed(code)) throw orv::CheckResultFailedException(ScriptBasesLocation, line, code);
}

std::vector<uint8_t> ReadWholeFile(orv::IIO* file) {
  if (!file) throw orv::CheckResultFailedException(ScriptBasesLocation, __LINE__, orv::result::InvalidArgument);
  uint64_t size = 0;
  CheckRead(file->GetSize(&size), __LINE__);
  if (size > MaxScriptFileSize) throw orv::CheckResultFailedException(ScriptBasesLocation, __LINE__, orv::result::FileIsTooBig);
  std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
  CheckRead(file->Seek(orv::seek_origin::Begin, 0, nullptr), __LINE__);
  std::size_t done = 0;
  while (done < bytes.size()) {
    uint32_t read = 0;
    CheckRead(file->Read(bytes.data() + done, static_cast<uint32_t>(bytes.size() - done), &read), __LINE__);
    if (read == 0) throw std::runtime_error("db is broken");  // shorter than its size said
    done += read;
  }
  return bytes;
}

/// A discovery-stage host and the map being built.
class RegistrationContext {
 public:
  explicit RegistrationContext(orv::ComPtr<orv::ITracer> tracer)
      : m_host(std::move(tracer), nullptr, ServiceSettings::Defaults(), ScriptStage::Discovery) {}

  void RegisterFile(orv::IIO* file) {
    const std::vector<uint8_t> bytes = ReadWholeFile(file);
    std::size_t position = 0;
    while (position < bytes.size()) {
      const std::size_t left = bytes.size() - position;
      if (left < RecordHeaderSize) throw std::runtime_error("db is broken");
      const uint8_t* record = bytes.data() + position;
      if (record[4] == 0) throw std::runtime_error("discontinuous db format is not supported");
      const uint32_t length = ReadLittleEndian32(record);
      if (length > left - RecordHeaderSize) throw std::runtime_error("db is broken");
      RegisterScript(record + RecordHeaderSize, length);
      position += RecordHeaderSize + length;
    }
  }

  ScriptBases::ScriptMap& Scripts() noexcept { return m_scripts; }

 private:
  void RegisterScript(const uint8_t* bytes, std::size_t length) {
    lua_State* L = m_host.State();
    const int top = lua_gettop(L);
    m_host.RestartInstructionBudget();
    m_host.LoadChunk(bytes, length, "=script", nullptr);
    lua_pop(L, 1);  // the initializer is for sessions
    if (lua_isfunction(L, -1)) m_host.ProtectedCall(0, 1, "failed to call script registrator: ");

    const int type = lua_type(L, -1);
    if (type == LUA_TSTRING || type == LUA_TNUMBER) {
      std::size_t nameLength = 0;
      const char* name = lua_tolstring(L, -1, &nameLength);
      AddScript(std::string(name, nameLength), bytes, length);
    } else if (type != LUA_TNIL && !(type == LUA_TBOOLEAN && !lua_toboolean(L, -1))) {
      if (orv::TraceStream line{m_host.Tracer(), orv::trace_level::Irregularity})
        line << "Unexpected script registration value; skipped";
    }
    lua_settop(L, top);
  }

  void AddScript(std::string name, const uint8_t* bytes, std::size_t length) {
    auto [entry, added] = m_scripts.try_emplace(name);
    if (!added) {
      if (orv::TraceStream line{m_host.Tracer(), orv::trace_level::Irregularity})
        line << "Script double registration skipped";
      return;
    }
    // Compiled again under the script's own name, so that its error
    // messages in a session say which script failed.
    const std::string chunkName = "=" + name;
    try {
      m_host.LoadChunk(bytes, length, chunkName.c_str(), &entry->second);
    } catch (...) {
      m_scripts.erase(entry);
      throw;
    }
    lua_pop(m_host.State(), 2);
  }

  ScriptHost m_host;
  ScriptBases::ScriptMap m_scripts;
};

}  // namespace

orv::result_t ScriptBases::Load(std::span<const orv::ComPtr<orv::IIO>> files) noexcept {
  const std::size_t count = files.size();
  std::size_t number = 0;
  try {
    RegistrationContext context(m_tracer);
    for (number = 1; number <= count; ++number) context.RegisterFile(files[number - 1].Get());
    m_scripts.swap(context.Scripts());
  } catch (...) {
    char prefix[96];
    if (number == 0) {
      std::snprintf(prefix, sizeof(prefix), "Failed to create the script discovery host: ");
    } else {
      std::snprintf(prefix, sizeof(prefix), "Failed to read script file %zu/%zu: ", number, count);
    }
    return orv::TranslateCurrentException(m_tracer.Get(), prefix);
  }
  if (orv::TraceStream line{m_tracer.Get(), orv::trace_level::Milestone})
    line << "Successfully loaded " << count << " script file(s)";
  return orv::result::NoError;
}

const std::string* ScriptBases::Find(std::string_view name) const noexcept {
  const auto found = m_scripts.find(name);
  return found == m_scripts.end() ? nullptr : &found->second;
}

}  // namespace dnt
