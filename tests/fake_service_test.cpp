// The fake service against a plain libcurl client, a raw socket client and
// a WebSocket client: default answers (each read through its record),
// scripting, recording, keep-alive, concurrency, every fault, TLS, the quote
// stream, the control endpoints and the stand-alone executable.
#include "tests/support/fake_service.hpp"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "core/json/json.hpp"
#include "tests/support/fake_service_routes.hpp"
#include "tests/support/type_registry.hpp"

namespace zephlar::testing {
namespace {

using namespace std::chrono_literals;
using Fault = ScriptedAnswer::Fault;
using Clock = std::chrono::steady_clock;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

const bool curl_ready = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();

// ---------------------------------------------------------------- clients

struct Reply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  std::vector<std::string> header_lines;

  bool has_header_line(std::string_view line) const {
    for (const auto& h : header_lines)
      if (h == line) return true;
    return false;
  }
};

struct CallOptions {
  std::vector<std::string> headers;
  const std::string* ca_pem = nullptr;  // trust this root instead of the system's
  long timeout_ms = 10'000;
};

std::size_t collect(char* data, std::size_t size, std::size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

std::size_t collect_header(char* data, std::size_t size, std::size_t n, void* out) {
  std::string line(data, size * n);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (!line.empty()) static_cast<std::vector<std::string>*>(out)->push_back(line);
  return size * n;
}

// One easy handle, reused for every call: its connection is kept alive.
class Client {
 public:
  Client() : curl_(curl_easy_init()) {}
  ~Client() { curl_easy_cleanup(curl_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  Reply call(const std::string& method, const std::string& url, const std::optional<std::string>& body = {},
             const CallOptions& options = {}) {
    Reply r;
    curl_easy_reset(curl_);
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, options.timeout_ms);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, collect_header);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &r.header_lines);
    if (method == "GET") {
      curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    } else {
      curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    if (body) {
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body->data());
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
    }
    curl_slist* headers = nullptr;
    if (body) headers = curl_slist_append(headers, "Content-Type: application/json");
    for (const auto& h : options.headers) headers = curl_slist_append(headers, h.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
    curl_blob blob{};
    if (options.ca_pem != nullptr) {
      blob.data = const_cast<char*>(options.ca_pem->data());
      blob.len = options.ca_pem->size();
      blob.flags = CURL_BLOB_COPY;
      curl_easy_setopt(curl_, CURLOPT_CAINFO_BLOB, &blob);
    }
    r.code = curl_easy_perform(curl_);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &r.status);
    curl_slist_free_all(headers);
    return r;
  }

  Reply get(const std::string& url, const CallOptions& options = {}) { return call("GET", url, std::nullopt, options); }
  Reply post(const std::string& url, const std::string& body, const CallOptions& options = {}) {
    return call("POST", url, body, options);
  }

 private:
  CURL* curl_;
};

// A TCP connection driven byte by byte, to see exactly what the server sends
// and how the connection ends.
class RawConnection {
 public:
  enum class End { open, closed, reset, other };

  explicit RawConnection(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~RawConnection() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return connected_; }

  void send(std::string_view data) {
    while (!data.empty()) {
      const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (n <= 0) return;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  // Reads until the connection ends or nothing arrives for `quiet`.
  End read_all(std::string& out, std::chrono::milliseconds quiet) {
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(quiet.count()));
      if (ready == 0) return End::open;
      char buf[4096];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n > 0) {
        out.append(buf, static_cast<std::size_t>(n));
        continue;
      }
      if (n == 0) return End::closed;
      return errno == ECONNRESET ? End::reset : End::other;
    }
  }

