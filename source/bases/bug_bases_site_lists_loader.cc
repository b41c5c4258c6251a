// The lists whose failure does not fail the bug database: HTTPS domains,
// partner sites and incompatible sites.
#include <string>

#include "do_not_track/dnt_engine/bug_bases_loader.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/trace/trace_stream.h"

namespace dnt {

void BugBasesLoader::LoadHttpsDomains() {
  try {
    const StreamDescriptor& entry = RequireStream(stream_tag::HttpsDomains);
    std::shared_ptr<mask_engine::MaskEngine> domains = mask_engine::MaskEngine::Create();
    BinaryStreamReader reader = OpenSection(entry.offset, entry.size);
    std::string mask;
    uint32_t added = 0;
    for (uint32_t i = 0; i < entry.count; ++i) {
      reader.ReadBlob(mask);
      if (domains->AddMask(mask.data(), static_cast<uint32_t>(mask.size())).added) ++added;
    }
    if (reader.Consumed() != entry.size) throw std::runtime_error("bugs database stream size mismatch");
    domains->Finalize();
    m_bases.m_httpsDomains = std::move(domains);
    m_bases.m_httpsDomainsAdded = added;
    m_bases.m_httpsDomainsCount = entry.count;
    orv::TraceStream(m_bases.Tracer(), orv::trace_level::Routine)
        << "Bugs db: loaded " << added << " out of " << entry.count << " known https domains";
  } catch (...) {
    m_bases.m_httpsDomains.reset();
    m_bases.m_httpsDomainsAdded = 0;
    m_bases.m_httpsDomainsCount = 0;
    orv::TranslateCurrentException(m_bases.Tracer(), "Failed to load https domain list, fallingback to safe shortcut: ");
  }
}

void BugBasesLoader::LoadSiteList(ExceptionalSites& sites, uint32_t tag, const char* what, const char* failurePrefix) {
  try {
    const StreamDescriptor& entry = RequireStream(tag);
    sites.Assign(ReadWholeSection(entry), entry.count);
    sites.Validate();
    orv::TraceStream(m_bases.Tracer(), orv::trace_level::Routine) << "Bugs db: loaded " << entry.count << what;
  } catch (...) {
    orv::TranslateCurrentException(m_bases.Tracer(), failurePrefix);
  }
}

}  // namespace dnt
