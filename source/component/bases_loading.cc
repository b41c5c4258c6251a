#include "source/component/bases_loading.h"

#include "do_not_track/util/base_files.h"
#include "orv/environment.h"
#include "orv/trace/trace_stream.h"

namespace dnt {

orv::ComPtr<Bases> LoadBases(const orv::ComponentServices& services, orv::IDataStorage* storage) {
  // Nothing here uses the IP resolver; its absence is only worth a line.
  orv::ComPtr<orv::IIpResolver> resolver;
  if (orv::Failed(orv::GetService(services.locator.Get(), resolver)) || !resolver) {
    if (orv::TraceStream line{services.tracer.Get(), orv::trace_level::Milestone}) line << "No IP resolver available";
  }
  const BaseFiles files = CollectBaseFiles(services.locator.Get(), services.tracer.Get(), storage);
  return orv::ComPtr<Bases>(new Bases(services.tracer, files.scriptStreams, files.bugStream.Get()));
}

}  // namespace dnt
