// The blocking-call pattern: a wrapper operation runs on a new OS thread
// that the calling thread joins at once, still holding the interpreter lock.
//
// The worker belongs to no asynchronous runtime, so the wrapper's blocking
// wait never nests inside one. It never touches the interpreter: the body
// owns a share of the wrapper object and copies of the converted arguments,
// and releases them on the worker thread when it returns.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "ffi/internal_fault.hpp"

namespace zephlar::python {

// What came back from the worker: the body's value, or nothing when the
// body ended through a fault (an exception of any kind).
template <class T>
struct WorkerOutcome {
  std::optional<T> value;
  bool panicked() const noexcept { return !value.has_value(); }
};

// Runs `body` (a callable returning T, taken by value) on a new thread and
// waits for it. Throws ffi::InternalFault "failed to spawn thread: ..." on
// the calling thread when the thread cannot be started.
template <class T, class Body>
WorkerOutcome<T> run_on_worker(Body body) {
  WorkerOutcome<T> outcome;
  std::thread worker;
  try {
    worker = std::thread([&outcome, body = std::move(body)]() mutable noexcept {
      try {
        outcome.value.emplace(body());
      } catch (...) {
        outcome.value.reset();
      }
      // Drop the share of the wrapper object and the arguments here, on the
      // worker, before the calling thread resumes.
      [[maybe_unused]] auto released = std::move(body);
    });
  } catch (const std::system_error& error) {
    throw ffi::InternalFault(std::string("failed to spawn thread: ") + error.what());
  }
  worker.join();
  return outcome;
}

}  // namespace zephlar::python
