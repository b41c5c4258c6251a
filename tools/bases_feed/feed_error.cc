#include "tools/bases_feed/feed_error.h"

namespace bases_feed {

const char* FailureName(Failure failure) {
  switch (failure) {
    case Failure::Unreachable: return "unreachable";
    case Failure::Timeout: return "timeout";
    case Failure::Tls: return "tls";
    case Failure::HttpStatus: return "http_status";
    case Failure::Redirect: return "redirect";
    case Failure::TooLarge: return "too_large";
    case Failure::Signature: return "signature";
    case Failure::Manifest: return "manifest";
    case Failure::Expired: return "expired";
    case Failure::OldVersion: return "old_version";
    case Failure::Size: return "size";
    case Failure::Hash: return "hash";
    case Failure::Load: return "load";
    case Failure::State: return "state";
  }
  return "unknown";
}

}  // namespace bases_feed
