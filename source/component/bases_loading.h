// Loading a complete set of bases for the service component: from the host's
// storage when it gave one, else from the bases directory.
#pragma once

#include "do_not_track/dnt_engine/bases_provider.h"
#include "orv/data_storage.h"
#include "orv/rtl/component_services.h"

namespace dnt {

/// Builds a Bases from `storage`, or from the directory "%Bases%" expands to
/// when `storage` is null. Throws whatever collecting or loading throws.
orv::ComPtr<Bases> LoadBases(const orv::ComponentServices& services, orv::IDataStorage* storage);

}  // namespace dnt
