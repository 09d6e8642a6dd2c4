// Building wrapper clients against the loopback fake service, and reading
// their results in tests.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ffi/zeph_client.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::ffi::testing {

using zephlar::testing::FakeService;
using zephlar::testing::RecordedRequest;
using zephlar::testing::ScriptedAnswer;

inline ZephConfig config_for(std::string base_url, std::optional<std::string> node_url = std::nullopt) {
  ZephConfig config;
  config.base_url = std::move(base_url);
  config.node_url = std::move(node_url);
  config.timeout = 10.0;
  config.max_retries = 0;
  config.cache_ttl = 300;
  return config;
}

inline std::shared_ptr<ZephClient> make_client(ZephConfig config) {
  auto created = ZephClient::create(std::move(config));
  if (!created) {
    ADD_FAILURE() << created.error().debug();
    return nullptr;
  }
  return std::move(created).value();
}

// A client of the fake service that also plays the node.
inline std::shared_ptr<ZephClient> make_client(const FakeService& service, bool with_node = true) {
  return make_client(config_for(service.base_url(), with_node ? std::optional(service.base_url()) : std::nullopt));
}

inline ScriptedAnswer answer(int status, std::string body) {
  ScriptedAnswer a;
  a.status = status;
  a.body = std::move(body);
  return a;
}

// The text of a result, or the debug text of its error marked as such.
template <class T>
std::string text_of(const ZephResult<T>& result) {
  if (result) {
    if constexpr (std::is_same_v<T, std::string>) {
      return result.value();
    } else {
      return std::to_string(result.value());
    }
  }
  return "<error> " + result.error().debug();
}

// The display text of a failed result, or a note that it succeeded.
template <class T>
std::string display_of(const ZephResult<T>& result) {
  return result ? std::string("<no error>") : result.error().display();
}

// The requests whose path (without query) is `path`.
inline std::vector<RecordedRequest> requests_to(const FakeService& service, std::string_view path) {
  std::vector<RecordedRequest> out;
  for (auto& request : service.requests()) {
    if (request.path() == path) out.push_back(std::move(request));
  }
  return out;
}

}  // namespace zephlar::ffi::testing