  // Reads one whole answer that carries a Content-Length.
  std::string read_answer() {
    std::string out;
    for (;;) {
      const auto head_end = out.find("\r\n\r\n");
      if (head_end != std::string::npos) {
        const auto cl = out.find("Content-Length: ");
        const std::size_t length = cl == std::string::npos ? 0 : std::stoul(out.substr(cl + 16));
        if (out.size() >= head_end + 4 + length) return out;
      }
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) return out;
      char buf[4096];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return out;
      out.append(buf, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string get_request(std::string_view path) {
  return "GET " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

ScriptedAnswer answer(int status, std::string body, Fault fault = Fault::none) {
  ScriptedAnswer a;
  a.status = status;
  a.body = std::move(body);
  a.fault = fault;
  return a;
}

// Reads `body` through the record called `type` and returns the JSON written
// back; a test failure when it does not read.
std::string decode(std::string_view type, const std::string& body) {
  const auto result = probe(type, body, json::Source::response_body);
  if (!result) {
    ADD_FAILURE() << "no readable type " << type;
    return {};
  }
  EXPECT_TRUE(result->ok) << type << ": " << result->text << "\nbody: " << body;
  return result->text;
}

json::JsonValue parse(const std::string& text) {
  auto v = json::read_json<json::JsonValue>(text, json::Source::response_body);
  EXPECT_TRUE(v.ok()) << text;
  return v.ok() ? std::move(v).value() : json::JsonValue();
}

const json::JsonValue& at(const json::JsonValue& v, std::string_view key) {
  static const json::JsonValue missing;
  const auto* obj = v.get_if<json::JsonValue::Object>();
  if (obj == nullptr) return missing;
  auto it = obj->find(key);
  return it == obj->end() ? missing : it->second;
}

std::int64_t integer(const json::JsonValue& v) {
  if (const auto* i = v.get_if<std::int64_t>()) return *i;
  if (const auto* u = v.get_if<std::uint64_t>()) return static_cast<std::int64_t>(*u);
  ADD_FAILURE() << "not an integer: " << json::to_json(v);
  return 0;
}

std::string text(const json::JsonValue& v) {
  if (const auto* s = v.get_if<std::string>()) return *s;
  ADD_FAILURE() << "not a string: " << json::to_json(v);
  return {};
}

std::size_t size(const json::JsonValue& v) {
  if (const auto* a = v.get_if<json::JsonValue::Array>()) return a->size();
  ADD_FAILURE() << "not an array: " << json::to_json(v);
  return 0;
}

// ---------------------------------------------------------------- default routes

struct Endpoint {
  const char* method;
  const char* target;
  const char* body;    // nullptr: none
  const char* type;    // the record the answer reads as ("value": any JSON)
  const char* expect;  // a piece of the JSON written back, proving the members were read
};

const std::string usdt_id(fake_data::usdt_asset_id);

const Endpoint endpoints[] = {
    {"GET", "/api/v1/market/assets", nullptr, "AssetsResponse", "\"ticker\":\"XAUT\""},
    {"GET", "/api/v1/market/pairs", nullptr, "TradingPairsResponse", "\"quote\":{\"ticker\":\"USDT\""},
    {"POST", "/api/v1/market/quote",
     R"({"from_asset":{"asset_id":"BTC","layer":"BTC_LN","amount":100000},"to_asset":{"asset_id":"USDT","layer":"RGB_LN"}})",
     "PairQuoteResponse", "\"layer\":\"RGB_LN\""},
    {"POST", "/api/v1/swaps/orders",
     R"({"rfq_id":"r1","from_asset":{"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_L1","amount":100000,"precision":8},)"
     R"("to_asset":{"asset_id":"USDT","name":"Tether USD","ticker":"USDT","layer":"RGB_LN","amount":94000000,"precision":6},)"
     R"("receiver_address":{"address":"lnbcrt1","format":"BOLT11"}})",
     "CreateSwapOrderResponse", "\"format\":\"BTC_ADDRESS\""},
    {"POST", "/api/v1/swaps/orders/status", R"({"order_id":"o-1"})", "SwapOrderStatusResponse", "\"order_id\":\"o-1\""},
    {"POST", "/api/v1/swaps/orders/rate_decision", R"({"order_id":"o-1","accept_new_rate":false})",
     "SwapOrderRateDecisionResponse", "\"decision_accepted\":true"},
    {"GET", "/api/v1/swaps/orders/history?limit=10&skip=0", nullptr, "OrderHistoryResponse", "\"total\":5"},
    {"GET", "/api/v1/swaps/orders/history?limit=1&skip=1&status=FILLED", nullptr, "OrderHistoryResponse",
     "\"id\":\"ord_hist_0001\""},
    {"GET", "/api/v1/swaps/orders/analytics", nullptr, "OrderStatsResponse", "\"filled_orders_count\":2"},
    {"GET", "/api/v1/swaps/nodeinfo", nullptr, "SwapNodeInfoResponse", "\"block_height\":1200"},
    {"POST", "/api/v1/swaps/init",
     R"({"rfq_id":"r1","from_asset":"BTC","from_amount":1000,"to_asset":"USDT","to_amount":940000})", "SwapResponse",
     "\"payment_hash\":"},
    {"POST", "/api/v1/swaps/taker", R"({"swapstring":"s"})", "value", "{}"},
    {"POST", "/api/v1/swaps/execute", R"({"swapstring":"s","taker_pubkey":"k","payment_hash":"h"})",
     "ConfirmSwapResponse", "\"message\":"},
    {"POST", "/api/v1/swaps/atomic/status", R"({"payment_hash":"h1"})", "SwapStatusResponse",
     "\"payment_hash\":\"h1\",\"status\":\"Succeeded\""},
    {"GET", "/api/v1/lsps1/get_info", nullptr, "GetInfoResponseModel", "\"ticker\":\"XAUT\""},
    {"GET", "/api/v1/lsps1/network_info", nullptr, "NetworkInfoResponse", "{\"network\":\"Regtest\",\"height\":1200}"},
    {"POST", "/api/v1/lsps1/estimate_fees", R"({"channel_size":1000000})", "ChannelFees", "\"total_fee\":12500"},
    {"POST", "/api/v1/lsps1/create_order",
     R"({"client_pubkey":"02ab","lsp_balance_sat":1000000,"client_balance_sat":0,"required_channel_confirmations":0,)"
     R"("funding_confirms_within_blocks":6,"channel_expiry_blocks":4320,"asset_id":"rgb:x","lsp_asset_amount":5})",
     "ChannelOrderResponse", "\"order_state\":\"CREATED\""},
    {"POST", "/api/v1/lsps1/get_order", R"({"order_id":"lsp-1"})", "ChannelOrderResponse", "\"order_id\":\"lsp-1\""},
    {"POST", "/api/v1/lsps1/retry_delivery", R"({"order_id":"lsp-1"})", "value", "\"order_id\":\"lsp-1\""},
    {"GET", "/nodeinfo", nullptr, "RgbNodeInfo", "\"num_channels\":2,\"num_peers\":2"},
    {"GET", "/listpeers", nullptr, "ListPeersResponse", "\"address\":\"127.0.0.1:9735\",\"connected\":true"},
    {"POST", "/connectpeer", R"({"peer_pubkey_and_addr":"02ab@127.0.0.1:9736"})", "value", "{}"},
    {"GET", "/listchannels", nullptr, "ListChannelsResponse", "\"capacity\":2000000"},
    {"GET", "/listpayments", nullptr, "ListPaymentsResponse", "\"direction\":\"Inbound\""},
    {"POST", "/btcbalance", "{}", "BtcBalance", "{\"confirmed\":1500000,\"unconfirmed\":25000,\"total\":1525000}"},
    {"POST", "/assetbalance", nullptr, "RgbAssetBalance", "\"settled\":250000000"},  // body: see below
    {"POST", "/listassets", "{}", "ListAssetsResponse", "\"spendable\":250000000"},
    {"POST", "/address", "{}", "AddressResponse", "\"address\":\"bcrt1q"},
    {"POST", "/decodelninvoice", R"({"invoice":"lnbcrt30u1p"})", "value", "\"amt_msat\":3000000"},
    {"POST", "/taker", R"({"swapstring":"s"})", "value", "{}"},
    {"POST", "/init", R"({"password":"secret"})", "value", "\"mnemonic\":"},
    {"POST", "/unlock", R"({"password":"secret"})", "value", "{}"},
    {"POST", "/lock", "{}", "value", "{}"},
};

TEST(FakeServiceDefaults, EveryEndpointAnswersWithJsonThatReadsAsItsRecord) {
  FakeService service;
  Client client;
  for (const Endpoint& e : endpoints) {
    SCOPED_TRACE(std::string(e.method) + " " + e.target);
    std::optional<std::string> body;
    if (e.body != nullptr) body = e.body;
    if (std::string_view(e.target) == "/assetbalance") body = R"({"asset_id":")" + usdt_id + "\"}";
    const Reply r = client.call(e.method, service.base_url() + e.target, body);
    ASSERT_EQ(r.code, CURLE_OK);
    EXPECT_EQ(r.status, 200) << r.body;
    EXPECT_TRUE(r.has_header_line("Content-Type: application/json"));
    const std::string written = decode(e.type, r.body);
    EXPECT_NE(written.find(e.expect), std::string::npos) << written;
  }
  // Every endpoint of the service and of the node is in the table above.
  EXPECT_EQ(service.requests().size(), std::size(endpoints));
}

TEST(FakeServiceDefaults, UnknownPathsAndWrongMethods) {
  FakeService service;
  Client client;
  struct Case {
    const char* method;
    const char* target;
    long status;
    const char* allow;
  };
  for (const Case& c : {Case{"GET", "/api/v1/market/nothing", 404, nullptr}, Case{"GET", "/", 404, nullptr},
                        Case{"POST", "/api/v1/market/pairs", 405, "Allow: GET"},
                        Case{"GET", "/api/v1/market/quote", 405, "Allow: POST"},
                        Case{"GET", "/btcbalance", 405, "Allow: POST"}, Case{"POST", "/nodeinfo", 405, "Allow: GET"}}) {
    SCOPED_TRACE(std::string(c.method) + " " + c.target);
    const Reply r = client.call(c.method, service.base_url() + c.target,
                                std::string(c.method) == "POST" ? std::optional<std::string>("{}") : std::nullopt);
    ASSERT_EQ(r.code, CURLE_OK);
    EXPECT_EQ(r.status, c.status);
    const auto detail = text(at(parse(r.body), "detail"));
    EXPECT_FALSE(detail.empty());
    if (c.allow != nullptr) {
      EXPECT_TRUE(r.has_header_line(c.allow));
    }
  }
}

TEST(FakeServiceDefaults, BodiesOfTheWrongShapeAreRefused) {
  FakeService service;
  Client client;
  struct Case {
    const char* target;
    const char* body;
    long status;
  };
  const Case cases[] = {
      {"/api/v1/market/quote", "not json", 422},
      {"/api/v1/market/quote", R"({"from_asset":{"asset_id":"BTC","layer":"BTC_LN"}})", 422},
      // Both amounts, and neither.
      {"/api/v1/market/quote",
       R"({"from_asset":{"asset_id":"BTC","layer":"BTC_LN","amount":1},"to_asset":{"asset_id":"USDT","layer":"RGB_LN","amount":1}})",
       422},
      {"/api/v1/market/quote",
       R"({"from_asset":{"asset_id":"BTC","layer":"BTC_LN"},"to_asset":{"asset_id":"USDT","layer":"RGB_LN","amount":null}})",
       422},
      {"/api/v1/market/quote",
       R"({"from_asset":{"asset_id":"BTC","layer":"btc_ln","amount":1},"to_asset":{"asset_id":"USDT","layer":"RGB_LN"}})",
       422},
      {"/api/v1/market/quote",
       R"({"from_asset":{"asset_id":"DOGE","layer":"BTC_LN","amount":1},"to_asset":{"asset_id":"USDT","layer":"RGB_LN"}})",
       400},
      {"/api/v1/swaps/orders/status", R"({"order_id":7})", 422},
      {"/api/v1/swaps/init", R"({"rfq_id":"r","from_asset":"BTC","from_amount":"1","to_asset":"USDT","to_amount":1})",
       422},
      {"/api/v1/lsps1/estimate_fees", R"({"channel_size":1.5})", 422},
      {"/unlock", R"({"pass":"x"})", 400},
      {"/assetbalance", "[]", 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " " + c.body);
    const Reply r = client.post(service.base_url() + c.target, c.body);
    ASSERT_EQ(r.code, CURLE_OK);
    EXPECT_EQ(r.status, c.status) << r.body;
    EXPECT_TRUE(parse(r.body).is<json::JsonValue::Object>());
  }
}

TEST(FakeServiceDefaults, QuoteLegsEchoTheRequest) {
  FakeService service;
  Client client;
  // From amount given, asset ids in any case and by RGB id.
  Reply r =
      client.post(service.base_url() + "/api/v1/market/quote",
                  R"({"from_asset":{"asset_id":"btc","layer":"BTC_LN","amount":250000},"to_asset":{"asset_id":")" +
                      usdt_id + R"(","layer":"RGB_LN"}})");
  ASSERT_EQ(r.status, 200) << r.body;
  decode("PairQuoteResponse", r.body);
  json::JsonValue q = parse(r.body);
  EXPECT_EQ(text(at(at(q, "from_asset"), "asset_id")), "btc");
  EXPECT_EQ(text(at(at(q, "from_asset"), "ticker")), "BTC");
  EXPECT_EQ(text(at(at(q, "from_asset"), "layer")), "BTC_LN");
  EXPECT_EQ(integer(at(at(q, "from_asset"), "amount")), 250000);
  EXPECT_EQ(integer(at(at(q, "from_asset"), "precision")), 8);
  EXPECT_EQ(text(at(at(q, "to_asset"), "asset_id")), usdt_id);
  EXPECT_EQ(text(at(at(q, "to_asset"), "ticker")), "USDT");
  EXPECT_EQ(integer(at(at(q, "to_asset"), "precision")), 6);
  // 0.0025 BTC at 95000 USD is 237.5 USDT, less the fee.
  const std::int64_t to_amount = integer(at(at(q, "to_asset"), "amount"));
  EXPECT_GT(to_amount, 230'000'000);
  EXPECT_LT(to_amount, 237'500'000);
  EXPECT_EQ(text(at(at(q, "fee"), "fee_asset")), "BTC");
  EXPECT_EQ(integer(at(at(q, "fee"), "final_fee")),
            integer(at(at(q, "fee"), "base_fee")) + integer(at(at(q, "fee"), "variable_fee")));
  EXPECT_GT(integer(at(q, "expires_at")), integer(at(q, "timestamp")));

