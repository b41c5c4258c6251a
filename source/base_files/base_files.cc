#include "do_not_track/util/base_files.h"

#include <string>

#include "do_not_track/util/enum_files_orv.h"
#include "do_not_track/util/storage_bases.h"
#include "orv/environment.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/system/files.h"
#include "orv/text/utf.h"
#include "orv/trace/trace_stream.h"

namespace dnt {
namespace {

constexpr const char* BaseFilesLocation = "service_component_facade";
constexpr char16_t BasesPlaceholder[] = u"%Bases%";

std::u16string ExpandBasesDirectory(orv::IServiceLocator* locator) {
  orv::ComPtr<orv::IEnvironment> environment;
  orv::result_t code = orv::GetService(locator, environment);
  if (orv::Failed(code) || !environment) {
    throw orv::CheckResultFailedException(BaseFilesLocation, __LINE__, orv::Failed(code) ? code : orv::result::NotFound);
  }
  std::u16string directory;
  code = environment->Expand(BasesPlaceholder, &directory);
  if (orv::Failed(code)) throw orv::CheckResultFailedException(BaseFilesLocation, __LINE__, code);
  return directory;
}

void CollectDirectoryBaseFiles(orv::IServiceLocator* locator, orv::ITracer* tracer, BaseFiles& files) {
  const std::u16string wideDirectory = ExpandBasesDirectory(locator);
  if (orv::TraceStream line{tracer, orv::trace_level::Routine}) {
    line << "Bases directory: [" << wideDirectory << "]";
  }
  const std::string directory = orv::text::ToUtf8(wideDirectory);

  files = BaseFiles{};
  for (const std::string& path : EnumerateFiles(directory, ScriptFileMask)) {
    files.scriptFiles.push_back(squeeze::UnsqueezedReadableFile::Open(path));
  }
  files.bugFile = squeeze::UnsqueezedReadableFile::Open(orv::system::JoinPath(directory, BugFileName));

  files.scriptStreams.reserve(files.scriptFiles.size());
  for (const auto& file : files.scriptFiles) files.scriptStreams.push_back(CreateUnsqueezedIO(file));
  files.bugStream = CreateUnsqueezedIO(files.bugFile);
}

}  // namespace

BaseFiles CollectBaseFiles(orv::IServiceLocator* locator, orv::ITracer* tracer, orv::IDataStorage* storage) {
  BaseFiles files;
  if (storage) {
    CollectStorageBaseFiles(locator, storage, files);
  } else {
    CollectDirectoryBaseFiles(locator, tracer, files);
  }
  return files;
}

}  // namespace dnt
