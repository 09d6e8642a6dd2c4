#include "core/client/async_rw_lock.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zephlar::client {
namespace {

namespace asio = boost::asio;
using ReadGuard = AsyncRwLock::ReadGuard;
using WriteGuard = AsyncRwLock::WriteGuard;

// Acquires with `acquire`, notes `name` in the log and parks the guard in
// `slot`, where the test releases it.
template <class Guard>
asio::awaitable<void> hold(asio::awaitable<Guard> acquire, std::optional<Guard>& slot, std::vector<std::string>& log,
                           std::string name) {
  Guard guard = co_await std::move(acquire);
  log.push_back(name);
  slot.emplace(std::move(guard));
}

TEST(AsyncRwLockTest, ReadersShareAndExcludeWriters) {
  AsyncRwLock lock;
  auto r1 = lock.try_read();
  auto r2 = lock.try_read();
  ASSERT_TRUE(r1 && r2);
  EXPECT_EQ(lock.state().readers, 2u);
  EXPECT_FALSE(lock.try_write());
  r1.reset();
  EXPECT_FALSE(lock.try_write());
  r2.reset();
  auto w = lock.try_write();
  ASSERT_TRUE(w);
  EXPECT_TRUE(lock.state().writer);
  EXPECT_FALSE(lock.try_read());
  EXPECT_FALSE(lock.try_write());
  w.reset();
  EXPECT_EQ(lock.state().readers, 0u);
  EXPECT_FALSE(lock.state().writer);
}

TEST(AsyncRwLockTest, GuardsReleaseOnceWhenMovedOrReleased) {
  AsyncRwLock lock;
  {
    auto w = lock.try_write();
    ASSERT_TRUE(w);
    WriteGuard moved = std::move(*w);
    EXPECT_FALSE(w->owns_lock());
    EXPECT_TRUE(moved.owns_lock());
    moved.release();
    moved.release();
    EXPECT_FALSE(lock.state().writer);
  }
  {
    auto r = lock.try_read();
    auto other = lock.try_read();
    ASSERT_TRUE(r && other);
    *r = std::move(*other);  // gives up r's own share, takes other's
    EXPECT_EQ(lock.state().readers, 1u);
  }
  EXPECT_EQ(lock.state().readers, 0u);
}

TEST(AsyncRwLockTest, GrantsInRequestOrder) {
  asio::io_context context;
  AsyncRwLock lock;
  std::vector<std::string> log;
  std::optional<WriteGuard> w0 = lock.try_write();
  ASSERT_TRUE(w0);

  std::optional<ReadGuard> r1, r3, r4;
  std::optional<WriteGuard> w2, w5;
  asio::co_spawn(context, hold(lock.read(), r1, log, "r1"), asio::detached);
  asio::co_spawn(context, hold(lock.write(), w2, log, "w2"), asio::detached);
  asio::co_spawn(context, hold(lock.read(), r3, log, "r3"), asio::detached);
  asio::co_spawn(context, hold(lock.read(), r4, log, "r4"), asio::detached);
  asio::co_spawn(context, hold(lock.write(), w5, log, "w5"), asio::detached);
  context.poll();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(lock.state().waiting, 5u);

  w0.reset();  // r1 only: w2 is next in line and r3 may not pass it
  context.poll();
  EXPECT_EQ(log, (std::vector<std::string>{"r1"}));
  // A reader arriving now queues too, behind w5.
  EXPECT_FALSE(lock.try_read());

  r1.reset();  // w2
  context.poll();
  EXPECT_EQ(log, (std::vector<std::string>{"r1", "w2"}));

  w2.reset();  // r3 and r4 together
  context.poll();
  EXPECT_EQ(log, (std::vector<std::string>{"r1", "w2", "r3", "r4"}));
  EXPECT_EQ(lock.state().readers, 2u);

  r3.reset();
  context.poll();
  EXPECT_EQ(log.size(), 4u);  // w5 waits for r4 as well
  r4.reset();
  context.poll();
  EXPECT_EQ(log, (std::vector<std::string>{"r1", "w2", "r3", "r4", "w5"}));
  w5.reset();
  EXPECT_EQ(lock.state().waiting, 0u);
}

TEST(AsyncRwLockTest, WaitingWriterIsNotOvertakenByLaterReaders) {
  asio::io_context context;
  AsyncRwLock lock;
  std::vector<std::string> log;
  std::optional<ReadGuard> first = lock.try_read();
  ASSERT_TRUE(first);

  std::optional<WriteGuard> writer;
  asio::co_spawn(context, hold(lock.write(), writer, log, "writer"), asio::detached);
  context.poll();

  // A steady stream of readers, each asking while the one before still
  // holds: none of them gets in ahead of the writer.
  std::vector<std::optional<ReadGuard>> later(20);
  for (std::size_t i = 0; i < later.size(); ++i) {
    asio::co_spawn(context, hold(lock.read(), later[i], log, "reader"), asio::detached);
    context.poll();
  }
  EXPECT_TRUE(log.empty());

  first.reset();
  context.poll();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "writer");
  EXPECT_EQ(log.size(), 1u);
  writer.reset();
  context.poll();
  EXPECT_EQ(log.size(), 21u);
  EXPECT_EQ(lock.state().readers, 20u);
  later.clear();
  EXPECT_EQ(lock.state().readers, 0u);
}

