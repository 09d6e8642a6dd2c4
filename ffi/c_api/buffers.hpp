// Byte buffers of the C-callable interface and the encodings carried in them.
//
// Every buffer's memory comes from the C allocator (malloc and friends); a
// buffer handed in is adopted by an OwnedBuffer, which releases it however
// the entry ends. Failures are C++ exceptions that the fault guard
// (guard.hpp) turns into a call status: InternalFault for a broken buffer,
// LiftError for bytes that do not decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "ffi/include/zephlar.h"
#include "ffi/zeph_config.hpp"
#include "ffi/zeph_error.hpp"

namespace zephlar::ffi::capi {

using ByteBuffer = ::ZephlarByteBuffer;
using BorrowedBytes = ::ZephlarBorrowedBytes;
using CallStatus = ::ZephlarCallStatus;

inline constexpr ByteBuffer empty_buffer{0, 0, nullptr};

// The largest capacity a buffer may have: 2^63 - 1.
inline constexpr std::uint64_t max_capacity = 0x7fff'ffff'ffff'ffffULL;

inline constexpr std::string_view capacity_overflow_message = "capacity overflow";
inline constexpr std::string_view length_exceeds_capacity_message = "ByteBuffer length exceeds capacity";
inline constexpr std::string_view null_with_capacity_message = "null ByteBuffer had non-zero capacity";
inline constexpr std::string_view null_with_length_message = "null ByteBuffer had non-zero length";
inline constexpr std::string_view null_borrowed_message = "null BorrowedBytes had non-zero length";
inline constexpr std::string_view negative_borrowed_message = "bytes length negative or overflowed";

// A decoding failure: the text after "Failed to convert arg '{name}': ".
struct LiftError {
  std::string text;
};

// A new buffer of `size` zeroed bytes, capacity = len = size. Size 0 gives
// capacity 0, len 0 and a non-null data that must not be touched. Sizes
// above max_capacity are an InternalFault "capacity overflow".
ByteBuffer allocate_buffer(std::uint64_t size);

// A new buffer holding a copy of `bytes` (capacity = len = its size).
ByteBuffer buffer_from(std::span<const std::uint8_t> bytes);

// Releases the memory of a buffer whose capacity is above 0. Never reads it.
void release_buffer(ByteBuffer buffer) noexcept;

// A buffer taken over from the caller: released on destruction unless given
// back with take().
class OwnedBuffer {
 public:
  OwnedBuffer() noexcept = default;
  explicit OwnedBuffer(ByteBuffer buffer) noexcept : buffer_(buffer) {}
  OwnedBuffer(OwnedBuffer&& other) noexcept : buffer_(other.take()) {}
  OwnedBuffer& operator=(OwnedBuffer&& other) noexcept {
    if (this != &other) {
      release_buffer(buffer_);
      buffer_ = other.take();
    }
    return *this;
  }
  OwnedBuffer(const OwnedBuffer&) = delete;
  OwnedBuffer& operator=(const OwnedBuffer&) = delete;
  ~OwnedBuffer() { release_buffer(buffer_); }

  // Checks the buffer (length within capacity, a null data only with both
  // fields 0; InternalFault otherwise) and returns its first len bytes.
  std::span<const std::uint8_t> verified_bytes() const;
  // As verified_bytes, as text (no UTF-8 check).
  std::string_view verified_text() const;

  const ByteBuffer& get() const noexcept { return buffer_; }
  // Gives the buffer up, leaving this one empty.
  ByteBuffer take() noexcept {
    const ByteBuffer out = buffer_;
    buffer_ = empty_buffer;
    return out;
  }

 private:
  ByteBuffer buffer_ = empty_buffer;
};

// Reads the fields of a compound buffer in order. Every failure is a
// LiftError with the texts of the contract.
class BufferReader {
 public:
  explicit BufferReader(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}

  std::uint8_t read_u8();
  std::uint32_t read_u32();
  std::uint64_t read_u64();
  double read_f64();
  // 0 absent, 1 present, anything else "unexpected tag byte for Option".
  bool read_tag();
  // A signed 32-bit count, then that many bytes of valid UTF-8.
  std::string read_string();
  // "junk data left in buffer after lifting (count: {r})" unless every byte
  // was read.
  void finish() const;

 private:
  std::span<const std::uint8_t> take(std::size_t count);

  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// The first UTF-8 fault of `bytes`, in the words of the decoding errors:
// "invalid utf-8 sequence of {n} bytes from index {i}" or "incomplete utf-8
// byte sequence from index {i}"; nothing when the bytes are valid.
std::optional<std::string> utf8_error(std::span<const std::uint8_t> bytes);

// Decoding of the compound arguments; the buffer is released in every
// outcome.
ZephConfig lift_config(OwnedBuffer buffer);
std::optional<std::string> lift_optional_string(OwnedBuffer buffer);
std::optional<std::uint64_t> lift_optional_u64(OwnedBuffer buffer);

// Encodings of results.
// The text as prefixed text; above 2^31 - 1 bytes an InternalFault.
ByteBuffer lower_string_result(std::string_view text);
// 00, or 01 and the prefixed text.
ByteBuffer lower_optional_string(const std::optional<std::string>& text);
// The error buffer: variant number (i32), then the display text as prefixed
// text, all big-endian.
ByteBuffer lower_error(const ZephError& error);

}  // namespace zephlar::ffi::capi
