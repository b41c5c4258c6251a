// What the third-party-web entity list itself says about a host, computed
// the obvious way, to check the default bases and the scanner against.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace tools_test {

/// The entity list bundled in third_party/.
nlohmann::json ReadEntityList();

struct ListedEntity {
  std::string name;
  std::string category;  ///< the list's category: "ad", "analytics", ...
};

/// The entity of an imported category (social, analytics, ad, tag-manager,
/// marketing) with the most specific domain matching `host` (more labels
/// first, a plain host before a "*." pattern); an empty name when none.
ListedEntity ListedService(const nlohmann::json& entities, const std::string& host);

}  // namespace tools_test