TEST(AsyncRwLockTest, GrantIsPostedNotRunInsideRelease) {
  asio::io_context context;
  AsyncRwLock lock;
  std::vector<std::string> log;
  std::optional<WriteGuard> held = lock.try_write();
  std::optional<WriteGuard> next;
  asio::co_spawn(context, hold(lock.write(), next, log, "next"), asio::detached);
  context.poll();
  held.reset();
  // Granted already (the lock is taken on its behalf) but not yet resumed.
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(lock.state().writer);
  EXPECT_EQ(lock.state().waiting, 0u);
  context.poll();
  EXPECT_EQ(log, (std::vector<std::string>{"next"}));
}

TEST(AsyncRwLockTest, WaiterResumesOnItsOwnExecutor) {
  AsyncRwLock lock;
  asio::io_context waiter_context;
  auto work = asio::make_work_guard(waiter_context);
  std::thread waiter_thread([&] { waiter_context.run(); });
  const auto waiter_thread_id = waiter_thread.get_id();

  std::optional<WriteGuard> held = lock.try_write();
  std::atomic<bool> resumed_on_own_thread{false};
  std::atomic<bool> done{false};
  asio::co_spawn(
      waiter_context,
      [&]() -> asio::awaitable<void> {
        auto guard = co_await lock.read();
        resumed_on_own_thread = std::this_thread::get_id() == waiter_thread_id;
        done = true;
      },
      asio::detached);
  while (lock.state().waiting == 0) std::this_thread::yield();
  held.reset();  // released on the test's thread
  while (!done) std::this_thread::yield();
  work.reset();
  waiter_thread.join();
  EXPECT_TRUE(resumed_on_own_thread);
}

TEST(AsyncRwLockTest, ManyThreadsAndExecutorsKeepTheInvariant) {
  AsyncRwLock lock;
  constexpr int contexts = 2;
  constexpr int threads_per_context = 4;
  constexpr int coroutines = 48;
  constexpr int rounds = 150;

  std::atomic<int> readers{0};
  std::atomic<int> writers{0};
  std::atomic<int> violations{0};
  std::atomic<int> max_readers{0};
  long long protected_counter = 0;  // written only under the write lock
  std::atomic<long long> writes{0};

  auto yield = []() -> asio::awaitable<void> {
    co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);
  };

  auto worker = [&](int id) -> asio::awaitable<void> {
    for (int round = 0; round < rounds; ++round) {
      if ((id + round) % 4 == 0) {
        auto guard = co_await lock.write();
        if (writers.fetch_add(1) != 0 || readers.load() != 0) ++violations;
        ++protected_counter;
        ++writes;
        co_await yield();
        writers.fetch_sub(1);
      } else {
        auto guard = co_await lock.read();
        const int now_reading = readers.fetch_add(1) + 1;
        int seen = max_readers.load();
        while (now_reading > seen && !max_readers.compare_exchange_weak(seen, now_reading)) {
        }
        if (writers.load() != 0) ++violations;
        [[maybe_unused]] volatile long long observed = protected_counter;
        co_await yield();
        readers.fetch_sub(1);
      }
    }
  };

  std::vector<std::unique_ptr<asio::io_context>> io;
  for (int c = 0; c < contexts; ++c) io.push_back(std::make_unique<asio::io_context>(threads_per_context));
  for (int id = 0; id < coroutines; ++id) asio::co_spawn(*io[id % contexts], worker(id), asio::detached);
  std::vector<std::thread> threads;
  for (auto& context : io) {
    for (int t = 0; t < threads_per_context; ++t) threads.emplace_back([&context] { context->run(); });
  }
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(protected_counter, writes.load());
  EXPECT_EQ(writes.load(), coroutines * rounds / 4);
  EXPECT_GT(max_readers.load(), 1) << "readers never overlapped";
  const auto state = lock.state();
  EXPECT_EQ(state.readers, 0u);
  EXPECT_FALSE(state.writer);
  EXPECT_EQ(state.waiting, 0u);
}

}  // namespace
}  // namespace zephlar::client
