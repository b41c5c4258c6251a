#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orv::network::testing {

// Parses `input`, writes it back, parses and writes that again. Returns a
// description of the first broken expectation, or nothing when the second
// round reproduces the first: same text, same parts, same flags (except
// flags the text has no place for). Text that does not parse is no failure;
// neither is a scheme followed by nothing ("file:"), which parses but cannot
// be written. Exempt, because the text form cannot carry them back:
//  - a non-special scheme without a host, written "scheme:/path", which the
//    parser reads as a host with an empty port;
//  - a hostless "file:" path with exactly one leading '/': after "file:" the
//    parser eats up to three slashes and keeps two from four on;
//  - an empty scheme before "//" ("://h:x"), written as no scheme at all, so
//    the host may then read as a scheme;
//  - text written beginning with "URL:", which the parser drops as a prefix.
std::optional<std::string> CheckUrlRoundTrip(std::string_view input);

}  // namespace orv::network::testing
