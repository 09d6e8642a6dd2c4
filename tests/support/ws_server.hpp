// A loopback WebSocket server (plain or TLS) that plays the service's quote
// stream endpoint for tests and benchmarks.
//
// Each connection is served the same way: the opening handshake (after an
// optional delay), then the first message from the client (the subscription)
// is awaited and recorded, then the script runs: a list of actions sent in
// order. After the script the server keeps reading until the client goes,
// recording every further message and how the connection ended.
//
// Runs on one thread of its own; 127.0.0.1 on a port chosen by the system.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zephlar::testing {

struct WsAction {
  enum class Kind {
    text,       // a text message with `payload`
    binary,     // a binary message with `payload`
    ping,       // a ping frame
    close,      // a close message (normal closure); the script ends
    drop,       // the TCP connection shut down without a close message; the script ends
    pause,      // wait `delay`
    wait_gate,  // wait until open_gate() has been called (once for all connections)
    quotes,     // `count` quote messages as fast as the connection takes them:
                // {"data":{"seq":I,"sent_ns":T},"type":"quote"}, I from 0,
                // T the steady clock in nanoseconds when the message was queued
  };
  Kind kind = Kind::text;
  std::string payload;
  std::chrono::milliseconds delay{0};
  std::size_t count = 0;

  static WsAction text(std::string payload) { return {Kind::text, std::move(payload), {}, 0}; }
  static WsAction binary(std::string payload) { return {Kind::binary, std::move(payload), {}, 0}; }
  static WsAction ping() { return {Kind::ping, {}, {}, 0}; }
  static WsAction close() { return {Kind::close, {}, {}, 0}; }
  static WsAction drop() { return {Kind::drop, {}, {}, 0}; }
  static WsAction pause(std::chrono::milliseconds delay) { return {Kind::pause, {}, delay, 0}; }
  static WsAction wait_gate() { return {Kind::wait_gate, {}, {}, 0}; }
  static WsAction quotes(std::size_t count) { return {Kind::quotes, {}, {}, count}; }
};

struct WsServerOptions {
  bool tls = false;  // the certificate of tls_identity() (fake_service_tls.hpp)
  // Between the client's upgrade request and the server's answer.
  std::chrono::milliseconds handshake_delay{0};
};

enum class WsEnd {
  open,           // still going
  client_close,   // the client sent a close message
  client_gone,    // the connection ended without a close message from the client
  server_close,   // the script's close action completed
  server_drop,    // the script's drop action
};

struct WsConnection {
  std::string target;                                        // of the upgrade request
  std::vector<std::pair<std::string, std::string>> headers;  // of the upgrade request, in order
  std::vector<std::string> messages;                         // from the client; the first is the subscription
  std::size_t script_steps_done = 0;
  WsEnd end = WsEnd::open;
};

class WsServer {
 public:
  explicit WsServer(std::vector<WsAction> script, WsServerOptions options = {});
  ~WsServer();
  WsServer(const WsServer&) = delete;
  WsServer& operator=(const WsServer&) = delete;

  std::uint16_t port() const;
  // "http://127.0.0.1:PORT", or "https://localhost:PORT" with TLS: the
  // service base URL a client would be configured with.
  std::string base_url() const;

  // Snapshots of the connections so far, in order of acceptance.
  std::vector<WsConnection> connections() const;
  std::size_t connections_accepted() const;

  // Waits until `done` holds for the connections (true), or `timeout`
  // passes (false).
  bool wait_until(const std::function<bool(const std::vector<WsConnection>&)>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  // Lets every wait_gate action (now and later) go on.
  void open_gate();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zephlar::testing