  // To amount given: it is echoed and the from amount follows.
  r = client.post(
      service.base_url() + "/api/v1/market/quote",
      R"({"from_asset":{"asset_id":"BTC","layer":"BTC_L1"},"to_asset":{"asset_id":"XAUT","layer":"RGB_L1","amount":1000000}})");
  ASSERT_EQ(r.status, 200) << r.body;
  q = parse(r.body);
  EXPECT_EQ(integer(at(at(q, "to_asset"), "amount")), 1'000'000);
  const std::int64_t from_amount = integer(at(at(q, "from_asset"), "amount"));
  // One ounce of gold at 2650 USD is about 2.79 million sats, plus the fee.
  EXPECT_GT(from_amount, 2'789'000);
  EXPECT_LT(from_amount, 2'850'000);

  // Two quotes never share an rfq_id.
  const Reply again = client.post(
      service.base_url() + "/api/v1/market/quote",
      R"({"from_asset":{"asset_id":"BTC","layer":"BTC_L1"},"to_asset":{"asset_id":"XAUT","layer":"RGB_L1","amount":1000000}})");
  EXPECT_NE(text(at(parse(again.body), "rfq_id")), text(at(q, "rfq_id")));
}

TEST(FakeServiceDefaults, LightningLegsGiveTheBestQuote) {
  FakeService service;
  Client client;
  auto to_amount = [&](const char* from_layer, const char* to_layer) {
    const Reply r =
        client.post(service.base_url() + "/api/v1/market/quote",
                    std::string(R"({"from_asset":{"asset_id":"BTC","layer":")") + from_layer +
                        R"(","amount":100000},"to_asset":{"asset_id":"USDT","layer":")" + to_layer + R"("}})");
    EXPECT_EQ(r.status, 200) << r.body;
    return integer(at(at(parse(r.body), "to_asset"), "amount"));
  };
  const std::int64_t best = to_amount("BTC_LN", "RGB_LN");
  for (const char* from : {"BTC_L1", "BTC_SPARK", "BTC_ARKADE"})
    for (const char* to : {"RGB_L1", "RGB_LN"}) EXPECT_LT(to_amount(from, to), best) << from << " -> " << to;
  EXPECT_LT(to_amount("BTC_LN", "RGB_L1"), best);
}

TEST(FakeServiceDefaults, MarketListsAgree) {
  FakeService service;
  Client client;
  const json::JsonValue assets = parse(client.get(service.base_url() + "/api/v1/market/assets").body);
  const json::JsonValue pairs = parse(client.get(service.base_url() + "/api/v1/market/pairs").body);
  ASSERT_EQ(size(at(assets, "assets")), 3u);
  EXPECT_EQ(integer(at(assets, "total")), 3);
  std::vector<std::string> tickers;
  for (const auto& a : *at(assets, "assets").get_if<json::JsonValue::Array>()) {
    tickers.push_back(text(at(a, "ticker")));
    EXPECT_GE(size(at(a, "supported_layers")), 2u);
    EXPECT_EQ(at(a, "is_active"), json::JsonValue(true));
  }
  EXPECT_EQ(tickers, (std::vector<std::string>{"BTC", "USDT", "XAUT"}));
  ASSERT_EQ(size(at(pairs, "pairs")), 2u);
  std::vector<std::string> pair_tickers;
  for (const auto& p : *at(pairs, "pairs").get_if<json::JsonValue::Array>())
    pair_tickers.push_back(text(at(at(p, "base"), "ticker")) + "/" + text(at(at(p, "quote"), "ticker")));
  EXPECT_EQ(pair_tickers, (std::vector<std::string>{"BTC/USDT", "BTC/XAUT"}));
}

TEST(FakeServiceDefaults, HistoryPagesAndFiltersAgreeWithAnalytics) {
  FakeService service;
  Client client;
  auto page = [&](const std::string& query) {
    const Reply r = client.get(service.base_url() + "/api/v1/swaps/orders/history" + query);
    EXPECT_EQ(r.status, 200) << r.body;
    return parse(r.body);
  };
  struct Case {
    const char* query;
    std::size_t items;
    std::int64_t total;
    std::int64_t current_page;
    std::int64_t total_pages;
    bool has_next;
    bool has_previous;
  };
  for (const Case& c :
       {Case{"?limit=2&skip=0", 2, 5, 1, 3, true, false}, Case{"?limit=2&skip=4", 1, 5, 3, 3, false, true},
        Case{"?limit=10&skip=0&status=FILLED", 2, 2, 1, 1, false, false},
        Case{"?limit=10&skip=0&status=", 0, 0, 1, 0, false, false}, Case{"?limit=10&skip=10", 0, 5, 2, 1, false, true},
        Case{"", 5, 5, 1, 1, false, false}}) {
    SCOPED_TRACE(c.query);
    const json::JsonValue h = page(c.query);
    EXPECT_EQ(size(at(h, "data")), c.items);
    const json::JsonValue& p = at(h, "pagination");
    EXPECT_EQ(integer(at(p, "total")), c.total);
    EXPECT_EQ(integer(at(p, "current_page")), c.current_page);
    EXPECT_EQ(integer(at(p, "total_pages")), c.total_pages);
    EXPECT_EQ(at(p, "has_next"), json::JsonValue(c.has_next));
    EXPECT_EQ(at(p, "has_previous"), json::JsonValue(c.has_previous));
  }
  EXPECT_EQ(client.get(service.base_url() + "/api/v1/swaps/orders/history?limit=x&skip=0").status, 422);

  const json::JsonValue stats = parse(client.get(service.base_url() + "/api/v1/swaps/orders/analytics").body);
  std::int64_t counted = 0;
  for (const auto& [status, n] : *at(stats, "status_counts").get_if<json::JsonValue::Object>()) {
    EXPECT_EQ(integer(at(at(page("?limit=10&skip=0&status=" + status), "pagination"), "total")), integer(n)) << status;
    counted += integer(n);
  }
  EXPECT_EQ(counted, 5);
}

