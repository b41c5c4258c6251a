// Loading a dntbugs.dat (packed or raw) for the bases toolchain's subcommands.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "do_not_track/dnt_engine/bug_bases.h"
#include "orv/com_ptr.h"
#include "orv/tracer.h"

namespace dntbases {

/// The tracer of a subcommand: with `trace`, every line goes to standard
/// error as the level, a space and the text; without, failures are kept so
/// that they can be reported.
orv::ComPtr<orv::ITracer> MakeToolTracer(bool trace);

/// The bug database bytes at `path`: a dntbugs.dat, packed or raw, or a bases
/// directory holding one. Packed files are unpacked.
std::vector<uint8_t> ReadBugBasesBytes(const std::string& path);

/// Loads the bug database at `path` (as ReadBugBasesBytes finds it). Throws
/// std::runtime_error with the component's error text when the file cannot
/// be read or loaded.
std::unique_ptr<dnt::BugBases> LoadBugBasesFile(const std::string& path, const orv::ComPtr<orv::ITracer>& tracer);

/// Call inside a catch handler: the component's text for the exception in
/// flight, as its trace line would show it.
std::string CurrentErrorText();

/// The exit status `body` returns, or 1 after its exception's text, after
/// `prefix`, went to standard error.
int ExitStatusOf(const std::function<int()>& body, std::string_view prefix = {});

/// Writes `value` and a newline to standard output. Names are the file's
/// bytes: text that is not UTF-8 is shown with U+FFFD.
void PrintJson(const nlohmann::json& value, int indent = -1);

}  // namespace dntbases
