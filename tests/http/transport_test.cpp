// What one try sends and how its failures are told apart: headers on the
// wire, large bodies read into reused memory, broken and stalled answers,
// error bodies, redirects, connection reuse, proxies from the environment
// and cancellation.
#include <gtest/gtest.h>

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "tests/http/http_test_support.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::testing {
namespace {

using Fault = ScriptedAnswer::Fault;

ScriptedAnswer answer(int status, std::string body = "{}",
                      std::vector<std::pair<std::string, std::string>> headers = {}) {
  ScriptedAnswer a;
  a.status = status;
  a.body = std::move(body);
  a.headers = std::move(headers);
  return a;
}

ScriptedAnswer fault(Fault f, int status = 200, std::string body = "{\"half\":\"of this body goes\"}") {
  ScriptedAnswer a = answer(status, std::move(body));
  a.fault = f;
  return a;
}

std::vector<std::string> header_names(const RecordedRequest& r) {
  std::vector<std::string> names;
  for (const auto& [name, value] : r.headers) {
    std::string lower;
    for (const char c : name) lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
    names.push_back(lower);
  }
  return names;
}

// Completes once `done` holds, looking every few milliseconds: a deadline
// that falls at a known point of the operation it races.
template <class Predicate>
asio::awaitable<void> when(Predicate done) {
  asio::steady_timer timer(co_await asio::this_coro::executor);
  while (!done()) {
    timer.expires_after(2ms);
    co_await timer.async_wait(asio::use_awaitable);
  }
}

class TransportTest : public HttpTest {
 protected:
  FakeService service_;
};

TEST_F(TransportTest, SendsNoHeaderOfItsOwn) {
  const auto client = make_client(service_.base_url());
  ASSERT_TRUE(run(client->get<JsonValue>("/api/v1/market/pairs")).ok());
  JsonValue::Object body;
  body["order_id"] = JsonValue("x");
  // Big enough that an HTTP client would normally ask for "100-continue".
  body["padding"] = JsonValue(std::string(4096, 'p'));
  ASSERT_TRUE(run(client->post<JsonValue>("/api/v1/swaps/orders/status", JsonValue(body))).ok());

  const auto requests = service_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/api/v1/market/pairs");
  EXPECT_EQ(header_names(requests[0]), std::vector<std::string>{"host"});
  EXPECT_EQ(requests[0].body, "");
  EXPECT_EQ(requests[0].header("Host"), "127.0.0.1:" + std::to_string(service_.port()));

  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(header_names(requests[1]), (std::vector<std::string>{"host", "content-type", "content-length"}));
  EXPECT_EQ(requests[1].header("Content-Type"), "application/json");
  EXPECT_EQ(requests[1].body, json::to_json(JsonValue(body)));
}

TEST_F(TransportTest, ClassifiesBrokenAndStalledAnswers) {
  struct Case {
    std::string name;
    ScriptedAnswer first;
    std::string expected_text;
    std::size_t requests;
    std::vector<long long> sleeps;
  };
  // The time-out is 1 s and one retry is allowed.
  const std::vector<Case> cases = {
      // The headers never come: a failed send, tried again.
      {"reset before headers", fault(Fault::reset_before_headers), "Network error: HTTP request failed", 2, {112}},
      {"headers too late",
       [] {
         ScriptedAnswer a = answer(200);
         a.delay = 3s;
         return a;
       }(),
       "Request timed out after 1s",
       2,
       {112}},
      // 2xx headers arrived: the body read fails once and is not retried.
      {"2xx reset mid-body", fault(Fault::reset_mid_body), "Network error: HTTP request failed", 1, {}},
      {"2xx stalled body", fault(Fault::stall_body), "Request timed out after 1s", 1, {}},
      // An error answer whose body cannot be read: the status counts, with
      // empty details.
      {"404 reset mid-body", fault(Fault::reset_mid_body, 404), "API error (404): Not Found", 1, {}},
      {"404 stalled body", fault(Fault::stall_body, 404), "API error (404): Not Found", 1, {}},
      {"503 reset mid-body", fault(Fault::reset_mid_body, 503), "API error (503): Service Unavailable", 2, {112}},
      // A body without end stops at its bound, as a failed body read.
      {"2xx endless body", fault(Fault::endless_body, 200, ""), "Network error: HTTP request failed", 1, {}},
      {"503 endless body", fault(Fault::endless_body, 503, ""), "API error (503): Service Unavailable", 2, {112}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    service_.reset();
    // The retry, when there is one, fails the same way.
    service_.script("GET", "/t/fault", {c.first, c.first});
    BackoffRecorder backoff;
    const auto client = make_client(service_.base_url(), 1, 1s);
    const auto result = run(client->get<JsonValue>("/t/fault"));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().to_string(), c.expected_text);
    EXPECT_EQ(service_.requests().size(), c.requests);
    EXPECT_EQ(backoff.sleeps(), c.sleeps);
    if (const auto* api = result.error().get_if<CoreError::Api>()) {
      EXPECT_EQ(api->details, "");
    }
    if (const auto* network = result.error().get_if<CoreError::Network>()) {
      ASSERT_TRUE(network->source);
      EXPECT_EQ(network->source->kind, http::HttpError::Kind::other);
      EXPECT_NE(network->source->code, 0);
    }
  }
}

TEST_F(TransportTest, SubMillisecondTimeOutStillLimitsTheTry) {
  // Rounded up to a whole millisecond, never to "no limit".
  ScriptedAnswer late = answer(200);
  late.delay = 3s;
  service_.script("GET", "/t/late", {late});
  const auto client = make_client(service_.base_url(), 0, 500us);
  const auto result = run(client->get<JsonValue>("/t/late"));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().to_string(), "Request timed out after 0.0005s");
}

