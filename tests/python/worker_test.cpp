// The worker thread of the module's blocking calls: its stack size, where
// the body's state is released, and a thread that cannot be started.
#include "bindings/python/worker.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace zephlar::python {
namespace {

std::size_t own_stack_size() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  std::size_t size = 0;
  pthread_attr_getstacksize(&attributes, &size);
  pthread_attr_destroy(&attributes);
  return size;
}

// Records the thread that destroys it.
struct ReleaseProbe {
  explicit ReleaseProbe(std::thread::id* released_on) : released_on(released_on) {}
  ReleaseProbe(const ReleaseProbe&) = delete;
  ReleaseProbe& operator=(const ReleaseProbe&) = delete;
  ~ReleaseProbe() { *released_on = std::this_thread::get_id(); }
  std::thread::id* released_on;
};

TEST(Worker, RunsTheBodyOnAnotherThreadWithATwoMebibyteStack) {
  auto outcome = run_on_worker<std::pair<std::thread::id, std::size_t>>(
      [] { return std::make_pair(std::this_thread::get_id(), own_stack_size()); });
  ASSERT_FALSE(outcome.panicked());
  EXPECT_NE(outcome.value->first, std::this_thread::get_id());
  EXPECT_EQ(outcome.value->second, std::size_t{2} * 1024 * 1024);
}

TEST(Worker, ReleasesTheBodyOnTheWorkerWhetherItReturnsOrThrows) {
  for (bool throws : {false, true}) {
    std::thread::id ran_on;
    std::thread::id released_on;
    auto probe = std::make_shared<ReleaseProbe>(&released_on);
    auto outcome = run_on_worker<std::string>([probe = std::move(probe), throws, &ran_on]() -> std::string {
      ran_on = std::this_thread::get_id();
      if (throws) throw std::logic_error("fault");
      return "value";
    });
    EXPECT_EQ(outcome.panicked(), throws);
    if (!throws) {
      EXPECT_EQ(*outcome.value, "value");
    }
    EXPECT_NE(ran_on, std::thread::id());
    EXPECT_EQ(released_on, ran_on) << (throws ? "throwing body" : "returning body");
  }
}

TEST(Worker, AThreadThatCannotStartIsAnInternalFaultAndTheBodyIsReleasedHere) {
  // A stack below the system minimum, and one larger than the address space.
  for (std::size_t stack_size : {std::size_t{1}, std::size_t{1} << 48}) {
    bool ran = false;
    std::thread::id released_on;
    auto probe = std::make_shared<ReleaseProbe>(&released_on);
    try {
      run_on_worker<int>(
          [probe = std::move(probe), &ran] {
            ran = true;
            return 0;
          },
          stack_size);
      ADD_FAILURE() << "started with a stack of " << stack_size << " bytes";
    } catch (const ffi::InternalFault& fault) {
      EXPECT_EQ(std::string(fault.what()).rfind("failed to spawn thread: ", 0), 0u) << fault.what();
    }
    EXPECT_FALSE(ran);
    EXPECT_EQ(released_on, std::this_thread::get_id());
  }
}

}  // namespace
}  // namespace zephlar::python
