// The entries of the C-callable interface (declared in ffi/include/zephlar.h),
// expanded from the lists of entry_table.hpp.
//
// A method entry takes over one reference of its handle, adopts every
// argument buffer at once (so that each is released whatever happens),
// decodes the arguments in declared order, runs the operation on the
// calling thread and encodes its outcome; the whole body runs inside the
// fault guard.
#include <algorithm>
#include <bit>
#include <cstring>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "ffi/c_api/buffers.hpp"
#include "ffi/c_api/entry_table.hpp"
#include "ffi/c_api/guard.hpp"
#include "ffi/c_api/handles.hpp"
#include "ffi/include/zephlar.h"
#include "ffi/internal_fault.hpp"
#include "ffi/quote_stream.hpp"
#include "ffi/zeph_client.hpp"

#define ZCAPI_EXPORT __attribute__((visibility("default")))

namespace zephlar::ffi::capi::wire {

// Runs a decoding step, naming the argument when it fails.
template <class Lift>
auto lift_named(const char* name, Lift&& lift) {
  try {
    return std::forward<Lift>(lift)();
  } catch (LiftError& error) {
    throw ArgumentFailure{name, std::move(error.text)};
  }
}

// Argument wire types: C (the parameter's C type), adopt (take the
// parameter over before anything can fail), lift (decode, in declared
// order) and pass (the value the operation takes).

struct TextValue {
  OwnedBuffer owner;
  std::string_view text;
};

struct Text {
  using C = ByteBuffer;
  static OwnedBuffer adopt(ByteBuffer buffer) noexcept { return OwnedBuffer(buffer); }
  static TextValue lift(OwnedBuffer buffer, const char*) {
    const std::string_view text = buffer.verified_text();
    return TextValue{std::move(buffer), text};
  }
  static std::string_view pass(const TextValue& value) noexcept { return value.text; }
};

struct OptText {
  using C = ByteBuffer;
  static OwnedBuffer adopt(ByteBuffer buffer) noexcept { return OwnedBuffer(buffer); }
  static std::optional<std::string> lift(OwnedBuffer buffer, const char* name) {
    return lift_named(name, [&] { return lift_optional_string(std::move(buffer)); });
  }
  static std::optional<std::string_view> pass(const std::optional<std::string>& value) noexcept {
    if (!value) return std::nullopt;
    return std::string_view(*value);
  }

  // As a result.
  static C failure() noexcept { return empty_buffer; }
  template <class Run>
  static C finish(CallStatus*, Run&& run) {
    return lower_optional_string(std::forward<Run>(run)());
  }
};

struct OptU64 {
  using C = ByteBuffer;
  static OwnedBuffer adopt(ByteBuffer buffer) noexcept { return OwnedBuffer(buffer); }
  static std::optional<std::uint64_t> lift(OwnedBuffer buffer, const char* name) {
    return lift_named(name, [&] { return lift_optional_u64(std::move(buffer)); });
  }
  static std::optional<std::uint64_t> pass(std::optional<std::uint64_t> value) noexcept { return value; }
};

struct Bool {
  using C = std::int8_t;
  static C adopt(C value) noexcept { return value; }
  static bool lift(C value, const char* name) {
    if (value == 0) return false;
    if (value == 1) return true;
    throw ArgumentFailure{name, "unexpected byte for Boolean"};
  }
  static bool pass(bool value) noexcept { return value; }

