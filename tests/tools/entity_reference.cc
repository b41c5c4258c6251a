#include "cmake/build_paths.h"
#include "tests/tools/entity_reference.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <utility>

namespace tools_test {
namespace {

bool Matches(const std::string& host, const std::string& domain, bool& wildcard) {
  wildcard = domain.starts_with("*.");
  const std::string base = wildcard ? domain.substr(2) : domain;
  return host == base || (wildcard && host.size() > base.size() && host.ends_with("." + base));
}

}  // namespace

nlohmann::json ReadEntityList() {
  std::ifstream in(std::string(DNT_SOURCE_ROOT) + "/third_party/third-party-web/entities.json");
  return nlohmann::json::parse(in);
}

ListedEntity ListedService(const nlohmann::json& entities, const std::string& host) {
  static const std::set<std::string> Imported = {"social", "analytics", "ad", "tag-manager", "marketing"};
  ListedEntity best;
  std::pair<long, bool> bestKey{1, true};
  for (const nlohmann::json& entity : entities) {
    const std::string category = entity["category"];
    if (!Imported.count(category)) continue;
    for (const nlohmann::json& domain : entity["domains"]) {
      const std::string text = domain;
      bool wildcard = false;
      if (!Matches(host, text, wildcard)) continue;
      const std::pair<long, bool> key{-std::count(text.begin(), text.end(), '.'), wildcard};
      if (key < bestKey) {
        bestKey = key;
        best = {entity["name"], category};
      }
    }
  }
  return best;
}

}  // namespace tools_test
