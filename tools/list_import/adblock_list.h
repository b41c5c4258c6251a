// Adblock-style filter lists: network rules anchored at a domain
// ("||host^", "||host/path") and their exceptions ("@@||host^").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/list_import/imported_bases.h"

namespace list_import {

/// Adds the list `text` to `bases` as one service (`serviceId`, `category`,
/// `name`) with one bug that all its rules identify and all its exceptions
/// exempt. Content-type, party and page options ($third-party, $script,
/// $domain=...) are dropped from rules, which then block more widely, and
/// counted (the bases have no rules that depend on the page); exceptions
/// with such options would then lift blocks everywhere, so they are
/// unsupported and reported, like element hiding, regular expressions,
/// rules without a "||" anchor, rules on the query string and options that
/// change what a rule does.
void ImportAdblockList(std::string_view text, uint32_t serviceId, uint32_t category, const std::string& name,
                       ImportedBases& bases, ImportReport& report);

}  // namespace list_import
