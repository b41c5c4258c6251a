#pragma once

// Descriptions of UrlSyntaxError. Scripts see them verbatim, so the wording
// (misspellings included) must not change.
namespace orv::network::url_messages {

inline constexpr const char* kNoAuthority =
    "No authority information or path present after URL scheme";
inline constexpr const char* kPasswordWithoutUser =
    "URL string can not contain password without a user name";
inline constexpr const char* kUnclosedIpv6 =
    "Host name is specified the IPv6 address, which is not closed by ']'";
inline constexpr const char* kColonWithoutPort =
    "If URL without scheme contains a colon after host it must contain a port after colon";
inline constexpr const char* kPortWithoutHost =
    "URL string can not contain port without a host name or address";
inline constexpr const char* kUserWithoutHostParse =
    "URL string con not contain user information without a host name or address";
inline constexpr const char* kUserWithoutHostSerialise =
    "URL string can not contain user information without host information";
inline constexpr const char* kNoAuthorityNorPath =
    "URL scheme must be followed by authority or path, witch are both absent";
inline constexpr const char* kInconsistentLogin =
    "URL login information is not consistent, empty login flag is set with non-empty login";
inline constexpr const char* kInconsistentPassword =
    "URL password information is not consistent, empty password flag is set with non-empty "
    "password";
inline constexpr const char* kInconsistentQuery =
    "URL query information is not consistent, empty query flag is set with non-empty query";
inline constexpr const char* kInconsistentFragment =
    "URL fragment information is not consistent, empty fragment flag is set with non-empty "
    "fragment";

}  // namespace orv::network::url_messages
