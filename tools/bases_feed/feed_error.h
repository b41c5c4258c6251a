// Why a check of a bases feed refused what it found. Each reason has a short
// name, the label under which the proxy counts it.
#pragma once

#include <array>
#include <stdexcept>
#include <string>

namespace bases_feed {

enum class Failure {
  Unreachable,  // no connection to the server
  Timeout,      // an answer did not come whole in time
  Tls,          // the server's certificate did not verify, or no handshake
  HttpStatus,   // an answer other than 200 (or 304 for the manifest)
  Redirect,     // too many redirects, or one to another scheme
  TooLarge,     // an answer or a file over its limit
  Signature,    // the manifest is not signed by the key
  Manifest,     // the signed manifest is malformed
  Expired,      // the manifest's expiry time has passed
  OldVersion,   // the manifest is not newer than the bases served
  Size,         // a file longer or shorter than its manifest says
  Hash,         // a file whose SHA-256 is not its manifest's
  Load,         // verified bases that the engine could not load
  State,        // the state folder could not be written
};

inline constexpr std::array AllFailures = {
    Failure::Unreachable, Failure::Timeout, Failure::Tls,  Failure::HttpStatus, Failure::Redirect,
    Failure::TooLarge,    Failure::Signature, Failure::Manifest, Failure::Expired, Failure::OldVersion,
    Failure::Size,        Failure::Hash,    Failure::Load, Failure::State};

/// "unreachable", "timeout", "tls", "http_status", "redirect", "too_large",
/// "signature", "manifest", "expired", "old_version", "size", "hash",
/// "load", "state".
const char* FailureName(Failure failure);

class FeedError : public std::runtime_error {
 public:
  FeedError(Failure failure, const std::string& what) : std::runtime_error(what), m_failure(failure) {}
  Failure Reason() const { return m_failure; }

 private:
  Failure m_failure;
};

}  // namespace bases_feed
