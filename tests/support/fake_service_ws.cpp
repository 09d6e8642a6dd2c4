#include "tests/support/fake_service_ws.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <chrono>
#include <string_view>
#include <tuple>
#include <utility>

#include "core/json/json.hpp"

namespace zephlar::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using namespace asio::experimental::awaitable_operators;

namespace {

constexpr auto nothrow = asio::as_tuple(asio::use_awaitable);
constexpr auto quote_interval = std::chrono::milliseconds(200);

struct StreamedPair {
  std::string_view id;
  std::string_view quote_asset_id;
};

// The pairs of the data set (fake_service_routes.hpp).
constexpr StreamedPair streamed_pairs[] = {
    {"BTC/USDT", fake_data::usdt_asset_id},
    {"BTC/XAUT", fake_data::xaut_asset_id},
};

struct Subscription {
  std::string quote_request;  // the body for the quote route
  std::string refusal;        // why there is none, when it is empty
};

// What a first message asks for.
Subscription read_subscription(std::string_view message) {
  auto parsed = json::read_json<json::JsonValue>(message, json::Source::response_body);
  const auto* object = parsed ? parsed->get_if<json::JsonValue::Object>() : nullptr;
  const json::JsonValue* pair = nullptr;
  if (object != nullptr) {
    const auto type = object->find("type");
    const auto data = object->find("data");
    const bool subscribe = type != object->end() && type->second.get_if<std::string>() != nullptr &&
                           *type->second.get_if<std::string>() == "subscribe";
    const auto* data_object = data == object->end() ? nullptr : data->second.get_if<json::JsonValue::Object>();
    if (subscribe && data_object != nullptr) {
      const auto id = data_object->find("pair_id");
      if (id != data_object->end()) pair = &id->second;
    }
  }
  const auto* pair_id = pair == nullptr ? nullptr : pair->get_if<std::string>();
  if (pair_id == nullptr) return {{}, "Expected {\"type\":\"subscribe\",\"data\":{\"pair_id\":...}}"};
  for (const StreamedPair& p : streamed_pairs) {
    if (p.id != *pair_id) continue;
    std::string body = R"({"from_asset":{"asset_id":")";
    body += fake_data::btc_asset_id;
    body += R"(","layer":"BTC_LN","amount":100000},"to_asset":{"asset_id":")";
    body += p.quote_asset_id;
    body += R"(","layer":"RGB_LN"}})";
    return {std::move(body), {}};
  }
  return {{}, "Unknown trading pair: " + *pair_id};
}

template <class Ws>
asio::awaitable<void> send_quotes(Ws& ws, DefaultRoutes& routes, const std::string& quote_request) {
  asio::steady_timer timer(ws.get_executor());
  for (;;) {
    const RouteAnswer quote = routes.answer("POST", "/api/v1/market/quote", {}, quote_request);
    const std::string message = R"({"type":"quote","data":)" + quote.body + "}";
    auto [ec, n] = co_await ws.async_write(asio::buffer(message), nothrow);
    if (ec) co_return;
    timer.expires_after(quote_interval);
    auto [waited] = co_await timer.async_wait(nothrow);
    if (waited) co_return;
  }
}

// Reads (answering pings and the close message) until the client closes or
// goes.
template <class Ws>
asio::awaitable<void> read_to_end(Ws& ws) {
  beast::flat_buffer buffer;
  for (;;) {
    buffer.clear();
    auto [ec, n] = co_await ws.async_read(buffer, nothrow);
    if (ec) co_return;
  }
}

template <class Stream>
asio::awaitable<void> serve_session(Stream& stream, const UpgradeRequest& upgrade, QuoteStreamShared& shared) {
  // The stream only borrows the connection, which stays its caller's.
  websocket::stream<Stream&> ws(stream);
  auto [ec] = co_await ws.async_accept(upgrade, nothrow);
  if (ec) co_return;
  beast::flat_buffer buffer;
  std::size_t n = 0;
  std::tie(ec, n) = co_await ws.async_read(buffer, nothrow);
  if (ec) co_return;
  std::string first = beast::buffers_to_string(buffer.data());
  const Subscription subscription = read_subscription(first);
  {
    const std::lock_guard lock(shared.mutex);
    shared.subscriptions.push_back(std::move(first));
  }

  ws.text(true);
  if (subscription.quote_request.empty()) {
    std::string message = R"({"type":"error","data":{"detail":)";
    json::Writer(message).string(subscription.refusal);
    message += "}}";
    std::tie(ec, n) = co_await ws.async_write(asio::buffer(message), nothrow);
    if (ec) co_return;
    const websocket::close_reason reason(websocket::close_code::policy_error);
    std::tie(ec) = co_await ws.async_close(reason, nothrow);
    co_return;
  }
  // Whichever ends first cancels the other: a client that closes stops the
  // quotes, a failed write stops the reading.
  auto sending = send_quotes(ws, shared.routes, subscription.quote_request);
  auto reading = read_to_end(ws);
  co_await (std::move(sending) || std::move(reading));
}

}  // namespace

std::optional<UpgradeRequest> quote_stream_upgrade(const RecordedRequest& request, unsigned version) {
  if (request.path() != "/ws") return std::nullopt;
  UpgradeRequest upgrade;
  upgrade.method_string(request.method);
  upgrade.target(request.target);
  upgrade.version(version);
  for (const auto& [name, value] : request.headers) upgrade.insert(name, value);
  if (!websocket::is_upgrade(upgrade)) return std::nullopt;
  return upgrade;
}

asio::awaitable<void> serve_quote_stream(tcp::socket& stream, const UpgradeRequest& upgrade,
                                         QuoteStreamShared& shared) {
  co_await serve_session(stream, upgrade, shared);
}

asio::awaitable<void> serve_quote_stream(asio::ssl::stream<tcp::socket>& stream, const UpgradeRequest& upgrade,
                                         QuoteStreamShared& shared) {
  co_await serve_session(stream, upgrade, shared);
}

}  // namespace zephlar::testing
