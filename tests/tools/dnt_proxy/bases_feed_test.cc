// dnt-proxy keeping its bases fresh from a signed feed on a local static
// server: new versions taken under load, everything that does not verify
// refused with its reason while the previous bases serve on, the last good
// set served after a restart without the network; and dntbases making keys,
// publishing, and fetching over HTTPS.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <csignal>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "tests/tools/dnt_proxy/feed_server.h"
#include "tests/tools/dnt_proxy/proxy_process.h"
#include "tools/bases_feed/feed_client.h"

namespace {

namespace fs = std::filesystem;
namespace net = boost::asio;
namespace http = boost::beast::http;
using namespace proxy_test;
using tools_test::Quoted;
using Mode = FeedServer::Mode;
using std::chrono::seconds;

constexpr const char* GenerationScript = R"(
return "RequestProcessor", function()
  return function(request)
    request:SetField("X-Generation", "@GENERATION@")
    return false
  end
end
)";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class BasesFeedTest : public ProxyTest {
 protected:
  void SetUp() override {
    for (const fs::path& keys : {m_keys, m_otherKeys}) {
      const auto made = Dntbases("keygen " + Quoted(keys.string()));
      ASSERT_EQ(made.exitCode, 0) << made.err;
    }
    for (const std::string generation : {"A", "B"}) {
      const fs::path source = m_scratch.path() / ("source_" + generation);
      fs::create_directories(source);
      std::string request = GenerationScript;
      std::ofstream(source / "request.lua") << request.replace(request.find("@GENERATION@"), 12, generation);
      std::ofstream(source / "verdict.lua") << NotDetectedVerdictScript;
      std::ofstream(source / "source.json")
          << R"({"services": [], "bugs": [], "rules": [], "exceptions": [], "scripts": ["request.lua", "verdict.lua"]})";
      const auto built = Dntbases("build " + Quoted((source / "source.json").string()) + " " + Quoted(Bases(generation).string()));
      ASSERT_EQ(built.exitCode, 0) << built.err;
    }
  }

  tools_test::ProgramRun Dntbases(const std::string& arguments) const { return Run(Quoted(DNTBASES_PATH) + " " + arguments); }

  fs::path Bases(const std::string& generation) const { return m_scratch.path() / ("bases_" + generation); }

  void Publish(const std::string& generation, const fs::path& keys, const std::string& more = "") const {
    const auto published = Dntbases("publish " + Quoted(Bases(generation).string()) + " " + Quoted(m_feed.string()) +
                                    " --key " + Quoted((keys / "bases.key").string()) + more);
    ASSERT_EQ(published.exitCode, 0) << published.err;
  }

  // The feed's folder becomes a copy of `published`.
  void Serve(const fs::path& published) const {
    fs::remove_all(m_feed);
    fs::copy(published, m_feed, fs::copy_options::recursive);
  }

  bases_feed::Manifest Published() const { return bases_feed::ParseManifest(ReadFile(m_feed / "manifest.json")); }

  // Where the feed holds the file `name` of its manifest.
  fs::path Published(const std::string& name) const {
    for (const auto& file : Published().files) {
      if (file.name == name) return m_feed / bases_feed::FilePath(file);
    }
    return {};
  }

  // Publishes the feed's manifest changed by `change`, signed by the right key.
  void Resign(const std::function<void(bases_feed::Manifest&)>& change) const {
    bases_feed::Manifest manifest = Published();
    change(manifest);
    const std::string text = bases_feed::ManifestText(manifest);
    const auto key = bases_feed::ReadPrivateKey(m_keys / "bases.key");
    std::ofstream(m_feed / bases_feed::SignaturePath(text), std::ios::binary) << bases_feed::Sign(key.get(), text);
    std::ofstream(m_feed / "manifest.json", std::ios::binary) << text;
  }

  ProxyProcess StartFed(const FeedServer& server, const std::vector<std::string>& more) const {
    auto arguments = MapHosts({"*.test"}, m_origin.Port());
    arguments.insert(arguments.end(), {"--bases", Bases("A").string(), "--update-url", server.Url(), "--update-key",
                                       (m_keys / "bases.pub").string(), "--update-state", m_state.string(),
                                       "--update-timeout", "2s"});
    arguments.insert(arguments.end(), more.begin(), more.end());
    return Start(arguments);
  }

  // The generation a new session sees.
  std::string FreshGeneration(const ProxyProcess& proxy, const std::string& name) const {
    const std::string answer =
        RawExchange(proxy.Port(), "GET http://fresh.test/" + name + " HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 200u) << answer;
    const auto received = ReceivedAt(m_origin, "/" + name);
    return received.empty() ? "(not received)" : FieldOf(received[0], "X-Generation");
  }

  const fs::path m_keys = m_scratch.path() / "keys";
  const fs::path m_otherKeys = m_scratch.path() / "other_keys";
  const fs::path m_feed = m_scratch.path() / "feed";
  const fs::path m_state = m_scratch.path() / "state";
};

