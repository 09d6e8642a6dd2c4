// The listening socket of a loopback test server: 127.0.0.1 on `port` (0:
// one the system picks), ready to accept.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>

namespace zephlar::testing {

inline boost::asio::ip::tcp::acceptor open_loopback_acceptor(boost::asio::io_context& io, std::uint16_t port = 0) {
  namespace asio = boost::asio;
  asio::ip::tcp::acceptor acceptor(io);
  const asio::ip::tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
  acceptor.open(endpoint.protocol());
  acceptor.set_option(asio::socket_base::reuse_address(true));
  acceptor.bind(endpoint);
  acceptor.listen(asio::socket_base::max_listen_connections);
  return acceptor;
}

}  // namespace zephlar::testing
