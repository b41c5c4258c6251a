#include "tools/dnt_proxy/leaf_cache.h"

#include <algorithm>
#include <ctime>

namespace dnt_proxy {
namespace {

// A leaf this close to its end is minted anew: a client's clock may run
// ahead, and a connection may last.
constexpr std::time_t Renewal = 24 * 60 * 60;

}  // namespace

LeafCache::LeafCache(const CertificateAuthority& authority, std::size_t capacity)
    : m_authority(authority), m_capacity(std::max<std::size_t>(capacity, 1)) {}

std::shared_ptr<const Leaf> LeafCache::Get(const std::string& name) {
  if (auto leaf = Find(name)) return leaf;
  // Minted outside the lock, so that other threads' hits need not wait for
  // a signature; two threads may mint one name at once, and one leaf stays.
  auto leaf = std::make_shared<const Leaf>(m_authority.Mint(name));
  Keep(name, leaf);
  return leaf;
}

std::shared_ptr<const Leaf> LeafCache::Find(const std::string& name) {
  std::lock_guard guard(m_lock);
  const auto found = m_byName.find(name);
  if (found == m_byName.end()) return nullptr;
  if (found->second->second->notAfter - std::time(nullptr) < Renewal) {
    m_leaves.erase(found->second);
    m_byName.erase(found);
    return nullptr;
  }
  m_leaves.splice(m_leaves.begin(), m_leaves, found->second);
  ++m_hits;
  return m_leaves.front().second;
}

void LeafCache::Keep(const std::string& name, std::shared_ptr<const Leaf> leaf) {
  std::lock_guard guard(m_lock);
  ++m_minted;
  if (const auto found = m_byName.find(name); found != m_byName.end()) {
    found->second->second = std::move(leaf);
    m_leaves.splice(m_leaves.begin(), m_leaves, found->second);
    return;
  }
  if (m_leaves.size() >= m_capacity) {
    m_byName.erase(m_leaves.back().first);
    m_leaves.pop_back();
  }
  m_leaves.emplace_front(name, std::move(leaf));
  m_byName.emplace(name, m_leaves.begin());
}

LeafCache::Counts LeafCache::Count() const {
  std::lock_guard guard(m_lock);
  return {m_leaves.size(), m_capacity, m_minted, m_hits};
}

}  // namespace dnt_proxy
