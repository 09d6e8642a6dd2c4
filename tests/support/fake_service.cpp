#include "tests/support/fake_service.hpp"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/json/json.hpp"
#include "tests/support/fake_service_routes.hpp"
#include "tests/support/fake_service_tls.hpp"
#include "tests/support/fake_service_ws.hpp"
#include "tests/support/loopback_acceptor.hpp"

namespace zephlar::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;

namespace {

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto low = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return low(x) == low(y);
         });
}

std::string_view path_of(std::string_view target) { return target.substr(0, target.find('?')); }

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
  for (const auto& [n, v] : headers)
    if (iequals(n, name)) return v;
  return std::nullopt;
}

std::string RecordedRequest::path() const { return std::string(path_of(target)); }

namespace {

constexpr auto nothrow = asio::as_tuple(asio::use_awaitable);
constexpr std::size_t max_body = 64u << 20;
constexpr std::string_view control_prefix = "/_control/";

using Headers = std::vector<std::pair<std::string, std::string>>;
using Fault = ScriptedAnswer::Fault;

bool has_header(const Headers& headers, std::string_view name) {
  return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return iequals(h.first, name); });
}

std::string reason_phrase(int status) {
  const beast::string_view r = http::obsolete_reason(static_cast<http::status>(status));
  if (r.empty() || r.front() == '<') return "Unknown";
  return std::string(r);
}

bool status_has_body(int status) { return status >= 200 && status != 204 && status != 304; }

// The status line and headers of an answer.
std::string response_head(const ScriptedAnswer& a, bool keep_alive, std::size_t body_size) {
  std::string out = "HTTP/1.1 ";
  out += std::to_string(a.status);
  out += ' ';
  out += reason_phrase(a.status);
  out += "\r\n";
  if (!has_header(a.headers, "Content-Type")) out += "Content-Type: application/json\r\n";
  for (const auto& [name, value] : a.headers) {
    out += name;
    out += ": ";
    out += value;
    out += "\r\n";
  }
  if (status_has_body(a.status) && !has_header(a.headers, "Content-Length")) {
    out += "Content-Length: ";
    out += std::to_string(body_size);
    out += "\r\n";
  }
  if (!keep_alive && !has_header(a.headers, "Connection")) out += "Connection: close\r\n";
  out += "\r\n";
  return out;
}

bool wants_close(const ScriptedAnswer& a) {
  for (const auto& [name, value] : a.headers)
    if (iequals(name, "Connection") && iequals(value, "close")) return true;
  return false;
}

// Drops the connection with a TCP reset rather than a FIN.
void reset_connection(tcp::socket& socket) {
  boost::system::error_code ec;
  socket.set_option(asio::socket_base::linger(true, 0), ec);
  socket.close(ec);
}

void close_connection(tcp::socket& socket) {
  boost::system::error_code ec;
  socket.shutdown(tcp::socket::shutdown_send, ec);
  socket.close(ec);
}

// Waits (up to a second) until the peer has acknowledged everything sent,
// so a reset that follows cannot discard bytes still queued.
asio::awaitable<void> drain(tcp::socket& socket) {
  asio::steady_timer timer(socket.get_executor());
  for (int i = 0; i < 1000; ++i) {
    int queued = 0;
    if (::ioctl(socket.native_handle(), SIOCOUTQ, &queued) != 0 || queued == 0) co_return;
    timer.expires_after(std::chrono::milliseconds(1));
    co_await timer.async_wait(nothrow);
  }
}

