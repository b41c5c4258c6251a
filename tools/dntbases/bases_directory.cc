#include "tools/dntbases/bases_directory.h"

#include <optional>
#include <stdexcept>

#include "do_not_track/util/base_files.h"
#include "host/capturing_tracer.h"
#include "host/environment.h"
#include "host/service_locator.h"
#include "orv/text/utf.h"
#include "tools/dntbases/bug_bases_file.h"

namespace dntbases {

orv::ComPtr<dnt::Bases> LoadBasesDirectory(const std::string& directory, const orv::ComPtr<orv::ITracer>& tracer) {
  const std::optional<std::u16string> wide = orv::text::FromUtf8(directory);
  if (!wide) throw std::runtime_error("the directory name is not UTF-8 [" + directory + "]");
  const auto locator = host::MakeHostObject<host::ServiceLocator>();
  locator->Register(orv::ComPtr<orv::IEnvironment>(host::MakeHostObject<host::Environment>(*wide)));
  const dnt::BaseFiles files = dnt::CollectBaseFiles(locator.Get(), tracer.Get(), nullptr);
  return orv::ComPtr<dnt::Bases>(new dnt::Bases(tracer, files.scriptStreams, files.bugStream.Get()));
}

std::string LoadFailureText(orv::ITracer* tracer) {
  std::string text;
  if (auto* keeper = dynamic_cast<host::CapturingTracer*>(tracer)) {
    for (const std::string& line : keeper->Texts(orv::trace_level::Failure)) text += line + '\n';
  }
  return text + CurrentErrorText();
}

}  // namespace dntbases
