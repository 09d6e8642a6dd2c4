// The transfer engines behind an HttpClient: a few libcurl multi handles,
// each driven by a thread of its own. Callers start a transfer with
// async_perform and are resumed on their own executor when it ends; no
// caller thread ever waits on the network.
//
// Every transfer speaks HTTP/1.1 to http or https URLs only, follows up to
// 10 redirects, takes its proxy from the environment, trusts only the roots
// the transport was built with, and ends when the total time-out runs out.
// Each request is sent at most once per transfer: a kept-alive connection
// that dies after the request went out ends the transfer with an error
// instead of sending the request again, since the server may have acted on
// it. Answer bodies are bounded by max_body_bytes. Connections are pooled in
// each engine and reused by later transfers from any thread.
#pragma once

#include <boost/asio/associated_cancellation_slot.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/cancellation_type.hpp>
#include <boost/asio/execution/outstanding_work.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/prefer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/http/http_client.hpp"
#include "core/http/http_error.hpp"
#include "core/json/request_body.hpp"
#include "core/result.hpp"

namespace zephlar::http {

// The largest answer body a transfer takes. No answer of the service or of
// the node comes near it (the longest lists are a few megabytes); a server
// that sends more, or sends without end, would otherwise grow the host's
// memory until the time-out. A body beyond it ends the transfer as a failed
// body read and its memory is handed back.
inline constexpr std::size_t max_body_bytes = std::size_t{64} << 20;

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

class RootStore;

class Transport {
 public:
  struct Options {
    // Total time-out of each transfer; must be positive (sub-millisecond
    // values are rounded up to 1 ms).
    std::chrono::nanoseconds timeout{};
    // PEM certificates of the roots TLS trusts; nothing else is trusted.
    std::string trusted_roots_pem;
  };

  // Starts the transfer threads; the error text says what failed.
  static Result<std::unique_ptr<Transport>, std::string> create(Options options);
  // Stops the threads; transfers still running end as cancelled.
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Runs one transfer. Completes with void(TransferResult) through the
  // handler's associated executor, never inline. A cancellation emitted on
  // the handler's cancellation slot aborts the transfer and completes it
  // with `cancelled` set. When memory runs out while the transfer is set up,
  // it completes with an error as well.
  template <class CompletionToken>
  auto async_perform(TransferRequest request, CompletionToken&& token) {
    return boost::asio::async_initiate<CompletionToken, void(TransferResult)>(
        [this](auto handler, TransferRequest req) {
          using Impl = CompletionImpl<std::decay_t<decltype(handler)>>;
          std::shared_ptr<Impl> completion;
          try {
            completion = std::make_shared<Impl>(std::move(handler));
          } catch (...) {
            // The handler is still ours: nothing was built from it.
            post_out_of_memory(std::move(handler));
            return;
          }
          std::shared_ptr<CancelToken> cancel;
          try {
            cancel = new_cancel_token();
            auto slot = boost::asio::get_associated_cancellation_slot(completion->handler());
            // Connected before the transfer is handed over, so the slot is
            // never touched while the completion may already be running.
            if (slot.is_connected()) slot.template emplace<CancelHandler>(cancel);
          } catch (...) {
            fail_to_start(completion, cancel, out_of_memory());
            return;
          }
          start(std::move(req), std::move(completion), std::move(cancel));
        },
        token, std::move(request));
  }

  // Takes back the body of a finished transfer once its reader is done with
  // it, so that a later large answer is received into memory that is
  // already in place rather than into freshly mapped pages. Any thread.
  void recycle_body(std::string body) noexcept;

  class Engine;
  struct CancelToken;
  struct Shared;
  // Used by create; the engines are defined with the transport.
  Transport(std::shared_ptr<Shared> shared, std::vector<std::shared_ptr<Engine>> engines);

  // Hands the result to a waiting caller.
  class Completion {
   public:
    virtual ~Completion() = default;
    // Posts the caller's handler with `result`. Throws when the posting
    // cannot get memory; the handler is then kept, and posting may be tried
    // again later. Succeeds at most once.
    virtual void post(const std::shared_ptr<Completion>& self) = 0;

    TransferResult result;
  };

 private:
  template <class Handler>
  class CompletionImpl final : public Completion {
   public:
    explicit CompletionImpl(Handler handler)
        : work_(boost::asio::prefer(boost::asio::get_associated_executor(handler),
                                    boost::asio::execution::outstanding_work.tracked)),
          handler_(std::move(handler)) {}

    Handler& handler() noexcept { return handler_; }

    void post(const std::shared_ptr<Completion>& self) override {
      auto ex = boost::asio::get_associated_executor(handler_);
      // The posted function shares the completion rather than taking the
      // handler out of it, so a post that fails for want of memory loses
      // nothing.
      boost::asio::post(ex, [self = std::static_pointer_cast<CompletionImpl>(self)]() mutable {
        // The work claim stays with the completion: whichever side drops
        // the last share releases it, the transfer thread only once its
        // post has returned, so the caller's context cannot run out of
        // work, and go, while that post is still inside it.
        std::move(self->handler_)(std::move(self->result));
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
    void operator()(boost::asio::cancellation_type type) noexcept;
    std::shared_ptr<CancelToken> token_;
  };

  // Last resort when not even the completion can be built: the handler is
  // posted on its own. Lost only if that fails too.
  template <class Handler>
  static void post_out_of_memory(Handler handler) {
    auto ex = boost::asio::get_associated_executor(handler);
    try {
      boost::asio::post(ex, [handler = std::move(handler)]() mutable {
        TransferResult result;
        result.error = out_of_memory();
        std::move(handler)(std::move(result));
      });
    } catch (...) {
    }
  }

  // Completes a transfer that could not be handed over with `error`,
  // giving back its engine's claim.
  static void fail_to_start(const std::shared_ptr<Completion>& completion, const std::shared_ptr<CancelToken>& cancel,
                            HttpError error) noexcept;
  // Held without allocating, so it can always be made.
  static HttpError out_of_memory() noexcept;

  std::shared_ptr<CancelToken> new_cancel_token();
  void start(TransferRequest request, std::shared_ptr<Completion> completion,
             std::shared_ptr<CancelToken> cancel) noexcept;

  std::shared_ptr<Shared> shared_;
  std::vector<std::shared_ptr<Engine>> engines_;
};

}  // namespace zephlar::http