// Replaces each byte that is not part of valid UTF-8 with U+FFFD.
std::string valid_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool good = len != 0 && i + len <= s.size();
    for (std::size_t k = 1; good && k < len; ++k) good = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    if (good && len > 1) {
      // Reject overlong forms, surrogates and values past U+10FFFF.
      std::uint32_t cp = c & (0xFF >> (len + 1));
      for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
      const std::uint32_t min[] = {0, 0, 0x80, 0x800, 0x10000};
      good = cp >= min[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (good) {
      out.append(s.substr(i, len));
      i += len;
    } else {
      out.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return out;
}

std::string json_string(std::string_view s) {
  std::string out;
  json::Writer(out).string(s);
  return out;
}

ScriptedAnswer json_answer(int status, std::string body) {
  ScriptedAnswer a;
  a.status = status;
  a.body = std::move(body);
  return a;
}

ScriptedAnswer control_error(int status, std::string_view message) {
  return json_answer(status, "{\"detail\":" + json_string(message) + "}");
}

const json::JsonValue* member(const json::JsonValue::Object& obj, std::string_view key) {
  auto it = obj.find(key);
  return it == obj.end() ? nullptr : &it->second;
}

std::optional<std::int64_t> as_int(const json::JsonValue& v) {
  if (const auto* i = v.get_if<std::int64_t>()) return *i;
  if (const auto* u = v.get_if<std::uint64_t>())
    if (*u <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(*u);
  return std::nullopt;
}

std::string to_string(beast::string_view s) { return std::string(s.data(), s.size()); }

// Reads one request into a record, keeping the header fields exactly as they
// arrive (order, spelling and repeats).
class RequestReader final : public http::basic_parser<true> {
 public:
  RecordedRequest request;
  bool head_only = false;
  bool expects_continue = false;
  unsigned version = 11;

 private:
  void on_request_impl(http::verb method, beast::string_view method_str, beast::string_view target, int http_version,
                       boost::system::error_code&) override {
    request.method = to_string(method_str);
    request.target = to_string(target);
    version = static_cast<unsigned>(http_version);
    head_only = method == http::verb::head;
  }
  void on_response_impl(int, beast::string_view, int, boost::system::error_code&) override {}
  void on_field_impl(http::field name, beast::string_view name_string, beast::string_view value,
                     boost::system::error_code&) override {
    request.headers.emplace_back(to_string(name_string), to_string(value));
    if (name == http::field::expect && iequals(to_string(value), "100-continue")) expects_continue = true;
  }
  void on_header_impl(boost::system::error_code&) override {}
  void on_body_init_impl(const boost::optional<std::uint64_t>& length, boost::system::error_code&) override {
    if (length) request.body.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(*length, max_body)));
  }
  std::size_t on_body_impl(beast::string_view body, boost::system::error_code&) override {
    request.body.append(body.data(), body.size());
    return body.size();
  }
  void on_chunk_header_impl(std::uint64_t, beast::string_view, boost::system::error_code&) override {}
  std::size_t on_chunk_body_impl(std::uint64_t, beast::string_view body, boost::system::error_code&) override {
    request.body.append(body.data(), body.size());
    return body.size();
  }
  void on_finish_impl(boost::system::error_code&) override {}
};

// One answer of a control script; an error message when it does not read.
std::optional<std::string> read_scripted_answer(const json::JsonValue& v, ScriptedAnswer& a) {
  const auto* obj = v.get_if<json::JsonValue::Object>();
  if (obj == nullptr) return "each answer must be an object";
  if (const auto* s = member(*obj, "status")) {
    const auto n = as_int(*s);
    if (!n || *n < 100 || *n > 999) return "status must be an integer from 100 to 999";
    a.status = static_cast<int>(*n);
  }
  if (const auto* b = member(*obj, "body")) {
    // A string is the body itself; any other JSON value is sent as its text.
    if (const auto* s = b->get_if<std::string>())
      a.body = *s;
    else
      a.body = json::to_json(*b);
  }
  if (const auto* d = member(*obj, "delay_ms")) {
    const auto n = as_int(*d);
    if (!n || *n < 0) return "delay_ms must be a non-negative integer";
    a.delay = std::chrono::milliseconds(*n);
  }
  if (const auto* f = member(*obj, "fault")) {
    const auto* s = f->get_if<std::string>();
    if (s == nullptr) return "fault must be a string";
    if (*s == "none")
      a.fault = Fault::none;
    else if (*s == "reset_before_headers")
      a.fault = Fault::reset_before_headers;
    else if (*s == "reset_mid_body")
      a.fault = Fault::reset_mid_body;
    else if (*s == "stall_body")
      a.fault = Fault::stall_body;
    else if (*s == "close_before_headers")
      a.fault = Fault::close_before_headers;
    else if (*s == "endless_body")
      a.fault = Fault::endless_body;
    else
      return "unknown fault: " + *s;
  }
  if (const auto* h = member(*obj, "headers")) {
    const auto* headers = h->get_if<json::JsonValue::Object>();
    if (headers == nullptr) return "headers must be an object of strings";
    for (const auto& [name, value] : *headers) {
      const auto* s = value.get_if<std::string>();
      if (s == nullptr) return "headers must be an object of strings";
      a.headers.emplace_back(name, *s);
    }
  }
  return std::nullopt;
}

std::string requests_json(const std::vector<RecordedRequest>& records) {
  std::string out = "[";
  json::Writer w(out);
  bool first_record = true;
  for (const RecordedRequest& r : records) {
    if (!first_record) out.push_back(',');
    first_record = false;
    out.push_back('{');
    w.key("method", true);
    w.string(valid_utf8(r.method));
    w.key("target", false);
    w.string(valid_utf8(r.target));
    w.key("path", false);
    w.string(valid_utf8(r.path()));
    w.key("headers", false);
    out.push_back('[');
    for (std::size_t i = 0; i < r.headers.size(); ++i) {
      if (i != 0) out.push_back(',');
      out.push_back('[');
      w.string(valid_utf8(r.headers[i].first));
      out.push_back(',');
      w.string(valid_utf8(r.headers[i].second));
      out.push_back(']');
    }
    out.push_back(']');
    w.key("body", false);
    w.string(valid_utf8(r.body));
    out.push_back('}');
  }
  out.push_back(']');
  return out;
}

}  // namespace