TEST_F(BasesFeedTest, RefusesWhatDoesNotVerifyAndServesTheLastGoodSetAfterARestart) {
  const fs::path first = m_scratch.path() / "first", good = m_scratch.path() / "good";
  Publish("A", m_keys);
  fs::copy(m_feed, first, fs::copy_options::recursive);
  Publish("B", m_keys);
  fs::copy(m_feed, good, fs::copy_options::recursive);
  FeedServer server(m_feed);
  {
    ProxyProcess proxy = StartFed(server, {"--update-every", "1h"});
    ASSERT_TRUE(proxy.AwaitLog(" version 2 from ", 1, seconds(20)));
    EXPECT_EQ(FreshGeneration(proxy, "started"), "B");
    proxy.Signal(SIGHUP);
    ASSERT_TRUE(proxy.AwaitLog(" is unchanged", 1, seconds(20)));
    EXPECT_EQ(server.Answered(304), 1u) << "the manifest is asked for conditionally";

    const auto newer = [&] { Publish("A", m_keys); };
    const auto now = std::time(nullptr);
    struct Case {
      const char* what;
      const char* reason;
      std::function<void()> spoil;
      Mode mode = Mode::Serve;
    };
    // The files that differ between the generations are the scripts: the
    // bug database comes from the served set, never fetched again.
    const Case cases[] = {
        {"wrong key", "signature", [&] { Publish("A", m_otherKeys); }},
        {"changed file", "hash",
         [&] {
           newer();
           std::fstream file(Published("dnt0001.dat"), std::ios::in | std::ios::out | std::ios::binary);
           file.seekp(10);
           file.put('\x7f');
         }},
        {"truncated file", "size",
         [&] {
           newer();
           fs::resize_file(Published("dnt0001.dat"), fs::file_size(Published("dnt0001.dat")) - 1);
         }},
        {"file longer than its manifest says", "size",
         [&] {
           newer();
           std::ofstream(Published("dnt0001.dat"), std::ios::app | std::ios::binary) << "more";
         }},
        {"file over the limit", "too_large",
         [&] { Resign([](bases_feed::Manifest& m) { ++m.version, m.files[0].size = bases_feed::MaxFileBytes + 1; }); }},
        {"replayed older manifest", "old_version", [&] { Serve(first); }},
        {"expired manifest", "expired",
         [&] { Resign([&](bases_feed::Manifest& m) { ++m.version, m.created = now - 7200, m.expires = now - 60; }); }},
        {"file name with a path", "manifest",
         [&] { Resign([](bases_feed::Manifest& m) { ++m.version, m.files[0].name = "../dntbugs.dat"; }); }},
        {"stalling server", "timeout", nullptr, Mode::Stall},
        {"server down", "unreachable", nullptr, Mode::Down},
        {"server answering 404", "http_status", nullptr, Mode::NotFound},
        {"server answering 500", "http_status", nullptr, Mode::Fail},
    };
    std::map<std::string, unsigned> refused;
    for (const Case& c : cases) {
      Serve(good);
      if (c.spoil) c.spoil();
      server.SetMode(c.mode);
      const unsigned count = ++refused[c.reason];
      proxy.Signal(SIGHUP);
      EXPECT_TRUE(proxy.AwaitLog(std::string(" bases-refused ") + c.reason + ": ", count, seconds(20))) << c.what;
      EXPECT_EQ(FreshGeneration(proxy, std::to_string(std::hash<std::string>()(c.what))), "B") << c.what;
      server.SetMode(Mode::Serve);
    }
    const std::string metrics = proxy.Admin("/metrics");
    for (const auto& [reason, count] : refused) {
      EXPECT_NE(metrics.find("dnt_bases_update_failures_total{reason=\"" + reason + "\"} " + std::to_string(count)),
                std::string::npos)
          << reason << "\n" << metrics;
    }
    EXPECT_NE(metrics.find("\ndnt_bases_version 2\n"), std::string::npos);
    const auto feed = proxy.Stats()["bases"]["feed"];
    EXPECT_EQ(feed["lastResult"], "refused");
    EXPECT_EQ(feed["lastFailure"]["reason"], "http_status");
    EXPECT_EQ(proxy.Stop(), 0);
  }
  server.SetMode(Mode::Down);
  ProxyProcess restarted = StartFed(server, {});
  EXPECT_TRUE(restarted.AwaitLog(" serving version 2 kept in "));
  EXPECT_EQ(FreshGeneration(restarted, "restarted"), "B");
  EXPECT_TRUE(restarted.AwaitLog(" bases-refused unreachable: ", 1, seconds(20)));
  EXPECT_EQ(restarted.Stop(), 0);
}