TEST(FakeServiceDefaults, CreatedThingsAreReadBack) {
  FakeService service;
  Client client;
  const std::string base = service.base_url();

  // A swap order keeps its legs and its deposit address.
  const std::string leg_from =
      R"({"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_LN","amount":100000,"precision":8})";
  const std::string leg_to =
      R"({"asset_id":"USDT","name":"Tether USD","ticker":"USDT","layer":"RGB_LN","amount":94000000,"precision":6})";
  Reply r = client.post(base + "/api/v1/swaps/orders",
                        R"({"rfq_id":"rfq-7","from_asset":)" + leg_from + R"(,"to_asset":)" + leg_to +
                            R"(,"receiver_address":{"address":"lnbcrt9","format":"BOLT11"},"email":null})");
  ASSERT_EQ(r.status, 200) << r.body;
  const json::JsonValue created = parse(r.body);
  EXPECT_EQ(text(at(created, "status")), "PENDING_PAYMENT");
  const std::string order_id = text(at(created, "id"));
  r = client.post(base + "/api/v1/swaps/orders/status", R"({"order_id":")" + order_id + "\"}");
  decode("SwapOrderStatusResponse", r.body);
  const json::JsonValue order = at(parse(r.body), "order");
  EXPECT_EQ(text(at(order, "rfq_id")), "rfq-7");
  EXPECT_EQ(json::to_json(at(order, "from_asset")), json::to_json(parse(leg_from)));
  EXPECT_EQ(json::to_json(at(order, "to_asset")), json::to_json(parse(leg_to)));
  EXPECT_EQ(json::to_json(at(order, "deposit_address")), json::to_json(at(created, "deposit_address")));
  EXPECT_EQ(text(at(at(order, "payout_address"), "address")), "lnbcrt9");
  EXPECT_EQ(text(at(order, "status")), "PENDING_PAYMENT");
  // An id never created reads as a filled order.
  r = client.post(base + "/api/v1/swaps/orders/status", R"({"order_id":"elsewhere"})");
  EXPECT_EQ(text(at(parse(r.body), "status")), "FILLED");

  // An atomic swap waits until it is executed.
  r = client.post(base + "/api/v1/swaps/init",
                  R"({"rfq_id":"rfq-7","from_asset":"BTC","from_amount":1000,"to_asset":"USDT","to_amount":940000})");
  const std::string hash = text(at(parse(r.body), "payment_hash"));
  EXPECT_EQ(hash.size(), 64u);
  EXPECT_NE(text(at(parse(r.body), "swapstring")).find(hash), std::string::npos);
  auto swap_status = [&] {
    const Reply s = client.post(base + "/api/v1/swaps/atomic/status", R"({"payment_hash":")" + hash + "\"}");
    decode("SwapStatusResponse", s.body);
    return at(parse(s.body), "swap");
  };
  EXPECT_EQ(text(at(swap_status(), "status")), "Waiting");
  EXPECT_EQ(integer(at(swap_status(), "qty_to")), 940000);
  r = client.post(base + "/api/v1/swaps/execute",
                  R"({"swapstring":"s","taker_pubkey":"k","payment_hash":")" + hash + "\"}");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(text(at(swap_status(), "status")), "Succeeded");

  // An LSPS1 order reads back exactly as it was created.
  r = client.post(
      base + "/api/v1/lsps1/create_order",
      R"({"client_pubkey":"02cd","lsp_balance_sat":500000,"client_balance_sat":10000,)"
      R"("required_channel_confirmations":1,"funding_confirms_within_blocks":6,"channel_expiry_blocks":144,)"
      R"("token":null,"announce_channel":true})");
  ASSERT_EQ(r.status, 200) << r.body;
  const std::string lsp_order = r.body;
  const std::string lsp_id = text(at(parse(lsp_order), "order_id"));
  EXPECT_EQ(client.post(base + "/api/v1/lsps1/get_order", R"({"order_id":")" + lsp_id + "\"}").body, lsp_order);
  const std::string written = decode("ChannelOrderResponse", lsp_order);
  EXPECT_NE(written.find("\"token\":null"), std::string::npos);
  EXPECT_NE(written.find("\"announce_channel\":true"), std::string::npos);
  EXPECT_NE(written.find("\"asset_delivery_status\":\"NOT_REQUIRED\""), std::string::npos);

  // reset() forgets them.
  service.reset();
  r = client.post(base + "/api/v1/swaps/orders/status", R"({"order_id":")" + order_id + "\"}");
  EXPECT_EQ(text(at(parse(r.body), "status")), "FILLED");
  EXPECT_EQ(text(at(swap_status(), "status")), "Succeeded");
}

// ---------------------------------------------------------------- scripting

TEST(FakeServiceScript, AnswersAreUsedInOrderThenTheDefaultRoute) {
  FakeService service;
  Client client;
  ScriptedAnswer second = answer(200, R"({"pairs":[],"total":0,"limit":0,"offset":0,"timestamp":0})");
  second.headers = {{"X-Trace", "two"}, {"Content-Type", "application/vnd.test+json"}};
  service.script("GET", "/api/v1/market/pairs", {answer(503, "busy"), std::move(second)});
  const std::string url = service.base_url() + "/api/v1/market/pairs";

  Reply r = client.get(url);
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(r.body, "busy");
  EXPECT_TRUE(r.has_header_line("Content-Type: application/json"));
  EXPECT_TRUE(r.has_header_line("HTTP/1.1 503 Service Unavailable"));

  r = client.get(url);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, R"({"pairs":[],"total":0,"limit":0,"offset":0,"timestamp":0})");
  EXPECT_TRUE(r.has_header_line("X-Trace: two"));
  EXPECT_TRUE(r.has_header_line("Content-Type: application/vnd.test+json"));
  EXPECT_FALSE(r.has_header_line("Content-Type: application/json"));

  r = client.get(url);
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.body.find("BTC-USDT"), std::string::npos);
  EXPECT_EQ(client.get(url).body, r.body);
}

TEST(FakeServiceScript, MatchesMethodAndPathWithoutQuery) {
  FakeService service;
  Client client;
  service.script("GET", "/api/v1/swaps/orders/history", {answer(429, "slow down")});
  service.script("POST", "/api/v1/market/pairs", {answer(418, "teapot")});
  // Another path and another method are not affected.
  EXPECT_EQ(client.get(service.base_url() + "/api/v1/market/pairs").status, 200);
  EXPECT_EQ(client.get(service.base_url() + "/api/v1/swaps/orders/analytics").status, 200);
  const Reply r = client.get(service.base_url() + "/api/v1/swaps/orders/history?limit=5&skip=0&status=FILLED");
  EXPECT_EQ(r.status, 429);
  EXPECT_EQ(r.body, "slow down");
  EXPECT_TRUE(r.has_header_line("HTTP/1.1 429 Too Many Requests"));
  const Reply teapot = client.post(service.base_url() + "/api/v1/market/pairs", "{}");
  EXPECT_EQ(teapot.status, 418);
  EXPECT_EQ(teapot.body, "teapot");
}

TEST(FakeServiceScript, LaterScriptsQueueBehindEarlierOnes) {
  FakeService service;
  Client client;
  service.script("POST", "/lock", {answer(500, "a")});
  service.script("POST", "/lock", {answer(501, "b"), answer(502, "c")});
  std::vector<std::string> bodies;
  for (int i = 0; i < 4; ++i) bodies.push_back(client.post(service.base_url() + "/lock", "{}").body);
  EXPECT_EQ(bodies, (std::vector<std::string>{"a", "b", "c", "{}"}));
}

TEST(FakeServiceScript, StatusLinesAndBodiesOfUnusualStatuses) {
  FakeService service;
  struct Case {
    int status;
    const char* status_line;
    bool body;
  };
  for (const Case& c : {Case{204, "HTTP/1.1 204 No Content", false}, Case{299, "HTTP/1.1 299 Unknown", true},
                        Case{302, "HTTP/1.1 302 Found", true}, Case{201, "HTTP/1.1 201 Created", true}}) {
    SCOPED_TRACE(c.status);
    service.script("GET", "/x", {answer(c.status, "{}")});
    RawConnection conn(service.port());
    conn.send(get_request("/x"));
    const std::string reply = conn.read_answer();
    EXPECT_EQ(reply.substr(0, reply.find("\r\n")), c.status_line);
    EXPECT_EQ(reply.find("Content-Length") != std::string::npos, c.body) << reply;
    EXPECT_EQ(reply.size() >= 2 && reply.substr(reply.size() - 2) == "{}", c.body) << reply;
  }
}

TEST(FakeServiceScript, DelayHoldsTheStatusLine) {
  FakeService service;
  Client client;
  ScriptedAnswer slow = answer(200, "{}");
  slow.delay = 300ms;
  service.script("GET", "/nodeinfo", {slow});
  const auto start = Clock::now();
  const Reply r = client.get(service.base_url() + "/nodeinfo");
  EXPECT_EQ(r.status, 200);
  EXPECT_GE(Clock::now() - start, 300ms);
  // The request is recorded before the answer is sent.
  EXPECT_EQ(service.requests().size(), 1u);
}

// ---------------------------------------------------------------- recording

TEST(FakeServiceRecording, RecordsMethodTargetHeadersAndBodyInOrder) {
  FakeService service;
  Client client;
  CallOptions options;
  options.headers = {"X-First: 1", "x-second: two words", "X-First: again"};
  client.get(service.base_url() + "/api/v1/swaps/orders/history?limit=10&skip=0&status=PAID", options);
  const std::string body = "{\"order_id\":\"\xff\x01\"}";
  client.post(service.base_url() + "/api/v1/swaps/orders/status", body, options);

  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/api/v1/swaps/orders/history?limit=10&skip=0&status=PAID");
  EXPECT_EQ(requests[0].path(), "/api/v1/swaps/orders/history");
  EXPECT_EQ(requests[0].body, "");
  EXPECT_FALSE(requests[0].header("Content-Type"));
  EXPECT_FALSE(requests[0].header("Content-Length"));
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].target, "/api/v1/swaps/orders/status");
  EXPECT_EQ(requests[1].body, body);
  EXPECT_EQ(requests[1].header("content-type"), "application/json");
  EXPECT_EQ(requests[1].header("CONTENT-LENGTH"), std::to_string(body.size()));

  // Headers keep their order, their spelling and their repeats.
  std::vector<std::pair<std::string, std::string>> custom;
  for (const auto& h : requests[1].headers)
    if (h.first[0] == 'X' || h.first[0] == 'x') custom.push_back(h);
  EXPECT_EQ(custom, (std::vector<std::pair<std::string, std::string>>{
                        {"X-First", "1"}, {"x-second", "two words"}, {"X-First", "again"}}));
  EXPECT_EQ(requests[1].header("x-first"), "1");
  EXPECT_EQ(requests[1].header("X-SECOND"), "two words");
  EXPECT_EQ(requests[1].header("Host"), "127.0.0.1:" + std::to_string(service.port()));
  EXPECT_FALSE(requests[1].header("X-Third"));

  service.clear_requests();
  EXPECT_TRUE(service.requests().empty());
  client.get(service.base_url() + "/nodeinfo");
  EXPECT_EQ(service.requests().size(), 1u);
}

