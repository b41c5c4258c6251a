// Base files offered by the host's data storage: packed files that the
// host's packed IO factory unpacks.
#pragma once

#include <string_view>

#include "do_not_track/util/base_files.h"
#include "orv/com_ptr.h"
#include "orv/data_storage.h"
#include "orv/service_locator.h"

namespace dnt {

/// Opens `name` in `storage` and unpacks it through `factory`. Throws
/// orv::CheckResultFailedException with the failing call's code.
orv::ComPtr<orv::IIO> OpenStorageBasedFile(orv::IPackedIOFactory* factory, orv::IDataStorage* storage,
                                           std::u16string_view name);

/// Fills `files` with the script files of the storage's root, in the
/// storage's order, and dntbugs.dat. Throws orv::CheckResultFailedException.
void CollectStorageBaseFiles(orv::IServiceLocator* locator, orv::IDataStorage* storage, BaseFiles& files);

}  // namespace dnt
