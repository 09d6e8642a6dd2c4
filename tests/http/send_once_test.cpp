// A request reaches the server once per try of the request loop, never more:
// when a kept-alive connection dies after the server has read a request, the
// try fails and only the loop may send the request again, after its delay.
// The server may have acted on the copy it read (executed a swap, say).
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "tests/http/http_test_support.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::testing {
namespace {

using Fault = ScriptedAnswer::Fault;

ScriptedAnswer dropped(Fault how, std::chrono::milliseconds pause = 0ms) {
  ScriptedAnswer a;
  a.fault = how;
  a.delay = pause;
  return a;
}

ScriptedAnswer first_answer() {
  ScriptedAnswer a;
  a.body = "{}";
  return a;
}

std::size_t requests_to(const FakeService& service, const std::string& path) {
  std::size_t n = 0;
  for (const auto& r : service.requests()) n += r.path() == path ? 1 : 0;
  return n;
}

class SendOnceTest : public HttpTest {};

TEST_F(SendOnceTest, EveryTryReachesTheServerOnceWhenItsConnectionDies) {
  struct Drop {
    std::string name;
    ScriptedAnswer answer;
  };
  const std::vector<Drop> drops = {
      {"reset", dropped(Fault::reset_before_headers)},
      {"close", dropped(Fault::close_before_headers)},
      {"close after a pause", dropped(Fault::close_before_headers, 50ms)},
  };
  const std::vector<long long> loop_delays = {112, 225};  // every jitter draw 0.5
  for (const auto& drop : drops) {
    for (const bool post : {false, true}) {
      for (const std::uint32_t max_retries : {0u, 1u, 2u}) {
        SCOPED_TRACE(drop.name + (post ? " POST" : " GET") + " max_retries " + std::to_string(max_retries));
        FakeService service;
        // The first call leaves a kept-alive connection; every copy of the
        // second is read and then dropped.
        service.script("GET", "/t/first", {first_answer()});
        service.script(post ? "POST" : "GET", "/t/dropped", std::vector<ScriptedAnswer>(max_retries + 2, drop.answer));
        BackoffRecorder backoff;
        const auto client = make_client(service.base_url(), max_retries);
        ASSERT_TRUE(run(client->get<JsonValue>("/t/first")).ok());
        const auto result = post ? run(client->post<JsonValue>("/t/dropped", JsonValue(JsonValue::Object{})))
                                 : run(client->get<JsonValue>("/t/dropped"));
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().to_string(), "Network error: HTTP request failed");
        EXPECT_EQ(requests_to(service, "/t/dropped"), max_retries + 1);
        EXPECT_EQ(backoff.sleeps(), std::vector<long long>(loop_delays.begin(), loop_delays.begin() + max_retries));
      }
    }
  }
}

TEST_F(SendOnceTest, ADroppedTryIsRetriedOnAFreshConnection) {
  FakeService service;
  service.script("GET", "/t/first", {first_answer()});
  ScriptedAnswer fresh;
  fresh.body = "{\"fresh\":true}";
  service.script("POST", "/t/stale", {dropped(Fault::reset_before_headers), fresh});
  BackoffRecorder backoff;
  const auto client = make_client(service.base_url(), 1);
  ASSERT_TRUE(run(client->get<JsonValue>("/t/first")).ok());
  const auto result = run(client->post<JsonValue>("/t/stale", JsonValue(JsonValue::Object{})));
  ASSERT_TRUE(result.ok()) << result.error().to_string();
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].body, requests[2].body);
  EXPECT_EQ(service.connections_accepted(), 2u);
  EXPECT_EQ(backoff.sleeps(), std::vector<long long>{112});
}

TEST_F(SendOnceTest, UrlsHoldingANulByteAreRefusedBeforeAnythingIsSent) {
  FakeService service;
  BackoffRecorder backoff;
  const auto client = make_client(service.base_url(), 1);
  for (const std::string& path : {std::string("/t/history?status=FILLED\0junk", 29), std::string("/t/\0order", 9)}) {
    const auto result = run(client->get<JsonValue>(path));
    ASSERT_FALSE(result.ok());
    const auto* network = result.error().get_if<CoreError::Network>();
    ASSERT_NE(network, nullptr) << result.error().to_string();
    EXPECT_EQ(result.error().to_string(), "Network error: HTTP request failed");
    ASSERT_TRUE(network->source);
    EXPECT_EQ(network->source->code, CURLE_URL_MALFORMAT);
  }
  EXPECT_EQ(service.requests().size(), 0u);
  EXPECT_EQ(service.connections_accepted(), 0u);
}

long max_resident_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST_F(SendOnceTest, AnEndlessBodyEndsTheTryWithItsMemoryBounded) {
  FakeService service;
  service.script("GET", "/t/endless", {dropped(Fault::endless_body)});
  const auto client = make_client(service.base_url(), 2);
  const long before = max_resident_kib();
  const auto result = run(client->get<JsonValue>("/t/endless"));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().to_string(), "Network error: HTTP request failed");
  const auto* network = result.error().get_if<CoreError::Network>();
  ASSERT_NE(network, nullptr);
  ASSERT_TRUE(network->source);
  EXPECT_EQ(network->source->code, CURLE_FILESIZE_EXCEEDED);
  // A failed read of a 2xx body is not retried.
  EXPECT_EQ(service.requests().size(), 1u);
  // The body stops at its bound (and its doubling room); without one it
  // would grow until the minute of the time-out ran out.
  EXPECT_LT(max_resident_kib() - before, 1L << 20);
}

}  // namespace
}  // namespace zephlar::testing
