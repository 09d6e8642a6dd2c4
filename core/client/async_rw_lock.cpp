#include "core/client/async_rw_lock.hpp"

#include <boost/asio/use_awaitable.hpp>
#include <cassert>
#include <utility>

namespace zephlar::client {

AsyncRwLock::ReadGuard& AsyncRwLock::ReadGuard::operator=(ReadGuard&& other) noexcept {
  if (this != &other) {
    release();
    lock_ = std::exchange(other.lock_, nullptr);
  }
  return *this;
}

void AsyncRwLock::ReadGuard::release() noexcept {
  if (lock_ != nullptr) std::exchange(lock_, nullptr)->unlock_shared();
}

AsyncRwLock::WriteGuard& AsyncRwLock::WriteGuard::operator=(WriteGuard&& other) noexcept {
  if (this != &other) {
    release();
    lock_ = std::exchange(other.lock_, nullptr);
  }
  return *this;
}

void AsyncRwLock::WriteGuard::release() noexcept {
  if (lock_ != nullptr) std::exchange(lock_, nullptr)->unlock_exclusive();
}

AsyncRwLock::~AsyncRwLock() {
  assert(readers_ == 0 && !writer_ && waiters_.empty() && "lock destroyed while held or awaited");
}

boost::asio::awaitable<AsyncRwLock::ReadGuard> AsyncRwLock::read() {
  if (!try_acquire(false)) co_await async_acquire(false, boost::asio::use_awaitable);
  co_return ReadGuard(this);
}

boost::asio::awaitable<AsyncRwLock::WriteGuard> AsyncRwLock::write() {
  if (!try_acquire(true)) co_await async_acquire(true, boost::asio::use_awaitable);
  co_return WriteGuard(this);
}

std::optional<AsyncRwLock::ReadGuard> AsyncRwLock::try_read() {
  if (!try_acquire(false)) return std::nullopt;
  return ReadGuard(this);
}

std::optional<AsyncRwLock::WriteGuard> AsyncRwLock::try_write() {
  if (!try_acquire(true)) return std::nullopt;
  return WriteGuard(this);
}

AsyncRwLock::State AsyncRwLock::state() const {
  std::lock_guard lock(mutex_);
  return State{readers_, writer_, waiters_.size()};
}

bool AsyncRwLock::try_acquire(bool exclusive) {
  std::lock_guard lock(mutex_);
  // Anybody waiting asked first and goes first.
  if (!waiters_.empty() || writer_) return false;
  if (exclusive) {
    if (readers_ != 0) return false;
    writer_ = true;
  } else {
    ++readers_;
  }
  return true;
}

void AsyncRwLock::enqueue(Waiter waiter) {
  std::vector<Waiter> granted;
  {
    std::lock_guard lock(mutex_);
    waiters_.push_back(std::move(waiter));
    // The holders may have left between the failed attempt and now.
    grant_locked(granted);
  }
  resume(granted);
}

void AsyncRwLock::unlock_shared() noexcept {
  std::vector<Waiter> granted;
  {
    std::lock_guard lock(mutex_);
    assert(readers_ > 0);
    --readers_;
    grant_locked(granted);
  }
  resume(granted);
}

void AsyncRwLock::unlock_exclusive() noexcept {
  std::vector<Waiter> granted;
  {
    std::lock_guard lock(mutex_);
    assert(writer_);
    writer_ = false;
    grant_locked(granted);
  }
  resume(granted);
}

void AsyncRwLock::grant_locked(std::vector<Waiter>& granted) {
  while (!waiters_.empty() && !writer_) {
    Waiter& front = waiters_.front();
    if (front.exclusive) {
      if (readers_ != 0) break;
      writer_ = true;
    } else {
      ++readers_;
    }
    granted.push_back(std::move(front));
    waiters_.pop_front();
  }
}

void AsyncRwLock::resume(std::vector<Waiter>& granted) {
  for (Waiter& waiter : granted) waiter.grant->resume();
}

}  // namespace zephlar::client
