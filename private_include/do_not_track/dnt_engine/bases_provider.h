// One complete, immutable set of loaded bases (script bases and bug database)
// and the slot that publishes the current one.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "do_not_track/dnt_engine/bug_bases.h"
#include "do_not_track/dnt_engine/script_bases.h"
#include "do_not_track/dnt_engine/script_host.h"
#include "do_not_track/service_settings.h"
#include "orv/com_ptr.h"
#include "orv/io.h"
#include "orv/system/sync.h"
#include "orv/tracer.h"

namespace dnt {

/// Built whole or not at all; never changes afterwards, so it is read from
/// any thread without locks. Shared through counted references
/// (orv::ComPtr<Bases>); the count starts at 0.
class Bases {
 public:
  /// Loads the script bases, then the bug database. Throws
  /// orv::CheckResultFailedException "failed to load script bases" or
  /// "failed to load bug bases" with the loader's result code; a script
  /// failure means the bug database is never read.
  Bases(orv::ComPtr<orv::ITracer> tracer, std::span<const orv::ComPtr<orv::IIO>> scriptStreams,
        orv::IIO* bugStream);
  Bases(const Bases&) = delete;
  Bases& operator=(const Bases&) = delete;

  uint32_t AddRef() noexcept { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
  /// Destroys the object when the last reference goes.
  uint32_t Release() noexcept;

  const ScriptBases& Scripts() const noexcept { return m_scripts; }
  const BugBases& Bugs() const noexcept { return m_bugs; }

 private:
  ~Bases() = default;

  std::atomic<uint32_t> m_refs{0};
  orv::ComPtr<orv::ITracer> m_tracer;
  ScriptBases m_scripts;
  BugBases m_bugs;
};

/// The current Bases, exchanged and taken under a short critical section.
/// Counted like Bases (orv::ComPtr<BasesSlot>); the count starts at 0.
class BasesSlot {
 public:
  BasesSlot() = default;
  BasesSlot(const BasesSlot&) = delete;
  BasesSlot& operator=(const BasesSlot&) = delete;

  uint32_t AddRef() noexcept { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
  uint32_t Release() noexcept;

  /// Publishes `bases` (or null). The previous Bases loses the slot's
  /// reference after the lock is left, so it may be destroyed here.
  void Set(Bases* bases) noexcept;
  /// The current Bases with a reference for the caller, or null.
  orv::ComPtr<Bases> Take() const noexcept;

 private:
  ~BasesSlot();

  std::atomic<uint32_t> m_refs{0};
  mutable orv::system::CriticalSection m_lock;
  Bases* m_current = nullptr;
};

/// An engine context over a bases snapshot and a copy of the settings: what
/// a session processor gives its host, for tests and tools.
class BasesEngineContext final : public IScriptEngineContext {
 public:
  BasesEngineContext(orv::ComPtr<Bases> bases, ServiceSettings settings)
      : m_bases(std::move(bases)), m_settings(std::move(settings)) {}

  const Bases& GetBases() const override { return *m_bases; }
  const ServiceSettings& GetSettings() const override { return m_settings; }

 private:
  orv::ComPtr<Bases> m_bases;
  ServiceSettings m_settings;
};

}  // namespace dnt
