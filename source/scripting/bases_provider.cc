#include "do_not_track/dnt_engine/bases_provider.h"

#include <utility>

#include "do_not_track/dnt_engine/bug_bases_loader.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/trace/trace_stream.h"

namespace dnt {
namespace {

constexpr const char* ProviderLocation = "bases_provider";

}  // namespace

Bases::Bases(orv::ComPtr<orv::ITracer> tracer, std::span<const orv::ComPtr<orv::IIO>> scriptStreams,
             orv::IIO* bugStream)
    : m_tracer(std::move(tracer)), m_scripts(m_tracer), m_bugs(m_tracer) {
  orv::result_t code = m_scripts.Load(scriptStreams);
  if (orv::Failed(code)) throw orv::CheckResultFailedException(ProviderLocation, __LINE__, code, u"failed to load script bases");
  code = BugBasesLoader::Load(m_bugs, bugStream);
  if (orv::Failed(code)) throw orv::CheckResultFailedException(ProviderLocation, __LINE__, code, u"failed to load bug bases");
  if (orv::TraceStream line{m_tracer.Get(), orv::trace_level::Milestone}) line << "Bases loaded successfully";
}

uint32_t Bases::Release() noexcept {
  const uint32_t left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

BasesSlot::~BasesSlot() {
  if (m_current) m_current->Release();
}

uint32_t BasesSlot::Release() noexcept {
  const uint32_t left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

void BasesSlot::Set(Bases* bases) noexcept {
  // The new reference is taken before the old one is dropped, so setting the
  // Bases already held keeps it alive.
  if (bases) bases->AddRef();
  Bases* previous = nullptr;
  {
    orv::system::CriticalSectionLock lock(m_lock);
    previous = std::exchange(m_current, bases);
  }
  if (previous) previous->Release();
}

orv::ComPtr<Bases> BasesSlot::Take() const noexcept {
  orv::system::CriticalSectionLock lock(m_lock);
  return orv::ComPtr<Bases>(m_current);
}

}  // namespace dnt
