// Shared by the node tests: running the client's node operations to their
// end on a fresh io_context, and the fourteen operations as a table, each
// with sample arguments and the exact request it must send.
#pragma once

#include <gtest/gtest.h>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/client/core_client.hpp"
#include "core/client/core_config.hpp"
#include "core/http/retry_hooks.hpp"
#include "core/json/json.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::testing {

namespace asio = boost::asio;
using namespace std::chrono_literals;

// Runs one coroutine on a fresh single-threaded io_context and returns its
// result.
template <class T>
T run(asio::awaitable<T> task) {
  asio::io_context context;
  std::optional<T> result;
  std::exception_ptr failure;
  asio::co_spawn(
      context, [&]() -> asio::awaitable<void> { result.emplace(co_await std::move(task)); },
      [&](std::exception_ptr e) { failure = e; });
  context.run();
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

// A client of the service at `base_url`, with the node at `node_url` when
// one is given.
inline std::shared_ptr<client::CoreClient> node_client_for(std::string base_url, std::optional<std::string> node_url,
                                                           std::uint32_t max_retries = 0) {
  client::CoreConfig config;
  config.base_url = std::move(base_url);
  config.node_url = std::move(node_url);
  config.timeout = 10.0;
  config.max_retries = max_retries;
  auto created = client::CoreClient::create(std::move(config));
  if (!created) {
    ADD_FAILURE() << created.error().to_string();
    return nullptr;
  }
  return std::move(created).value();
}

// A node operation's outcome with its value written as compact JSON, so
// that operations of every result type fit one table.
using NodeOutcome = CoreResult<std::string>;

template <class T>
NodeOutcome as_json(CoreResult<T> result) {
  if (!result) return Err(std::move(result).error());
  return json::to_json(result.value());
}

inline std::string outcome_text(const NodeOutcome& outcome) {
  return outcome ? "ok " + outcome.value() : "error " + outcome.error().to_string();
}

// The outcome of a running operation, its value written as JSON.
template <class T>
asio::awaitable<NodeOutcome> json_of(Task<T> task) {
  co_return as_json(co_await std::move(task));
}

struct NodeOperation {
  using Client = std::shared_ptr<client::CoreClient>;

  std::string_view name;
  std::string_view method;
  std::string_view path;
  // The exact body the sample arguments give; empty for a GET.
  std::string_view body;
  // Starts the operation with the sample arguments.
  std::function<asio::awaitable<NodeOutcome>(const Client&)> start;

  // Runs it to its end on a fresh io_context.
  NodeOutcome call(const Client& client) const { return run(start(client)); }
};

inline constexpr std::string_view sample_peer =
    "02a1b2c3d4e5f6a7b8c9d0e1f2a3b4c5d6e7f8a9b0c1d2e3f4a5b6c7d8e9f0a1b2@127.0.0.1:9735";
inline constexpr std::string_view sample_asset_id = "rgb:2JEUOrsc-J5WsXwS-aJmPEFZ-y0r1FxB-3mmt4l0-qnmyRBs";
inline constexpr std::string_view sample_password = "correct horse battery staple";
inline constexpr std::string_view sample_invoice = "lnbcrt30u1pnexample0invoice";
inline constexpr std::string_view sample_swapstring = "30/BTC/10/rgb:2JEUOrsc/1735689600/abcdef";

// The fourteen node operations in the order of the node API.
inline const std::vector<NodeOperation>& node_operations() {
  using Client = NodeOperation::Client;
  static const std::vector<NodeOperation> operations = {
      {"get_rgb_node_info", "GET", "/nodeinfo", "", [](const Client& c) { return json_of(c->get_rgb_node_info()); }},
      {"list_peers", "GET", "/listpeers", "", [](const Client& c) { return json_of(c->list_peers()); }},
      {"connect_peer", "POST", "/connectpeer",
       R"({"peer_pubkey_and_addr":"02a1b2c3d4e5f6a7b8c9d0e1f2a3b4c5d6e7f8a9b0c1d2e3f4a5b6c7d8e9f0a1b2@127.0.0.1:9735"})",
       [](const Client& c) { return json_of(c->connect_peer(models::ConnectPeerRequest{std::string(sample_peer)})); }},
      {"list_channels", "GET", "/listchannels", "", [](const Client& c) { return json_of(c->list_channels()); }},
      {"list_payments", "GET", "/listpayments", "", [](const Client& c) { return json_of(c->list_payments()); }},
      {"get_btc_balance", "POST", "/btcbalance", "{}", [](const Client& c) { return json_of(c->get_btc_balance()); }},
      {"get_asset_balance", "POST", "/assetbalance",
       R"({"asset_id":"rgb:2JEUOrsc-J5WsXwS-aJmPEFZ-y0r1FxB-3mmt4l0-qnmyRBs"})",
       [](const Client& c) { return json_of(c->get_asset_balance(std::string(sample_asset_id))); }},
      {"list_node_assets", "POST", "/listassets", "{}", [](const Client& c) { return json_of(c->list_node_assets()); }},
      {"get_onchain_address", "POST", "/address", "{}",
       [](const Client& c) { return json_of(c->get_onchain_address()); }},
      {"init_wallet", "POST", "/init", R"({"password":"correct horse battery staple"})",
       [](const Client& c) { return json_of(c->init_wallet(std::string(sample_password))); }},
      {"unlock_wallet", "POST", "/unlock", R"({"password":"correct horse battery staple"})",
       [](const Client& c) { return json_of(c->unlock_wallet(std::string(sample_password))); }},
      {"lock_wallet", "POST", "/lock", "{}", [](const Client& c) { return json_of(c->lock_wallet()); }},
      {"decode_ln_invoice", "POST", "/decodelninvoice", R"({"invoice":"lnbcrt30u1pnexample0invoice"})",
       [](const Client& c) { return json_of(c->decode_ln_invoice(std::string(sample_invoice))); }},
      {"whitelist_trade", "POST", "/taker", R"({"swapstring":"30/BTC/10/rgb:2JEUOrsc/1735689600/abcdef"})",
       [](const Client& c) { return json_of(c->whitelist_trade(std::string(sample_swapstring))); }},
  };
  return operations;
}

inline const NodeOperation& node_operation(std::string_view name) {
  for (const NodeOperation& op : node_operations())
    if (op.name == name) return op;
  ADD_FAILURE() << "no node operation " << name;
  return node_operations().front();
}

// Every wait before a repeated try is recorded and replaced by no wait, so
// that retry tests neither sleep nor depend on time.
class RetryWaits {
 public:
  RetryWaits()
      : hooks_(http::testing::RetryHooks{{}, [this](std::chrono::milliseconds requested) {
                                           const std::lock_guard lock(mutex_);
                                           waits_.push_back(requested);
                                           return 0ms;
                                         }}) {}

  std::vector<std::chrono::milliseconds> waits() const {
    const std::lock_guard lock(mutex_);
    return waits_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::chrono::milliseconds> waits_;
  http::testing::ScopedRetryHooks hooks_;  // last: removed before the rest goes
};

// Proxy settings of the environment would send loopback traffic elsewhere.
class NodeTest : public ::testing::Test {
 protected:
  NodeTest() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY", "REQUEST_METHOD"}) {
      ::unsetenv(name);
    }
  }
};

}  // namespace zephlar::testing
