// The fake service's live quote stream: GET /ws upgraded to a WebSocket on
// the port of the HTTP routes (TLS when the server has it).
//
// A session reads the client's first message as its subscription, e.g.
//   {"data":{"pair_id":"BTC/USDT"},"type":"subscribe"}
// and records it, whatever it says. For a pair of the data set it then sends
//   {"type":"quote","data":{...}}
// at once and every 200 ms after, the data being a fresh answer of the quote
// route (POST /api/v1/market/quote) for 0.001 BTC over Lightning into the
// pair's quote asset over RGB Lightning. Anything else gets one
//   {"type":"error","data":{"detail":"..."}}
// and a close message (policy violation). Later messages of the client are
// read and dropped; the session ends when the client closes or goes, or
// with the server.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_service.hpp"
#include "tests/support/fake_service_routes.hpp"

namespace zephlar::testing {

using UpgradeRequest = boost::beast::http::request<boost::beast::http::empty_body>;

// What the sessions share with their server.
struct QuoteStreamShared {
  DefaultRoutes& routes;
  std::mutex& mutex;                        // guards `subscriptions`
  std::vector<std::string>& subscriptions;  // the first message of each session
};

// The opening handshake of a request to the quote stream, rebuilt from its
// record (`version` as in the request line: 11 for HTTP/1.1); nothing for a
// request that is not one.
std::optional<UpgradeRequest> quote_stream_upgrade(const RecordedRequest& request, unsigned version);

// Answers the handshake and serves the session over a connection whose
// upgrade request has been read; returns when the session is over.
boost::asio::awaitable<void> serve_quote_stream(boost::asio::ip::tcp::socket& stream, const UpgradeRequest& upgrade,
                                                QuoteStreamShared& shared);
boost::asio::awaitable<void> serve_quote_stream(boost::asio::ssl::stream<boost::asio::ip::tcp::socket>& stream,
                                                const UpgradeRequest& upgrade, QuoteStreamShared& shared);

}  // namespace zephlar::testing
