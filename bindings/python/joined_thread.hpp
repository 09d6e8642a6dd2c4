// A plain OS thread with a stack of a chosen size, started and joined at
// once. std::thread has no way to choose the stack size, and the default of
// the process (often 8 MiB, or whatever `ulimit -s` says in the host) is
// both larger than a worker needs and outside this library's control.
//
// Needs nothing of the interpreter.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <string>
#include <system_error>

#include "ffi/internal_fault.hpp"

namespace zephlar::python {

// The stack of each worker thread: the blocking wrapper operations run
// their core work on the client's runtime threads and only wait here.
inline constexpr std::size_t worker_stack_size = std::size_t{2} * 1024 * 1024;

[[noreturn]] inline void throw_spawn_failure(int error) {
  throw ffi::InternalFault("failed to spawn thread: " + std::system_category().message(error));
}

// Thread creation attributes, destroyed on every path out of the caller.
class ThreadAttributes {
 public:
  ThreadAttributes() {
    if (int error = pthread_attr_init(&attributes_); error != 0) throw_spawn_failure(error);
  }
  ~ThreadAttributes() { pthread_attr_destroy(&attributes_); }
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;

  void set_stack_size(std::size_t bytes) {
    if (int error = pthread_attr_setstacksize(&attributes_, bytes); error != 0) throw_spawn_failure(error);
  }
  const pthread_attr_t* get() const noexcept { return &attributes_; }

 private:
  pthread_attr_t attributes_;
};

using ThreadBody = void (*)(void* context) noexcept;

// Runs body(context) on a new thread with a stack of `stack_size` bytes and
// returns once that thread has ended. Throws ffi::InternalFault "failed to
// spawn thread: ..." on the calling thread when the thread cannot be
// started (no memory for its stack, the process's thread limit); then
// `body` has not run.
inline void run_on_joined_thread(ThreadBody body, void* context, std::size_t stack_size) {
  struct Start {
    ThreadBody body;
    void* context;
  };
  Start start{body, context};
  ThreadAttributes attributes;
  attributes.set_stack_size(stack_size);
  pthread_t thread;
  int error = pthread_create(
      &thread, attributes.get(),
      [](void* argument) -> void* {
        auto* start = static_cast<Start*>(argument);
        start->body(start->context);
        return nullptr;
      },
      &start);
  if (error != 0) throw_spawn_failure(error);
  // Joining a thread this function created and never detached cannot fail,
  // so the thread has ended (and no longer uses `start`) once this returns.
  pthread_join(thread, nullptr);
}

}  // namespace zephlar::python