struct FakeService::Impl {
  explicit Impl(Options o) : options(o) {}

  Options options;
  std::optional<ssl::context> tls;

  mutable std::mutex mutex;
  std::map<std::pair<std::string, std::string>, std::deque<ScriptedAnswer>, std::less<>> scripts;
  std::map<std::pair<std::string, std::string>, std::shared_ptr<const ScriptedAnswer>, std::less<>> standing;
  std::vector<RecordedRequest> records;
  std::vector<std::string> subscriptions;
  std::atomic<std::size_t> accepted{0};
  DefaultRoutes routes;
  QuoteStreamShared stream_shared{routes, mutex, subscriptions};

  std::uint16_t port = 0;
  std::unique_ptr<asio::io_context> io;
  std::unique_ptr<tcp::acceptor> acceptor;
  std::vector<std::thread> threads;

  asio::awaitable<void> accept_loop();
  asio::awaitable<void> serve(tcp::socket socket);
  template <class Stream>
  asio::awaitable<void> serve_http(Stream& stream, tcp::socket& socket);
  // Null when the request is to become a quote stream: an upgrade to it for
  // which no answer is scripted. Shared, so that a standing answer goes out
  // from the one copy the service keeps, however large and however often.
  std::shared_ptr<const ScriptedAnswer> respond(const RecordedRequest& request, bool stream_upgrade);
  ScriptedAnswer control(const RecordedRequest& request);

  void script(std::string method, std::string path, std::vector<ScriptedAnswer> answers) {
    std::lock_guard lock(mutex);
    auto& queue = scripts[{std::move(method), std::move(path)}];
    for (auto& a : answers) queue.push_back(std::move(a));
  }
  void set_standing_answer(std::string method, std::string path, ScriptedAnswer answer) {
    std::lock_guard lock(mutex);
    standing[{std::move(method), std::move(path)}] = std::make_shared<const ScriptedAnswer>(std::move(answer));
  }
  void reset() {
    {
      std::lock_guard lock(mutex);
      scripts.clear();
      standing.clear();
      records.clear();
      subscriptions.clear();
    }
    routes.reset();
  }
};

