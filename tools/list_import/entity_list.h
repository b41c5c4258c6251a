// Entity lists: a JSON array of {"name", "category", "domains": [...]} as the
// third-party-web project publishes them. Every entity of an imported
// category is one service; each of its domains is one rule.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "tools/list_import/imported_bases.h"

namespace list_import {

/// Entity category name → service category (1 social network, 2 web
/// analytics, 3 ad agency, 4 web bug). A category mapped to 0, or not
/// mapped, is left out.
using CategoryMap = std::map<std::string, uint32_t, std::less<>>;

/// social, analytics, ad, tag-manager and marketing; the other categories
/// (cdn, hosting, utility, ...) are not tracking services.
CategoryMap DefaultEntityCategories();

/// Adds the entities of `json` to `bases`. Entity i (from 0) gets the
/// service id `firstId` + i, so ids do not change when the category map
/// does. Throws std::invalid_argument when the text is not a JSON array;
/// entries that are not entities are reported, not fatal.
void ImportEntities(std::string_view json, const CategoryMap& categories, uint32_t firstId, ImportedBases& bases,
                    ImportReport& report);

}  // namespace list_import
