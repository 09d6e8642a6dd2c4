// The pieces of the back-off that the tests can steer (retry_hooks.hpp):
// the jitter's uniform draw and the length of the wait actually taken.
#pragma once

#include <chrono>

namespace zephlar::http {

// A uniform draw from [0, 1) with 53 random bits, from a generator of the
// calling thread (no lock).
double jitter_draw();

// How long to wait for a back-off delay of `delay`: `delay` itself unless a
// test has installed a sleep hook.
std::chrono::milliseconds wait_for_delay(std::chrono::milliseconds delay);

}  // namespace zephlar::http
