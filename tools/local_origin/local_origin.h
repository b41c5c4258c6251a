// A small HTTP/1.1 server on loopback that stands in for the web in the
// proxy's tests, demo and benchmark. It answers every request, records what
// it received, and has a few paths that behave as difficult servers do:
//   /stream/N   N bytes of chunked body, made as they are sent
//   /silent     never answers
//   /close      a body delimited by closing the connection
//   /websocket  switches protocols when asked to, then echoes every byte
// Every other path gets the page served there, or a short text; answers
// carry "Set-Cookie: seen=1" unless the page says otherwise. Request bodies
// are counted and dropped as they arrive, after "100 Continue" when the
// client waits for it. Given a certificate, it serves HTTPS instead.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace local_origin {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct ReceivedRequest {
  /// The connection it came on, numbered from 1 in accepting order.
  uint64_t connection = 0;
  std::string method;
  std::string target;
  Fields fields;
  uint64_t bodyBytes = 0;
};

struct Page {
  std::string contentType = "text/html; charset=utf-8";
  std::string body;
  /// Fields added to the answer, in place of the default cookie.
  Fields fields;
};

/// PEM files: the certificate (and its chain) a TLS origin shows, and its
/// key.
struct TlsIdentity {
  std::string certificateChain;
  std::string key;
};

class LocalOrigin {
 public:
  /// Listens on 127.0.0.1:`port` (0 picks a free port) with `threads`
  /// threads of its own, with `tls` over TLS; answers until destroyed.
  /// Throws boost::system::system_error.
  explicit LocalOrigin(uint16_t port = 0, unsigned threads = 1, const std::optional<TlsIdentity>& tls = std::nullopt);
  ~LocalOrigin();
  LocalOrigin(const LocalOrigin&) = delete;
  LocalOrigin& operator=(const LocalOrigin&) = delete;

  uint16_t Port() const;
  /// Serves `page` at `path` (the target's path, without its query).
  void Serve(const std::string& path, Page page);
  /// Keeps a record of every request (on by default).
  void SetRecording(bool recording);
  /// Also hands every request to `observer`, on the server's threads.
  void SetObserver(std::function<void(const ReceivedRequest&)> observer);
  /// The requests received so far, in the order they were complete.
  std::vector<ReceivedRequest> Received() const;
  /// Connections accepted so far.
  uint64_t Connections() const;

  /// The server's state and threads, which its connections reach.
  struct Server;

 private:
  std::shared_ptr<Server> m_server;
};

}  // namespace local_origin
