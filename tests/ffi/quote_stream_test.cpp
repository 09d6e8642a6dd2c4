// The quote stream end to end: QuoteStream and its socket task against the
// loopback WebSocket server (and once against the fake service's own
// stream), the channel between them, and the pure pieces (URL derivation,
// subscribe message, quote texts).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "core/http/test_roots.hpp"
#include "core/json/json.hpp"
#include "ffi/internal_fault.hpp"
#include "ffi/quote_channel.hpp"
#include "ffi/quote_socket.hpp"
#include "ffi/quote_stream.hpp"
#include "ffi/runtime.hpp"
#include "ffi/seconds.hpp"
#include "ffi/zeph_client.hpp"
#include "tests/support/fake_service.hpp"
#include "tests/support/fake_service_routes.hpp"
#include "tests/support/fake_service_tls.hpp"
#include "tests/support/ws_raw_peer.hpp"
#include "tests/support/ws_server.hpp"

namespace zephlar::ffi {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace std::string_view_literals;
using testing::RawPeerConnection;
using testing::RawPeerScript;
using testing::RawWsPeer;
using testing::WsAction;
using testing::WsConnection;
using testing::WsEnd;
using testing::WsServer;
using testing::WsServerOptions;
using Clock = std::chrono::steady_clock;

// A quote message whose quote text is {"n":I}.
std::string quote(int i) { return R"({"type":"quote","data":{"n":)" + std::to_string(i) + "}}"; }
std::string quote_text(int i) { return R"({"n":)" + std::to_string(i) + "}"; }

std::vector<WsAction> quotes(int from, int to) {
  std::vector<WsAction> out;
  for (int i = from; i < to; ++i) out.push_back(WsAction::text(quote(i)));
  return out;
}

template <class... Parts>
std::vector<WsAction> script(Parts&&... parts) {
  std::vector<WsAction> out;
  const auto add = [&](auto&& part) {
    if constexpr (std::is_same_v<std::decay_t<decltype(part)>, WsAction>) {
      out.push_back(part);
    } else {
      out.insert(out.end(), part.begin(), part.end());
    }
  };
  (add(parts), ...);
  return out;
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

bool subscribed(const std::vector<WsConnection>& c) { return !c.empty() && !c.front().messages.empty(); }
bool ended(const std::vector<WsConnection>& c) { return !c.empty() && c.front().end != WsEnd::open; }
bool script_done(const std::vector<WsConnection>& c, std::size_t steps) {
  return !c.empty() && c.front().script_steps_done >= steps;
}

// The time a call takes.
template <class F>
auto timed(F&& f) {
  const auto start = Clock::now();
  auto result = f();
  return std::pair(std::move(result), Clock::now() - start);
}

class QuoteStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { runtime_ = Runtime::create(2); }
  void TearDown() override { http::testing::clear_trusted_roots_for_tests(); }

  std::shared_ptr<QuoteStream> open(const WsServer& server, std::string_view ticker = "BTC/USDT") {
    return QuoteStream::create(runtime_, server.base_url(), ticker);
  }

  std::shared_ptr<Runtime> runtime_;
};

// ---------------------------------------------------------------------------
// Pure pieces

TEST(QuoteStreamUrl, DerivedFromTheBaseUrl) {
  const struct {
    const char* base;
    const char* stream;
  } cases[] = {
      {"https://api.example.com", "wss://api.example.com/ws"},
      {"http://127.0.0.1:8080", "ws://127.0.0.1:8080/ws"},
      {"https://api.example.com/v1", "wss://api.example.com/v1/ws"},
      {"wss://api.example.com", "wss://api.example.com/ws"},
      {"ws://api.example.com", "ws://api.example.com/ws"},
      {"https://api.example.com/", "wss://api.example.com//ws"},
      {"HTTPS://api.example.com", "HTTPS://api.example.com/ws"},
      {"Http://api.example.com", "Http://api.example.com/ws"},
      {"http://a/p?next=http://b/", "ws://a/p?next=ws://b//ws"},
      {"https://a/?x=https://b&y=http://c", "wss://a/?x=wss://b&y=ws://c/ws"},
      {"xhttps://a", "xwss://a/ws"},
      {"https://https://", "wss://wss:///ws"},
      {"", "/ws"},
  };
  for (const auto& c : cases) EXPECT_EQ(quote_stream_url(c.base), c.stream) << c.base;
}

TEST(QuoteStreamUrl, ParsedForConnecting) {
  const struct {
    std::string_view url;
    bool ok;
    bool tls;
    const char* host;
    const char* port;
    const char* host_header;
    const char* target;
  } cases[] = {
      {"ws://127.0.0.1:8080/ws", true, false, "127.0.0.1", "8080", "127.0.0.1:8080", "/ws"},
      {"wss://api.example.com/ws", true, true, "api.example.com", "443", "api.example.com", "/ws"},
      {"ws://api.example.com/ws", true, false, "api.example.com", "80", "api.example.com", "/ws"},
      {"WSS://api.example.com/ws", true, true, "api.example.com", "443", "api.example.com", "/ws"},
      {"ws://h/v1//ws", true, false, "h", "80", "h", "/v1//ws"},
      {"ws://h?x=1/ws", true, false, "h", "80", "h", "/?x=1/ws"},
      {"ws://h/p?x=1#frag", true, false, "h", "80", "h", "/p?x=1"},
      {"ws://[::1]:9000/ws", true, false, "::1", "9000", "[::1]:9000", "/ws"},
      {"ws://[::1]/ws", true, false, "::1", "80", "[::1]", "/ws"},
      {"ws://user:pw@h:81/ws", true, false, "h", "81", "h:81", "/ws"},
      {"ws://h:/ws", true, false, "h", "80", "h", "/ws"},
      {"HTTPS://api.example.com/ws", false, false, "", "", "", ""},
      {"http://api.example.com/ws", false, false, "", "", "", ""},
      {"/ws", false, false, "", "", "", ""},
      {"ws:///ws", false, false, "", "", "", ""},
      {"ws://h:99999/ws", false, false, "", "", "", ""},
      {"ws://h:8x/ws", false, false, "", "", "", ""},
      {"ws://[::1/ws", false, false, "", "", "", ""},
      // Nothing that a C string or a request line would cut short or split.
      {"ws://127.0.0.1\0.example.com:8080/ws"sv, false, false, "", "", "", ""},
      {"wss://localhost\0.example.com/ws"sv, false, false, "", "", "", ""},
      {"ws://h:80\0/ws"sv, false, false, "", "", "", ""},
      {"ws://h/ws\0/x"sv, false, false, "", "", "", ""},
      {"ws://h/ws#\0"sv, false, false, "", "", "", ""},
      {"ws://h/ws\r\nX-Injected: 1", false, false, "", "", "", ""},
      {"ws://h/a b", false, false, "", "", "", ""},
      {"ws://h\t/ws", false, false, "", "", "", ""},
      {"ws://h/\x7f", false, false, "", "", "", ""},
  };
  for (const auto& c : cases) {
    const auto parsed = parse_websocket_url(c.url);
    ASSERT_EQ(parsed.has_value(), c.ok) << c.url;
    if (!parsed) continue;
    EXPECT_EQ(parsed->tls, c.tls) << c.url;
    EXPECT_EQ(parsed->host, c.host) << c.url;
    EXPECT_EQ(parsed->port, c.port) << c.url;
    EXPECT_EQ(parsed->host_header, c.host_header) << c.url;
    EXPECT_EQ(parsed->target, c.target) << c.url;
  }
}

TEST(QuoteSocket, SubscribeMessage) {
  const struct {
    std::string ticker;
    std::string message;
  } cases[] = {
      {"BTC/USDT", R"({"data":{"pair_id":"BTC/USDT"},"type":"subscribe"})"},
      {"", R"({"data":{"pair_id":""},"type":"subscribe"})"},
      {R"(A"B\C)", R"({"data":{"pair_id":"A\"B\\C"},"type":"subscribe"})"},
      {"a\nb\x01", R"({"data":{"pair_id":"a\nb\u0001"},"type":"subscribe"})"},
      {std::string("BTC\0/USDT", 9), R"({"data":{"pair_id":"BTC\u0000/USDT"},"type":"subscribe"})"},
      {"\xE2\x82\xBF/\xC3\xA9", "{\"data\":{\"pair_id\":\"\xE2\x82\xBF/\xC3\xA9\"},\"type\":\"subscribe\"}"},
  };
  for (const auto& c : cases) EXPECT_EQ(subscribe_message(c.ticker), c.message) << c.ticker;
}

TEST(QuoteSocket, QuoteTextOfAMessage) {
  const struct {
    const char* message;
    std::optional<std::string> text;
  } cases[] = {
      {R"({"type":"quote","data":{"b":1,"a":2}})", R"({"a":2,"b":1})"},
      {R"({"data":{"b":1,"a":2},"type":"quote","extra":[1]})", R"({"a":2,"b":1})"},
      {R"({"type":"quote","data":null})", "null"},
      {R"({"type":"quote","data":"x"})", R"("x")"},
      {R"({"type":"quote","data":[3,1,2]})", "[3,1,2]"},
      {" \n{ \"type\" : \"quote\" , \"data\" : { \"z\" : 1 } }\t ", R"({"z":1})"},
      {R"({"type":"quote","data":{"z":{"y":1,"x":[{"b":1,"a":0}]},"a":1,"a":2}})",
       R"({"a":2,"z":{"x":[{"a":0,"b":1}],"y":1}})"},
      {R"({"type":"quote","data":{"s":"\u0041\/\u00e9\n"}})", "{\"s\":\"A/\xC3\xA9\\n\"}"},
      {R"({"type":"quote","data":[1.50,1e2,-5,18446744073709551615,-9223372036854775808,0.1]})",
       "[1.5,100.0,-5,18446744073709551615,-9223372036854775808,0.1]"},
      {R"({"type":"quote"})", std::nullopt},
      {R"({"type":"Quote","data":{}})", std::nullopt},
      {R"({"type":"quotes","data":{}})", std::nullopt},
      {R"({"type":1,"data":{}})", std::nullopt},
      {R"({"type":null,"data":{}})", std::nullopt},
      {R"({"data":{}})", std::nullopt},
      {R"([{"type":"quote","data":{}}])", std::nullopt},
      {R"("quote")", std::nullopt},
      {"not json", std::nullopt},
      {R"({"type":"quote","data":{}} x)", std::nullopt},
      {R"({"type":"quote","data":{})", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(quote_text_of(c.message), c.text) << c.message;
}

TEST(QuoteStreamDeadline, BeyondTheClockIsThirtyYears) {
  const auto now = Clock::now();
  EXPECT_EQ(quote_deadline(now, SecondsSpan{}), now);
  EXPECT_EQ(quote_deadline(now, SecondsSpan{1, 500}), now + 1s + 500ns);
  const auto thirty_years = std::chrono::seconds(946'080'000);
  EXPECT_EQ(quote_deadline(now, SecondsSpan{std::numeric_limits<std::uint64_t>::max(), 999'999'999}),
            now + thirty_years);
  EXPECT_EQ(quote_deadline(now, seconds_to_span(1e19)), now + thirty_years);
}

// ---------------------------------------------------------------------------
// The channel

// Sends `count` numbered texts from a coroutine on its own thread, counting
// the sends that completed.
struct Producer {
  explicit Producer(QuoteSender s, int count) : sender(std::move(s)) {
    boost::asio::co_spawn(
        io,
        [this, count]() -> boost::asio::awaitable<void> {
          for (int i = 0; i < count; ++i) {
            // (The awaited value goes through a variable: GCC 12 mishandles
            // a co_await inside a condition.)
            const bool queued = co_await sender.send(std::to_string(i));
            if (!queued) {
              refused = true;
              break;
            }
            ++sent;
          }
          sender.reset();
        },
        boost::asio::detached);
    thread = std::thread([this] { io.run(); });
  }
  ~Producer() {
    io.stop();
    thread.join();
  }

  boost::asio::io_context io;
  QuoteSender sender;
  std::atomic<int> sent{0};
  std::atomic<bool> refused{false};
  std::thread thread;
};

TEST(QuoteChannel, FullChannelHoldsTheSenderBackAndLosesNothing) {
  // (Named references, not a structured binding: the lambdas below capture
  // the receiver.)
  auto channel = make_quote_channel(quote_channel_capacity);
  QuoteReceiver& receiver = channel.second;
  Producer producer(std::move(channel.first), 100);
  ASSERT_TRUE(eventually([&] { return receiver.sender_waiting_for_room(); }));
  EXPECT_EQ(producer.sent.load(), 32);

  std::string text;
  ASSERT_EQ(receiver.receive_until(Clock::now(), text), QuoteReceiver::Status::received);
  EXPECT_EQ(text, "0");
  ASSERT_TRUE(eventually([&] { return producer.sent.load() == 33; }));
  ASSERT_TRUE(eventually([&] { return receiver.sender_waiting_for_room(); }));
  EXPECT_EQ(producer.sent.load(), 33);

  for (int i = 1; i < 100; ++i) {
    ASSERT_EQ(receiver.receive_until(Clock::now() + 5s, text), QuoteReceiver::Status::received);
    EXPECT_EQ(text, std::to_string(i));
  }
  // The sending end is gone once the producer is done: closed, at once.
  EXPECT_EQ(receiver.receive_until(Clock::now() + 5s, text), QuoteReceiver::Status::closed);
  EXPECT_FALSE(producer.refused.load());
}

TEST(QuoteChannel, DroppingTheReceiverFailsAWaitingSend) {
  auto [sender, receiver] = make_quote_channel(4);
  Producer producer(std::move(sender), 10);
  ASSERT_TRUE(eventually([&] { return producer.sent.load() == 4; }));
  receiver.reset();
  ASSERT_TRUE(eventually([&] { return producer.refused.load(); }));
  EXPECT_EQ(producer.sent.load(), 4);
}

TEST(QuoteChannel, ReceiveTimesOutOnlyWhenNothingIsQueued) {
  // (Named references, not a structured binding: the lambda below captures
  // the receiver.)
  auto channel = make_quote_channel(4);
  QuoteSender& sender = channel.first;
  QuoteReceiver& receiver = channel.second;
  std::string text;
  const auto [status, took] = timed([&] { return receiver.receive_until(Clock::now() + 50ms, text); });
  EXPECT_EQ(status, QuoteReceiver::Status::timed_out);
  EXPECT_GE(took, 50ms);

  Producer producer(std::move(sender), 2);
  ASSERT_TRUE(eventually([&] { return producer.sent.load() == 2; }));
  // A deadline already passed still takes what is queued.
  EXPECT_EQ(receiver.receive_until(Clock::now() - 1s, text), QuoteReceiver::Status::received);
  EXPECT_EQ(text, "0");
  EXPECT_EQ(receiver.receive_until(Clock::now() - 1s, text), QuoteReceiver::Status::received);
  EXPECT_EQ(text, "1");
  EXPECT_EQ(receiver.receive_until(Clock::now() - 1s, text), QuoteReceiver::Status::closed);
}

// ---------------------------------------------------------------------------
// The stream against the server

TEST_F(QuoteStreamTest, SubscribesWithTheExactMessageAndOnlyTheProtocolHeaders) {
  const std::string tickers[] = {"BTC/USDT", "", R"(X"Y)", "\xE2\x82\xBF/USDT", std::string("BTC\0/USDT", 9)};
  for (const std::string& ticker : tickers) {
    WsServer server({});
    auto stream = open(server, ticker);
    ASSERT_TRUE(server.wait_until(subscribed));
    const WsConnection c = server.connections().front();
    EXPECT_EQ(c.messages.front(), subscribe_message(ticker));
    EXPECT_EQ(c.target, "/ws");
    std::vector<std::string> names;
    for (const auto& [name, value] : c.headers) {
      names.push_back(name);
      if (name == "Host") {
        EXPECT_EQ(value, "127.0.0.1:" + std::to_string(server.port()));
      }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Host", "Upgrade", "Connection", "Sec-WebSocket-Key",
                                               "Sec-WebSocket-Version"}));
    EXPECT_TRUE(stream->is_connected());
  }
  EXPECT_EQ(subscribe_message("BTC/USDT"), R"({"data":{"pair_id":"BTC/USDT"},"type":"subscribe"})");
}

TEST_F(QuoteStreamTest, MoreQuotesThanTheChannelHoldsAllArriveInOrder) {
  constexpr int count = 200;
  WsServer server(quotes(0, count));
  auto stream = open(server);
  ASSERT_TRUE(server.wait_until(subscribed));
  // Nobody reads for a while: the task stops at 32 and the rest waits in the
  // connection.
  std::this_thread::sleep_for(200ms);
  for (int i = 0; i < count; ++i) {
    const auto text = stream->recv(5.0);
    ASSERT_TRUE(text.has_value()) << i;
    EXPECT_EQ(*text, quote_text(i));
  }
  EXPECT_EQ(stream->recv(0.05), std::nullopt);
  EXPECT_TRUE(stream->is_connected());
}

TEST_F(QuoteStreamTest, SkipsEverythingThatIsNotAQuoteMessage) {
  WsServer server(script(WsAction::text("not json"), WsAction::binary(quote(100)), WsAction::text("[1,2]"),
                         WsAction::text(R"("quote")"), WsAction::text(R"({"type":"Quote","data":1})"),
                         WsAction::text(R"({"type":"quotes","data":1})"), WsAction::text(R"({"type":"quote"})"),
                         WsAction::text(R"({"type":"subscribed","pair_id":"BTC/USDT"})"), WsAction::ping(),
                         WsAction::text(R"({"type":"quote","data":{"b":1,"a":2}})"), WsAction::text(quote(7))));
  auto stream = open(server);
  EXPECT_EQ(stream->recv(5.0), R"({"a":2,"b":1})");
  EXPECT_EQ(stream->recv(5.0), quote_text(7));
  EXPECT_EQ(stream->recv(0.1), std::nullopt);
  EXPECT_TRUE(stream->is_connected());
}

TEST_F(QuoteStreamTest, QueuedQuotesOutliveTheEndOfTheConnection) {
  http::testing::add_trusted_root_for_tests(testing::tls_identity().root_certificate_pem);
  const struct {
    const char* name;
    WsAction end;
    bool tls;
    WsEnd seen_by_server;
  } cases[] = {
      {"close message", WsAction::close(), false, WsEnd::server_close},
      {"connection dropped", WsAction::drop(), false, WsEnd::server_drop},
      {"close message over TLS", WsAction::close(), true, WsEnd::server_close},
      {"connection dropped over TLS", WsAction::drop(), true, WsEnd::server_drop},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WsServerOptions options;
    options.tls = c.tls;
    WsServer server(script(quotes(0, 3), c.end, quotes(3, 5)), options);
    auto stream = open(server);
    ASSERT_TRUE(eventually([&] { return !stream->is_connected(); }));
    EXPECT_EQ(server.connections().front().end, c.seen_by_server);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(stream->recv(5.0), quote_text(i));
    for (int i = 0; i < 3; ++i) {
      const auto [text, took] = timed([&] { return stream->recv(5.0); });
      EXPECT_EQ(text, std::nullopt);
      EXPECT_LT(took, 1s);
    }
  }
}

TEST_F(QuoteStreamTest, ZeroTimeOutTakesWhatIsQueuedAndWaitsForNothing) {
  WsServer server(quotes(0, 2));
  auto stream = open(server);
  ASSERT_TRUE(server.wait_until([](const auto& c) { return script_done(c, 2); }));
  // Once both are queued, a zero time-out takes the oldest.
  std::optional<std::string> first;
  ASSERT_TRUE(eventually([&] { return (first = stream->recv(0.0)).has_value(); }));
  EXPECT_EQ(first, quote_text(0));
  EXPECT_EQ(stream->recv(1.0), quote_text(1));
  for (const double zero : {0.0, -0.0}) {
    const auto [text, took] = timed([&] { return stream->recv(zero); });
    EXPECT_EQ(text, std::nullopt);
    EXPECT_LT(took, 100ms);
  }
  EXPECT_TRUE(stream->is_connected());
}

TEST_F(QuoteStreamTest, TimeOutsThatAreNoTimeSpanAreFaultsAndLeaveTheStreamAlone) {
  WsServer server(quotes(0, 1));
  auto stream = open(server);
  ASSERT_TRUE(server.wait_until([](const auto& c) { return script_done(c, 1); }));
  const struct {
    double seconds;
    std::string_view message;
  } cases[] = {
      {-1.0, negative_seconds_message},
      {-std::numeric_limits<double>::infinity(), negative_seconds_message},
      {-1e-300, negative_seconds_message},
      {std::numeric_limits<double>::quiet_NaN(), invalid_seconds_message},
      {std::numeric_limits<double>::infinity(), invalid_seconds_message},
      {1e20, invalid_seconds_message},
      {18446744073709551616.0, invalid_seconds_message},
  };
  for (const auto& c : cases) {
    try {
      static_cast<void>(stream->recv(c.seconds));
      ADD_FAILURE() << c.seconds << " was accepted";
    } catch (const InternalFault& fault) {
      EXPECT_EQ(fault.what(), c.message) << c.seconds;
    }
  }
  EXPECT_EQ(stream->recv(5.0), quote_text(0));
  EXPECT_TRUE(stream->is_connected());
}

TEST_F(QuoteStreamTest, ATimedOutRecvLeavesTheStreamUsable) {
  WsServer server(script(WsAction::wait_gate(), quotes(0, 1)));
  auto stream = open(server);
  const auto [nothing, took] = timed([&] { return stream->recv(0.1); });
  EXPECT_EQ(nothing, std::nullopt);
  EXPECT_GE(took, 100ms);
  server.open_gate();
  EXPECT_EQ(stream->recv(5.0), quote_text(0));
}

TEST_F(QuoteStreamTest, ASecondRecvWhileOneWaitsGetsNothingAtOnce) {
  WsServer server(script(WsAction::wait_gate(), quotes(0, 1)));
  auto stream = open(server);
  ASSERT_TRUE(server.wait_until(subscribed));
  auto waiting = std::async(std::launch::async, [&] { return stream->recv(10.0); });
  // Give the first recv time to take the receiving end.
  std::this_thread::sleep_for(100ms);
  const auto [second, took] = timed([&] { return stream->recv(5.0); });
  EXPECT_EQ(second, std::nullopt);
  EXPECT_LT(took, 1s);
  server.open_gate();
  EXPECT_EQ(waiting.get(), quote_text(0));
}

TEST_F(QuoteStreamTest, CloseDiscardsQueuedQuotesAndEndsTheTaskAtTheNextMessage) {
  WsServer server(script(quotes(0, 2), WsAction::wait_gate(), quotes(2, 3)));
  auto stream = open(server);
  ASSERT_TRUE(server.wait_until([](const auto& c) { return script_done(c, 2); }));
  std::this_thread::sleep_for(50ms);
  stream->close();
  EXPECT_FALSE(stream->is_connected());
  const auto [text, took] = timed([&] { return stream->recv(5.0); });
  EXPECT_EQ(text, std::nullopt);
  EXPECT_LT(took, 1s);
  stream->close();  // again: no effect

  // The service is silent: the connection stays open until its next message.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(server.connections().front().end, WsEnd::open);
  server.open_gate();
  ASSERT_TRUE(server.wait_until(ended));
  const WsConnection c = server.connections().front();
  EXPECT_EQ(c.end, WsEnd::client_gone);  // no close message of the client's own
  EXPECT_EQ(c.messages.size(), 1u);
  EXPECT_EQ(stream->recv(0.0), std::nullopt);
}

TEST_F(QuoteStreamTest, CloseWhileConnectingStillSubscribesThenEnds) {
  WsServerOptions options;
  options.handshake_delay = 200ms;
  WsServer server(quotes(0, 5), options);
  auto stream = open(server);
  EXPECT_TRUE(stream->is_connected());
  stream->close();
  EXPECT_FALSE(stream->is_connected());
  ASSERT_TRUE(server.wait_until(ended));
  const WsConnection c = server.connections().front();
  EXPECT_EQ(c.messages, std::vector<std::string>{subscribe_message("BTC/USDT")});
  EXPECT_EQ(c.end, WsEnd::client_gone);
  EXPECT_EQ(stream->recv(0.0), std::nullopt);
}

TEST_F(QuoteStreamTest, ConnectionFailuresOnlyClearTheFlag) {
  WsServer plain({});
  WsServer tls({}, WsServerOptions{true, {}});  // its root is not trusted here
  const std::string port = std::to_string(plain.port());
  const std::string bases[] = {
      "HTTPS://127.0.0.1:" + port,           // capitals: no conversion, no usable scheme
      "ftp://127.0.0.1:" + port,             // no WebSocket scheme
      "http://127.0.0.1:1",                  // nothing listening
      tls.base_url(),                        // certificate not trusted
      "https://127.0.0.1:" + port,           // TLS to a plain server
  };
  for (const std::string& base : bases) {
    SCOPED_TRACE(base);
    // (Whether the flag is still set on return depends on how fast the
    // attempt fails; CloseWhileConnecting shows it set before any network
    // activity.)
    auto stream = QuoteStream::create(runtime_, base, "BTC/USDT");
    ASSERT_TRUE(eventually([&] { return !stream->is_connected(); }));
    EXPECT_EQ(stream->recv(0.5), std::nullopt);
  }
  EXPECT_EQ(plain.connections().size(), 1u);  // the TLS attempt; nothing subscribed
  EXPECT_TRUE(plain.connections().front().messages.empty());
  EXPECT_TRUE(tls.connections().empty() || tls.connections().front().messages.empty());
}

// Were the host or the path cut at the NUL, each of these would reach a
// live server that streams.
TEST_F(QuoteStreamTest, AUrlHoldingANulFailsBeforeAnythingIsSent) {
  http::testing::add_trusted_root_for_tests(testing::tls_identity().root_certificate_pem);
  WsServer plain(quotes(0, 1));
  WsServer tls(quotes(0, 1), WsServerOptions{true, {}});
  const std::string plain_port = std::to_string(plain.port());
  const std::string tls_port = std::to_string(tls.port());
  const std::string bases[] = {
      "http://127.0.0.1\0.example.com:"s + plain_port,
      "https://localhost\0.example.com:"s + tls_port,
      "http://127.0.0.1:"s + plain_port + "/v1\0/x"s,
  };
  for (const std::string& base : bases) {
    SCOPED_TRACE(base);
    auto stream = QuoteStream::create(runtime_, base, "BTC/USDT");
    ASSERT_TRUE(eventually([&] { return !stream->is_connected(); }));
    EXPECT_EQ(stream->recv(0.0), std::nullopt);
  }
  // The task ends before it connects, so nothing can arrive later either.
  EXPECT_EQ(plain.connections_accepted(), 0u);
  EXPECT_EQ(tls.connections_accepted(), 0u);
}

bool client_ended(const std::vector<RawPeerConnection>& c) { return !c.empty() && c.front().client_ended; }

// A peer that ends the conversation or breaks the protocol's rules, then
// holds its TCP connection open for good: the stream ends anyway, without
// waiting for the peer, after the quotes that came before and not after.
TEST_F(QuoteStreamTest, APeerThatClosesOrBreaksTheProtocolButHoldsOnEndsTheStream) {
  http::testing::add_trusted_root_for_tests(testing::tls_identity().root_certificate_pem);
  using testing::raw_frame;
  const struct {
    const char* name;
    std::string bytes;
    std::uint16_t client_close_code;  // of the client's answering close message
    bool tls = false;
  } cases[] = {
      {"close message", testing::raw_close_frame(1000), 1000},
      {"close message over TLS", testing::raw_close_frame(1000), 1000, true},
      {"masked frame", raw_frame(testing::raw_opcode_text, quote(9), {.masked = true}), 1002},
      {"reserved bit", raw_frame(testing::raw_opcode_text, quote(9), {.rsv1 = true}), 1002},
      {"oversized control frame", raw_frame(testing::raw_opcode_ping, std::string(126, 'x')), 1002},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawWsPeer peer({.tls = c.tls,
                    .after_first_frame = testing::raw_text_frame(quote(0)) + testing::raw_text_frame(quote(1)) +
                                         c.bytes + testing::raw_text_frame(quote(2))});
    auto stream = QuoteStream::create(runtime_, peer.base_url(), "BTC/USDT");
    // The peer never lets go, so only the client's own end clears the flag.
    ASSERT_TRUE(eventually([&] { return !stream->is_connected(); }, 5s));
    EXPECT_EQ(stream->recv(5.0), quote_text(0));
    EXPECT_EQ(stream->recv(5.0), quote_text(1));
    const auto [after, took] = timed([&] { return stream->recv(5.0); });
    EXPECT_EQ(after, std::nullopt);
    EXPECT_LT(took, 1s);

    ASSERT_TRUE(peer.wait_until(client_ended));
    const RawPeerConnection seen = peer.connections().front();
    ASSERT_EQ(seen.frames.size(), 2u);
    EXPECT_EQ(seen.frames[0].payload, subscribe_message("BTC/USDT"));
    EXPECT_EQ(testing::raw_close_code(seen.frames[1]), c.client_close_code);
  }
}

// This client asks for no subprotocol and no extension, and cannot use
// anything but 101: any other answer fails the connection as soon as its
// header is in, whatever its body.
TEST_F(QuoteStreamTest, AnUpgradeAnswerThatIsNotWhatWasAskedForFailsTheConnection) {
  const struct {
    const char* name;
    RawPeerScript script;
  } cases[] = {
      {"subprotocol", {.extra_headers = "Sec-WebSocket-Protocol: chat\r\n"}},
      {"extension", {.extra_headers = "Sec-WebSocket-Extensions: permessage-deflate\r\n"}},
      {"200 without a length",
       {.answer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nthe body lasts until the connection ends"}},
      {"404 with a long body", {.answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 1000000\r\n\r\nmore to come"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawWsPeer peer(c.script);
    auto stream = QuoteStream::create(runtime_, peer.base_url(), "BTC/USDT");
    ASSERT_TRUE(eventually([&] { return !stream->is_connected(); }, 5s));
    EXPECT_EQ(stream->recv(0.0), std::nullopt);
    ASSERT_TRUE(peer.wait_until(client_ended));
    EXPECT_TRUE(peer.connections().front().frames.empty());  // nothing subscribed
  }
}

TEST_F(QuoteStreamTest, TrustedTlsServerStreams) {
  http::testing::add_trusted_root_for_tests(testing::tls_identity().root_certificate_pem);
  WsServer server(quotes(0, 3), WsServerOptions{true, {}});
  auto stream = open(server);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(stream->recv(5.0), quote_text(i));
  EXPECT_EQ(server.connections().front().messages.front(), subscribe_message("BTC/USDT"));
  EXPECT_TRUE(stream->is_connected());
}

TEST_F(QuoteStreamTest, OutlivesTheRuntimeReferenceOfItsCreator) {
  WsServer server(script(WsAction::wait_gate(), quotes(0, 3)));
  auto stream = open(server);
  runtime_.reset();  // the client's share, say; the stream keeps its own
  ASSERT_TRUE(server.wait_until(subscribed));
  server.open_gate();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(stream->recv(5.0), quote_text(i));
  EXPECT_TRUE(stream->is_connected());
}

TEST_F(QuoteStreamTest, AReleasedStreamEndsItsTaskAtTheNextQuote) {
  WsServer server(script(WsAction::wait_gate(), quotes(0, 1), WsAction::pause(5s)));
  auto stream = open(server);
  ASSERT_TRUE(server.wait_until(subscribed));
  stream.reset();  // the runtime lives on in the fixture
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(server.connections().front().end, WsEnd::open);
  server.open_gate();
  ASSERT_TRUE(server.wait_until(ended));
  EXPECT_EQ(server.connections().front().end, WsEnd::client_gone);
}

TEST_F(QuoteStreamTest, RecvOnARuntimeThreadIsAFault) {
  WsServer server({});
  auto stream = open(server);
  std::promise<std::string> outcome;
  boost::asio::post(runtime_->executor(), [&] {
    try {
      static_cast<void>(stream->recv(0.0));
      outcome.set_value("returned");
    } catch (const InternalFault& fault) {
      outcome.set_value(fault.what());
    }
  });
  EXPECT_EQ(outcome.get_future().get(), blocking_on_runtime_thread_message);
}

TEST(QuoteStreamFromClient, GoesOnAfterTheClientIsReleased) {
  WsServer server(script(WsAction::wait_gate(), quotes(0, 3)));
  ZephConfig config;
  config.base_url = server.base_url();
  auto created = ZephClient::create(config);
  ASSERT_TRUE(created.ok());
  std::shared_ptr<ZephClient> client = std::move(created).value();
  auto stream = client->create_quote_stream("ETH/BTC");
  EXPECT_TRUE(stream->is_connected());
  EXPECT_EQ(stream->runtime(), client->runtime());
  client.reset();
  ASSERT_TRUE(server.wait_until(subscribed));
  EXPECT_EQ(server.connections().front().messages.front(), R"({"data":{"pair_id":"ETH/BTC"},"type":"subscribe"})");
  EXPECT_EQ(server.connections().front().target, "/ws");
  server.open_gate();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(stream->recv(5.0), quote_text(i));
  EXPECT_TRUE(stream->is_connected());
}

TEST(QuoteStreamFromClient, ReadsTheFakeServicesQuotes) {
  testing::FakeService service;
  ZephConfig config;
  config.base_url = service.base_url();
  auto created = ZephClient::create(config);
  ASSERT_TRUE(created.ok());
  const std::shared_ptr<ZephClient> client = std::move(created).value();
  auto stream = client->create_quote_stream("BTC/USDT");
  const auto member = [](const json::JsonValue* v, const char* key) -> const json::JsonValue* {
    const auto* object = v == nullptr ? nullptr : v->get_if<json::JsonValue::Object>();
    if (object == nullptr) return nullptr;
    const auto found = object->find(key);
    return found == object->end() ? nullptr : &found->second;
  };
  std::vector<std::string> rfq_ids;
  for (int i = 0; i < 2; ++i) {
    const auto text = stream->recv(5.0);
    ASSERT_TRUE(text.has_value()) << i;
    // The message's data, as the service's quote route would answer.
    const auto quote = json::read_json<json::JsonValue>(*text, json::Source::response_body);
    ASSERT_TRUE(quote.ok()) << *text;
    const auto* asset_id = member(member(&quote.value(), "to_asset"), "asset_id");
    const auto* rfq_id = member(&quote.value(), "rfq_id");
    ASSERT_TRUE(asset_id != nullptr && asset_id->is<std::string>()) << *text;
    ASSERT_TRUE(rfq_id != nullptr && rfq_id->is<std::string>()) << *text;
    EXPECT_EQ(*asset_id->get_if<std::string>(), testing::fake_data::usdt_asset_id);
    rfq_ids.push_back(*rfq_id->get_if<std::string>());
  }
  EXPECT_NE(rfq_ids[0], rfq_ids[1]);
  EXPECT_TRUE(stream->is_connected());
  EXPECT_EQ(service.ws_subscriptions(), std::vector<std::string>{subscribe_message("BTC/USDT")});
  stream->close();
}

// The task on its own: a runtime torn down under it drops the connection
// without a close message and leaves the flag as it was.
TEST(QuoteSocketTask, TornDownWithItsRuntimeLeavesTheFlagSet) {
  WsServer server({});
  auto runtime = Runtime::create(1);
  auto connected = std::make_shared<std::atomic<bool>>(true);
  auto [sender, receiver] = make_quote_channel(quote_channel_capacity);
  spawn_quote_socket(*runtime, quote_stream_url(server.base_url()), "BTC/USDT", connected,
                     std::move(sender));
  ASSERT_TRUE(server.wait_until(subscribed));
  runtime.reset();
  ASSERT_TRUE(server.wait_until(ended));
  EXPECT_EQ(server.connections().front().end, WsEnd::client_gone);
  EXPECT_TRUE(connected->load());
  std::string text;
  EXPECT_EQ(receiver.receive_until(Clock::now(), text), QuoteReceiver::Status::closed);
}

TEST(QuoteSocketTask, TornDownWhileWaitingForRoom) {
  WsServer server(quotes(0, 100));
  auto runtime = Runtime::create(2);
  auto connected = std::make_shared<std::atomic<bool>>(true);
  auto channel = make_quote_channel(quote_channel_capacity);
  QuoteReceiver& receiver = channel.second;
  spawn_quote_socket(*runtime, quote_stream_url(server.base_url()), "BTC/USDT", connected,
                     std::move(channel.first));
  std::string text;
  ASSERT_EQ(receiver.receive_until(Clock::now() + 5s, text), QuoteReceiver::Status::received);
  // The channel full again, with the task parked on it.
  ASSERT_TRUE(eventually([&] { return receiver.sender_waiting_for_room(); }));
  runtime.reset();
  EXPECT_TRUE(connected->load());
  for (int i = 1; i <= 32; ++i) {
    ASSERT_EQ(receiver.receive_until(Clock::now(), text), QuoteReceiver::Status::received) << i;
    EXPECT_EQ(text, quote_text(i));
  }
  EXPECT_EQ(receiver.receive_until(Clock::now() + 5s, text), QuoteReceiver::Status::closed);
}

}  // namespace
}  // namespace zephlar::ffi
