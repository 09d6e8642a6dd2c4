// The asynchronous runtime of one wrapper client: an io_context served by a
// pool of worker threads, one per hardware thread, for the tasks that run on
// their own (a quote stream's socket task).
//
// A blocking call of the wrapper does not hand its operation to those
// threads. block_on runs the operation's steps on the calling thread, on an
// io_context the thread holds as its own from its first blocking call until
// it ends (then it goes back to a pool for later threads): the caller runs
// the steps that are ready and sleeps while the operation waits. A
// transfer's completion, a lock grant or a timer's expiry is posted to the
// operation's executor and so wakes the caller, which takes the next step
// itself. A call whose answer is at hand (a cached list) thus never wakes
// another thread, and each of many concurrent callers works on its own
// thread.
//
// A runtime lives behind a shared_ptr. The client holds one reference and
// every quote stream it creates another, so the runtime (its threads and the
// tasks still on it) lives until the last of them is released; the
// destructor stops the io_context and joins the threads.
//
// Neither a blocking call nor the release of the last reference may happen
// on a thread that runs tasks of a runtime: both wait for other threads. A
// blocking call there is refused with an InternalFault.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ffi/internal_fault.hpp"

namespace zephlar::ffi {

inline constexpr const char* blocking_on_runtime_thread_message =
    "a blocking call was made on a thread that runs asynchronous tasks";

class Runtime {
 public:
  using executor_type = boost::asio::io_context::executor_type;

  // Starts the worker threads: `threads` of them, or one per hardware thread
  // when 0. Throws std::system_error when a thread cannot be started (those
  // already started are stopped and joined first).
  static std::shared_ptr<Runtime> create(unsigned threads = 0);

  // Stops the io_context, joins every worker thread and drops the tasks
  // still queued where they stand.
  ~Runtime();

  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  executor_type executor() noexcept { return io_->get_executor(); }
  // The executor of the tasks that keep a connection of their own open (the
  // quote streams' socket tasks): one more thread of the runtime serves them
  // all, one step at a time, so each task's steps never run at once without
  // a strand per task (whose making can crash when memory runs out).
  executor_type stream_executor() noexcept { return stream_io_->get_executor(); }
  boost::asio::io_context& context() noexcept { return *io_; }
  std::size_t thread_count() const noexcept { return threads_.size(); }  // with the stream thread

  // Whether the calling thread is a worker thread of any runtime.
  static bool on_runtime_thread() noexcept;

  // A task that runs until something outside it ends it (a quote stream's
  // socket task). When the runtime shuts down it asks each such task still
  // alive to end, and gives them a moment to do so while its threads still
  // serve them, so that their frames are released in the ordinary way
  // rather than torn down with the io_context (which, for a frame parked in
  // an operation, takes memory that may not be there).
  class LongTask {
   public:
    virtual ~LongTask() = default;
    // Asks the task to end soon; any thread, more than once.
    virtual void end_for_shutdown() noexcept = 0;
  };
  // Registers `task` (held weakly: it is gone when the task's frame is).
  // Throws std::bad_alloc.
  void register_long_task(const std::shared_ptr<LongTask>& task);

  // Runs `task` on the calling thread (see above) until it has completed
  // (its frame released), then returns its value. Throws InternalFault on a
  // worker thread of a runtime, and when the task ends with an exception
  // (an InternalFault passes through unchanged, any other exception is
  // rethrown as an InternalFault with its text). When the task cannot be
  // started (the thread's io_context cannot be made, or an allocation
  // fails) that exception is thrown as it is and nothing has run.
  template <class T>
  T block_on(boost::asio::awaitable<T> task);

 private:
  Runtime() = default;
  void start(unsigned threads);
  void stop_and_join() noexcept;
  static void serve(boost::asio::io_context& io);

  // The calling thread's own io_context for blocking calls, taken on the
  // thread's first call (made when the pool has none). Throws what making it
  // throws.
  static boost::asio::io_context& caller_context();
  // Runs handlers of the calling thread's io_context until `done` is set,
  // sleeping while none is ready. A handler that lets an exception out does
  // not end the wait: the task it belongs to still completes (its frame
  // catches its own exceptions), and the caller must not leave before then.
  static void drive_until(boost::asio::io_context& io, const bool& done) noexcept;

  // Held by pointer so that a runtime released on one of its own threads
  // (forbidden, but not fatal) can leave its io_context to that thread.
  std::unique_ptr<boost::asio::io_context> io_ = std::make_unique<boost::asio::io_context>();
  std::unique_ptr<boost::asio::io_context> stream_io_ = std::make_unique<boost::asio::io_context>(1);
  std::optional<boost::asio::executor_work_guard<executor_type>> work_;
  std::optional<boost::asio::executor_work_guard<executor_type>> stream_work_;
  std::vector<std::thread> threads_;  // the last one serves stream_io_

  // Asks the long tasks to end and, when `wait`, waits briefly until they
  // have.
  void end_long_tasks(bool wait) noexcept;
  std::mutex long_tasks_mutex_;
  std::vector<std::weak_ptr<LongTask>> long_tasks_;
};

[[noreturn]] void rethrow_as_internal_fault(std::exception_ptr error);

template <class T>
T Runtime::block_on(boost::asio::awaitable<T> task) {
  if (on_runtime_thread()) throw InternalFault(blocking_on_runtime_thread_message);
  boost::asio::io_context& io = caller_context();

  // Shared with the completion: should starting the task fail half way,
  // whatever was queued may still run later, after this call has thrown.
  struct State {
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
  };
  auto state = std::make_shared<State>();
  boost::asio::co_spawn(
      io,
      [task = std::move(task), state]() mutable -> boost::asio::awaitable<void> {
        try {
          state->value.emplace(co_await std::move(task));
        } catch (...) {
          state->error = std::current_exception();
        }
        // Set here too, not only by the completion below: handing the
        // completion over takes memory of its own, and when none is left the
        // caller must still not wait for ever. On this thread the rest of
        // the frame's end runs within the same step of the wait, so the
        // frame is still gone by the time the wait looks at the flag.
        state->done = true;
      },
      [state](std::exception_ptr error) noexcept {
        // Runs on this thread, once the coroutine's frame is gone.
        if (error && !state->error) state->error = std::move(error);
        state->done = true;
      });
  drive_until(io, state->done);

  if (state->error || !state->value) rethrow_as_internal_fault(state->error);
  return std::move(*state->value);
}

}  // namespace zephlar::ffi
