// The loaded bug database: services, bugs, rule and exception masks, site
// lists, HTTPS domains and the build time. Created empty, filled once by
// BugBasesLoader, read-only (and safe to read from any thread) afterwards.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "do_not_track/categories.h"
#include "do_not_track/dnt_engine/bug_bases_exceptional_sites.h"
#include "do_not_track/dnt_engine/bug_rules.h"
#include "do_not_track/dnt_engine/flat_object_list_block.h"
#include "mask_engine/mask_engine.h"
#include "orv/com_ptr.h"
#include "orv/tracer.h"

namespace dnt {

class BugBases {
 public:
  explicit BugBases(orv::ComPtr<orv::ITracer> tracer);
  BugBases(const BugBases&) = delete;
  BugBases& operator=(const BugBases&) = delete;

  orv::ITracer* Tracer() const noexcept { return m_tracer.Get(); }

  const FlatObjectListBlock& Services() const noexcept { return m_services; }
  size_t ServiceCount() const noexcept { return m_services.Count(); }
  /// Throws std::out_of_range "FlatObjectListBlock: the index is out of range".
  ServiceInfo Service(size_t serviceIndex) const { return m_services.Get(serviceIndex); }

  /// Bug index -> service index.
  const std::vector<uint32_t>& Bugs() const noexcept { return m_bugs; }
  size_t BugCount() const noexcept { return m_bugs.size(); }
  /// Throws std::out_of_range "the bug index is out of range".
  uint32_t ServiceIndexOfBug(size_t bugIndex) const;

  const BugRules& Rules() const noexcept { return m_rules; }
  const BugRules& Exceptions() const noexcept { return m_exceptions; }
  const ExceptionalSites& PartnerSites() const noexcept { return m_partnerSites; }
  const ExceptionalSites& IncompatibleSites() const noexcept { return m_incompatibleSites; }
  /// Null when the HTTPS domain list is missing or broken.
  const std::shared_ptr<mask_engine::MaskEngine>& HttpsDomains() const noexcept { return m_httpsDomains; }

  /// "YYYY-MM-DDTHH:MM:SSZ" of the build time; empty without a timestamp.
  const std::string& BuiltOn() const noexcept { return m_builtOn; }

  /// Diagnostics for the tools: the file's version (major << 16 | minor) and
  /// the HTTPS masks added out of the records read.
  uint32_t Version() const noexcept { return m_version; }
  uint32_t HttpsDomainsAdded() const noexcept { return m_httpsDomainsAdded; }
  uint32_t HttpsDomainsCount() const noexcept { return m_httpsDomainsCount; }

  /// Approximate bytes held by the model.
  size_t MemoryBytes() const noexcept;

 private:
  friend class BugBasesLoader;

  orv::ComPtr<orv::ITracer> m_tracer;
  FlatObjectListBlock m_services;
  std::vector<uint32_t> m_bugs;
  BugRules m_rules;
  BugRules m_exceptions;
  ExceptionalSites m_partnerSites;
  ExceptionalSites m_incompatibleSites;
  std::shared_ptr<mask_engine::MaskEngine> m_httpsDomains;
  std::string m_builtOn;
  uint32_t m_version = 0;
  uint32_t m_httpsDomainsAdded = 0;
  uint32_t m_httpsDomainsCount = 0;
};

}  // namespace dnt
