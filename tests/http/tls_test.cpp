// HTTPS: servers are trusted through the compiled-in roots only, plus the
// roots that tests add for their own servers.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/http/test_roots.hpp"
#include "tests/http/http_test_support.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::testing {
namespace {

class TlsTest : public HttpTest {
 protected:
  TlsTest() { http::testing::clear_trusted_roots_for_tests(); }
  ~TlsTest() override { http::testing::clear_trusted_roots_for_tests(); }

  FakeService service_{FakeService::Options{.tls = true}};
};

void expect_untrusted(const CoreResult<JsonValue>& result) {
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().to_string(), "Network error: Connection failed");
  const auto* network = result.error().get_if<CoreError::Network>();
  ASSERT_TRUE(network && network->source);
  EXPECT_EQ(network->source->kind, http::HttpError::Kind::connect);
  EXPECT_FALSE(network->source->message.empty());
}

TEST_F(TlsTest, UntrustedServerIsAConnectionFailure) {
  BackoffRecorder backoff;
  const auto client = make_client(service_.base_url(), 1);
  expect_untrusted(run(client->get<JsonValue>("/api/v1/market/pairs")));
  // A connection failure is retried.
  EXPECT_EQ(backoff.sleeps(), std::vector<long long>{112});
  EXPECT_TRUE(service_.requests().empty());
}

TEST_F(TlsTest, TrustsAnAddedRootInClientsCreatedAfterwards) {
  const auto before = make_client(service_.base_url());
  http::testing::add_trusted_root_for_tests(FakeService::root_certificate_pem());
  const auto after = make_client(service_.base_url());

  const auto result = run(after->get<JsonValue>("/api/v1/market/pairs"));
  ASSERT_TRUE(result.ok()) << result.error().to_string();
  JsonValue::Object body;
  body["order_id"] = JsonValue("tls-order");
  ASSERT_TRUE(run(after->post<JsonValue>("/api/v1/swaps/orders/status", JsonValue(body))).ok());
  const auto requests = service_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].body, "{\"order_id\":\"tls-order\"}");
  EXPECT_EQ(requests[1].header("Content-Type"), "application/json");
  EXPECT_EQ(service_.connections_accepted(), 1u);

  // A client keeps the roots it was created with.
  expect_untrusted(run(before->get<JsonValue>("/api/v1/market/pairs")));
}

TEST_F(TlsTest, IgnoresTheSystemCertificateStore) {
  // OpenSSL's default locations follow these variables; a client that read
  // the system store would trust the service through them.
  const auto dir = std::filesystem::temp_directory_path() / ("zephlar-roots-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto file = dir / "root.pem";
  std::ofstream(file) << FakeService::root_certificate_pem();
  ::setenv("SSL_CERT_FILE", file.c_str(), 1);
  ::setenv("SSL_CERT_DIR", dir.c_str(), 1);
  ::setenv("CURL_CA_BUNDLE", file.c_str(), 1);

  const auto client = make_client(service_.base_url());
  const auto result = run(client->get<JsonValue>("/api/v1/market/pairs"));

  ::unsetenv("SSL_CERT_FILE");
  ::unsetenv("SSL_CERT_DIR");
  ::unsetenv("CURL_CA_BUNDLE");
  std::filesystem::remove_all(dir);
  expect_untrusted(result);
}

}  // namespace
}  // namespace zephlar::testing