  // As a result.
  static C failure() noexcept { return 0; }
  template <class Run>
  static C finish(CallStatus*, Run&& run) {
    return std::forward<Run>(run)() ? 1 : 0;
  }
};

template <class T>
struct ByValue {
  using C = T;
  static T adopt(T value) noexcept { return value; }
  static T lift(T value, const char*) noexcept { return value; }
  static T pass(T value) noexcept { return value; }
};
using U8 = ByValue<std::uint8_t>;
using U32 = ByValue<std::uint32_t>;
using U64 = ByValue<std::uint64_t>;
using F64 = ByValue<double>;

// Result wire types: C, failure (the value returned with codes 1 and 2) and
// finish (run the operation and encode its outcome).

struct JsonText {
  using C = ByteBuffer;
  static C failure() noexcept { return empty_buffer; }
  template <class Run>
  static C finish(CallStatus* status, Run&& run) {
    ZephResult<std::string> result = std::forward<Run>(run)();
    if (!result) {
      report_error(status, lower_error(result.error()));
      return failure();
    }
    return lower_string_result(result.value());
  }
};

struct FeeU64 {
  using C = std::uint64_t;
  static C failure() noexcept { return 0; }
  template <class Run>
  static C finish(CallStatus* status, Run&& run) {
    ZephResult<std::uint64_t> result = std::forward<Run>(run)();
    if (!result) {
      report_error(status, lower_error(result.error()));
      return failure();
    }
    return result.value();
  }
};

struct StreamHandle {
  using C = void*;
  static C failure() noexcept { return nullptr; }
  template <class Run>
  static C finish(CallStatus*, Run&& run) {
    return new_handle(std::forward<Run>(run)());
  }
};

struct ClientHandle {
  using C = void*;
  static C failure() noexcept { return nullptr; }
};

struct Void {
  using C = void;
  static void failure() noexcept {}
  template <class Run>
  static void finish(CallStatus*, Run&& run) {
    std::forward<Run>(run)();
  }
};

struct BufferResult {
  using C = ByteBuffer;
  static C failure() noexcept { return empty_buffer; }
};

struct F64Result {
  using C = double;
  static C failure() noexcept { return 0.0; }
};

struct U64Result {
  using C = std::uint64_t;
  static C failure() noexcept { return 0; }
};

// The message of the failed assertion on a null handle.
inline constexpr const char* null_handle_message = "assertion failed: !ptr.is_null()";

inline void require_handle(const void* handle) {
  if (handle == nullptr) throw InternalFault(null_handle_message);
}

// The client methods whose operation is not a ZephClient member.
inline std::shared_ptr<QuoteStream> adapted_create_quote_stream(const ZephClient& client,
                                                                std::string_view pair_ticker) {
  return QuoteStream::create(client.runtime(), client.core()->config().base_url, pair_ticker);
}

// The zero value of an asynchronous call's result type.
template <class T>
T zero() noexcept {
  if constexpr (!std::is_void_v<T>) return T{};
}

inline constexpr std::string_view no_future_message = "no asynchronous call has this handle";

}  // namespace zephlar::ffi::capi::wire

namespace wire = zephlar::ffi::capi::wire;
namespace capi = zephlar::ffi::capi;

// The C++ type behind each object kind.
#define ZCAPI_OBJECT_zephclient ::zephlar::ffi::ZephClient
#define ZCAPI_OBJECT_quotestream ::zephlar::ffi::QuoteStream

// Applies M to each of up to four arguments.
#define ZCAPI_FE_1(M, a) M(a)
#define ZCAPI_FE_2(M, a, ...) M(a) ZCAPI_FE_1(M, __VA_ARGS__)
#define ZCAPI_FE_3(M, a, ...) M(a) ZCAPI_FE_2(M, __VA_ARGS__)
#define ZCAPI_FE_4(M, a, ...) M(a) ZCAPI_FE_3(M, __VA_ARGS__)
#define ZCAPI_FE_PICK(_1, _2, _3, _4, NAME, ...) NAME
#define ZCAPI_FOR_EACH(M, ...) \
  __VA_OPT__(ZCAPI_FE_PICK(__VA_ARGS__, ZCAPI_FE_4, ZCAPI_FE_3, ZCAPI_FE_2, ZCAPI_FE_1)(M, __VA_ARGS__))

