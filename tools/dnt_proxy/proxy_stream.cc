#include "tools/dnt_proxy/proxy_stream.h"

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>

namespace dnt_proxy {

bool IsStreamEnd(const boost::system::error_code& error) {
  return error == boost::asio::error::eof || error == boost::asio::ssl::error::stream_truncated;
}

}  // namespace dnt_proxy
