#include "ffi/runtime.hpp"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>

namespace zephlar::ffi {

namespace {

// Set on each worker thread of a runtime for its whole life.
thread_local bool t_runtime_worker = false;

// The io_context on which a thread runs its blocking calls. It is kept busy
// for good, so that it never stops for want of work between two steps of a
// call (or between two calls) and needs no restart.
struct CallerContext {
  // One thread at a time runs it; others only post to it.
  boost::asio::io_context io{1};
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> busy{io.get_executor()};
};

// The contexts of threads that have ended, handed to the next threads that
// make blocking calls: a host that starts a thread per call reuses them
// rather than making one per call. A context is never destroyed: another
// thread may still hold a reference to it for a moment after a call has
// completed (a transfer engine releasing its claim on the context after it
// has posted the completion), which must not outlive the context.
class ContextPool {
 public:
  std::unique_ptr<CallerContext> take() {
    {
      const std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        auto context = std::move(idle_.back());
        idle_.pop_back();
        return context;
      }
    }
    return std::make_unique<CallerContext>();
  }

  void give_back(std::unique_ptr<CallerContext> context) noexcept {
    try {
      const std::lock_guard lock(mutex_);
      idle_.push_back(std::move(context));
    } catch (...) {
      // No room to keep it: it is left alive rather than destroyed.
      static_cast<void>(context.release());
    }
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<CallerContext>> idle_;
};

// Never destroyed, since threads may end after the static objects are gone.
ContextPool& context_pool() {
  union NeverDestroyed {
    NeverDestroyed() : pool() {}
    ~NeverDestroyed() {}
    ContextPool pool;
  };
  static NeverDestroyed holder;
  return holder.pool;
}

// The calling thread's context, taken on its first blocking call and given
// back to the pool when the thread ends. The hand-back is a thread-specific
// key's destructor rather than a thread_local object's: registering the
// destructor of such an object takes memory, and the C library ends the
// process when it finds none. The key owns the context it holds.
void give_back_on_exit(void* context) noexcept {
  context_pool().give_back(std::unique_ptr<CallerContext>(static_cast<CallerContext*>(context)));
}

struct CallerKey {
  CallerKey() noexcept { created = pthread_key_create(&key, &give_back_on_exit) == 0; }
  pthread_key_t key{};
  bool created = false;
};

// Trivially destroyed, so nothing is registered for it; the key above
// owns what it points at.
thread_local CallerContext* t_caller = nullptr;

}  // namespace

std::shared_ptr<Runtime> Runtime::create(unsigned threads) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  std::shared_ptr<Runtime> runtime(new Runtime());
  runtime->start(threads);
  return runtime;
}

void Runtime::start(unsigned threads) {
  work_.emplace(io_->get_executor());
  stream_work_.emplace(stream_io_->get_executor());
  threads_.reserve(threads + 1);
  try {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([io = io_.get()] { serve(*io); });
    threads_.emplace_back([io = stream_io_.get()] { serve(*io); });
  } catch (...) {
    stop_and_join();
    throw;
  }
}

void Runtime::serve(boost::asio::io_context& io) {
  t_runtime_worker = true;
  for (;;) {
    try {
      io.run();
      return;
    } catch (...) {
      // A handler let an exception out; the runtime goes on serving the
      // other tasks.
    }
  }
}

void Runtime::register_long_task(const std::shared_ptr<LongTask>& task) {
  const std::lock_guard lock(long_tasks_mutex_);
  std::erase_if(long_tasks_, [](const std::weak_ptr<LongTask>& t) { return t.expired(); });
  long_tasks_.push_back(task);
}

void Runtime::end_long_tasks(bool wait) noexcept {
  {
    const std::lock_guard lock(long_tasks_mutex_);
    for (const auto& weak : long_tasks_) {
      if (const auto task = weak.lock()) task->end_for_shutdown();
    }
  }
  if (!wait) return;
  // Ending takes the tasks a few steps on the runtime's threads; a task that
  // does not end in time is torn down with the io_context as before.
  constexpr auto step = std::chrono::milliseconds(1);
  constexpr int max_steps = 500;
  for (int i = 0; i < max_steps; ++i) {
    {
      const std::lock_guard lock(long_tasks_mutex_);
      if (std::all_of(long_tasks_.begin(), long_tasks_.end(), [](const auto& t) { return t.expired(); })) return;
    }
    std::this_thread::sleep_for(step);
  }
}

void Runtime::stop_and_join() noexcept {
  const auto self = std::this_thread::get_id();
  const bool released_on_own_thread =
      std::any_of(threads_.begin(), threads_.end(), [self](const std::thread& t) { return t.get_id() == self; });
  // A thread of this runtime cannot wait for the others to finish a task
  // that may need it.
  end_long_tasks(!released_on_own_thread);
  work_.reset();
  stream_work_.reset();
  io_->stop();
  stream_io_->stop();
  for (auto& thread : threads_) {
    if (!thread.joinable()) continue;
    if (thread.get_id() == self) {
      // Released from one of its own tasks, which the rules forbid; the
      // thread cannot join itself, so it is left to leave run() on its own
      // and the io_context it is still inside is never destroyed.
      thread.detach();
    } else {
      thread.join();
    }
  }
  threads_.clear();
  if (released_on_own_thread) {
    static_cast<void>(io_.release());
    static_cast<void>(stream_io_.release());
  }
}

Runtime::~Runtime() { stop_and_join(); }

bool Runtime::on_runtime_thread() noexcept { return t_runtime_worker; }

boost::asio::io_context& Runtime::caller_context() {
  if (t_caller == nullptr) {
    static const CallerKey caller_key;
    if (!caller_key.created) throw std::bad_alloc();
    std::unique_ptr<CallerContext> context = context_pool().take();
    if (pthread_setspecific(caller_key.key, context.get()) != 0) {
      context_pool().give_back(std::move(context));
      throw std::bad_alloc();
    }
    t_caller = context.release();
  }
  return t_caller->io;
}

void Runtime::drive_until(boost::asio::io_context& io, const bool& done) noexcept {
  while (!done) {
    try {
      if (io.run_one() == 0 && io.stopped()) io.restart();
    } catch (...) {
      // A handler let an exception out; the task's own frame has kept its
      // exception, so the wait goes on until the task completes.
    }
  }
}

void rethrow_as_internal_fault(std::exception_ptr error) {
  if (!error) throw InternalFault("a task on the runtime ended without a value");
  try {
    std::rethrow_exception(error);
  } catch (const InternalFault&) {
    throw;
  } catch (const std::exception& e) {
    throw InternalFault(e.what());
  } catch (...) {
    throw InternalFault("a task on the runtime ended with an unknown exception");
  }
}

}  // namespace zephlar::ffi
