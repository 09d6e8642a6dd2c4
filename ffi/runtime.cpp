#include "ffi/runtime.hpp"

#include <algorithm>
#include <system_error>

namespace zephlar::ffi {

namespace {

// Set on each worker thread of a runtime for its whole life.
thread_local bool t_runtime_worker = false;

}  // namespace

std::shared_ptr<Runtime> Runtime::create(unsigned threads) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  std::shared_ptr<Runtime> runtime(new Runtime());
  runtime->start(threads);
  return runtime;
}

void Runtime::start(unsigned threads) {
  work_.emplace(io_->get_executor());
  threads_.reserve(threads);
  try {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([io = io_.get()] { serve(*io); });
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

void Runtime::stop_and_join() noexcept {
  work_.reset();
  io_->stop();
  const auto self = std::this_thread::get_id();
  bool released_on_own_thread = false;
  for (auto& thread : threads_) {
    if (!thread.joinable()) continue;
    if (thread.get_id() == self) {
      // Released from one of its own tasks, which the rules forbid; the
      // thread cannot join itself, so it is left to leave run() on its own
      // and the io_context it is still inside is never destroyed.
      thread.detach();
      released_on_own_thread = true;
    } else {
      thread.join();
    }
  }
  threads_.clear();
  if (released_on_own_thread) static_cast<void>(io_.release());
}

Runtime::~Runtime() { stop_and_join(); }

bool Runtime::on_runtime_thread() noexcept { return t_runtime_worker; }

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
