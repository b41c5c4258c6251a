// A Privoxy action file made from the entity list the default bases are
// imported from, by the same import: Privoxy then blocks the hosts that the
// default bases know as trackers, for a comparison on the same list.
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>

#include "bench/proxy/loads.h"
#include "tools/list_import/entity_list.h"

namespace proxy_load {

namespace {

// A mask "*.host" is the host and every name below it, as ".host" is for
// Privoxy; a plain host mask also matches its "www." name, which the engine
// drops from URLs before it matches them.
void AddPatterns(const std::string& mask, std::set<std::string>& patterns) {
  const std::string host = mask.substr(0, mask.find('/'));
  if (host.rfind("*.", 0) == 0) {
    patterns.insert(host.substr(1));
  } else if (host.find('*') == std::string::npos) {
    patterns.insert(host);
    patterns.insert("www." + host);
  }
}

}  // namespace

int PrivoxyActions(const std::string& entities) {
  std::ifstream in(entities);
  if (!in) throw std::runtime_error("cannot read " + entities);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  list_import::ImportedBases bases;
  list_import::ImportReport report;
  list_import::ImportEntities(text, list_import::DefaultEntityCategories(), 1, bases, report);
  std::set<std::string> patterns;
  for (const list_import::ImportedBug& bug : bases.bugs) {
    for (const std::string& mask : bug.rules) AddPatterns(mask, patterns);
  }
  std::cout << "# The tracker hosts of " << entities << ", as the default bases of dnt-proxy import them.\n"
            << "{+block{a tracker of the entity list}}\n";
  for (const std::string& pattern : patterns) std::cout << pattern << '\n';
  std::cerr << "proxy_load: " << patterns.size() << " host patterns from " << bases.services.size() << " services\n";
  return 0;
}

}  // namespace proxy_load
