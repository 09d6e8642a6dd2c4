#include "ffi/c_api/guard.hpp"

namespace zephlar::ffi::capi {

void report_unexpected(CallStatus* status, std::string_view message) noexcept {
  ByteBuffer buffer = empty_buffer;
  try {
    buffer = buffer_from({reinterpret_cast<const std::uint8_t*>(message.data()), message.size()});
  } catch (...) {
    buffer = empty_buffer;
  }
  if (status == nullptr) {
    release_buffer(buffer);
    return;
  }
  status->code = 2;
  status->error_buf = buffer;
}

void report_error(CallStatus* status, ByteBuffer error_buf) noexcept {
  if (status == nullptr) {
    release_buffer(error_buf);
    return;
  }
  status->code = 1;
  status->error_buf = error_buf;
}

void report_current_fault(CallStatus* status) noexcept {
  try {
    try {
      throw;
    } catch (const ArgumentFailure& failure) {
      report_unexpected(status, "Failed to convert arg '" + std::string(failure.name) + "': " + failure.error);
    } catch (const std::exception& fault) {
      report_unexpected(status, fault.what());
    } catch (...) {
      report_unexpected(status, fault_without_message);
    }
  } catch (...) {
    // Not even the message could be made.
    report_unexpected(status, {});
  }
}

}  // namespace zephlar::ffi::capi
