// The platform-independent part of the date layer.
#include "orv/system/datetime.h"

#include "orv/rtl/error_handling/exceptions.h"

namespace orv::datetime {

uint64_t UtcTimestampToFileTime(int64_t timestamp) {
  if (timestamp < GregorianToFileTimeOffset) {
    throw TimeSystemError("datetime", 401, result::InvalidArgument, u"Invalid utc timestamp for windows platform");
  }
  return static_cast<uint64_t>(timestamp - GregorianToFileTimeOffset);
}

}  // namespace orv::datetime