// Each argument is written (WireType, name).
#define ZCAPI_PARAM(arg) ZCAPI_PARAM_ arg
#define ZCAPI_PARAM_(T, n) , wire::T::C n
#define ZCAPI_ADOPT(arg) ZCAPI_ADOPT_ arg
#define ZCAPI_ADOPT_(T, n) auto owned_##n = wire::T::adopt(n);
#define ZCAPI_LIFT(arg) ZCAPI_LIFT_ arg
#define ZCAPI_LIFT_(T, n) auto lifted_##n = wire::T::lift(std::move(owned_##n), #n);
#define ZCAPI_PASS(arg) ZCAPI_PASS_ arg
#define ZCAPI_PASS_(T, n) , wire::T::pass(lifted_##n)

#define ZCAPI_DEFINE_METHOD_WITH(callee, object, name, R, ...)                                                 \
  extern "C" ZCAPI_EXPORT wire::R::C uniffi_zephlar_ffi_fn_method_##object##_##name(                           \
      void* handle ZCAPI_FOR_EACH(ZCAPI_PARAM, __VA_ARGS__), ZephlarCallStatus* call_status) {                 \
    return capi::guarded<wire::R>(call_status, [&]() -> wire::R::C {                                           \
      ZCAPI_FOR_EACH(ZCAPI_ADOPT, __VA_ARGS__)                                                                 \
      wire::require_handle(handle);                                                                            \
      capi::HandleRef<ZCAPI_OBJECT_##object> self(handle);                                                     \
      ZCAPI_FOR_EACH(ZCAPI_LIFT, __VA_ARGS__)                                                                  \
      return wire::R::finish(call_status, [&]() -> decltype(auto) {                                            \
        return std::invoke(callee, *self ZCAPI_FOR_EACH(ZCAPI_PASS, __VA_ARGS__));                             \
      });                                                                                                      \
    });                                                                                                        \
  }

#define ZCAPI_DEFINE_METHOD(object, name, checksum, R, ...) \
  ZCAPI_DEFINE_METHOD_WITH(&ZCAPI_OBJECT_##object::name, object, name, R __VA_OPT__(, ) __VA_ARGS__)
#define ZCAPI_DEFINE_ADAPTED_METHOD(object, name, checksum, R, ...) \
  ZCAPI_DEFINE_METHOD_WITH(&wire::adapted_##name, object, name, R __VA_OPT__(, ) __VA_ARGS__)

ZEPHLAR_C_CLIENT_METHODS(ZCAPI_DEFINE_METHOD)
ZEPHLAR_C_STREAM_METHODS(ZCAPI_DEFINE_METHOD)
ZEPHLAR_C_CLIENT_STREAM_METHODS(ZCAPI_DEFINE_ADAPTED_METHOD)

// Clone and free of each object kind. Clone never writes the status.
#define ZCAPI_DEFINE_OBJECT_ENTRIES(object)                                                                  \
  extern "C" ZCAPI_EXPORT void* uniffi_zephlar_ffi_fn_clone_##object(void* handle, ZephlarCallStatus*) {     \
    if (handle == nullptr) return nullptr;                                                                   \
    return capi::clone_handle(handle);                                                                       \
  }                                                                                                          \
  extern "C" ZCAPI_EXPORT void uniffi_zephlar_ffi_fn_free_##object(void* handle,                             \
                                                                   ZephlarCallStatus* call_status) {         \
    capi::guarded<wire::Void>(call_status, [&] {                                                             \
      wire::require_handle(handle);                                                                          \
      capi::release_handle<ZCAPI_OBJECT_##object>(handle);                                                   \
    });                                                                                                      \
  }

ZEPHLAR_C_OBJECTS(ZCAPI_DEFINE_OBJECT_ENTRIES)

// Checksums.
#define ZCAPI_DEFINE_METHOD_CHECKSUM(object, name, checksum, ...)                            \
  extern "C" ZCAPI_EXPORT std::uint16_t uniffi_zephlar_ffi_checksum_method_##object##_##name() { \
    return checksum;                                                                         \
  }
#define ZCAPI_DEFINE_CONSTRUCTOR_CHECKSUM(object, name, checksum)                                     \
  extern "C" ZCAPI_EXPORT std::uint16_t uniffi_zephlar_ffi_checksum_constructor_##object##_##name() { \
    return checksum;                                                                                  \
  }
