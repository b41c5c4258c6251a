// Hosts files: "0.0.0.0 host [host...]" lines that send tracker hosts
// nowhere; '#' starts a comment.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/list_import/imported_bases.h"

namespace list_import {

/// Adds the hosts of `text` to `bases` as one service (`serviceId`,
/// `category`, `name`) with one bug; each host is one rule matching that
/// host exactly. Names of the local machine (localhost, broadcasthost, ...)
/// are skipped and counted; lines that do not begin with an address, and
/// hosts that are not host names, are reported.
void ImportHostsFile(std::string_view text, uint32_t serviceId, uint32_t category, const std::string& name,
                     ImportedBases& bases, ImportReport& report);

}  // namespace list_import
