// Turns the sorted, deduplicated key list into a node_layout.
#pragma once

#include <vector>

#include "mask_engine/key_list.h"
#include "mask_engine/node_layout.h"

namespace mask_engine {

/// `keys` must be sorted by CompareKeys with no two equal. An empty list
/// gives an empty layout. Throws std::out_of_range "node_layout::set_tag_cnt()"
/// when a node would have more than 255 literal children.
node_layout CompileLayout(const std::vector<KeyEntry>& keys);

}  // namespace mask_engine