TEST_F(TransportTest, BodyReadFailureIsLeftToTheParser) {
  service_.script("GET", "/t/half", {fault(Fault::reset_mid_body)});
  const auto client = make_client(service_.base_url(), 3);
  const auto response = run(client->execute_with_retry(http::Method::get, client->build_url("/t/half"), std::nullopt));
  ASSERT_TRUE(response.ok()) << response.error().to_string();
  EXPECT_EQ(response->status, 200);
  ASSERT_TRUE(response->body_error);
  EXPECT_EQ(response->body_error->kind, http::HttpError::Kind::other);
  EXPECT_EQ(response->body, "");
  const auto parsed = client->parse_response<JsonValue>(*response);
  ASSERT_FALSE(parsed.ok());
  EXPECT_EQ(parsed.error().to_string(), "Network error: HTTP request failed");
  EXPECT_EQ(service_.requests().size(), 1u);
}

TEST_F(TransportTest, UndecodableSuccessIsAJsonErrorAndNotRetried) {
  service_.script("GET", "/t/empty", {answer(200, ""), answer(200, "{}")});
  service_.script("GET", "/t/trailing", {answer(200, "{} x"), answer(200, "{}")});
  BackoffRecorder backoff;
  const auto client = make_client(service_.base_url(), 3);
  for (const char* path : {"/t/empty", "/t/trailing"}) {
    const auto result = run(client->get<JsonValue>(path));
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().is<CoreError::Json>()) << result.error().to_string();
  }
  EXPECT_EQ(service_.requests().size(), 2u);
  EXPECT_TRUE(backoff.sleeps().empty());
}

TEST_F(TransportTest, ErrorDetailsAreTheBodyAsText) {
  struct Case {
    int status;
    std::string body;
    std::string details;
  };
  const std::string r = "\xEF\xBF\xBD";
  const Case cases[] = {
      {404, "{\"detail\":\"Not Found\"}", "{\"detail\":\"Not Found\"}"},
      {400, "", ""},
      {422, "bad \xC3\xA9 ok", "bad \xC3\xA9 ok"},
      {409,
       "a\xFF"
       "b\xE2\x82"
       "c\xF0\x9F\x98\x80\xC0",
       "a" + r + "b" + r + "c\xF0\x9F\x98\x80" + r},
      {400, std::string("nul\0inside", 10), std::string("nul\0inside", 10)},
  };
  const auto client = make_client(service_.base_url());
  for (const auto& c : cases) {
    service_.script("GET", "/t/error", {answer(c.status, c.body)});
    const auto result = run(client->get<JsonValue>("/t/error"));
    ASSERT_FALSE(result.ok());
    const auto* api = result.error().get_if<CoreError::Api>();
    ASSERT_NE(api, nullptr) << result.error().to_string();
    EXPECT_EQ(api->status, c.status);
    EXPECT_EQ(api->details, c.details);
  }
}

