#include "tools/net_stream/tcp_or_tls_stream.h"

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>

namespace net_stream {

void TcpOrTlsStream::ReadSome(const BufferList<boost::asio::mutable_buffer>& buffers, IoDone done) {
  std::visit([&](auto& stream) { stream.async_read_some(buffers, std::move(done)); }, m_stream);
}

void TcpOrTlsStream::WriteSome(const BufferList<boost::asio::const_buffer>& buffers, IoDone done) {
  std::visit([&](auto& stream) { stream.async_write_some(buffers, std::move(done)); }, m_stream);
}

bool IsStreamEnd(const boost::system::error_code& error) {
  return error == boost::asio::error::eof || error == boost::asio::ssl::error::stream_truncated;
}

}  // namespace net_stream
