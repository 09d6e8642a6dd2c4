// The background task of a quote stream: one WebSocket connection to the
// service's stream endpoint, one subscription to a trading pair, and every
// quote message's "data" forwarded into the stream's channel as compact JSON
// text.
//
// The task reports nothing. Its only traces are the texts it queues and the
// `connected` flag, which it clears whenever it ends (a failed connect or
// subscribe, the flag found cleared before a read, a close message, a read
// error, the end of the connection, or a send into a channel whose receiving
// end is gone). A runtime torn down under the task destroys it where it
// stands: the connection is closed without a close message and the flag is
// left as it was.
//
// No end waits on the peer for long: after a close message or a protocol
// error the closing handshake is bounded, and an upgrade answer this client
// cannot use fails as soon as its header is in (ffi/ws_client_guard.hpp).
#pragma once

#include <atomic>
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ffi/quote_channel.hpp"

namespace zephlar::ffi {

// The stream URL of a service base URL: every "https://" becomes "wss://",
// then every "http://" becomes "ws://" (exact, case-sensitive, anywhere in
// the text), and "/ws" is appended (a trailing "/" is kept, giving "//ws").
std::string quote_stream_url(std::string_view base_url);

// The one message the task sends, e.g. for BTC/USDT exactly
// {"data":{"pair_id":"BTC/USDT"},"type":"subscribe"}
std::string subscribe_message(std::string_view pair_ticker);

// The quote text for one received text message: the compact JSON of the
// "data" member (keys sorted at every depth) when the message is a JSON
// object whose "type" is the string "quote" and which has a "data" member;
// nothing for every other text.
std::optional<std::string> quote_text_of(std::string_view message);

// The parts of a ws:// or wss:// URL a connection needs.
struct WebSocketUrl {
  bool tls = false;
  std::string host;         // for resolving and the certificate check; no brackets
  std::string port;         // as written, or "80" / "443"
  std::string host_header;  // host, with ":port" when the URL names one
  std::string target;       // path (at least "/") and query; the fragment dropped
};

// Nothing for any scheme but ws and wss (compared without regard to case),
// an empty host, a port that is not a number from 0 to 65535, or a URL that
// holds a NUL, another control character or a space anywhere.
std::optional<WebSocketUrl> parse_websocket_url(std::string_view url);

// The task itself. Runs until one of its ends; must run on a strand (see
// quote_channel.hpp).
boost::asio::awaitable<void> run_quote_socket(std::string url, std::string pair_ticker,
                                              std::shared_ptr<std::atomic<bool>> connected, QuoteSender sender);

class Runtime;

// Starts run_quote_socket, detached, on the stream thread of `runtime`, which asks it
// to end when it shuts down. Throws std::bad_alloc.
void spawn_quote_socket(Runtime& runtime, std::string url, std::string pair_ticker,
                        std::shared_ptr<std::atomic<bool>> connected, QuoteSender sender);

}  // namespace zephlar::ffi
