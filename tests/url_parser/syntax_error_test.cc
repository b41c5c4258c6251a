#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

#include "url_parser/parsed_url.h"

namespace orv::network {
namespace {

static_assert(std::is_base_of_v<std::logic_error, UrlSyntaxError>);

std::string ParseError(std::string_view input) {
  try {
    ParsedUrl::Parse(input);
  } catch (const UrlSyntaxError& e) {
    return e.what();
  }
  return "(parsed)";
}

std::string SerialiseError(const ParsedUrl& url) {
  try {
    return "(serialised as '" + url.Serialise() + "')";
  } catch (const UrlSyntaxError& e) {
    return e.what();
  }
}

TEST(UrlSyntaxErrors, ParseRefusesInconsistentText) {
  const struct {
    std::string_view input;
    std::string_view message;
  } cases[] = {
      {"http://", "No authority information or path present after URL scheme"},
      {"file://", "No authority information or path present after URL scheme"},
      {"URL:x://", "No authority information or path present after URL scheme"},
      {"http://:pw@h.test", "URL string can not contain password without a user name"},
      {":pw@h.test", "URL string can not contain password without a user name"},
      {"http://[::1", "Host name is specified the IPv6 address, which is not closed by ']'"},
      {"http://[::1/]", "Host name is specified the IPv6 address, which is not closed by ']'"},
      {"host.test:/x",
       "If URL without scheme contains a colon after host it must contain a port after colon"},
      {"h:", "If URL without scheme contains a colon after host it must contain a port after colon"},
      {"http://:80/", "URL string can not contain port without a host name or address"},
      {":80", "URL string can not contain port without a host name or address"},
      {"http://u@/x", "URL string con not contain user information without a host name or address"},
      {"u@", "URL string con not contain user information without a host name or address"},
      {"http://u:p@", "URL string con not contain user information without a host name or address"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseError(c.input), c.message) << "input: '" << c.input << "'";
  }
}

TEST(UrlSyntaxErrors, SerialiseRefusesInconsistentModels) {
  const struct {
    std::string_view input;
    std::function<void(ParsedUrl&)> change;
    std::string_view message;
  } cases[] = {
      {"http://h.test:80/", [](ParsedUrl& u) { u.EraseHost(); },
       "URL string can not contain port without a host name or address"},
      {"h.test:80", [](ParsedUrl& u) { u.EraseHost(); },
       "URL string can not contain port without a host name or address"},
      {"http://u@h.test/", [](ParsedUrl& u) { u.EraseHost(); },
       "URL string can not contain user information without host information"},
      {"http://h.test", [](ParsedUrl& u) { u.EraseHost(); },
       "URL scheme must be followed by authority or path, witch are both absent"},
      {"mailto:", [](ParsedUrl&) {},
       "URL scheme must be followed by authority or path, witch are both absent"},
      {"http://u@h.test", [](ParsedUrl& u) { u.SetFlag(UrlFlag::EmptyLogin, true); },
       "URL login information is not consistent, empty login flag is set with non-empty login"},
      {"http://u:p@h.test", [](ParsedUrl& u) { u.SetFlag(UrlFlag::EmptyPassword, true); },
       "URL password information is not consistent, empty password flag is set with non-empty "
       "password"},
      {"http://h.test/?", [](ParsedUrl& u) { u.SetQuery("a=1"); },
       "URL query information is not consistent, empty query flag is set with non-empty query"},
      {"http://h.test/#", [](ParsedUrl& u) { u.SetFragment("top"); },
       "URL fragment information is not consistent, empty fragment flag is set with non-empty "
       "fragment"},
  };
  for (const auto& c : cases) {
    ParsedUrl url = ParsedUrl::Parse(c.input);
    c.change(url);
    EXPECT_EQ(SerialiseError(url), c.message) << "input: '" << c.input << "'";
  }
}

}  // namespace
}  // namespace orv::network