asio::awaitable<void> FakeService::Impl::accept_loop() {
  for (;;) {
    auto [ec, socket] = co_await acceptor->async_accept(asio::make_strand(*io), nothrow);
    if (ec) {
      if (ec == asio::error::operation_aborted || !acceptor->is_open()) co_return;
      // E.g. too many open files: let the open connections go on, then retry.
      asio::steady_timer pause(acceptor->get_executor(), std::chrono::milliseconds(10));
      co_await pause.async_wait(nothrow);
      continue;
    }
    accepted.fetch_add(1, std::memory_order_relaxed);
    auto executor = socket.get_executor();
    asio::co_spawn(executor, serve(std::move(socket)), asio::detached);
  }
}

asio::awaitable<void> FakeService::Impl::serve(tcp::socket socket) {
  boost::system::error_code ignored;
  socket.set_option(tcp::no_delay(true), ignored);
  if (!tls) {
    co_await serve_http(socket, socket);
    co_return;
  }
  ssl::stream<tcp::socket> stream(std::move(socket), *tls);
  auto [ec] = co_await stream.async_handshake(ssl::stream_base::server, nothrow);
  if (ec) {
    reset_connection(stream.next_layer());
    co_return;
  }
  co_await serve_http(stream, stream.next_layer());
}

template <class Stream>
asio::awaitable<void> FakeService::Impl::serve_http(Stream& stream, tcp::socket& socket) {
  beast::flat_buffer buffer;
  for (;;) {
    RequestReader parser;
    parser.body_limit(max_body);
    parser.header_limit(64 * 1024);
    auto [ec, n] = co_await http::async_read_header(stream, buffer, parser, nothrow);
    if (!ec && parser.expects_continue) {
      static constexpr std::string_view go_on = "HTTP/1.1 100 Continue\r\n\r\n";
      std::tie(ec, n) = co_await asio::async_write(stream, asio::buffer(go_on), nothrow);
    }
    if (!ec && !parser.is_done()) std::tie(ec, n) = co_await http::async_read(stream, buffer, parser, nothrow);
    if (ec) {
      // A request the parser refuses gets a 400; a peer that went away, nothing.
      if (ec.category() == http::make_error_code(http::error::bad_target).category() &&
          ec != http::error::end_of_stream && ec != http::error::partial_message) {
        const int status = ec == http::error::body_limit ? 413 : 400;
        const std::string text = response_head(json_answer(status, {}), false, 0);
        co_await asio::async_write(stream, asio::buffer(text), nothrow);
      }
      close_connection(socket);
      co_return;
    }

    const RecordedRequest& record = parser.request;
    const bool keep_alive = parser.keep_alive();
    const bool head_only = parser.head_only;

    const std::optional<UpgradeRequest> upgrade = quote_stream_upgrade(record, parser.version);
    const std::shared_ptr<const ScriptedAnswer> scripted = respond(record, upgrade.has_value());
    if (!scripted) {
      // The connection is the session's from here on.
      co_await serve_quote_stream(stream, *upgrade, stream_shared);
      close_connection(socket);
      co_return;
    }
    const ScriptedAnswer& answer = *scripted;
    if (answer.delay.count() > 0) {
      asio::steady_timer timer(socket.get_executor(), answer.delay);
      co_await timer.async_wait(nothrow);
    }

    if (answer.fault == Fault::reset_before_headers) {
      reset_connection(socket);
      co_return;
    }
    if (answer.fault == Fault::close_before_headers) {
      close_connection(socket);
      co_return;
    }
    if (answer.fault == Fault::endless_body) {
      // Headers without a length, then the body over and over until the
      // client gives up or the server stops.
      ScriptedAnswer head = answer;
      head.headers.emplace_back("Content-Length", "");
      std::string out = response_head(head, false, 0);
      out.erase(out.find("Content-Length: \r\n"), std::string_view("Content-Length: \r\n").size());
      auto [hec, hn] = co_await asio::async_write(stream, asio::buffer(out), nothrow);
      const std::string chunk = answer.body.empty() ? std::string(64 << 10, ' ') : answer.body;
      while (!hec) {
        auto [wec, wn] = co_await asio::async_write(stream, asio::buffer(chunk), nothrow);
        if (wec) break;
      }
      close_connection(socket);
      co_return;
    }
    const bool body_allowed = status_has_body(answer.status) && !head_only;
    std::string out = response_head(answer, keep_alive && !wants_close(answer), answer.body.size());
    if (answer.fault != Fault::none) {
      // Half the body, then the fault.
      if (body_allowed) out.append(answer.body, 0, answer.body.size() / 2);
      auto [wec, wn] = co_await asio::async_write(stream, asio::buffer(out), nothrow);
      if (answer.fault == Fault::reset_mid_body || wec) {
        if (!wec) co_await drain(socket);
        reset_connection(socket);
        co_return;
      }
      // Stalled: hold the connection, sending nothing, until the peer closes
      // it or the server stops.
      char sink[4096];
      for (;;) {
        auto [rec, rn] = co_await socket.async_read_some(asio::buffer(sink), nothrow);
        if (rec) break;
      }
      close_connection(socket);
      co_return;
    }

    // Head and body in one gathered write, the body straight from the answer.
    const std::array<asio::const_buffer, 2> parts{
        asio::buffer(out), asio::buffer(answer.body.data(), body_allowed ? answer.body.size() : 0)};
    auto [wec, wn] = co_await asio::async_write(stream, parts, nothrow);
    if (wec || !keep_alive || wants_close(answer)) {
      close_connection(socket);
      co_return;
    }
  }
}

