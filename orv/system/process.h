// Platform layer for what a host program asks of its own process: where its
// file is, and how much memory it has held at most. One implementation file
// per platform sits beside this header (process_posix.cc, process_win.cc).
#pragma once

#include <cstdint>
#include <string>

namespace orv::system {

/// The file of the running program (UTF-8); empty when it cannot be told.
std::string RunningProgramPath();

/// The most resident memory the process has held so far, in bytes; 0 when
/// it cannot be told.
uint64_t PeakResidentBytes();

/// Makes the standard streams carry bytes as they are: without it, Windows
/// turns every "\n" written into "\r\n" (and reads the reverse), and the
/// same report or input would differ from one platform to the other.
void UseBinaryStandardStreams();

}  // namespace orv::system
