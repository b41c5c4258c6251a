// The DntEngine object offered to scripts: logging, Require, the bug
// database queries and the read-only constants.
#pragma once

#include <cstdint>

struct lua_State;

namespace dnt {

class ScriptHost;
struct ServiceSettings;

/// Creates the DntEngine userdata of `host` with its method table and
/// constants and stores it as the global "DntEngine".
void OpenDntEngine(lua_State* L, ScriptHost* host, const ServiceSettings& settings);

/// A script's number as an unsigned 32-bit argument: truncated toward zero;
/// negative numbers and NaN give 0, numbers from 2^32 up give 4294967295.
uint32_t ToUint32Argument(double value) noexcept;

}  // namespace dnt
