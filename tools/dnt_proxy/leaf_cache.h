// The leaf certificates minted for clients, by name, so that a browser's
// many connections to one server cost one signature. Bounded: beyond its
// capacity the least recently used leaf goes. Any thread may ask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "tools/dnt_proxy/certificate_authority.h"

namespace dnt_proxy {

class LeafCache {
 public:
  LeafCache(const CertificateAuthority& authority, std::size_t capacity);

  /// The leaf for `name`: the one kept, or one minted now (when none is
  /// kept, or the one kept has less than a day left). Throws OpenSslError.
  std::shared_ptr<const Leaf> Get(const std::string& name);

  struct Counts {
    std::size_t size = 0;
    std::size_t capacity = 0;
    uint64_t minted = 0;
    uint64_t hits = 0;
  };
  Counts Count() const;

 private:
  using Entry = std::pair<std::string, std::shared_ptr<const Leaf>>;

  std::shared_ptr<const Leaf> Find(const std::string& name);
  void Keep(const std::string& name, std::shared_ptr<const Leaf> leaf);

  const CertificateAuthority& m_authority;
  const std::size_t m_capacity;
  mutable std::mutex m_lock;
  // The most recently used first, and by name.
  std::list<Entry> m_leaves;
  std::unordered_map<std::string, std::list<Entry>::iterator> m_byName;
  uint64_t m_minted = 0;
  uint64_t m_hits = 0;
};

}  // namespace dnt_proxy