TEST_F(TransportTest, ReasonPhraseIgnoresTheStatusLine) {
  // The service writes its own phrases ("Unknown" for codes it does not
  // know); the error always carries the table's.
  const std::pair<int, std::string> cases[] = {{418, "I'm a teapot"},  {413, "Payload Too Large"},
                                               {510, "Not Extended"},  {420, "Unknown error"},
                                               {520, "Unknown error"}, {306, "Unknown error"}};
  const auto client = make_client(service_.base_url());
  for (const auto& [status, phrase] : cases) {
    service_.script("GET", "/t/phrase", {answer(status)});
    const auto result = run(client->get<JsonValue>("/t/phrase"));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().to_string(), "API error (" + std::to_string(status) + "): " + phrase);
  }
}

TEST_F(TransportTest, FollowsRedirects) {
  service_.script("GET", "/t/old", {answer(302, "", {{"Location", "/t/middle"}})});
  service_.script("GET", "/t/middle", {answer(307, "moved", {{"Location", service_.base_url() + "/t/new"}})});
  service_.script("GET", "/t/new", {answer(200, "{\"here\":true}")});
  const auto client = make_client(service_.base_url());
  const auto result = run(client->get<JsonValue>("/t/old"));
  ASSERT_TRUE(result.ok()) << result.error().to_string();
  const auto* object = result->get_if<JsonValue::Object>();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->at("here"), JsonValue(true));
  const auto requests = service_.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].target, "/t/new");
}

TEST_F(TransportTest, RedirectFailuresAreRequestFailures) {
  // Ten redirects are followed; the eleventh is refused.
  service_.script("GET", "/t/loop", std::vector<ScriptedAnswer>(12, answer(302, "", {{"Location", "/t/loop"}})));
  service_.script("GET", "/t/elsewhere", {answer(301, "", {{"Location", "ftp://127.0.0.1/x"}})});
  const auto client = make_client(service_.base_url());
  for (const char* path : {"/t/loop", "/t/elsewhere"}) {
    SCOPED_TRACE(path);
    const auto result = run(client->get<JsonValue>(path));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().to_string(), "Network error: HTTP request failed");
  }
  EXPECT_EQ(service_.requests().size(), 11u + 1u);
}

TEST_F(TransportTest, RedirectWithoutLocationIsTheAnswer) {
  service_.script("GET", "/t/nowhere", {answer(303, "see nothing")});
  const auto client = make_client(service_.base_url(), 3);
  const auto result = run(client->get<JsonValue>("/t/nowhere"));
  ASSERT_FALSE(result.ok());
  const auto* api = result.error().get_if<CoreError::Api>();
  ASSERT_NE(api, nullptr) << result.error().to_string();
  EXPECT_EQ(api->status, 303);
  EXPECT_EQ(api->message, "See Other");
  EXPECT_EQ(api->details, "see nothing");
  EXPECT_EQ(service_.requests().size(), 1u);
}

TEST_F(TransportTest, ReusesItsConnections) {
  const auto client = make_client(service_.base_url());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(run(client->get<JsonValue>("/api/v1/market/assets")).ok());
  // An error answer keeps the connection too.
  service_.script("GET", "/t/missing", {answer(404)});
  ASSERT_FALSE(run(client->get<JsonValue>("/t/missing")).ok());
  ASSERT_TRUE(run(client->get<JsonValue>("/api/v1/market/pairs")).ok());
  EXPECT_EQ(service_.requests().size(), 7u);
  EXPECT_EQ(service_.connections_accepted(), 1u);
}

