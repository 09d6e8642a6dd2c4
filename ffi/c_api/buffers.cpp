#include "ffi/c_api/buffers.hpp"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "ffi/internal_fault.hpp"

namespace zephlar::ffi::capi {
namespace {

// The data of every zero-capacity buffer the library makes: never read,
// never written, never released.
alignas(8) std::uint8_t zero_capacity_anchor[8];

std::uint8_t* allocate_bytes(std::uint64_t size) {
  void* memory = std::malloc(static_cast<std::size_t>(size));
  if (memory == nullptr) throw std::bad_alloc();
  return static_cast<std::uint8_t*>(memory);
}

void put_u32(std::uint8_t* out, std::uint32_t value) noexcept {
  out[0] = static_cast<std::uint8_t>(value >> 24);
  out[1] = static_cast<std::uint8_t>(value >> 16);
  out[2] = static_cast<std::uint8_t>(value >> 8);
  out[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t text_count(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw InternalFault("text too long for a 32-bit byte count");
  }
  return static_cast<std::uint32_t>(text.size());
}

// A buffer of exactly `size` uninitialised bytes (size above 0).
ByteBuffer fresh_buffer(std::uint64_t size) {
  return ByteBuffer{size, size, allocate_bytes(size)};
}

}  // namespace

ByteBuffer allocate_buffer(std::uint64_t size) {
  if (size == 0) return ByteBuffer{0, 0, zero_capacity_anchor};
  if (size > max_capacity) throw InternalFault(std::string(capacity_overflow_message));
  void* memory = std::calloc(static_cast<std::size_t>(size), 1);
  if (memory == nullptr) throw std::bad_alloc();
  return ByteBuffer{size, size, static_cast<std::uint8_t*>(memory)};
}

ByteBuffer buffer_from(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return ByteBuffer{0, 0, zero_capacity_anchor};
  ByteBuffer out = fresh_buffer(bytes.size());
  std::memcpy(out.data, bytes.data(), bytes.size());
  return out;
}

void release_buffer(ByteBuffer buffer) noexcept {
  if (buffer.capacity > 0 && buffer.data != nullptr && buffer.data != zero_capacity_anchor) std::free(buffer.data);
}

std::span<const std::uint8_t> OwnedBuffer::verified_bytes() const {
  if (buffer_.data != nullptr) {
    if (buffer_.len > buffer_.capacity) throw InternalFault(std::string(length_exceeds_capacity_message));
    return {buffer_.data, static_cast<std::size_t>(buffer_.len)};
  }
  if (buffer_.capacity != 0) throw InternalFault(std::string(null_with_capacity_message));
  if (buffer_.len != 0) throw InternalFault(std::string(null_with_length_message));
  return {};
}

std::string_view OwnedBuffer::verified_text() const {
  const auto bytes = verified_bytes();
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::span<const std::uint8_t> BufferReader::take(std::size_t count) {
  const std::size_t remaining = bytes_.size() - position_;
  if (remaining < count) {
    throw LiftError{"not enough bytes remaining in buffer (" + std::to_string(remaining) + " < " +
                    std::to_string(count) + ")"};
  }
  const auto out = bytes_.subspan(position_, count);
  position_ += count;
  return out;
}

std::uint8_t BufferReader::read_u8() { return take(1)[0]; }

std::uint32_t BufferReader::read_u32() {
  const auto b = take(4);
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

std::uint64_t BufferReader::read_u64() {
  const auto b = take(8);
  std::uint64_t value = 0;
  for (const std::uint8_t byte : b) value = (value << 8) | byte;
  return value;
}

double BufferReader::read_f64() { return std::bit_cast<double>(read_u64()); }

bool BufferReader::read_tag() {
  switch (read_u8()) {
    case 0:
      return false;
    case 1:
      return true;
    default:
      throw LiftError{"unexpected tag byte for Option"};
  }
}

std::string BufferReader::read_string() {
  const auto count = static_cast<std::int32_t>(read_u32());
  if (count < 0) throw LiftError{"out of range integral type conversion attempted"};
  const auto bytes = take(static_cast<std::size_t>(count));
  if (auto fault = utf8_error(bytes)) throw LiftError{std::move(*fault)};
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void BufferReader::finish() const {
  const std::size_t remaining = bytes_.size() - position_;
  if (remaining > 0) {
    throw LiftError{"junk data left in buffer after lifting (count: " + std::to_string(remaining) + ")"};
  }
}

std::optional<std::string> utf8_error(std::span<const std::uint8_t> bytes) {
  const std::size_t size = bytes.size();
  std::size_t i = 0;
  const auto continuation = [](std::uint8_t b) { return (b & 0xC0) == 0x80; };
  const auto invalid = [](std::size_t at, int n) {
    return "invalid utf-8 sequence of " + std::to_string(n) + " bytes from index " + std::to_string(at);
  };
  const auto incomplete = [](std::size_t at) { return "incomplete utf-8 byte sequence from index " + std::to_string(at); };
  while (i < size) {
    const std::uint8_t first = bytes[i];
    if (first < 0x80) {
      ++i;
      continue;
    }
    int width = 0;
    if (first >= 0xC2 && first <= 0xDF) {
      width = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
      width = 3;
    } else if (first >= 0xF0 && first <= 0xF4) {
      width = 4;
    } else {
      return invalid(i, 1);
    }
    // The second byte's range depends on the first (no overlong forms, no
    // surrogates, nothing above U+10FFFF).
    if (i + 1 >= size) return incomplete(i);
    const std::uint8_t second = bytes[i + 1];
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (first == 0xE0) low = 0xA0;
    if (first == 0xED) high = 0x9F;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;
    if (second < low || second > high) return invalid(i, 1);
    for (int k = 2; k < width; ++k) {
      if (i + static_cast<std::size_t>(k) >= size) return incomplete(i);
      if (!continuation(bytes[i + static_cast<std::size_t>(k)])) return invalid(i, k);
    }
    i += static_cast<std::size_t>(width);
  }
  return std::nullopt;
}

ZephConfig lift_config(OwnedBuffer buffer) {
  BufferReader reader(buffer.verified_bytes());
  ZephConfig config;
  config.base_url = reader.read_string();
  if (reader.read_tag()) config.node_url = reader.read_string();
  if (reader.read_tag()) config.api_key = reader.read_string();
  config.timeout = reader.read_f64();
  config.max_retries = reader.read_u32();
  config.cache_ttl = reader.read_u64();
  reader.finish();
  return config;
}

std::optional<std::string> lift_optional_string(OwnedBuffer buffer) {
  BufferReader reader(buffer.verified_bytes());
  std::optional<std::string> out;
  if (reader.read_tag()) out = reader.read_string();
  reader.finish();
  return out;
}

std::optional<std::uint64_t> lift_optional_u64(OwnedBuffer buffer) {
  BufferReader reader(buffer.verified_bytes());
  std::optional<std::uint64_t> out;
  if (reader.read_tag()) out = reader.read_u64();
  reader.finish();
  return out;
}

ByteBuffer lower_string_result(std::string_view text) {
  const std::uint32_t count = text_count(text);
  ByteBuffer out = fresh_buffer(std::uint64_t{count} + 4);
  put_u32(out.data, count);
  if (count > 0) std::memcpy(out.data + 4, text.data(), count);
  return out;
}

ByteBuffer lower_optional_string(const std::optional<std::string>& text) {
  if (!text) {
    ByteBuffer out = fresh_buffer(1);
    out.data[0] = 0;
    return out;
  }
  const std::uint32_t count = text_count(*text);
  ByteBuffer out = fresh_buffer(std::uint64_t{count} + 5);
  out.data[0] = 1;
  put_u32(out.data + 1, count);
  if (count > 0) std::memcpy(out.data + 5, text->data(), count);
  return out;
}

ByteBuffer lower_error(const ZephError& error) {
  const std::string display = error.display();
  const std::uint32_t count = text_count(display);
  ByteBuffer out = fresh_buffer(std::uint64_t{count} + 8);
  put_u32(out.data, static_cast<std::uint32_t>(error.number()));
  put_u32(out.data + 4, count);
  if (count > 0) std::memcpy(out.data + 8, display.data(), count);
  return out;
}

}  // namespace zephlar::ffi::capi