TEST(FakeServiceRecording, ChunkedAndExpectContinueBodiesAreRecordedWhole) {
  FakeService service;
  {
    RawConnection conn(service.port());
    conn.send(
        "POST /lock HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n3\r\n{\"a\r\n4\r\n\":1}\r\n0\r\n\r\n");
    EXPECT_NE(conn.read_answer().find("HTTP/1.1 200 OK"), std::string::npos);
  }
  {
    // The client waits for "100 Continue" before it sends the body.
    RawConnection conn(service.port());
    conn.send("POST /unlock HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 16\r\n\r\n");
    std::string interim;
    EXPECT_EQ(conn.read_all(interim, 500ms), RawConnection::End::open);
    EXPECT_EQ(interim, "HTTP/1.1 100 Continue\r\n\r\n");
    conn.send(R"({"password":"p"})");
    EXPECT_NE(conn.read_answer().find("HTTP/1.1 200 OK"), std::string::npos);
  }
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, "{\"a\":1}");
  EXPECT_EQ(requests[1].body, R"({"password":"p"})");
}

TEST(FakeServiceRecording, MalformedRequestsGetA400AndAreNotRecorded) {
  FakeService service;
  RawConnection conn(service.port());
  conn.send("NOT HTTP AT ALL\r\n\r\n");
  std::string reply;
  EXPECT_EQ(conn.read_all(reply, 2000ms), RawConnection::End::closed);
  EXPECT_EQ(reply.substr(0, 24), "HTTP/1.1 400 Bad Request");
  EXPECT_TRUE(service.requests().empty());
}

// ---------------------------------------------------------------- connections

TEST(FakeServiceConnections, KeepAliveServesManyRequestsOnOneConnection) {
  FakeService service;
  Client client;
  for (int i = 0; i < 200; ++i) {
    const Reply r = i % 2 == 0 ? client.get(service.base_url() + "/api/v1/market/pairs")
                               : client.post(service.base_url() + "/btcbalance", "{}");
    ASSERT_EQ(r.status, 200);
  }
  EXPECT_EQ(service.connections_accepted(), 1u);
  EXPECT_EQ(service.requests().size(), 200u);

  // "Connection: close" from the client, or in a scripted answer, ends it.
  RawConnection conn(service.port());
  conn.send("GET /nodeinfo HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
  std::string reply;
  EXPECT_EQ(conn.read_all(reply, 2000ms), RawConnection::End::closed);
  EXPECT_NE(reply.find("Connection: close"), std::string::npos);
  ScriptedAnswer closing = answer(200, "{}");
  closing.headers = {{"Connection", "close"}};
  service.script("GET", "/nodeinfo", {closing});
  client.get(service.base_url() + "/nodeinfo");
  client.get(service.base_url() + "/nodeinfo");
  // The first connection, the raw one, and the one after the scripted close.
  EXPECT_EQ(service.connections_accepted(), 3u);
}

TEST(FakeServiceConnections, ConcurrentClientsAreServedAndCounted) {
  FakeService service;
  constexpr int clients = 32;
  constexpr int calls = 40;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < clients; ++t)
    threads.emplace_back([&, t] {
      Client client;
      for (int i = 0; i < calls; ++i) {
        const Reply r = client.post(service.base_url() + "/api/v1/swaps/orders/status",
                                    R"({"order_id":"t)" + std::to_string(t) + "-" + std::to_string(i) + "\"}");
        if (r.code == CURLE_OK && r.status == 200 &&
            r.body.find("\"order_id\":\"t" + std::to_string(t) + "-" + std::to_string(i) + "\"") != std::string::npos)
          ++good;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), clients * calls);
  EXPECT_EQ(service.requests().size(), static_cast<std::size_t>(clients * calls));
  EXPECT_EQ(service.connections_accepted(), static_cast<std::size_t>(clients));
}

TEST(FakeServiceConnections, PipelinedRequestsAreAnsweredInOrder) {
  FakeService service;
  service.script("GET", "/a", {answer(200, "first")});
  service.script("GET", "/b", {answer(200, "second")});
  RawConnection conn(service.port());
  conn.send(get_request("/a") + get_request("/b"));
  std::string replies;
  conn.read_all(replies, 500ms);
  const auto first = replies.find("first");
  const auto second = replies.find("second");
  ASSERT_NE(first, std::string::npos) << replies;
  ASSERT_NE(second, std::string::npos) << replies;
  EXPECT_LT(first, second);
}

// ---------------------------------------------------------------- faults

TEST(FakeServiceFaults, ResetBeforeHeadersSendsNothingAndResets) {
  FakeService service;
  service.script("GET", "/listpeers", {answer(200, R"({"peers":[]})", Fault::reset_before_headers)});
  RawConnection conn(service.port());
  conn.send(get_request("/listpeers"));
  std::string received;
  EXPECT_EQ(conn.read_all(received, 5000ms), RawConnection::End::reset);
  EXPECT_EQ(received, "");
  EXPECT_EQ(service.requests().size(), 1u);

  Client client;
  const Reply after = client.get(service.base_url() + "/listpeers");
  EXPECT_EQ(after.status, 200) << "the default route answers once the script is used up";
}

