// The blocking-call pattern: a wrapper operation runs on a new OS thread
// that the calling thread joins at once, still holding the interpreter lock.
//
// The worker belongs to no asynchronous runtime, so the wrapper's blocking
// wait never nests inside one. It never touches the interpreter: the body
// owns a share of the wrapper object and copies of the converted arguments,
// and releases them on the worker thread when it returns.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>

#include "bindings/python/joined_thread.hpp"

namespace zephlar::python {

// What came back from the worker: the body's value, or nothing when the
// body ended through a fault (an exception of any kind).
template <class T>
struct WorkerOutcome {
  std::optional<T> value;
  bool panicked() const noexcept { return !value.has_value(); }
};

// Runs `body` (a callable returning T, taken by value) on a new thread with
// a stack of `stack_size` bytes and waits for it. Throws ffi::InternalFault
// "failed to spawn thread: ..." on the calling thread when the thread
// cannot be started; `body` is then released there.
template <class T, class Body>
WorkerOutcome<T> run_on_worker(Body body, std::size_t stack_size = worker_stack_size) {
  struct Task {
    Body body;
    WorkerOutcome<T> outcome;
  };
  Task task{std::move(body), {}};
  run_on_joined_thread(
      [](void* context) noexcept {
        auto& task = *static_cast<Task*>(context);
        try {
          task.outcome.value.emplace(task.body());
        } catch (...) {
          task.outcome.value.reset();
        }
        // Drop the share of the wrapper object and the arguments here, on
        // the worker, before the calling thread resumes.
        try {
          [[maybe_unused]] Body released = std::move(task.body);
        } catch (...) {
          // A body whose move throws keeps its state, released by the
          // calling thread instead.
        }
      },
      &task, stack_size);
  return std::move(task.outcome);
}

}  // namespace zephlar::python
