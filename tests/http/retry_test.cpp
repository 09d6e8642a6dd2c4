// The request loop against a loopback service: which answers are tried
// again, how often, after which delays, and what the caller gets in the end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/http/http_test_support.hpp"
#include "tests/support/fake_service.hpp"
#include "tests/support/refusing_port.hpp"

namespace zephlar::testing {
namespace {

using Fault = ScriptedAnswer::Fault;

ScriptedAnswer answer(int status, std::string body = "{}") {
  ScriptedAnswer a;
  a.status = status;
  a.body = std::move(body);
  return a;
}

ScriptedAnswer fault(Fault f, int status = 200, std::string body = "{\"half\":\"of this body\"}") {
  ScriptedAnswer a = answer(status, std::move(body));
  a.fault = f;
  return a;
}

class RetryTest : public HttpTest {
 protected:
  FakeService service_;
};

TEST_F(RetryTest, RetriesWhatIsWorthRetryingUpToTheLimit) {
  struct Case {
    std::string name;
    std::vector<ScriptedAnswer> answers;
    std::uint32_t max_retries;
    std::size_t requests;
    std::vector<long long> sleeps;  // with every jitter draw 0.5
    int error_status;               // 0: success
    std::string message;
  };
  const std::vector<Case> cases = {
      {"503 without retries", {answer(503)}, 0, 1, {}, 503, "Service Unavailable"},
      {"500 until the tries run out",
       {answer(500), answer(500), answer(500), answer(500)},
       3,
       4,
       {112, 225, 450},
       500,
       "Internal Server Error"},
      {"404 is final", {answer(404, "no such thing")}, 3, 1, {}, 404, "Not Found"},
      {"400 is final", {answer(400)}, 3, 1, {}, 400, "Bad Request"},
      {"401 is final", {answer(401)}, 3, 1, {}, 401, "Unauthorized"},
      {"403 is final", {answer(403)}, 3, 1, {}, 403, "Forbidden"},
      {"422 is final", {answer(422)}, 3, 1, {}, 422, "Unprocessable Entity"},
      {"499 is final", {answer(499)}, 3, 1, {}, 499, "Unknown error"},
      {"429 then success", {answer(429), answer(200, "{\"ok\":true}")}, 3, 2, {112}, 0, ""},
      {"502, 503, 504 then success",
       {answer(502), answer(503), answer(504), answer(200)},
       3,
       4,
       {112, 225, 450},
       0,
       ""},
      {"the last error is returned", {answer(502), answer(503), answer(200)}, 1, 2, {112}, 503, "Service Unavailable"},
      {"599 is retried", {answer(599), answer(200)}, 1, 2, {112}, 0, ""},
      {"a 4xx after a 5xx ends it", {answer(500), answer(409), answer(200)}, 5, 2, {112}, 409, "Conflict"},
      {"reset before headers, then success", {fault(Fault::reset_before_headers), answer(200)}, 2, 2, {112}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    service_.reset();
    service_.script("GET", "/t/loop", c.answers);
    BackoffRecorder backoff;
    const auto client = make_client(service_.base_url(), c.max_retries);
    ASSERT_TRUE(client);
    const auto result = run(client->get<JsonValue>("/t/loop"));
    EXPECT_EQ(service_.requests().size(), c.requests);
    EXPECT_EQ(backoff.sleeps(), c.sleeps);
    if (c.error_status == 0) {
      EXPECT_TRUE(result.ok()) << result.error().to_string();
      continue;
    }
    ASSERT_FALSE(result.ok());
    const auto* api = result.error().get_if<CoreError::Api>();
    ASSERT_NE(api, nullptr) << result.error().to_string();
    EXPECT_EQ(api->status, c.error_status);
    EXPECT_EQ(api->message, c.message);
    EXPECT_EQ(result.error().to_string(), "API error (" + std::to_string(c.error_status) + "): " + c.message);
  }
}

TEST_F(RetryTest, DelaysFollowTheDrawsAndCapBeforeTheJitter) {
  // Nine failures: delays for attempts 1 to 8, the last ones capped.
  service_.script("GET", "/t/down", std::vector<ScriptedAnswer>(9, answer(503)));
  BackoffRecorder backoff({0.0, 0.999, 0.5, 0.0, 0.999, 0.0, 0.5, 0.9999});
  const auto client = make_client(service_.base_url(), 8);
  const auto result = run(client->get<JsonValue>("/t/down"));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(service_.requests().size(), 9u);
  EXPECT_EQ(backoff.sleeps(), (std::vector<long long>{100, 249, 450, 800, 1999, 3200, 7200, 12499}));
}

TEST_F(RetryTest, WaitsForRealOnTheCallersExecutor) {
  // No sleep hook: the loop's own timers run, 100 to 124 and 200 to 249 ms.
  service_.script("GET", "/t/slow", {answer(500), answer(500), answer(200)});
  const auto client = make_client(service_.base_url(), 2);
  const auto start = std::chrono::steady_clock::now();
  const auto result = run(client->get<JsonValue>("/t/slow"));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(result.ok()) << result.error().to_string();
  EXPECT_EQ(service_.requests().size(), 3u);
  EXPECT_GE(elapsed, 300ms);
}

TEST_F(RetryTest, PostSendsTheSameBytesOnEveryTry) {
  // The 503 closes its connection, so the reset hits a fresh one (a pooled
  // connection that dies unanswered is replaced within the same try).
  ScriptedAnswer closing = answer(503);
  closing.headers = {{"Connection", "close"}};
  service_.script("POST", "/t/post",
                  {closing, fault(Fault::reset_before_headers), answer(500), answer(200, "{\"done\":1}")});
  BackoffRecorder backoff;
  const auto client = make_client(service_.base_url(), 3);
  JsonValue::Object body;
  body["order_id"] = JsonValue("ord-\xC3\xA9-1");
  body["amount"] = JsonValue(std::int64_t{-42});
  body["flags"] = JsonValue(JsonValue::Array{JsonValue(true), JsonValue(nullptr)});
  const JsonValue request_body(body);
  const auto result = run(client->post<JsonValue>("/t/post", request_body));
  ASSERT_TRUE(result.ok()) << result.error().to_string();

  const auto requests = service_.requests();
  ASSERT_EQ(requests.size(), 4u);
  const std::string expected = json::to_json(request_body);
  EXPECT_EQ(expected, "{\"amount\":-42,\"flags\":[true,null],\"order_id\":\"ord-\xC3\xA9-1\"}");
  for (const auto& r : requests) {
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/t/post");
    EXPECT_EQ(r.body, expected);
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.header("Content-Length"), std::to_string(expected.size()));
  }
  EXPECT_EQ(backoff.sleeps(), (std::vector<long long>{112, 225, 450}));
}

TEST_F(RetryTest, RebuildsTheBodyForEveryTry) {
  service_.script("POST", "/t/rebuilt", {answer(503), answer(503), answer(200)});
  BackoffRecorder backoff;
  const auto client = make_client(service_.base_url(), 2);
  int writes = 0;
  http::BodyWriter writer = [&writes] {
    ++writes;
    return json::json_body(JsonValue(JsonValue::Object{}));
  };
  const auto result = run(client->execute_with_retry(http::Method::post, client->build_url("/t/rebuilt"), writer));
  ASSERT_TRUE(result.ok()) << result.error().to_string();
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(writes, 3);
  for (const auto& r : service_.requests()) EXPECT_EQ(r.body, "{}");
}

TEST_F(RetryTest, RefusedUrlsFailOnEveryTryWithoutReachingAnyone) {
  const std::string port = std::to_string(service_.port());
  const std::vector<std::string> bases = {
      "",                         // the path alone
      "///",                      // likewise
      "not a url",                //
      "127.0.0.1:" + port,        // no scheme: never guessed
      "ftp://127.0.0.1:" + port,  // a scheme that is not served
      "file://",                  //
      "http://?",                 // no host
      "http://[::1",              // broken host
  };
  for (const auto& base : bases) {
    SCOPED_TRACE("base URL '" + base + "'");
    BackoffRecorder backoff;
    const auto client = make_client(base, 2);
    ASSERT_TRUE(client);  // accepted when created
    const auto result = run(client->get<JsonValue>("/api/v1/market/pairs"));
    ASSERT_FALSE(result.ok());
    const auto* network = result.error().get_if<CoreError::Network>();
    ASSERT_NE(network, nullptr) << result.error().to_string();
    EXPECT_EQ(result.error().to_string(), "Network error: HTTP request failed");
    ASSERT_TRUE(network->source);
    EXPECT_EQ(network->source->kind, http::HttpError::Kind::other);
    EXPECT_FALSE(network->source->message.empty());
    // Network errors are retryable, so every try and delay is spent.
    EXPECT_EQ(backoff.sleeps(), (std::vector<long long>{112, 225}));
  }
  EXPECT_EQ(service_.requests().size(), 0u);
  EXPECT_EQ(service_.connections_accepted(), 0u);
}

TEST_F(RetryTest, ZeroTimeOutFailsEachTryAtOnce) {
  for (const std::uint32_t max_retries : {0u, 2u}) {
    SCOPED_TRACE(max_retries);
    BackoffRecorder backoff;
    const auto client = make_client(service_.base_url(), max_retries, std::chrono::nanoseconds(0));
    const auto result = run(client->get<JsonValue>("/api/v1/market/pairs"));
    ASSERT_FALSE(result.ok());
    const auto* timeout = result.error().get_if<CoreError::Timeout>();
    ASSERT_NE(timeout, nullptr) << result.error().to_string();
    EXPECT_EQ(timeout->seconds, 0.0);
    EXPECT_EQ(result.error().to_string(), "Request timed out after 0s");
    EXPECT_EQ(backoff.sleeps().size(), max_retries);
  }
  EXPECT_EQ(service_.connections_accepted(), 0u);
}

TEST_F(RetryTest, ConnectionRefusedIsAConnectionFailure) {
  const zephlar::testing::RefusingPort refusing;
  const std::string base = refusing.base_url();
  BackoffRecorder backoff;
  const auto client = make_client(base, 1);
  const auto result = run(client->get<JsonValue>("/api/v1/market/pairs"));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().to_string(), "Network error: Connection failed");
  const auto* network = result.error().get_if<CoreError::Network>();
  ASSERT_TRUE(network && network->source);
  EXPECT_EQ(network->source->kind, http::HttpError::Kind::connect);
  EXPECT_EQ(backoff.sleeps(), (std::vector<long long>{112}));
}

}  // namespace
}  // namespace zephlar::testing