TEST(FakeServiceFaults, ResetMidBodySendsTheFullLengthAndHalfTheBody) {
  FakeService service;
  const std::string body = R"({"pairs":[],"total":0,"limit":0,"offset":0,"timestamp":1})";  // 58 bytes
  service.script("GET", "/api/v1/market/pairs", {answer(200, body, Fault::reset_mid_body)});
  RawConnection conn(service.port());
  conn.send(get_request("/api/v1/market/pairs"));
  std::string received;
  EXPECT_EQ(conn.read_all(received, 5000ms), RawConnection::End::reset);
  const auto head_end = received.find("\r\n\r\n");
  ASSERT_NE(head_end, std::string::npos) << received;
  const std::string head = received.substr(0, head_end);
  EXPECT_EQ(head.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_NE(head.find("Content-Length: " + std::to_string(body.size())), std::string::npos);
  EXPECT_EQ(received.substr(head_end + 4), body.substr(0, body.size() / 2));
}

TEST(FakeServiceFaults, StallBodySendsHalfTheBodyThenNothing) {
  FakeService service;
  const std::string body = R"({"address":"bcrt1qstalled"})";
  service.script("POST", "/address", {answer(200, body, Fault::stall_body)});
  RawConnection conn(service.port());
  conn.send("POST /address HTTP/1.1\r\nHost: h\r\nContent-Length: 2\r\n\r\n{}");
  std::string received;
  EXPECT_EQ(conn.read_all(received, 700ms), RawConnection::End::open);
  const auto head_end = received.find("\r\n\r\n");
  ASSERT_NE(head_end, std::string::npos) << received;
  EXPECT_NE(received.find("Content-Length: " + std::to_string(body.size())), std::string::npos);
  EXPECT_EQ(received.substr(head_end + 4), body.substr(0, body.size() / 2));
}

TEST(FakeServiceFaults, LibcurlSeesEachFault) {
  FakeService service;
  Client client;
  const std::string url = service.base_url() + "/api/v1/lsps1/network_info";
  service.script("GET", "/api/v1/lsps1/network_info",
                 {answer(200, R"({"network":"Regtest","height":1})", Fault::reset_before_headers),
                  answer(200, R"({"network":"Regtest","height":1})", Fault::reset_mid_body),
                  answer(500, R"({"detail":"internal server error"})", Fault::reset_mid_body),
                  answer(200, R"({"network":"Regtest","height":1})", Fault::stall_body)});
  const Reply before_headers = client.get(url);
  EXPECT_TRUE(before_headers.code == CURLE_RECV_ERROR || before_headers.code == CURLE_GOT_NOTHING)
      << curl_easy_strerror(before_headers.code);
  const Reply mid_body = client.get(url);
  EXPECT_EQ(mid_body.status, 200);
  EXPECT_TRUE(mid_body.code == CURLE_RECV_ERROR || mid_body.code == CURLE_PARTIAL_FILE)
      << curl_easy_strerror(mid_body.code);
  const Reply error_mid_body = client.get(url);
  EXPECT_EQ(error_mid_body.status, 500);
  EXPECT_NE(error_mid_body.code, CURLE_OK);
  CallOptions quick;
  quick.timeout_ms = 400;
  const Reply stalled = client.get(url, quick);
  EXPECT_EQ(stalled.code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(stalled.body, std::string(R"({"network":"Regtest","height":1})").substr(0, 16));
  // Then the default route again, on a fresh connection.
  EXPECT_EQ(client.get(url).status, 200);
  EXPECT_EQ(service.requests().size(), 5u);
}

TEST(FakeServiceFaults, StoppingDoesNotWaitForStalledOrDelayedAnswers) {
  auto service = std::make_unique<FakeService>();
  service->script("GET", "/stall", {answer(200, "0123456789", Fault::stall_body)});
  ScriptedAnswer late = answer(200, "{}");
  late.delay = 60s;
  service->script("GET", "/late", {late});
  RawConnection stalled(service->port());
  stalled.send(get_request("/stall"));
  RawConnection delayed(service->port());
  delayed.send(get_request("/late"));
  RawConnection idle(service->port());
  std::string ignored;
  stalled.read_all(ignored, 300ms);
  ASSERT_EQ(service->requests().size(), 2u);

  const auto start = Clock::now();
  service.reset();
  EXPECT_LT(Clock::now() - start, 2s);
  std::string rest;
  EXPECT_NE(delayed.read_all(rest, 2000ms), RawConnection::End::open);
  EXPECT_EQ(rest, "");
}

// ---------------------------------------------------------------- TLS

TEST(FakeServiceTls, ServesHttpsSignedByTheRoot) {
  FakeService service({.tls = true});
  EXPECT_EQ(service.base_url(), "https://127.0.0.1:" + std::to_string(service.port()));
  const std::string& root = FakeService::root_certificate_pem();
  EXPECT_EQ(root.rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
  EXPECT_EQ(&root, &FakeService::root_certificate_pem()) << "made once per process";

  Client client;
  CallOptions trusted;
  trusted.ca_pem = &root;
  Reply r = client.get(service.base_url() + "/api/v1/market/assets", trusted);
  ASSERT_EQ(r.code, CURLE_OK) << curl_easy_strerror(r.code);
  EXPECT_EQ(r.status, 200);
  decode("AssetsResponse", r.body);
  // The certificate names localhost too.
  r = client.get("https://localhost:" + std::to_string(service.port()) + "/nodeinfo", trusted);
  ASSERT_EQ(r.code, CURLE_OK) << curl_easy_strerror(r.code);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(client.get(service.base_url() + "/nodeinfo", trusted).status, 200);
  EXPECT_LE(service.connections_accepted(), 2u);

  // Without the root the server is not trusted.
  Client stranger;
  const Reply untrusted = stranger.get(service.base_url() + "/nodeinfo");
  EXPECT_EQ(untrusted.code, CURLE_PEER_FAILED_VERIFICATION) << curl_easy_strerror(untrusted.code);
  // Plain HTTP to the TLS port gets no answer.
  const Reply plain = stranger.get("http://127.0.0.1:" + std::to_string(service.port()) + "/nodeinfo");
  EXPECT_NE(plain.code, CURLE_OK);
  EXPECT_EQ(service.requests().size(), 22u);
}

TEST(FakeServiceTls, ScriptsAndFaultsWorkOverTls) {
  FakeService service({.tls = true});
  Client client;
  CallOptions trusted;
  trusted.ca_pem = &FakeService::root_certificate_pem();
  trusted.timeout_ms = 500;
  const std::string body = R"({"confirmed":1,"unconfirmed":2,"total":3})";
  service.script("POST", "/btcbalance",
                 {answer(503, "later"), answer(200, body, Fault::reset_mid_body), answer(200, body, Fault::stall_body),
                  answer(200, body, Fault::reset_before_headers)});
  const std::string url = service.base_url() + "/btcbalance";
  Reply r = client.post(url, "{}", trusted);
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(r.body, "later");
  r = client.post(url, "{}", trusted);
  EXPECT_NE(r.code, CURLE_OK);
  EXPECT_EQ(r.body, body.substr(0, body.size() / 2));
  r = client.post(url, "{}", trusted);
  EXPECT_EQ(r.code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(r.body, body.substr(0, body.size() / 2));
  r = client.post(url, "{}", trusted);
  EXPECT_NE(r.code, CURLE_OK);
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(client.post(url, "{}", trusted).body, R"({"confirmed":1500000,"unconfirmed":25000,"total":1525000})");
}

// ---------------------------------------------------------------- quote stream

const std::string subscribe_usdt = R"({"data":{"pair_id":"BTC/USDT"},"type":"subscribe"})";
const std::string subscribe_xaut = R"({"data":{"pair_id":"BTC/XAUT"},"type":"subscribe"})";

// A WebSocket client on an I/O context of its own, plain or TLS (trusting
// the fake service's root). Each step gives up after ten seconds, so a
// server that does not answer fails the test instead of hanging it.
template <bool Tls>
class WsClient {
 public:
  using Next = std::conditional_t<Tls, asio::ssl::stream<beast::tcp_stream>, beast::tcp_stream>;

  explicit WsClient(std::uint16_t port) : port_(port), ws_(make_stream()) {
    if constexpr (Tls) ws_.next_layer().set_verify_callback(asio::ssl::host_name_verification("127.0.0.1"));
  }

  // Connects (and makes the TLS handshake); the opening handshake for
  // `target` is left to handshake().
  boost::system::error_code connect() {
    const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port_);
    auto ec = step([&](auto done) { beast::get_lowest_layer(ws_).async_connect(endpoint, done); });
    if constexpr (Tls) {
      if (!ec) ec = step([&](auto done) { ws_.next_layer().async_handshake(asio::ssl::stream_base::client, done); });
    }
    return ec;
  }

  boost::system::error_code handshake(const std::string& target = "/ws") {
    return step([&](auto done) { ws_.async_handshake(response_, "127.0.0.1", target, done); });
  }

  // Connects and subscribes with `message`.
  boost::system::error_code open(const std::string& message) {
    auto ec = connect();
    if (!ec) ec = handshake();
    if (!ec) ec = send(message);
    return ec;
  }

  boost::system::error_code send(const std::string& message) {
    ws_.text(true);
    return step([&](auto done) { ws_.async_write(asio::buffer(message), done); });
  }

  // The next message into `out`.
  boost::system::error_code read(std::string& out) {
    beast::flat_buffer buffer;
    const auto ec = step([&](auto done) { ws_.async_read(buffer, done); });
    out = beast::buffers_to_string(buffer.data());
    return ec;
  }

  boost::system::error_code close() {
    return step([&](auto done) { ws_.async_close(websocket::close_code::normal, done); });
  }

  // Drops the connection without a close message.
  void drop() {
    boost::system::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

  // The server's answer to the opening handshake.
  const http::response<http::string_body>& response() const { return response_; }
  websocket::close_reason close_reason() const { return ws_.reason(); }

 private:
  websocket::stream<Next> make_stream() {
    if constexpr (Tls) {
      tls_.emplace(asio::ssl::context::tls_client);
      tls_->add_certificate_authority(asio::buffer(FakeService::root_certificate_pem()));
      tls_->set_verify_mode(asio::ssl::verify_peer);
      return websocket::stream<Next>(io_, *tls_);
    } else {
      return websocket::stream<Next>(io_);
    }
  }

  template <class Start>
  boost::system::error_code step(Start&& start) {
    std::optional<boost::system::error_code> result;
    start([&](boost::system::error_code ec, auto&&...) { result = ec; });
    io_.restart();
    io_.run_for(10s);
    if (!result) {
      drop();
      io_.restart();
      io_.run();
      return asio::error::timed_out;
    }
    return *result;
  }

  std::uint16_t port_;
  asio::io_context io_;
  std::optional<asio::ssl::context> tls_;
  websocket::stream<Next> ws_;
  http::response<http::string_body> response_;
};

// Reads one message as a quote message and returns its data after checking
// that the data reads as a quote of 0.001 BTC over Lightning into
// `quote_asset_id` over RGB Lightning.
template <bool Tls>
json::JsonValue read_quote(WsClient<Tls>& client, std::string_view quote_asset_id) {
  std::string message;
  const auto ec = client.read(message);
  EXPECT_FALSE(ec) << ec.message();
  const json::JsonValue v = parse(message);
  EXPECT_EQ(text(at(v, "type")), "quote") << message;
  const json::JsonValue& data = at(v, "data");
  decode("PairQuoteResponse", json::to_json(data));
  EXPECT_EQ(text(at(at(data, "from_asset"), "asset_id")), "BTC");
  EXPECT_EQ(text(at(at(data, "from_asset"), "layer")), "BTC_LN");
  EXPECT_EQ(integer(at(at(data, "from_asset"), "amount")), 100000);
  EXPECT_EQ(text(at(at(data, "to_asset"), "asset_id")), quote_asset_id);
  EXPECT_EQ(text(at(at(data, "to_asset"), "layer")), "RGB_LN");
  EXPECT_GT(integer(at(at(data, "to_asset"), "amount")), 0);
  return data;
}

// Subscribes to BTC/USDT, reads quotes, closes; the session's traces.
template <bool Tls>
void subscribe_read_and_close(FakeService& service) {
  WsClient<Tls> client(service.port());
  ASSERT_FALSE(client.open(subscribe_usdt));
  EXPECT_EQ(client.response().result_int(), 101);
  const json::JsonValue first = read_quote(client, usdt_id);
  const json::JsonValue second = read_quote(client, usdt_id);
  // Each quote is a fresh one.
  EXPECT_NE(text(at(first, "rfq_id")), text(at(second, "rfq_id")));
  EXPECT_EQ(service.ws_subscriptions(), std::vector<std::string>{subscribe_usdt});
  EXPECT_FALSE(client.close());

  // The upgrade request is recorded like any other.
  const auto records = service.requests();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].method, "GET");
  EXPECT_EQ(records[0].target, "/ws");
  EXPECT_EQ(records[0].header("Upgrade"), "websocket");
  EXPECT_TRUE(records[0].header("Sec-WebSocket-Key").has_value());
}

TEST(FakeServiceQuoteStream, PlainSubscriptionStreamsQuotesOfThePair) {
  FakeService service;
  subscribe_read_and_close<false>(service);
  // The port goes on serving HTTP.
  EXPECT_EQ(Client().get(service.base_url() + "/nodeinfo").status, 200);
}

TEST(FakeServiceQuoteStream, TlsSubscriptionStreamsQuotesOfThePair) {
  FakeService service({.tls = true});
  subscribe_read_and_close<true>(service);
}

TEST(FakeServiceQuoteStream, EachSessionStreamsItsOwnPair) {
  FakeService service;
  WsClient<false> usdt(service.port());
  WsClient<false> xaut(service.port());
  ASSERT_FALSE(usdt.open(subscribe_usdt));
  ASSERT_FALSE(xaut.open(subscribe_xaut));
  for (int i = 0; i < 2; ++i) {
    read_quote(xaut, fake_data::xaut_asset_id);
    read_quote(usdt, usdt_id);
  }
  auto subscriptions = service.ws_subscriptions();
  std::sort(subscriptions.begin(), subscriptions.end());
  EXPECT_EQ(subscriptions, (std::vector<std::string>{subscribe_usdt, subscribe_xaut}));
  // Messages after the subscription change nothing.
  ASSERT_FALSE(usdt.send(subscribe_xaut));
  read_quote(usdt, usdt_id);
  read_quote(usdt, usdt_id);
  EXPECT_EQ(service.ws_subscriptions().size(), 2u);
}

TEST(FakeServiceQuoteStream, WhatIsNoSubscriptionGetsAnErrorAndAClose) {
  FakeService service;
  const struct {
    std::string message;
    std::string detail;
  } cases[] = {
      {R"({"data":{"pair_id":"ETH/BTC"},"type":"subscribe"})", "Unknown trading pair: ETH/BTC"},
      {R"({"data":{"pair_id":"btc/usdt"},"type":"subscribe"})", "Unknown trading pair: btc/usdt"},
      {R"({"data":{"pair_id":"BTC/USDT"},"type":"unsubscribe"})", ""},
      {R"({"data":{"pair":"BTC/USDT"},"type":"subscribe"})", ""},
      {R"({"data":{"pair_id":7},"type":"subscribe"})", ""},
      {R"({"type":"subscribe"})", ""},
      {"[]", ""},
      {"hello", ""},
  };
  std::vector<std::string> sent;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    WsClient<false> client(service.port());
    ASSERT_FALSE(client.open(c.message));
    sent.push_back(c.message);
    std::string message;
    ASSERT_FALSE(client.read(message));
    const json::JsonValue v = parse(message);
    EXPECT_EQ(text(at(v, "type")), "error");
    const std::string detail = text(at(at(v, "data"), "detail"));
    if (!c.detail.empty()) {
      EXPECT_EQ(detail, c.detail);
    } else {
      EXPECT_NE(detail.find("subscribe"), std::string::npos) << detail;
    }
    // No quote follows: the server closes.
    EXPECT_EQ(client.read(message), websocket::error::closed) << message;
    EXPECT_EQ(client.close_reason().code, websocket::close_code::policy_error);
  }
  // Every first message is recorded, whatever it says.
  EXPECT_EQ(service.ws_subscriptions(), sent);
}

TEST(FakeServiceQuoteStream, HttpRequestsToTheEndpoint) {
  FakeService service;
  Client client;
  // Without an upgrade.
  Reply r = client.get(service.base_url() + "/ws");
  EXPECT_EQ(r.status, 426);
  EXPECT_TRUE(r.has_header_line("Upgrade: websocket"));
  EXPECT_FALSE(text(at(parse(r.body), "detail")).empty());
  r = client.post(service.base_url() + "/ws", "{}");
  EXPECT_EQ(r.status, 405);
  EXPECT_TRUE(r.has_header_line("Allow: GET"));

  // An upgrade to any other path is an ordinary request.
  {
    WsClient<false> elsewhere(service.port());
    ASSERT_FALSE(elsewhere.connect());
    EXPECT_EQ(elsewhere.handshake("/api/v1/market/pairs"), websocket::error::upgrade_declined);
    EXPECT_EQ(elsewhere.response().result_int(), 200);
  }

  // A scripted answer is sent instead of the handshake, once.
  service.script("GET", "/ws", {answer(503, R"({"detail":"later"})")});
  {
    WsClient<false> refused(service.port());
    ASSERT_FALSE(refused.connect());
    EXPECT_EQ(refused.handshake(), websocket::error::upgrade_declined);
    EXPECT_EQ(refused.response().result_int(), 503);
    EXPECT_EQ(refused.response().body(), R"({"detail":"later"})");
  }
  WsClient<false> accepted(service.port());
  ASSERT_FALSE(accepted.open(subscribe_usdt));
  read_quote(accepted, usdt_id);
  EXPECT_EQ(service.ws_subscriptions(), std::vector<std::string>{subscribe_usdt});
}

TEST(FakeServiceQuoteStream, SubscriptionsThroughTheControlEndpointsAndReset) {
  FakeService service;
  {
    WsClient<false> ws(service.port());
    ASSERT_FALSE(ws.open(subscribe_usdt));
    read_quote(ws, usdt_id);
  }
  Client client;
  const std::string url = service.base_url() + "/_control/ws_subscriptions";
  Reply r = client.get(url);
  ASSERT_EQ(r.status, 200);
  const json::JsonValue list = parse(r.body);
  ASSERT_EQ(size(list), 1u) << r.body;
  EXPECT_EQ(text(list.get_if<json::JsonValue::Array>()->front()), subscribe_usdt);

  EXPECT_EQ(client.post(service.base_url() + "/_control/reset", "").status, 200);
  EXPECT_TRUE(service.ws_subscriptions().empty());
  EXPECT_EQ(client.get(url).body, "[]");
}

// Sessions that stream, one that waits for its subscription and one whose
// client went without a close message, all open when the service stops.
template <bool Tls>
void stop_with_open_sessions() {
  auto service = std::make_unique<FakeService>(FakeService::Options{.tls = Tls});
  WsClient<Tls> streaming(service->port());
  WsClient<Tls> waiting(service->port());
  WsClient<Tls> gone(service->port());
  ASSERT_FALSE(streaming.open(subscribe_usdt));
  read_quote(streaming, usdt_id);
  ASSERT_FALSE(waiting.connect());
  ASSERT_FALSE(waiting.handshake());
  ASSERT_FALSE(gone.open(subscribe_xaut));
  read_quote(gone, fake_data::xaut_asset_id);
  gone.drop();

  service.reset();
  // The quotes already under way may still arrive; then the connection ends.
  for (WsClient<Tls>* client : {&streaming, &waiting}) {
    std::string message;
    boost::system::error_code ec;
    for (int i = 0; i < 100 && !ec; ++i) ec = client->read(message);
    EXPECT_TRUE(ec);
    EXPECT_NE(ec, asio::error::timed_out);
  }
}

TEST(FakeServiceQuoteStream, StoppingEndsOpenSessions) {
  stop_with_open_sessions<false>();
  stop_with_open_sessions<true>();
}

// ---------------------------------------------------------------- control endpoints

TEST(FakeServiceControl, ScriptRequestsResetAndStats) {
  FakeService service;
  Client client;
  const std::string base = service.base_url();
  Reply r = client.post(base + "/_control/script",
                        R"({"method":"GET","path":"/api/v1/market/pairs","answers":[)"
                        R"({"status":503,"body":"down","headers":{"Retry-After":"1"}},)"
                        R"({"body":{"pairs":[],"total":0,"limit":0,"offset":0,"timestamp":0},"delay_ms":50},)"
                        R"({"fault":"reset_before_headers"}]})");
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body, R"({"scripted":3})");

  r = client.get(base + "/api/v1/market/pairs?x=1");
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(r.body, "down");
  EXPECT_TRUE(r.has_header_line("Retry-After: 1"));
  // A body given as JSON is sent as its compact text.
  r = client.get(base + "/api/v1/market/pairs");
  EXPECT_EQ(parse(r.body), parse(R"({"pairs":[],"total":0,"limit":0,"offset":0,"timestamp":0})"));
  // A fresh handle: libcurl silently repeats a request whose reused
  // connection dies before any answer.
  EXPECT_NE(Client().get(base + "/api/v1/market/pairs").code, CURLE_OK);
  client.post(base + "/unlock", "{\"password\":\"\xc3\xa9\xff\"}");

  r = client.get(base + "/_control/requests");
  ASSERT_EQ(r.status, 200);
  const json::JsonValue list = parse(r.body);
  ASSERT_EQ(size(list), 4u) << r.body;
  const auto& items = *list.get_if<json::JsonValue::Array>();
  EXPECT_EQ(text(at(items[0], "method")), "GET");
  EXPECT_EQ(text(at(items[0], "target")), "/api/v1/market/pairs?x=1");
  EXPECT_EQ(text(at(items[0], "path")), "/api/v1/market/pairs");
  EXPECT_EQ(text(at(items[3], "method")), "POST");
  // Bytes that are not UTF-8 come out as U+FFFD.
  EXPECT_EQ(text(at(items[3], "body")), "{\"password\":\"\xc3\xa9\xef\xbf\xbd\"}");
  bool saw_content_type = false;
  for (const auto& h : *at(items[3], "headers").get_if<json::JsonValue::Array>()) {
    const auto& pair = *h.get_if<json::JsonValue::Array>();
    ASSERT_EQ(pair.size(), 2u);
    if (text(pair[0]) == "Content-Type") saw_content_type = text(pair[1]) == "application/json";
  }
  EXPECT_TRUE(saw_content_type);

  r = client.get(base + "/_control/stats");
  EXPECT_EQ(integer(at(parse(r.body), "requests")), 4) << r.body;
  EXPECT_GE(integer(at(parse(r.body), "connections_accepted")), 2);

  r = client.get(base + "/_control/root_certificate");
  EXPECT_EQ(r.body, FakeService::root_certificate_pem());

  // Control requests are never recorded; reset forgets scripts and records.
  EXPECT_EQ(service.requests().size(), 4u);
  client.post(base + "/_control/script", R"({"method":"POST","path":"/lock","answers":[{"status":500}]})");
  EXPECT_EQ(client.post(base + "/_control/reset", "").status, 200);
  EXPECT_TRUE(service.requests().empty());
  EXPECT_EQ(client.post(base + "/lock", "{}").status, 200);
  EXPECT_EQ(size(parse(client.get(base + "/_control/requests").body)), 1u);
}

