// Who may use the proxy: loopback always, other clients only inside the
// --allow-client networks. The tests reach the proxy over loopback only, so
// the networks are tried here on the filter itself.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tools/dnt_proxy/client_filter.h"

namespace {

using boost::asio::ip::make_address;

TEST(ClientFilter, LoopbackAlwaysOthersOnlyInsideTheirNetworks) {
  dnt_proxy::ClientFilter filter;
  for (const char* client : {"127.0.0.1", "127.3.4.5", "::1", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(filter.Allows(make_address(client))) << client;
  }
  EXPECT_FALSE(filter.Allows(make_address("10.1.2.3")));
  filter.Allow("10.0.0.0/8");
  filter.Allow("192.168.1.64/27");
  filter.Allow("fd00:1:2::/48");
  filter.Allow("203.0.113.7");
  for (const char* client : {"10.1.2.3", "::ffff:10.255.0.1", "192.168.1.95", "fd00:1:2:ffff::1", "203.0.113.7"}) {
    EXPECT_TRUE(filter.Allows(make_address(client))) << client;
  }
  for (const char* client : {"11.0.0.1", "192.168.1.96", "192.168.1.63", "fd00:1:3::1", "203.0.113.8", "::a00:1"}) {
    EXPECT_FALSE(filter.Allows(make_address(client))) << client;
  }
  for (const char* cidr : {"10.0.0.0/33", "::/129", "10.0.0.0/", "10.0.0.0/-1", "10.0.0.0/8x", "host.test/8", ""}) {
    EXPECT_THROW(filter.Allow(cidr), std::invalid_argument) << cidr;
  }
}

}  // namespace