TEST_F(TransportTest, LargeBodiesNeverCarryBytesOfEarlierAnswers) {
  // Bodies this large are received into buffers that earlier answers were
  // read into; each must come out as exactly its own bytes, whether it is
  // longer or shorter than the one before, and whether it is a success or
  // an error's details.
  const auto text = [](char fill, std::size_t size) { return std::string(size, fill); };
  const auto quoted = [](const std::string& s) { return "\"" + s + "\""; };
  const std::vector<std::pair<char, std::size_t>> bodies = {
      {'a', 600'000}, {'b', 300'000}, {'c', 900'000}, {'d', 200'000}, {'e', 600'000}};
  const auto client = make_client(service_.base_url());
  for (const auto& [fill, size] : bodies) {
    service_.script("GET", "/t/large", {answer(200, quoted(text(fill, size)))});
    const auto value = run(client->get<JsonValue>("/t/large"));
    ASSERT_TRUE(value.ok()) << value.error().to_string();
    const auto* got = value->get_if<std::string>();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->size(), size);
    EXPECT_EQ(*got, text(fill, size)) << "answer of '" << fill << "'";
  }
  service_.script("GET", "/t/large", {answer(503, text('f', 250'000))});
  const auto failed = run(client->get<JsonValue>("/t/large"));
  ASSERT_FALSE(failed.ok());
  const auto* api = failed.error().get_if<CoreError::Api>();
  ASSERT_NE(api, nullptr);
  EXPECT_EQ(api->details, text('f', 250'000));
}

TEST_F(TransportTest, TakesProxiesFromTheEnvironment) {
  FakeService proxy;
  FakeService other_proxy;
  const std::string origin_url = service_.base_url() + "/t/via";
  struct Case {
    std::string name;
    std::vector<std::pair<const char*, std::string>> env;
    FakeService* reached;  // the server that receives the request
  };
  const std::vector<Case> cases = {
      {"no proxy", {}, &service_},
      {"upper-case HTTP_PROXY", {{"HTTP_PROXY", proxy.base_url()}}, &proxy},
      {"lower-case http_proxy", {{"http_proxy", proxy.base_url()}}, &proxy},
      {"lower case wins", {{"http_proxy", other_proxy.base_url()}, {"HTTP_PROXY", proxy.base_url()}}, &other_proxy},
      {"ALL_PROXY", {{"ALL_PROXY", proxy.base_url()}}, &proxy},
      {"all_proxy", {{"all_proxy", proxy.base_url()}}, &proxy},
      {"HTTP_PROXY before ALL_PROXY",
       {{"HTTP_PROXY", proxy.base_url()}, {"ALL_PROXY", other_proxy.base_url()}},
       &proxy},
      {"NO_PROXY", {{"HTTP_PROXY", proxy.base_url()}, {"NO_PROXY", "127.0.0.1"}}, &service_},
      {"no_proxy", {{"http_proxy", proxy.base_url()}, {"no_proxy", "127.0.0.1"}}, &service_},
      {"NO_PROXY with ALL_PROXY", {{"ALL_PROXY", proxy.base_url()}, {"NO_PROXY", "*"}}, &service_},
      {"https_proxy is not for http", {{"HTTPS_PROXY", proxy.base_url()}}, &service_},
      // A CGI program's HTTP_PROXY may come from a request header.
      {"CGI ignores HTTP_PROXY", {{"HTTP_PROXY", proxy.base_url()}, {"REQUEST_METHOD", "GET"}}, &service_},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    clear_proxy_environment();
    for (const auto& [name, value] : c.env) ::setenv(name, value.c_str(), 1);
    for (FakeService* s : {&service_, &proxy, &other_proxy}) {
      s->reset();
      s->script("GET", origin_url, {answer(200, "{\"proxied\":true}")});
      s->script("GET", "/t/via", {answer(200, "{\"proxied\":false}")});
    }
    const auto client = make_client(service_.base_url());
    const auto result = run(client->get<JsonValue>("/t/via"));
    clear_proxy_environment();
    ASSERT_TRUE(result.ok()) << result.error().to_string();
    for (FakeService* s : {&service_, &proxy, &other_proxy}) {
      const auto requests = s->requests();
      if (s != c.reached) {
        EXPECT_TRUE(requests.empty());
        continue;
      }
      ASSERT_EQ(requests.size(), 1u);
      // A proxy is sent the absolute URL.
      EXPECT_EQ(requests[0].target, s == &service_ ? "/t/via" : origin_url);
    }
  }
}

TEST_F(TransportTest, ProxyThatRefusesTheTunnelIsAConnectionFailure) {
  // An https URL goes through its proxy in a CONNECT tunnel; the service
  // answers CONNECT with an error, so no connection to the origin exists.
  FakeService proxy;
  ::setenv("HTTPS_PROXY", proxy.base_url().c_str(), 1);
  const auto client = make_client("https://127.0.0.1:9");
  const auto result = run(client->get<JsonValue>("/api/v1/market/pairs"));
  clear_proxy_environment();
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().to_string(), "Network error: Connection failed");
  const auto requests = proxy.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "CONNECT");
  EXPECT_EQ(requests[0].target, "127.0.0.1:9");
}

TEST_F(TransportTest, CancellationAbortsTheTransfer) {
  using namespace boost::asio::experimental::awaitable_operators;
  ScriptedAnswer slow = answer(200, "{\"late\":true}");
  slow.delay = 30s;
  service_.script("GET", "/t/slow", {slow});
  const auto client = make_client(service_.base_url(), 0, 60s);
  const auto start = std::chrono::steady_clock::now();
  const auto outcome = run([&]() -> asio::awaitable<std::variant<CoreResult<JsonValue>, std::monostate>> {
    // The deadline falls while the answer is awaited.
    co_return co_await (client->get<JsonValue>("/t/slow") || when([&] { return service_.requests().size() == 1; }));
  }());
  // The deadline won, and the request did not wait for the answer.
  EXPECT_EQ(outcome.index(), 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
  EXPECT_EQ(service_.requests().size(), 1u);

  // The client is still good; the aborted connection is not reused.
  ASSERT_TRUE(run(client->get<JsonValue>("/api/v1/market/pairs")).ok());
  EXPECT_EQ(service_.connections_accepted(), 2u);
}

TEST_F(TransportTest, CancellationEndsTheBackoffWait) {
  using namespace boost::asio::experimental::awaitable_operators;
  service_.script("GET", "/t/down", std::vector<ScriptedAnswer>(5, answer(503)));
  BackoffRecorder backoff({0.5}, 30s);  // each wait lasts 30 s
  const auto client = make_client(service_.base_url(), 4);
  const auto start = std::chrono::steady_clock::now();
  const auto outcome = run([&]() -> asio::awaitable<std::variant<CoreResult<JsonValue>, std::monostate>> {
    // The deadline falls during the first back-off wait.
    co_return co_await (client->get<JsonValue>("/t/down") || when([&] { return backoff.sleeps().size() == 1; }));
  }());
  EXPECT_EQ(outcome.index(), 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
  EXPECT_EQ(service_.requests().size(), 1u);
  EXPECT_EQ(backoff.sleeps(), std::vector<long long>{112});
}

TEST_F(TransportTest, CancelledOperationEndsWithAnErrorValue) {
  // Cancelled while the answer is awaited, and while the back-off waits.
  ScriptedAnswer slow = answer(200, "{\"late\":true}");
  slow.delay = 30s;
  service_.script("GET", "/t/slow", {slow});
  service_.script("GET", "/t/down", std::vector<ScriptedAnswer>(3, answer(503)));
  BackoffRecorder backoff({0.5}, 30s);
  for (const char* path : {"/t/slow", "/t/down"}) {
    SCOPED_TRACE(path);
    const auto client = make_client(service_.base_url(), 2, 60s);
    asio::io_context ctx;
    asio::cancellation_signal signal;
    std::optional<CoreResult<JsonValue>> result;
    std::exception_ptr failure;
    asio::co_spawn(
        ctx, [&]() -> asio::awaitable<void> { result.emplace(co_await client->get<JsonValue>(path)); },
        asio::bind_cancellation_slot(signal.slot(), [&](std::exception_ptr e) { failure = e; }));
    const bool awaiting_answer = std::string_view(path) == "/t/slow";
    asio::co_spawn(
        ctx,
        [&]() -> asio::awaitable<void> {
          co_await when(
              [&] { return awaiting_answer ? service_.requests().size() == 1 : backoff.sleeps().size() == 1; });
          signal.emit(asio::cancellation_type::terminal);
        },
        asio::detached);
    ctx.run();
    EXPECT_FALSE(failure);
    ASSERT_TRUE(result);
    ASSERT_FALSE(result->ok());
    EXPECT_EQ(result->error().to_string(), "Network error: HTTP request failed");
    const auto* network = result->error().get_if<CoreError::Network>();
    ASSERT_TRUE(network && network->source);
    EXPECT_EQ(network->source->message, "Request cancelled");
  }
  EXPECT_EQ(service_.requests().size(), 2u);
  EXPECT_EQ(backoff.sleeps(), std::vector<long long>{112});
}

TEST_F(TransportTest, FinishedRequestIsUntouchedByALaterDeadline) {
  using namespace boost::asio::experimental::awaitable_operators;
  const auto client = make_client(service_.base_url());
  const auto outcome = run([&]() -> asio::awaitable<std::variant<CoreResult<JsonValue>, std::monostate>> {
    asio::steady_timer deadline(co_await asio::this_coro::executor, 30s);
    co_return co_await (client->get<JsonValue>("/api/v1/market/pairs") || deadline.async_wait(asio::use_awaitable));
  }());
  ASSERT_EQ(outcome.index(), 0u);
  EXPECT_TRUE(std::get<0>(outcome).ok());
}

}  // namespace
}  // namespace zephlar::testing