std::shared_ptr<const ScriptedAnswer> FakeService::Impl::respond(const RecordedRequest& request, bool stream_upgrade) {
  const std::string_view target = request.target;
  const std::string_view path = path_of(target);
  if (path.substr(0, control_prefix.size()) == control_prefix)
    return std::make_shared<const ScriptedAnswer>(control(request));

  std::optional<ScriptedAnswer> scripted;
  std::shared_ptr<const ScriptedAnswer> standing_answer;
  {
    std::lock_guard lock(mutex);
    records.push_back(request);
    const auto key = std::make_pair(request.method, std::string(path));
    if (!scripts.empty()) {
      auto it = scripts.find(key);
      if (it != scripts.end() && !it->second.empty()) {
        scripted = std::move(it->second.front());
        it->second.pop_front();
      }
    }
    if (!scripted && !standing.empty()) {
      if (auto it = standing.find(key); it != standing.end()) standing_answer = it->second;
    }
  }
  if (scripted) return std::make_shared<const ScriptedAnswer>(std::move(*scripted));
  if (standing_answer) return standing_answer;
  if (stream_upgrade) return nullptr;

  const std::string_view query = path.size() < target.size() ? target.substr(path.size() + 1) : std::string_view{};
  RouteAnswer a = routes.answer(request.method, path, query, request.body);
  ScriptedAnswer out;
  out.status = a.status;
  out.body = std::move(a.body);
  out.headers = std::move(a.headers);
  return std::make_shared<const ScriptedAnswer>(std::move(out));
}

