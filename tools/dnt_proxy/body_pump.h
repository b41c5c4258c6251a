// A message body relayed piece by piece from the parser that reads it to the
// serializer that writes it, through one buffer of fixed size: however long
// the body, it never sits in memory whole. Without a serializer the body is
// read and dropped.
#pragma once

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/write.hpp>
#include <chrono>
#include <functional>
#include <memory>

#include "tools/net_stream/tcp_or_tls_stream.h"

namespace dnt_proxy {

/// Where a relay stopped: reading the body or writing it on.
enum class PumpSide { Read, Write };

template <bool isRequest>
class BodyPump {
 public:
  using Parser = boost::beast::http::parser<isRequest, boost::beast::http::buffer_body>;
  using Serializer = boost::beast::http::serializer<isRequest, boost::beast::http::buffer_body>;
  using Done = std::function<void(boost::beast::error_code, PumpSide)>;
  static constexpr std::size_t ChunkSize = 16 * 1024;

  /// `writer` and `to` may be null to drop the body.
  BodyPump(Parser& parser, net_stream::TcpOrTlsStream& from, boost::beast::flat_buffer& buffer, Serializer* writer, net_stream::TcpOrTlsStream* to,
           std::chrono::seconds idle)
      : m_parser(parser), m_from(from), m_buffer(buffer), m_writer(writer), m_to(to), m_idle(idle),
        m_chunk(new char[ChunkSize]) {}

  /// Relays until the body is through, then calls `done`. `owner`, which
  /// owns the streams and this pump, is kept alive by every operation
  /// pending; never by the pump itself, which it owns.
  void Run(std::shared_ptr<void> owner, Done done) {
    m_done = std::move(done);
    // Reads as large as a piece: the buffer's capacity sets their size.
    m_buffer.reserve(ChunkSize);
    Step(std::move(owner));
  }

 private:
  using Owner = std::shared_ptr<void>;

  void Step(Owner owner) {
    auto& body = m_parser.get().body();
    if (m_parser.is_done()) {
      if (!m_writer) return Finish({}, PumpSide::Read);
      body.data = nullptr;
      body.size = 0;
      body.more = false;
      return Write(std::move(owner));
    }
    body.data = m_chunk.get();
    body.size = ChunkSize;
    m_from.expires_after(m_idle);
    boost::beast::http::async_read_some(m_from, m_buffer, m_parser,
                                        [this, owner](boost::beast::error_code error, std::size_t) mutable {
                                          OnRead(error, std::move(owner));
                                        });
  }

  void OnRead(boost::beast::error_code error, Owner owner) {
    if (error == boost::beast::http::error::need_buffer) error = {};
    if (error) return Finish(error, PumpSide::Read);
    auto& body = m_parser.get().body();
    body.size = ChunkSize - body.size;
    body.more = !m_parser.is_done();
    // An empty piece must not reach a chunked serializer, which would write
    // it as the last chunk.
    body.data = body.size != 0 ? m_chunk.get() : nullptr;
    if (!m_writer || (!body.data && body.more)) return Step(std::move(owner));
    Write(std::move(owner));
  }

  void Write(Owner owner) {
    m_to->expires_after(m_idle);
    boost::beast::http::async_write(*m_to, *m_writer,
                                    [this, owner](boost::beast::error_code error, std::size_t) mutable {
                                      if (error == boost::beast::http::error::need_buffer) error = {};
                                      if (error) return Finish(error, PumpSide::Write);
                                      if (m_writer->is_done()) return Finish({}, PumpSide::Write);
                                      Step(std::move(owner));
                                    });
  }

  // The caller's owner stays alive through `done`, which may destroy this
  // pump.
  void Finish(boost::beast::error_code error, PumpSide side) {
    Done done = std::move(m_done);
    done(error, side);
  }

  Parser& m_parser;
  net_stream::TcpOrTlsStream& m_from;
  boost::beast::flat_buffer& m_buffer;
  Serializer* m_writer;
  net_stream::TcpOrTlsStream* m_to;
  std::chrono::seconds m_idle;
  std::unique_ptr<char[]> m_chunk;
  Done m_done;
};

}  // namespace dnt_proxy
