// The asynchronous model of the core: every operation is a C++20 coroutine
// on Boost.Asio that yields its value or a CoreError. Waits are timers on
// the caller's executor; no operation blocks a thread.
#pragma once

#include <boost/asio/awaitable.hpp>

#include "core/error.hpp"

namespace zephlar {

template <class T>
using Task = boost::asio::awaitable<CoreResult<T>>;

}  // namespace zephlar