TEST(FakeServiceControl, BadScriptsAreRefused) {
  FakeService service;
  Client client;
  for (const char* body : {
           "",
           "[]",
           R"({"path":"/x","answers":[]})",
           R"({"method":"GET","answers":[]})",
           R"({"method":"GET","path":"/x"})",
           R"({"method":"GET","path":"/x","answers":[1]})",
           R"({"method":"GET","path":"/x","answers":[{"status":"200"}]})",
           R"({"method":"GET","path":"/x","answers":[{"status":42}]})",
           R"({"method":"GET","path":"/x","answers":[{"delay_ms":-1}]})",
           R"({"method":"GET","path":"/x","answers":[{"fault":"explode"}]})",
           R"({"method":"GET","path":"/x","answers":[{"headers":{"X":1}}]})",
       }) {
    SCOPED_TRACE(body);
    const Reply r = client.post(service.base_url() + "/_control/script", body);
    EXPECT_EQ(r.status, 400);
    EXPECT_FALSE(text(at(parse(r.body), "detail")).empty());
  }
  EXPECT_EQ(client.get(service.base_url() + "/_control/nothing").status, 404);
  EXPECT_EQ(client.get(service.base_url() + "/_control/script").status, 404);
  // Nothing was scripted by the refused bodies.
  EXPECT_EQ(client.get(service.base_url() + "/x").status, 404);
}