#define ZCAPI_DEFINE_FUNCTION_CHECKSUM(name, checksum)                                   \
  extern "C" ZCAPI_EXPORT std::uint16_t uniffi_zephlar_ffi_checksum_func_##name() {      \
    return checksum;                                                                     \
  }

ZEPHLAR_C_METHODS(ZCAPI_DEFINE_METHOD_CHECKSUM)
ZEPHLAR_C_CONSTRUCTORS(ZCAPI_DEFINE_CONSTRUCTOR_CHECKSUM)
ZEPHLAR_C_FUNCTIONS(ZCAPI_DEFINE_FUNCTION_CHECKSUM)

// Asynchronous calls: no entry of this interface creates one, so these only
// complete the contract. complete reports the missing call as code 2.
#define ZCAPI_FUTURE_TYPE_u8 std::uint8_t
#define ZCAPI_FUTURE_TYPE_i8 std::int8_t
#define ZCAPI_FUTURE_TYPE_u16 std::uint16_t
#define ZCAPI_FUTURE_TYPE_i16 std::int16_t
#define ZCAPI_FUTURE_TYPE_u32 std::uint32_t
#define ZCAPI_FUTURE_TYPE_i32 std::int32_t
#define ZCAPI_FUTURE_TYPE_u64 std::uint64_t
#define ZCAPI_FUTURE_TYPE_i64 std::int64_t
#define ZCAPI_FUTURE_TYPE_f32 float
#define ZCAPI_FUTURE_TYPE_f64 double
#define ZCAPI_FUTURE_TYPE_pointer void*
#define ZCAPI_FUTURE_TYPE_rust_buffer ZephlarByteBuffer
#define ZCAPI_FUTURE_TYPE_void void

#define ZCAPI_DEFINE_FUTURE_ENTRIES(suffix)                                                                  \
  extern "C" ZCAPI_EXPORT void ffi_zephlar_ffi_rust_future_poll_##suffix(std::uint64_t, ZephlarFutureContinuation, \
                                                                         std::uint64_t) {}                   \
  extern "C" ZCAPI_EXPORT void ffi_zephlar_ffi_rust_future_cancel_##suffix(std::uint64_t) {}                \
  extern "C" ZCAPI_EXPORT ZCAPI_FUTURE_TYPE_##suffix ffi_zephlar_ffi_rust_future_complete_##suffix(          \
      std::uint64_t, ZephlarCallStatus* call_status) {                                                      \
    capi::report_unexpected(call_status, wire::no_future_message);                                          \
    return wire::zero<ZCAPI_FUTURE_TYPE_##suffix>();                                                         \
  }                                                                                                          \
  extern "C" ZCAPI_EXPORT void ffi_zephlar_ffi_rust_future_free_##suffix(std::uint64_t) {}

ZEPHLAR_C_FUTURE_TYPES(ZCAPI_DEFINE_FUTURE_ENTRIES)