ScriptedAnswer FakeService::Impl::control(const RecordedRequest& request) {
  const std::string_view path = path_of(request.target);
  const std::string_view what = path.substr(control_prefix.size());
  const bool get = request.method == "GET";
  const bool post = request.method == "POST";

  if (what == "script" && post) {
    auto value = json::read_json<json::JsonValue>(request.body, json::Source::response_body);
    if (!value) return control_error(400, "body is not JSON: " + value.error().text());
    const auto* obj = value->get_if<json::JsonValue::Object>();
    if (obj == nullptr) return control_error(400, "body must be an object");
    const auto* method = member(*obj, "method");
    const auto* route = member(*obj, "path");
    const auto* answers = member(*obj, "answers");
    if (method == nullptr || !method->is<std::string>()) return control_error(400, "method must be a string");
    if (route == nullptr || !route->is<std::string>()) return control_error(400, "path must be a string");
    if (answers == nullptr || !answers->is<json::JsonValue::Array>())
      return control_error(400, "answers must be an array");
    std::vector<ScriptedAnswer> list;
    for (const auto& item : *answers->get_if<json::JsonValue::Array>()) {
      ScriptedAnswer a;
      if (auto error = read_scripted_answer(item, a)) return control_error(400, *error);
      list.push_back(std::move(a));
    }
    const auto count = static_cast<std::int64_t>(list.size());
    script(*method->get_if<std::string>(), *route->get_if<std::string>(), std::move(list));
    return json_answer(200, "{\"scripted\":" + std::to_string(count) + "}");
  }
  if (what == "requests" && get) {
    std::vector<RecordedRequest> copy;
    {
      std::lock_guard lock(mutex);
      copy = records;
    }
    return json_answer(200, requests_json(copy));
  }
  if (what == "ws_subscriptions" && get) {
    std::string out = "[";
    {
      std::lock_guard lock(mutex);
      for (std::size_t i = 0; i < subscriptions.size(); ++i) {
        if (i != 0) out.push_back(',');
        json::Writer(out).string(valid_utf8(subscriptions[i]));
      }
    }
    out.push_back(']');
    return json_answer(200, std::move(out));
  }
  if (what == "reset" && post) {
    reset();
    return json_answer(200, "{\"reset\":true}");
  }
  if (what == "stats" && get) {
    std::size_t count;
    {
      std::lock_guard lock(mutex);
      count = records.size();
    }
    return json_answer(200, "{\"connections_accepted\":" + std::to_string(accepted.load()) +
                                ",\"requests\":" + std::to_string(count) + "}");
  }
  if (what == "root_certificate" && get) {
    ScriptedAnswer a = json_answer(200, root_certificate_pem());
    a.headers.emplace_back("Content-Type", "application/x-pem-file");
    return a;
  }
  return control_error(404, "Unknown control endpoint");
}

FakeService::FakeService() : FakeService(Options{}) {}

FakeService::FakeService(Options options) : impl_(std::make_unique<Impl>(options)) {
  Impl& s = *impl_;
  if (options.tls) {
    const TlsIdentity& id = tls_identity();
    s.tls.emplace(ssl::context::tls_server);
    s.tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                       ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
    s.tls->use_certificate_chain(asio::buffer(id.server_certificate_pem));
    s.tls->use_private_key(asio::buffer(id.server_key_pem), ssl::context::pem);
  }

  constexpr int threads = 4;
  s.io = std::make_unique<asio::io_context>(threads);
  s.acceptor = std::make_unique<tcp::acceptor>(open_loopback_acceptor(*s.io, options.port));
  s.port = s.acceptor->local_endpoint().port();

  asio::co_spawn(*s.io, s.accept_loop(), asio::detached);
  for (int i = 0; i < threads; ++i) s.threads.emplace_back([io = s.io.get()] { io->run(); });
}

FakeService::~FakeService() {
  Impl& s = *impl_;
  s.io->stop();
  for (auto& t : s.threads) t.join();
  // Dropping the context destroys every connection still open, stalled and
  // delayed ones included; the acceptor goes first, it belongs to the context.
  s.acceptor.reset();
  s.io.reset();
}

std::uint16_t FakeService::port() const { return impl_->port; }

std::string FakeService::base_url() const {
  return std::string(impl_->options.tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(impl_->port);
}

void FakeService::script(std::string method, std::string path, std::vector<ScriptedAnswer> answers) {
  impl_->script(std::move(method), std::move(path), std::move(answers));
}

void FakeService::set_standing_answer(std::string method, std::string path, ScriptedAnswer answer) {
  impl_->set_standing_answer(std::move(method), std::move(path), std::move(answer));
}

std::vector<RecordedRequest> FakeService::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->records;
}

void FakeService::clear_requests() {
  std::lock_guard lock(impl_->mutex);
  impl_->records.clear();
}

void FakeService::reset() { impl_->reset(); }

std::vector<std::string> FakeService::ws_subscriptions() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->subscriptions;
}

std::size_t FakeService::connections_accepted() const { return impl_->accepted.load(); }

const std::string& FakeService::root_certificate_pem() { return tls_identity().root_certificate_pem; }

}  // namespace zephlar::testing