// ---------------------------------------------------------------- executable

// Runs the executable with `args`; its first output line is the base URL.
class Executable {
 public:
  explicit Executable(std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv{const_cast<char*>(ZEPHLAR_FAKE_SERVICE_EXE)};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    stdout_ = ::fdopen(out[0], "r");
    char line[256] = {};
    if (stdout_ != nullptr && std::fgets(line, sizeof line, stdout_) != nullptr) {
      first_line_ = line;
      if (!first_line_.empty() && first_line_.back() == '\n') first_line_.pop_back();
    }
  }
  ~Executable() {
    if (pid_ > 0 && !waited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ != nullptr) std::fclose(stdout_);
  }

  const std::string& first_line() const { return first_line_; }

  // Sends `signal` and returns the exit status (-1 when it did not exit).
  int stop(int signal) {
    ::kill(pid_, signal);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  FILE* stdout_ = nullptr;
  std::string first_line_;
  bool waited_ = false;
};

TEST(FakeServiceExecutable, PrintsItsUrlServesAndStopsOnSignals) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    Executable exe({});
    ASSERT_EQ(exe.first_line().rfind("http://127.0.0.1:", 0), 0u) << exe.first_line();
    Client client;
    const Reply scripted = client.post(exe.first_line() + "/_control/script",
                                       R"({"method":"GET","path":"/nodeinfo","answers":[{"status":401,"body":"no"}]})");
    EXPECT_EQ(scripted.status, 200);
    EXPECT_EQ(client.get(exe.first_line() + "/nodeinfo").status, 401);
    EXPECT_EQ(client.get(exe.first_line() + "/nodeinfo").status, 200);
    EXPECT_EQ(size(parse(client.get(exe.first_line() + "/_control/requests").body)), 2u);
    EXPECT_EQ(exe.stop(signal), 0);
  }
}

TEST(FakeServiceExecutable, TlsWithTheRootWrittenToAFile) {
  char path[] = "/tmp/fake_service_root_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  Executable exe({"--tls", "--root-cert-out", path});
  ASSERT_EQ(exe.first_line().rfind("https://127.0.0.1:", 0), 0u) << exe.first_line();
  std::string pem;
  if (FILE* f = std::fopen(path, "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) pem.append(buf, n);
    std::fclose(f);
  }
  ::unlink(path);
  ASSERT_EQ(pem.rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
  Client client;
  CallOptions trusted;
  trusted.ca_pem = &pem;
  const Reply r = client.get(exe.first_line() + "/api/v1/lsps1/network_info", trusted);
  EXPECT_EQ(r.code, CURLE_OK) << curl_easy_strerror(r.code);
  EXPECT_EQ(r.body, R"({"network":"Regtest","height":1200})");
  EXPECT_EQ(client.get(exe.first_line() + "/_control/root_certificate", trusted).body, pem);
  EXPECT_EQ(exe.stop(SIGTERM), 0);
}

// In a forked child, before exec.
void quiet_stderr() {
  const int null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, STDERR_FILENO);
}

TEST(FakeServiceExecutable, UsageErrorsAndABusyPort) {
  FakeService taken;
  for (const auto& args : std::vector<std::vector<std::string>>{{"--port"}, {"--port", "70000"}, {"--bogus"}}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::vector<char*> argv{const_cast<char*>(ZEPHLAR_FAKE_SERVICE_EXE)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      quiet_stderr();
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args[0];
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    const std::string port = std::to_string(taken.port());
    quiet_stderr();
    ::execl(ZEPHLAR_FAKE_SERVICE_EXE, ZEPHLAR_FAKE_SERVICE_EXE, "--port", port.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

}  // namespace
}  // namespace zephlar::testing
