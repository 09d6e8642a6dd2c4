// An asynchronous read-write lock for coroutines on Boost.Asio.
//
// Any number of readers or one writer hold it at a time. Requests are
// granted strictly in the order they were made: a reader that asks while a
// writer waits queues behind that writer, so neither side starves. Waiting
// never blocks a thread: the waiting coroutine is suspended and resumed
// through its own executor once the lock is granted. The lock may be used
// from any number of threads and executors at once; an internal mutex guards
// the bookkeeping only and is never held while anybody waits.
//
// A waiting request cannot be cancelled; it stays queued until granted. The
// lock must outlive every guard and every waiting coroutine.
#pragma once

#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/execution/outstanding_work.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/prefer.hpp>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace zephlar::client {

class AsyncRwLock {
 public:
  // Holds a share of the lock until destroyed, moved from or released.
  class ReadGuard {
   public:
    ReadGuard(ReadGuard&& other) noexcept : lock_(std::exchange(other.lock_, nullptr)) {}
    ReadGuard& operator=(ReadGuard&& other) noexcept;
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;
    ~ReadGuard() { release(); }

    void release() noexcept;
    bool owns_lock() const noexcept { return lock_ != nullptr; }

   private:
    friend class AsyncRwLock;
    explicit ReadGuard(AsyncRwLock* lock) noexcept : lock_(lock) {}
    AsyncRwLock* lock_;
  };

  // Holds the lock alone until destroyed, moved from or released.
  class WriteGuard {
   public:
    WriteGuard(WriteGuard&& other) noexcept : lock_(std::exchange(other.lock_, nullptr)) {}
    WriteGuard& operator=(WriteGuard&& other) noexcept;
    WriteGuard(const WriteGuard&) = delete;
    WriteGuard& operator=(const WriteGuard&) = delete;
    ~WriteGuard() { release(); }

    void release() noexcept;
    bool owns_lock() const noexcept { return lock_ != nullptr; }

   private:
    friend class AsyncRwLock;
    explicit WriteGuard(AsyncRwLock* lock) noexcept : lock_(lock) {}
    AsyncRwLock* lock_;
  };

  AsyncRwLock() = default;
  AsyncRwLock(const AsyncRwLock&) = delete;
  AsyncRwLock& operator=(const AsyncRwLock&) = delete;
  ~AsyncRwLock();

  // Waits for a share of the lock.
  boost::asio::awaitable<ReadGuard> read();
  // Waits for the lock alone.
  boost::asio::awaitable<WriteGuard> write();

  // Takes the lock at once when that keeps the order of requests (nobody
  // waits and no conflicting holder), otherwise gives nothing.
  std::optional<ReadGuard> try_read();
  std::optional<WriteGuard> try_write();

  // A snapshot of the state, for tests and diagnostics.
  struct State {
    std::size_t readers = 0;
    bool writer = false;
    std::size_t waiting = 0;
  };
  State state() const;

 private:
  // A waiter's completion, run on its own executor once it is granted.
  struct PendingGrant {
    virtual ~PendingGrant() = default;
    virtual void resume() = 0;
  };

  template <class Handler>
  struct Grant final : PendingGrant {
    using Work = std::decay_t<decltype(boost::asio::prefer(std::declval<boost::asio::associated_executor_t<Handler>>(),
                                                           boost::asio::execution::outstanding_work.tracked))>;

    explicit Grant(Handler h)
        : handler(std::move(h)),
          // Keeps the waiter's executor busy while it waits, so that its
          // event loop does not run out of work and stop under it.
          work(boost::asio::prefer(boost::asio::get_associated_executor(handler),
                                   boost::asio::execution::outstanding_work.tracked)) {}

    void resume() override {
      // Never run inline: the releasing code goes on undisturbed and the
      // waiter resumes on its own executor.
      boost::asio::post(work, std::move(handler));
    }

    Handler handler;
    Work work;
  };

  struct Waiter {
    bool exclusive;
    std::unique_ptr<PendingGrant> grant;
  };

  // Queues a request; the completion runs once the lock is held on the
  // waiter's behalf.
  template <class CompletionToken>
  auto async_acquire(bool exclusive, CompletionToken&& token) {
    return boost::asio::async_initiate<CompletionToken, void()>(
        [this, exclusive](auto handler) {
          enqueue(Waiter{exclusive, std::make_unique<Grant<decltype(handler)>>(std::move(handler))});
        },
        token);
  }

  bool try_acquire(bool exclusive);
  void enqueue(Waiter waiter);
  void unlock_shared() noexcept;
  void unlock_exclusive() noexcept;
  // With the mutex held: hands the lock to the waiters at the front of the
  // queue that can have it now and moves them to `granted`.
  void grant_locked(std::vector<Waiter>& granted);
  // Without the mutex: resumes each granted waiter through its executor.
  static void resume(std::vector<Waiter>& granted);

  mutable std::mutex mutex_;
  std::size_t readers_ = 0;
  bool writer_ = false;
  std::deque<Waiter> waiters_;
};

}  // namespace zephlar::client