// The constructor, the free functions, the buffer entries, the contract
// version and the data objects.
extern "C" {

ZCAPI_EXPORT void* uniffi_zephlar_ffi_fn_constructor_zephclient_new(ZephlarByteBuffer config,
                                                                    ZephlarCallStatus* call_status) {
  return capi::guarded<wire::ClientHandle>(call_status, [&]() -> void* {
    capi::OwnedBuffer owned(config);
    zephlar::ffi::ZephConfig decoded =
        wire::lift_named("config", [&] { return capi::lift_config(std::move(owned)); });
    auto created = zephlar::ffi::ZephClient::create(std::move(decoded));
    if (!created) {
      capi::report_error(call_status, capi::lower_error(created.error()));
      return nullptr;
    }
    return capi::new_handle(std::move(created).value());
  });
}

ZCAPI_EXPORT double uniffi_zephlar_ffi_fn_func_to_display_units(std::uint64_t amount, std::uint8_t precision,
                                                                ZephlarCallStatus* call_status) {
  return capi::guarded<wire::F64Result>(call_status, [&] {
    return zephlar::ffi::to_display_units(std::bit_cast<std::int64_t>(amount), precision);
  });
}

ZCAPI_EXPORT std::uint64_t uniffi_zephlar_ffi_fn_func_to_smallest_units(double amount, std::uint8_t precision,
                                                                        ZephlarCallStatus* call_status) {
  return capi::guarded<wire::U64Result>(call_status, [&] {
    return std::bit_cast<std::uint64_t>(zephlar::ffi::to_smallest_units(amount, precision));
  });
}

ZCAPI_EXPORT std::uint32_t ffi_zephlar_ffi_uniffi_contract_version() { return ZEPHLAR_C_CONTRACT_VERSION; }

ZCAPI_EXPORT ZephlarByteBuffer ffi_zephlar_ffi_rustbuffer_alloc(std::uint64_t size, ZephlarCallStatus* call_status) {
  return capi::guarded<wire::BufferResult>(call_status, [&] { return capi::allocate_buffer(size); });
}

ZCAPI_EXPORT ZephlarByteBuffer ffi_zephlar_ffi_rustbuffer_from_bytes(ZephlarBorrowedBytes bytes,
                                                                     ZephlarCallStatus* call_status) {
  return capi::guarded<wire::BufferResult>(call_status, [&] {
    if (bytes.data == nullptr) {
      if (bytes.len != 0) throw zephlar::ffi::InternalFault(std::string(capi::null_borrowed_message));
      return capi::allocate_buffer(0);
    }
    if (bytes.len < 0) {
      throw zephlar::ffi::InternalFault(std::string(capi::negative_borrowed_message) + ": " +
                                        std::to_string(bytes.len));
    }
    return capi::buffer_from({bytes.data, static_cast<std::size_t>(bytes.len)});
  });
}

ZCAPI_EXPORT void ffi_zephlar_ffi_rustbuffer_free(ZephlarByteBuffer buffer, ZephlarCallStatus* call_status) {
  capi::guarded<wire::Void>(call_status, [&] {
    const capi::OwnedBuffer owned(buffer);
    (void)owned.verified_bytes();
  });
}

ZCAPI_EXPORT ZephlarByteBuffer ffi_zephlar_ffi_rustbuffer_reserve(ZephlarByteBuffer buffer, std::uint64_t additional,
                                                                  ZephlarCallStatus* call_status) {
  return capi::guarded<wire::BufferResult>(call_status, [&] {
    capi::OwnedBuffer owned(buffer);
    (void)owned.verified_bytes();
    const std::uint64_t capacity = buffer.capacity;
    const std::uint64_t len = buffer.len;
    if (additional <= capacity - len) return owned.take();
    if (additional > capi::max_capacity - len) {
      throw zephlar::ffi::InternalFault(std::string(capi::capacity_overflow_message));
    }
    if (capacity > capi::max_capacity / 2) {
      throw zephlar::ffi::InternalFault(std::string(capi::capacity_overflow_message));
    }
    const std::uint64_t grown = std::max({std::uint64_t{8}, capacity * 2, len + additional});
    capi::ByteBuffer fresh = capi::allocate_buffer(grown);
    if (len > 0) std::memcpy(fresh.data, buffer.data, static_cast<std::size_t>(len));
    fresh.len = len;
    return fresh;  // `owned` releases the old memory
  });
}

const std::uint8_t UNIFFI_META_NAMESPACE_ZEPHLAR[21] = {
    0x06, 11, 'z', 'e', 'p', 'h', 'l', 'a', 'r', '_', 'f', 'f', 'i', 7, 'z', 'e', 'p', 'h', 'l', 'a', 'r'};

const std::uint8_t UNIFFI_META_UDL_ZEPHLAR[29] = {
    0x08, 11,  'z', 'e', 'p', 'h', 'l', 'a', 'r', '_', 'f', 'f', 'i', 7,   'z',
    'e',  'p', 'h', 'l', 'a', 'r', 7,   'z', 'e', 'p', 'h', 'l', 'a', 'r'};

}  // extern "C"