TEST_F(BasesFeedTest, TakesTwentyVersionsUnderLoadWithoutAFailedRequest) {
  Publish("A", m_keys);
  std::map<std::string, bases_feed::Manifest> signedSets = {{"A", Published()}};
  FeedServer server(m_feed);
  ProxyProcess proxy = StartFed(server, {"--update-every", "1s"});
  ASSERT_TRUE(proxy.AwaitLog(" version 1 from ", 1, seconds(20)));
  constexpr int Clients = 8, RequestsPerSession = 5;
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0}, sessions{0};
  std::vector<std::thread> clients;
  for (int client = 0; client < Clients; ++client) {
    clients.emplace_back([&, client] {
      for (int session = 0; session < 5000 && !stop; ++session, ++sessions) {
        try {
          net::io_context io;
          net::ip::tcp::socket socket(io);
          socket.connect({net::ip::address_v4::loopback(), proxy.Port()});
          boost::beast::flat_buffer buffer;
          for (int r = 0; r < RequestsPerSession; ++r) {
            http::request<http::empty_body> request(http::verb::get, "http://c" + std::to_string(client) + ".test/load", 11);
            http::write(socket, request);
            http::response<http::string_body> response;
            http::read(socket, buffer, response);
            failures += response.result_int() != 200;
          }
        } catch (const std::exception&) {
          ++failures;
        }
      }
    });
  }
  m_origin.SetRecording(false);
  long memory = 0;
  for (int version = 2; version <= 21; ++version) {
    const std::string generation = version % 2 ? "A" : "B";
    // Once both sets are published, each version is one of them signed anew
    // here: the publisher's run took most of a second under the load.
    if (const auto set = signedSets.find(generation); set != signedSets.end()) {
      Resign([&](bases_feed::Manifest& manifest) { manifest = set->second, manifest.version = version; });
    } else {
      Publish(generation, m_keys);
      signedSets[generation] = Published();
    }
    // The first versions come with the poll, a second give or take a tenth;
    // the rest are asked for at once, so that the load runs seconds, not
    // twenty, in every build that runs this test.
    if (version > 4) proxy.Signal(SIGHUP);
    ASSERT_TRUE(proxy.AwaitLog(" version " + std::to_string(version) + " from ", 1, seconds(10))) << version;
    m_origin.SetRecording(true);
    EXPECT_EQ(FreshGeneration(proxy, "fresh" + std::to_string(version)), generation) << version;
    m_origin.SetRecording(false);
    if (version == 6) memory = proxy.MemoryKiB("VmRSS");
  }
  stop = true;
  for (auto& client : clients) client.join();
  EXPECT_EQ(failures, 0);
  EXPECT_GT(sessions, Clients * 2);
  const long grown = proxy.MemoryKiB("VmRSS") - memory;
  EXPECT_LT(grown, 8 * 1024) << "the proxy's memory grew by " << grown << " KiB over 15 versions";
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(BasesFeedTest, PublishesAndFetchesOverHttpsWithTheKeysItMade) {
  EXPECT_EQ(fs::status(m_keys / "bases.key").permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
  EXPECT_NE(Dntbases("keygen " + Quoted(m_keys.string())).exitCode, 0) << "a key is never overwritten";
  Publish("A", m_keys);
  EXPECT_NE(Dntbases("publish " + Quoted(Bases("B").string()) + " " + Quoted(m_feed.string()) + " --key " +
                     Quoted((m_keys / "bases.key").string()) + " --version 1")
                .exitCode,
            0)
      << "versions only grow";
  Publish("B", m_keys, " --version 5 --expires 2d");
  EXPECT_EQ(Published().version, 5u);
  EXPECT_EQ(Published().expires - Published().created, 2 * 86400);

  const WebCertificates web = MakeWebCertificates(m_scratch.path() / "web", {"localhost"}, "localhost");
  local_origin::LocalOrigin origin(0, 1, web.origin);
  for (const auto& entry : fs::recursive_directory_iterator(m_feed)) {
    if (!entry.is_regular_file()) continue;
    origin.Serve("/feed/" + fs::relative(entry.path(), m_feed).string(), {"application/octet-stream", ReadFile(entry.path()), {}});
  }
  const std::string url = "https://localhost:" + std::to_string(origin.Port()) + "/feed/";
  const fs::path fetched = m_scratch.path() / "fetched";
  const std::string fetch = "fetch " + url + " --key " + Quoted((m_keys / "bases.pub").string()) + " ";
  const auto first = Dntbases(fetch + "--ca " + Quoted(web.authority.string()) + " " + Quoted(fetched.string()));
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(nlohmann::json::parse(first.out)["status"], "updated");
  EXPECT_EQ(nlohmann::json::parse(first.out)["version"], 5);
  EXPECT_EQ(Dntbases("check " + Quoted(fetched.string())).exitCode, 0);
  const auto second = Dntbases(fetch + "--ca " + Quoted(web.authority.string()) + " " + Quoted(fetched.string()));
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(nlohmann::json::parse(second.out)["status"], "unchanged");

  const auto untrusted = Dntbases(fetch + Quoted((m_scratch.path() / "untrusted").string()));
  EXPECT_NE(untrusted.exitCode, 0);
  EXPECT_NE(untrusted.err.find("refused (tls)"), std::string::npos) << untrusted.err;
  EXPECT_FALSE(fs::exists(m_scratch.path() / "untrusted" / "dntbugs.dat"));
}

}  // namespace
