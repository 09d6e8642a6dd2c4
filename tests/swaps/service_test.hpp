// What the tests of the swap, swap-order and LSPS1 operations share: a core
// client on the loopback fake service, and checks of the requests it sent.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/client/core_client.hpp"
#include "core/error.hpp"
#include "tests/client/market_data.hpp"
#include "tests/client/task_runner.hpp"
#include "tests/support/fake_service.hpp"
#include "tests/support/fake_service_routes.hpp"

namespace zephlar::testing {

// One request as the service should receive it. A request without body
// carries no content type either; one with a body carries
// "application/json".
struct ExpectedRequest {
  std::string method;
  std::string target;  // path with query
  std::optional<std::string> body;
};

inline ExpectedRequest get_request(std::string target) { return {"GET", std::move(target), std::nullopt}; }

inline ExpectedRequest post_request(std::string target, std::string body) {
  return {"POST", std::move(target), std::move(body)};
}

inline void expect_request(const RecordedRequest& actual, const ExpectedRequest& expected) {
  EXPECT_EQ(actual.method, expected.method) << expected.target;
  EXPECT_EQ(actual.target, expected.target);
  if (expected.body) {
    EXPECT_EQ(actual.body, *expected.body) << expected.target;
    EXPECT_EQ(actual.header("Content-Type"), std::optional<std::string>("application/json")) << expected.target;
  } else {
    EXPECT_EQ(actual.body, "") << expected.target;
    EXPECT_EQ(actual.header("Content-Type"), std::nullopt) << expected.target;
  }
}

// The requests the service received, compared one by one and in order.
inline void expect_requests(const FakeService& service, const std::vector<ExpectedRequest>& expected) {
  const auto actual = service.requests();
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) expect_request(actual[i], expected[i]);
}

// The method and target of every request so far, as "POST /path".
inline std::vector<std::string> request_lines(const FakeService& service) {
  std::vector<std::string> lines;
  for (const auto& request : service.requests()) lines.push_back(request.method + " " + request.target);
  return lines;
}

// A failed result's error; a test failure (and a Validation error) when it
// succeeded.
template <class T>
CoreError error_of(const CoreResult<T>& result) {
  if (result) {
    ADD_FAILURE() << "expected an error";
    return CoreError(CoreError::Validation{"<no error>"});
  }
  return result.error();
}

// A Json error whose text holds `fragment`.
inline void expect_json_error(const CoreError& error, std::string_view fragment) {
  EXPECT_TRUE(error.is<CoreError::Json>()) << error.to_string();
  EXPECT_NE(error.to_string().find(fragment), std::string::npos) << error.to_string();
}

// An Api error with this status, and the answer's body as its details.
inline void expect_api_error(const CoreError& error, std::uint16_t status, std::string_view details) {
  const auto* api = error.get_if<CoreError::Api>();
  ASSERT_NE(api, nullptr) << error.to_string();
  EXPECT_EQ(api->status, status);
  EXPECT_EQ(api->details, std::optional<std::string>(std::string(details)));
}

// A fixture with one fake service and a client on it without a node URL,
// trying each request once.
class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client = make_client(config_for(service.base_url()));
    ASSERT_TRUE(client);
  }

  FakeService service;
  std::shared_ptr<client::CoreClient> client;
};

}  // namespace zephlar::testing
