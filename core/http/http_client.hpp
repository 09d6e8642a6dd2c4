// The one request path of the core: join the URL, send with retries and
// back-off, check the status, read and decode the body once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/async.hpp"
#include "core/json/json.hpp"
#include "core/json/request_body.hpp"

namespace zephlar::http {

struct RetryConfig {
  std::chrono::milliseconds initial_delay{100};
  std::chrono::milliseconds max_delay{10'000};
  double multiplier = 2.0;
  std::uint32_t max_retries = 3;
  bool jitter = true;

  // The wait before try number `attempt` + 1 (0 for the first try); the
  // jitter is drawn from a per-thread generator.
  std::chrono::milliseconds delay_for_attempt(std::uint32_t attempt) const;
  // The same with the jitter's uniform draw in [0, 1) given.
  std::chrono::milliseconds delay_for_attempt(std::uint32_t attempt, double uniform) const;
};

enum class Method : std::uint8_t { get, post };

// A 2xx answer: its status and its body, or the failure that ended the body
// read (reported when the body is parsed, never retried).
struct Response {
  std::uint16_t status = 0;
  std::string body;
  std::optional<HttpError> body_error;
};

// Writes a request body anew for every try.
using BodyWriter = std::function<json::RequestBody()>;

class Transport;

class HttpClient : public std::enable_shared_from_this<HttpClient> {
 public:
  // Builds the HTTP client with `timeout` as the total time-out of every
  // try; "Failed to create HTTP client: ..." as a Config error on failure.
  // The base URL is kept as given and not validated.
  static CoreResult<std::shared_ptr<HttpClient>> create(std::string base_url, std::chrono::nanoseconds timeout,
                                                        RetryConfig retry);
  ~HttpClient();

  const std::string& base_url() const noexcept { return base_url_; }
  const RetryConfig& retry() const noexcept { return retry_; }
  std::chrono::nanoseconds timeout() const noexcept { return timeout_; }

  // The base URL without its trailing '/' characters, then the path.
  std::string build_url(std::string_view path) const;

  // GET the path and decode the answer as T.
  template <json::Codable T>
  Task<T> get(std::string path) {
    auto response = co_await execute_with_retry(Method::get, build_url(path), std::nullopt);
    if (!response) co_return Err(std::move(response).error());
    auto value = parse_response<T>(*response);
    recycle_body(std::move(response->body));
    co_return value;
  }

  // POST the record as a JSON body and decode the answer as T.
  template <json::Codable T, json::Codable Body>
  Task<T> post(std::string path, Body body) {
    auto shared_body = std::make_shared<const Body>(std::move(body));
    BodyWriter writer = [shared_body] { return json::json_body(*shared_body); };
    auto response = co_await execute_with_retry(Method::post, build_url(path), std::move(writer));
    if (!response) co_return Err(std::move(response).error());
    auto value = parse_response<T>(*response);
    recycle_body(std::move(response->body));
    co_return value;
  }

  // Up to max_retries + 1 tries, with the back-off delay before each repeat.
  // A terminal cancellation on the awaiting coroutine's cancellation slot
  // (a deadline raced with `||`, for instance) aborts the transfer or the
  // wait under way and ends the loop without another try.
  Task<Response> execute_with_retry(Method method, std::string url, std::optional<BodyWriter> body);
  // One try: the answer with status 2xx, or the error it comes to. A zero
  // time-out fails at once with CoreError::Timeout, sending nothing.
  Task<Response> send_request(Method method, const std::string& url, const std::optional<BodyWriter>& body);

  template <json::Codable T>
  CoreResult<T> parse_response(const Response& response) const {
    if (response.body_error) return Err(CoreError::from_http_error(*response.body_error, timeout_seconds()));
    auto value = json::from_response_body<T>(response.body);
    if (!value) return Err(CoreError(CoreError::Json{std::move(value).error()}));
    return std::move(value).value();
  }

  double timeout_seconds() const noexcept;

  // Hands a body that has been read back to the transport for reuse.
  void recycle_body(std::string body);

 private:
  struct Key {
    explicit Key() = default;
  };

 public:
  // Only create() can call it (Key is private).
  HttpClient(Key, std::string base_url, std::chrono::nanoseconds timeout, RetryConfig retry,
             std::unique_ptr<Transport> transport);

 private:
  std::string base_url_;
  std::chrono::nanoseconds timeout_;
  RetryConfig retry_;
  std::unique_ptr<Transport> transport_;
};

}  // namespace zephlar::http
