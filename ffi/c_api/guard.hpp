// The fault guard around the body of an entry: nothing thrown inside ever
// reaches the caller. A decoding failure of an argument, an InternalFault
// or any other exception becomes call-status code 2 with its message, and
// the entry returns its failure value. Everything the body held is released
// by unwinding before the status is written.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "ffi/c_api/buffers.hpp"

namespace zephlar::ffi::capi {

// An argument that failed to decode: reported as "Failed to convert arg
// '{name}': {error}".
struct ArgumentFailure {
  const char* name;
  std::string error;
};

// The message of a fault that carries none.
inline constexpr std::string_view fault_without_message = "unexpected fault without a message";

// Writes code 2 and a buffer holding `message` (no prefix). When even that
// buffer cannot be made, the error buffer is left empty.
void report_unexpected(CallStatus* status, std::string_view message) noexcept;
// Writes code 1 and `error_buf`; releases the buffer when there is no
// status to write to.
void report_error(CallStatus* status, ByteBuffer error_buf) noexcept;

void report_current_fault(CallStatus* status) noexcept;

// Runs `body` inside the guard; on a fault the entry gives the failure
// value of its result's wire type (`Wire::failure()`, possibly void).
template <class Wire, class Body>
typename Wire::C guarded(CallStatus* status, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    report_current_fault(status);
  }
  return Wire::failure();
}

}  // namespace zephlar::ffi::capi
