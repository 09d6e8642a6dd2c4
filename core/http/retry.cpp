// RetryConfig::delay_for_attempt and the back-off's random source.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "core/http/backoff.hpp"
#include "core/http/http_client.hpp"
#include "core/http/retry_hooks.hpp"

namespace zephlar::http {
namespace {

struct HookSlot {
  std::atomic<bool> installed{false};
  std::mutex mutex;
  std::shared_ptr<const testing::RetryHooks> hooks;
};

HookSlot& hook_slot() {
  static HookSlot slot;
  return slot;
}

std::shared_ptr<const testing::RetryHooks> current_hooks() {
  auto& slot = hook_slot();
  if (!slot.installed.load(std::memory_order_acquire)) return nullptr;
  const std::lock_guard lock(slot.mutex);
  return slot.hooks;
}

std::mt19937_64 seeded_generator() {
  std::uint64_t seed = 0;
  try {
    std::random_device device;
    seed = (static_cast<std::uint64_t>(device()) << 32) ^ device();
  } catch (...) {
    // No entropy source: the clock and the thread still tell generators apart.
  }
  seed ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  seed ^= std::hash<std::thread::id>{}(std::this_thread::get_id()) * 0x9E3779B97F4A7C15ull;
  return std::mt19937_64(seed);
}

}  // namespace

double jitter_draw() {
  if (const auto hooks = current_hooks(); hooks && hooks->uniform) return hooks->uniform();
  thread_local std::mt19937_64 generator = seeded_generator();
  return static_cast<double>(generator() >> 11) * 0x1.0p-53;
}

std::chrono::milliseconds wait_for_delay(std::chrono::milliseconds delay) {
  if (const auto hooks = current_hooks(); hooks && hooks->sleep) return hooks->sleep(delay);
  return delay;
}

std::chrono::milliseconds RetryConfig::delay_for_attempt(std::uint32_t attempt) const {
  return delay_for_attempt(attempt, jitter && attempt > 0 ? jitter_draw() : 0.0);
}

std::chrono::milliseconds RetryConfig::delay_for_attempt(std::uint32_t attempt, double uniform) const {
  using std::chrono::milliseconds;
  if (attempt == 0) return milliseconds(0);
  double d = static_cast<double>(initial_delay.count()) * std::pow(multiplier, static_cast<double>(attempt - 1));
  const double cap = static_cast<double>(max_delay.count());
  if (!(d <= cap)) d = cap;  // the cap comes before the jitter; NaN also yields it
  if (jitter) d += 0.25 * d * uniform;
  // Truncation toward zero; below zero (or NaN) gives 0, beyond the range
  // of the result the largest value it holds.
  if (!(d > 0)) return milliseconds(0);
  if (d >= 0x1.0p63) return milliseconds::max();
  return milliseconds(static_cast<milliseconds::rep>(d));
}

namespace testing {

ScopedRetryHooks::ScopedRetryHooks(RetryHooks hooks) {
  auto& slot = hook_slot();
  const std::lock_guard lock(slot.mutex);
  slot.hooks = std::make_shared<const RetryHooks>(std::move(hooks));
  slot.installed.store(true, std::memory_order_release);
}

ScopedRetryHooks::~ScopedRetryHooks() {
  auto& slot = hook_slot();
  const std::lock_guard lock(slot.mutex);
  slot.installed.store(false, std::memory_order_release);
  slot.hooks.reset();
}

}  // namespace testing
}  // namespace zephlar::http
