#include "core/http/http_client.hpp"

#include <curl/curl.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

#include "core/http/backoff.hpp"
#include "core/http/reason_phrase.hpp"
#include "core/http/transport.hpp"
#include "core/http/trusted_roots.hpp"
#include "core/http/utf8_lossy.hpp"

namespace zephlar::http {
namespace asio = boost::asio;

namespace {

// What an operation that its caller cancelled yields. The caller has given
// up on it, so it is never retried.
CoreError cancelled_error() {
  return CoreError::network("HTTP request failed",
                            HttpError{HttpError::Kind::other, CURLE_ABORTED_BY_CALLBACK, "Request cancelled"});
}

}  // namespace

CoreResult<std::shared_ptr<HttpClient>> HttpClient::create(std::string base_url, std::chrono::nanoseconds timeout,
                                                           RetryConfig retry) {
  auto transport = Transport::create(Transport::Options{timeout, trusted_roots_pem()});
  if (!transport) return Err(CoreError(CoreError::Config{"Failed to create HTTP client: " + transport.error()}));
  return std::make_shared<HttpClient>(Key{}, std::move(base_url), timeout, retry, std::move(transport).value());
}

HttpClient::HttpClient(Key, std::string base_url, std::chrono::nanoseconds timeout, RetryConfig retry,
                       std::unique_ptr<Transport> transport)
    : base_url_(std::move(base_url)), timeout_(timeout), retry_(retry), transport_(std::move(transport)) {}

HttpClient::~HttpClient() = default;

double HttpClient::timeout_seconds() const noexcept { return std::chrono::duration<double>(timeout_).count(); }

void HttpClient::recycle_body(std::string body) { transport_->recycle_body(std::move(body)); }

std::string HttpClient::build_url(std::string_view path) const {
  std::string_view base = base_url_;
  while (!base.empty() && base.back() == '/') base.remove_suffix(1);
  std::string url;
  url.reserve(base.size() + path.size());
  url.append(base).append(path);
  return url;
}

Task<Response> HttpClient::execute_with_retry(Method method, std::string url, std::optional<BodyWriter> body) {
  // The client outlives every operation under way on it.
  const auto self = shared_from_this();
  std::uint32_t attempt = 0;
  for (;;) {
    if (attempt > 0) {
      asio::steady_timer timer(co_await asio::this_coro::executor);
      timer.expires_after(wait_for_delay(retry_.delay_for_attempt(attempt)));
      boost::system::error_code ec;
      try {
        std::tie(ec) = co_await timer.async_wait(asio::as_tuple(asio::use_awaitable));
      } catch (const boost::system::system_error&) {
        // Cancelled before the wait began.
        co_return Err(cancelled_error());
      }
      if (ec) co_return Err(cancelled_error());
    }

    std::optional<CoreResult<Response>> result;
    try {
      result.emplace(co_await send_request(method, url, body));
    } catch (const boost::system::system_error&) {
      co_return Err(cancelled_error());
    }
    if (result->ok()) co_return std::move(*result);
    // Read in place: awaiting another coroutine would throw once cancelled.
    if ((co_await asio::this_coro::cancellation_state).cancelled() != asio::cancellation_type::none) {
      co_return std::move(*result);
    }
    if (!result->error().is_retryable() || attempt >= retry_.max_retries) co_return std::move(*result);
    ++attempt;
  }
}

Task<Response> HttpClient::send_request(Method method, const std::string& url, const std::optional<BodyWriter>& body) {
  if (timeout_ <= std::chrono::nanoseconds::zero()) {
    co_return Err(CoreError::from_http_error(
        HttpError{HttpError::Kind::timeout, CURLE_OPERATION_TIMEDOUT, "Timeout was reached"}, timeout_seconds()));
  }

  TransferRequest request{method, url, std::nullopt};
  if (body) request.body = (*body)();
  TransferResult result;
  try {
    result = co_await transport_->async_perform(std::move(request), asio::use_awaitable);
  } catch (const boost::system::system_error&) {
    // Cancelled before the transfer began.
    co_return Err(cancelled_error());
  }
  if (result.cancelled) co_return Err(cancelled_error());

  if (!result.answered) {
    // No answer: the request could not be sent or its answer's headers did
    // not arrive.
    HttpError error = result.error ? std::move(*result.error) : HttpError{HttpError::Kind::other, 0, "No answer"};
    co_return Err(CoreError::from_http_error(std::move(error), timeout_seconds()));
  }

  if (result.status >= 200 && result.status <= 299) {
    // A failure while reading the body is the parser's to report.
    Response response{result.status, {}, std::move(result.error)};
    if (!response.body_error) response.body = std::move(result.body);
    co_return response;
  }

  // An unreadable body of an error answer is shown as the empty text.
  std::string details = result.error ? std::string() : utf8_lossy(result.body);
  co_return Err(
      CoreError(CoreError::Api{std::string(reason_phrase(result.status)), std::move(details), result.status}));
}

}  // namespace zephlar::http
