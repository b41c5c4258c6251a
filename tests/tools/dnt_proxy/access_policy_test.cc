// The proxy's access policy on its own: which clients it serves, and where
// it takes them, by every spelling of an address (the process tests try
// the same through the proxy).
#include <gtest/gtest.h>

#include <stdexcept>

#include "tools/dnt_proxy/access_policy.h"

namespace {

using boost::asio::ip::make_address;
using boost::asio::ip::tcp;
using dnt_proxy::AccessPolicy;
using dnt_proxy::DestinationRequest;

TEST(AccessPolicy, ServesLoopbackAlwaysOtherClientsOnlyInsideTheirNetworks) {
  AccessPolicy policy;
  for (const char* client : {"127.0.0.1", "127.3.4.5", "::1", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(policy.AllowsClient(make_address(client))) << client;
  }
  EXPECT_FALSE(policy.AllowsClient(make_address("10.1.2.3")));
  for (const char* cidr : {"10.0.0.0/8", "192.168.1.64/27", "fd00:1:2::/48", "203.0.113.7"}) policy.AllowClient(cidr);
  for (const char* client : {"10.1.2.3", "::ffff:10.255.0.1", "192.168.1.95", "fd00:1:2:ffff::1", "203.0.113.7"}) {
    EXPECT_TRUE(policy.AllowsClient(make_address(client))) << client;
  }
  for (const char* client : {"11.0.0.1", "192.168.1.96", "192.168.1.63", "fd00:1:3::1", "203.0.113.8", "::a00:1"}) {
    EXPECT_FALSE(policy.AllowsClient(make_address(client))) << client;
  }
  for (const char* cidr : {"10.0.0.0/33", "::/129", "10.0.0.0/", "10.0.0.0/-1", "10.0.0.0/8x", "host.test/8", ""}) {
    EXPECT_THROW(policy.AllowClient(cidr), std::invalid_argument) << cidr;
    EXPECT_THROW(policy.DenyDestination(cidr), std::invalid_argument) << cidr;
  }
}

TEST(AccessPolicy, TakesRemoteClientsNeitherToTheProxyHostNorIntoPrivateNetworks) {
  AccessPolicy policy;
  policy.AllowClient("10.9.0.0/24");
  policy.AllowDestination("192.168.7.0/24");
  policy.DenyDestination("198.51.100.0/24");
  policy.AllowConnectPort(8443);
  policy.SetHostAddresses({make_address("10.9.0.1"), make_address("2001:db8::1")});
  const tcp::endpoint listening(make_address("0.0.0.0"), 3128);
  constexpr const char* Remote = "10.9.0.2";
  constexpr const char* Local = "127.0.0.1";
  const struct {
    const char* client;
    const char* destination;  // null: not known yet
    uint16_t port;
    bool tunnel;
    unsigned status;  // 0: allowed
    const char* local = nullptr;
    bool mapped = false;
  } cases[] = {
      // The proxy's host, by every spelling, and link-local: local clients only.
      {Remote, "127.0.0.1", 3129, false, 403},
      {Remote, "127.1.2.3", 80, false, 403},
      {Remote, "::ffff:127.0.0.1", 80, false, 403},
      {Remote, "64:ff9b::7f00:1", 80, false, 403},
      {Remote, "0.0.0.0", 80, false, 403},
      {Remote, "::", 80, false, 403},
      {Remote, "::1", 443, true, 403},
      {Remote, "10.9.0.1", 80, false, 403},
      {Remote, "2001:db8::1", 80, false, 403},
      {Remote, "169.254.169.254", 80, false, 403},
      {Remote, "fe80::1", 80, false, 403},
      {Remote, "93.184.216.34", 80, false, 403, "93.184.216.34"},  // came back to the host
      {Local, "127.0.0.1", 3129, false, 0},
      {Local, "169.254.169.254", 80, false, 0},
      {Local, "192.168.1.1", 80, false, 0},
      // Private networks: only those allowed.
      {Remote, "192.168.1.1", 80, false, 403},
      {Remote, "::ffff:10.0.0.1", 80, false, 403},
      {Remote, "fd00::1", 80, false, 403},
      {Remote, "100.64.0.1", 80, false, 403},
      {Remote, "192.168.7.9", 80, false, 0},
      {Remote, "93.184.216.34", 80, false, 0, "10.9.0.1"},
      {Remote, "2606:2800:220:1::1", 80, false, 0},
      // Denied networks: for everyone.
      {Local, "198.51.100.5", 80, false, 403},
      {Remote, "198.51.100.5", 80, false, 403},
      // The proxy itself, by any spelling: for everyone, mapped or not.
      {Local, "127.0.0.1", 3128, false, 508},
      {Local, "::ffff:127.0.0.1", 3128, false, 508},
      {Local, "0.0.0.0", 3128, false, 508},
      {Local, "10.9.0.1", 3128, false, 508},
      {Remote, "::", 3128, false, 508},
      {Local, "93.184.216.34", 3128, false, 508, "93.184.216.34"},
      {Local, "127.0.0.1", 3128, false, 508, nullptr, true},
      {Remote, "127.0.0.1", 8080, false, 0, nullptr, true},
      // CONNECT ports, judged before the address is known.
      {Local, nullptr, 22, true, 403},
      {Local, nullptr, 3128, true, 403},
      {Remote, nullptr, 443, true, 0},
      {Remote, nullptr, 8443, true, 0},
      {Local, "93.184.216.34", 80, false, 0},
      {Local, "93.184.216.34", 25, true, 403},
  };
  for (const auto& c : cases) {
    DestinationRequest request;
    request.client = make_address(c.client);
    request.tunnel = c.tunnel;
    request.port = c.port;
    if (c.destination) request.destination = tcp::endpoint(make_address(c.destination), c.port);
    request.mapped = c.mapped;
    if (c.local) request.local = make_address(c.local);
    const auto decision = policy.Decide(request, listening);
    EXPECT_EQ(decision.allowed ? 0u : decision.status, c.status)
        << c.client << " to " << (c.destination ? c.destination : "?") << ":" << c.port << ": " << decision.reason;
    EXPECT_EQ(decision.reason.empty(), decision.allowed);
  }
}

}  // namespace
