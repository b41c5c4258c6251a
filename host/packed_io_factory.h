#pragma once

#include "host/host_object.h"
#include "orv/data_storage.h"

namespace host {

/// Unpacks storage files packed in the same SQZE container as the bases
/// directory's files: reads the packed stream whole from its start and
/// returns a memory stream over the record's data. A stream that is not a
/// valid container gives BasesCorrupted.
class PackedIOFactory final : public HostObject<orv::IPackedIOFactory> {
 public:
  orv::result_t CreateUnpackedIO(orv::IIO* packed, orv::IIO** out) override;
};

}  // namespace host
