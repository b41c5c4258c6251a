// The base files of one bases build: the script files (dnt0???.dat) and the
// bug database (dntbugs.dat), opened and unpacked into readable streams.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "orv/com_ptr.h"
#include "orv/data_storage.h"
#include "orv/io.h"
#include "orv/service_locator.h"
#include "orv/tracer.h"
#include "squeeze/unsqueezed_readable_file.h"

namespace dnt {

inline constexpr std::string_view ScriptFileMask = "dnt0???.dat";
inline constexpr std::string_view BugFileName = "dntbugs.dat";

struct BaseFiles {
  /// Unpacked disk files behind the streams (bases directory only); they keep
  /// the content alive for as long as the streams exist.
  std::vector<std::shared_ptr<squeeze::UnsqueezedReadableFile>> scriptFiles;
  std::shared_ptr<squeeze::UnsqueezedReadableFile> bugFile;
  /// One stream per script file, in enumeration order.
  std::vector<orv::ComPtr<orv::IIO>> scriptStreams;
  orv::ComPtr<orv::IIO> bugStream;
};

/// Opens the base files from `storage` when it is given (unpacked through the
/// host's packed IO factory), else from the directory "%Bases%" expands to
/// (unpacked here). Throws orv::CheckResultFailedException for a host service
/// or listing failure and std::runtime_error for a disk file that cannot be
/// opened or unpacked; a missing dntbugs.dat fails, missing script files
/// give an empty script list.
BaseFiles CollectBaseFiles(orv::IServiceLocator* locator, orv::ITracer* tracer, orv::IDataStorage* storage);

/// A read-only IIO over `file` that shares the file and counts as a live
/// object of the module while it exists.
orv::ComPtr<orv::IIO> CreateUnsqueezedIO(std::shared_ptr<squeeze::UnsqueezedReadableFile> file);

}  // namespace dnt
