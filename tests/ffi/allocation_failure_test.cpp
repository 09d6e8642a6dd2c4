// Blocking calls while the allocator fails. This program replaces the global
// allocation functions: a thread may arm a countdown, and its allocation
// that takes the count to zero throws std::bad_alloc (other threads, such
// as the runtime's, allocate as usual). Whichever allocation of a blocking
// call fails, the call must end with its value or an exception, never hang,
// and the thread's next call must work. (Asio takes the memory of its
// handlers and coroutine frames straight from the C allocator, so those
// allocations are not among the ones failed here.)
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <gtest/gtest.h>

#include "tests/ffi/wrapper_support.hpp"

namespace {

// Allocations left before one fails on this thread; negative: none fails.
thread_local long t_allocations_left = -1;

void* allocate(std::size_t size) {
  if (t_allocations_left >= 0 && t_allocations_left-- == 0) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void* allocate_aligned(std::size_t size, std::align_val_t align) {
  if (t_allocations_left >= 0 && t_allocations_left-- == 0) throw std::bad_alloc();
  const auto alignment = static_cast<std::size_t>(align);
  const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
  if (void* p = std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t align) { return allocate_aligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return allocate_aligned(size, align); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace zephlar::ffi::testing {
namespace {

enum class Outcome { value, exception };

// Runs `call` with the `n`th allocation of this thread failing (counting
// from 0); tells whether that allocation was reached.
template <class Call>
bool with_failing_allocation(long n, Call call, Outcome& outcome) {
  t_allocations_left = n;
  try {
    call();
    outcome = Outcome::value;
  } catch (...) {
    outcome = Outcome::exception;
  }
  const bool reached = t_allocations_left < 0;
  t_allocations_left = -1;
  return reached;
}

// Fails each allocation of `call` in turn, on a new thread each time (so
// that the thread's first call, with whatever it sets up, is covered too),
// then calls again on that thread with nothing failing.
template <class Call, class Check>
void fail_each_allocation(Call call, Check check_value) {
  for (long n = 0;; ++n) {
    bool reached = false;
    Outcome outcome{};
    bool recovered = false;
    std::thread([&] {
      reached = with_failing_allocation(n, call, outcome);
      recovered = check_value();
    }).join();
    SCOPED_TRACE("allocation " + std::to_string(n));
    EXPECT_TRUE(recovered);
    if (!reached) {
      EXPECT_EQ(outcome, Outcome::value);
      EXPECT_GT(n, 0);
      return;
    }
  }
}

TEST(WrapperAllocationFailureTest, ACachedCallEndsWithAValueOrAnException) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  const std::string pairs = text_of(client->list_pairs());
  ASSERT_EQ(pairs.front(), '[');
  fail_each_allocation([&] { static_cast<void>(client->list_pairs()); },
                       [&] { return text_of(client->list_pairs()) == pairs; });
}

TEST(WrapperAllocationFailureTest, ATaskThatWaitsEndsWithAValueOrAnException) {
  auto runtime = Runtime::create(2);
  auto waits = [&]() -> boost::asio::awaitable<int> {
    co_await boost::asio::post(runtime->executor(), boost::asio::use_awaitable);
    boost::asio::steady_timer timer(co_await boost::asio::this_coro::executor, std::chrono::microseconds(100));
    co_await timer.async_wait(boost::asio::use_awaitable);
    co_return 7;
  };
  fail_each_allocation([&] { static_cast<void>(runtime->block_on(waits())); },
                       [&] { return runtime->block_on(waits()) == 7; });
}

}  // namespace
}  // namespace zephlar::ffi::testing
