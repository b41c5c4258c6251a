// Loading a raw dntbugs.dat for the bases toolchain's subcommands.
#pragma once

#include <memory>
#include <string>

#include "do_not_track/dnt_engine/bug_bases.h"
#include "orv/com_ptr.h"
#include "orv/tracer.h"

namespace dntbases {

/// The tracer of a subcommand: with `trace`, every line goes to standard
/// error as the level, a space and the text; without, failures are kept so
/// that they can be reported.
orv::ComPtr<orv::ITracer> MakeToolTracer(bool trace);

/// Loads the unpacked bug database at `path`. Throws std::runtime_error with
/// the component's error text when the file cannot be read or loaded.
std::unique_ptr<dnt::BugBases> LoadBugBasesFile(const std::string& path, const orv::ComPtr<orv::ITracer>& tracer);

/// Call inside a catch handler: the component's text for the exception in
/// flight, as its trace line would show it.
std::string CurrentErrorText();

}  // namespace dntbases
