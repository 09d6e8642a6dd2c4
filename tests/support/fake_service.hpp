// A loopback HTTP/1.1 (and HTTPS) server that plays the trading service and
// the user's node for tests, benchmarks and examples.
//
// Every request is recorded. Each endpoint of the service and of the node
// answers with realistic JSON by default (see fake_service_routes.hpp for the
// data set); a test scripts other answers, delays and connection faults per
// method and path. Out-of-process users drive the same server through the
// control endpoints under "/_control/" (never recorded):
//
//   POST /_control/script    {"method":"GET","path":"/api/v1/market/pairs",
//                             "answers":[{"status":503,"body":"...","delay_ms":0,
//                                         "fault":"none","headers":{"X":"y"}}]}
//        -> {"scripted":N}. Every member of an answer may be left out (200, empty
//        body, no delay, no fault, no headers); a "body" that is not a string
//        is sent as its compact JSON text; "fault" is one of none,
//        reset_before_headers, close_before_headers, reset_mid_body, stall_body,
//        endless_body. A script that does
//        not read gets 400 {"detail":"..."} and changes nothing.
//   GET  /_control/requests  the recorded requests, in arrival order:
//        [{"method":"POST","target":"/x?a=1","path":"/x",
//          "headers":[["Host","127.0.0.1:PORT"],...],"body":"..."}]
//        (bytes of a body that are not UTF-8 come out as U+FFFD)
//   GET  /_control/ws_subscriptions   the first message of each quote stream
//        session, in arrival order: ["{\"data\":...}", ...] (bytes that are
//        not UTF-8 come out as U+FFFD)
//   POST /_control/reset     forgets scripts, records (subscriptions too) and
//        created orders
//   GET  /_control/stats     {"connections_accepted":N,"requests":M}
//   GET  /_control/root_certificate   the PEM of the TLS root
//
// GET /ws with a WebSocket upgrade is the live quote stream (see
// fake_service_ws.hpp), on the same port and over TLS too. Its upgrade
// request is recorded like any other; an answer scripted for GET /ws is sent
// instead of the handshake. Without an upgrade GET /ws answers 426.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zephlar::testing {

struct RecordedRequest {
  std::string method;                                        // "GET", "POST"
  std::string target;                                        // path with query, as sent
  std::vector<std::pair<std::string, std::string>> headers;  // as received, in order
  std::string body;                                          // bytes

  // The first header of that name, compared without regard to ASCII case.
  std::optional<std::string> header(std::string_view name) const;
  // The target without its query string.
  std::string path() const;
};

struct ScriptedAnswer {
  int status = 200;
  std::string body;
  // Extra headers. Content-Type: application/json is sent unless one of
  // these names Content-Type; Content-Length is computed unless one of these
  // names it; "Connection: close" here closes the connection after the answer.
  std::vector<std::pair<std::string, std::string>> headers;
  std::chrono::milliseconds delay{0};  // wait before the status line
  enum class Fault {
    none,
    // Resets (RST) the connection instead of answering.
    reset_before_headers,
    // Sends the headers with the full Content-Length and half the body,
    // then resets (RST) the connection.
    reset_mid_body,
    // Sends the headers and half the body, then nothing more until the
    // client gives up or the server stops.
    stall_body,
    // Closes the connection (FIN) instead of answering, after the delay.
    close_before_headers,
    // Sends the headers without a length, then the body (64 KiB of spaces
    // when empty) again and again until the client gives up or the server
    // stops.
    endless_body,
  } fault = Fault::none;
};

class FakeService {
 public:
  struct Options {
    bool tls = false;
    std::uint16_t port = 0;  // 0: the system picks a free port
  };

  // Listening on 127.0.0.1 when the constructor returns, served by its own
  // I/O threads. Throws std::system_error when the port cannot be bound.
  FakeService();
  explicit FakeService(Options options);
  // Stops and joins; connections still open (stalled ones and quote streams
  // included) are dropped, without a close message.
  ~FakeService();

  FakeService(const FakeService&) = delete;
  FakeService& operator=(const FakeService&) = delete;

  std::uint16_t port() const;
  std::string base_url() const;  // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT"

  // Answers for method + path (the target without its query string),
  // consumed in order; appended after any answers still queued for the same
  // method and path. Once used up (or when none was scripted) the default
  // route answers.
  void script(std::string method, std::string path, std::vector<ScriptedAnswer> answers);
  // An answer for method + path that stands in for the default route, every
  // time, once the scripted answers are used up (until reset()).
  void set_standing_answer(std::string method, std::string path, ScriptedAnswer answer);
  std::vector<RecordedRequest> requests() const;  // every request so far, in arrival order
  void clear_requests();
  // Forgets scripted answers, recorded requests and subscriptions, and the
  // orders and swaps the default routes have created.
  void reset();
  std::size_t connections_accepted() const;
  // The first message of every quote stream session so far (normally the
  // subscription), as received, in arrival order.
  std::vector<std::string> ws_subscriptions() const;

  // The root certificate (PEM) that signed the TLS server certificate (SAN
  // IP 127.0.0.1 and DNS localhost); made once per process.
  static const std::string& root_certificate_pem();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zephlar::testing
