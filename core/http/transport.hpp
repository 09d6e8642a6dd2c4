// The transfer engine behind an HttpClient: one libcurl multi handle driven
// by a thread of its own. Callers start a transfer with async_perform and
// are resumed on their own executor when it ends; no caller thread ever
// waits on the network.
//
// Every transfer speaks HTTP/1.1 to http or https URLs only, follows up to
// 10 redirects, takes its proxy from the environment, trusts only the roots
// the transport was built with, and ends when the total time-out runs out.
// Connections are pooled in the multi handle and reused by later transfers
// from any thread.
#pragma once

#include <boost/asio/associated_cancellation_slot.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/cancellation_type.hpp>
#include <boost/asio/execution/outstanding_work.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/prefer.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/http/http_client.hpp"
#include "core/http/http_error.hpp"
#include "core/json/request_body.hpp"
#include "core/result.hpp"

namespace zephlar::http {

struct TransferRequest {
  Method method = Method::get;
  std::string url;
  std::optional<json::RequestBody> body;  // sent with its content type
};

// How a transfer ended. `answered` tells whether the header block of the
// final answer (not a 1xx, not a redirect that was followed) arrived in
// full; `error` whether the transfer failed, before or after that point.
struct TransferResult {
  bool cancelled = false;  // aborted through the caller's cancellation slot
  bool answered = false;
  std::uint16_t status = 0;  // of the final answer, when answered
  std::string body;          // complete only when there is no error
  std::optional<HttpError> error;
};

class Transport {
 public:
  struct Options {
    // Total time-out of each transfer; must be positive (sub-millisecond
    // values are rounded up to 1 ms).
    std::chrono::nanoseconds timeout{};
    // PEM certificates of the roots TLS trusts; nothing else is trusted.
    std::string trusted_roots_pem;
  };

  // Starts the transfer thread; the error text says what failed.
  static Result<std::unique_ptr<Transport>, std::string> create(Options options);
  // Stops the thread; transfers still running end as cancelled.
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Runs one transfer. Completes with void(TransferResult) through the
  // handler's associated executor, never inline. A cancellation emitted on
  // the handler's cancellation slot aborts the transfer and completes it
  // with `cancelled` set.
  template <class CompletionToken>
  auto async_perform(TransferRequest request, CompletionToken&& token) {
    return boost::asio::async_initiate<CompletionToken, void(TransferResult)>(
        [this](auto handler, TransferRequest req) {
          auto cancel = new_cancel_token();
          auto slot = boost::asio::get_associated_cancellation_slot(handler);
          // Connected before the transfer is handed over, so the slot is
          // never touched while the completion may already be running.
          if (slot.is_connected()) slot.template emplace<CancelHandler>(cancel);
          using Impl = CompletionImpl<std::decay_t<decltype(handler)>>;
          start(std::move(req), std::make_unique<Impl>(std::move(handler)), std::move(cancel));
        },
        token, std::move(request));
  }

  // Takes back the body of a finished transfer once its reader is done with
  // it, so that a later large answer is received into memory that is
  // already in place rather than into freshly mapped pages. Any thread.
  void recycle_body(std::string body);

  class Core;
  struct CancelToken;
  // Used by create; the engine is defined with the transport.
  explicit Transport(std::shared_ptr<Core> core);

  // Hands the result to a waiting caller.
  class Completion {
   public:
    virtual ~Completion() = default;
    // Posts the caller's handler with `result`; called exactly once.
    virtual void complete(TransferResult result) = 0;
  };

 private:
  template <class Handler>
  class CompletionImpl final : public Completion {
   public:
    explicit CompletionImpl(Handler handler)
        : work_(boost::asio::prefer(boost::asio::get_associated_executor(handler),
                                    boost::asio::execution::outstanding_work.tracked)),
          handler_(std::move(handler)) {}

    void complete(TransferResult result) override {
      auto ex = boost::asio::get_associated_executor(handler_);
      boost::asio::post(ex, [handler = std::move(handler_), result = std::move(result)]() mutable {
        std::move(handler)(std::move(result));
      });
    }

   private:
    // Keeps the caller's executor from running out of work while the
    // transfer is under way.
    decltype(boost::asio::prefer(std::declval<boost::asio::associated_executor_t<Handler>>(),
                                 boost::asio::execution::outstanding_work.tracked)) work_;
    Handler handler_;
  };

  struct CancelHandler {
    explicit CancelHandler(std::shared_ptr<CancelToken> token) : token_(std::move(token)) {}
    void operator()(boost::asio::cancellation_type type);
    std::shared_ptr<CancelToken> token_;
  };

  std::shared_ptr<CancelToken> new_cancel_token();
  void start(TransferRequest request, std::unique_ptr<Completion> completion, std::shared_ptr<CancelToken> cancel);

  std::shared_ptr<Core> core_;
};

}  // namespace zephlar::http
