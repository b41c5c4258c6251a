#include "url_parser/testing/url_round_trip.h"

#include "url_parser/parsed_url.h"
#include "url_parser/special_schemes.h"
#include "url_parser/url_messages.h"

namespace orv::network::testing {
namespace {

bool HasEmptySchemeBeforeAuthority(std::string_view input) {
  if (StartsWithUrlPrefix(input)) input.remove_prefix(4);
  return input.starts_with("://");
}

bool IsExempt(const ParsedUrl& url, std::string_view text) {
  const std::string_view scheme = url.Part(UrlPart::Scheme);
  const std::string_view path = url.Part(UrlPart::Path);
  const bool hostless = url.Part(UrlPart::Host).empty();
  const bool isFile = IsFileScheme(scheme);
  const bool genericScheme =
      !scheme.empty() && !isFile && !IsMailtoScheme(scheme) && !IsBlobScheme(scheme);
  const bool fileSingleSlashPath = isFile && path.starts_with('/') && !path.starts_with("//");
  return (hostless && (genericScheme || fileSingleSlashPath)) || StartsWithUrlPrefix(text) ||
         HasEmptySchemeBeforeAuthority(url.Text());
}

// Flags whose delimiter the serialiser has no place to write.
bool FlagCanBeWritten(const ParsedUrl& url, UrlFlag flag, std::string_view text) {
  switch (flag) {
    case UrlFlag::EmptyLogin: return !url.Part(UrlPart::Host).empty();
    case UrlFlag::EmptyPassword:
      return !url.Part(UrlPart::User).empty() && !url.Part(UrlPart::Host).empty();
    default: return text != "/";
  }
}

std::optional<std::string> CompareModels(const ParsedUrl& first, const ParsedUrl& second,
                                         std::string_view text) {
  static constexpr const char* kPartNames[kUrlPartCount] = {
      "scheme", "user", "password", "host", "port", "path", "query", "fragment"};
  for (std::size_t i = 0; i < kUrlPartCount; ++i) {
    const auto part = static_cast<UrlPart>(i);
    if (first.Part(part) != second.Part(part)) {
      return std::string(kPartNames[i]) + " changed from '" + std::string(first.Part(part)) +
             "' to '" + std::string(second.Part(part)) + "'";
    }
  }
  for (std::size_t i = 0; i < kUrlFlagCount; ++i) {
    const auto flag = static_cast<UrlFlag>(i);
    if (FlagCanBeWritten(first, flag, text) && first.Flag(flag) != second.Flag(flag)) {
      return "flag " + std::to_string(i) + " changed";
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckUrlRoundTrip(std::string_view input) {
  ParsedUrl first;
  try {
    first = ParsedUrl::Parse(input);
  } catch (const UrlSyntaxError&) {
    return std::nullopt;
  }
  std::string firstText;
  try {
    firstText = first.Serialise();
  } catch (const UrlSyntaxError& e) {
    // The one thing the parser accepts and the serialiser refuses: a scheme
    // followed by nothing at all ("file:", "mailto:", "x:///").
    if (std::string_view(e.what()) == url_messages::kNoAuthorityNorPath) return std::nullopt;
    return "parsed but does not serialise: " + std::string(e.what());
  }
  if (IsExempt(first, firstText)) return std::nullopt;

  ParsedUrl second;
  std::string secondText;
  try {
    second = ParsedUrl::Parse(firstText);
    secondText = second.Serialise();
  } catch (const UrlSyntaxError& e) {
    return "'" + firstText + "' does not round-trip: " + e.what();
  }
  if (firstText != secondText) return "'" + firstText + "' became '" + secondText + "'";
  if (auto difference = CompareModels(first, second, firstText)) {
    return "'" + firstText + "': " + *difference;
  }
  return std::nullopt;
}

}  // namespace orv::network::testing
