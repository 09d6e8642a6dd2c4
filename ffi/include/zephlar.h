/*
 * zephlar.h: the C-callable interface of libzephlar.
 *
 * Any language that can call C functions drives the client through these
 * entries: build a client from a ZephConfig record, call its operations and
 * those of its quote streams, convert amounts, and manage the byte buffers
 * that carry texts and records across the boundary. Every entry runs on the
 * calling thread and blocks it until the operation has completed.
 *
 * Structures are plain C structures with natural alignment, passed and
 * returned by value. Numbers inside a buffer are big-endian; numbers passed
 * directly use the machine's own form.
 *
 * Buffers (ZephlarByteBuffer)
 *   Every buffer is made by the library (alloc, from_bytes, reserve, and the
 *   results and error buffers of other entries) and must be given back
 *   exactly once: to ffi_zephlar_ffi_rustbuffer_free, or as an argument of
 *   another entry, which takes it over whether the call succeeds or fails.
 *   The empty buffer is {0, 0, NULL}; it is what a failing call returns in
 *   place of a buffer.
 *
 * Call status (ZephlarCallStatus)
 *   The last argument of most entries. Set code to 0 and error_buf to the
 *   empty buffer before each call. On success the record is left exactly as
 *   it was. Code 1: error_buf holds an error (variant number 1..8, then the
 *   display text, both as big-endian 32-bit count + bytes; see below). Code
 *   2: an unexpected error; error_buf holds the UTF-8 message, without prefix
 *   or terminator. After code 1 or 2 the caller frees error_buf.
 *
 *   Error variants: 1 NetworkError, 2 ApiError, 3 ValidationError,
 *   4 TimeoutError, 5 WebSocketError, 6 NotFoundError, 7 NodeNotConfigured,
 *   8 InternalError.
 *
 * Handles
 *   A client or quote stream is an opaque, reference-counted handle. The
 *   constructor and create_quote_stream return one reference; clone adds
 *   one; free drops one. Every method entry consumes the reference it is
 *   given, whatever the outcome: clone before each call to keep using the
 *   object. A stream keeps working after its client is freed.
 *
 * Encodings
 *   text argument      raw UTF-8 bytes of the buffer, no prefix
 *   JSON-text result   signed 32-bit big-endian count, then the UTF-8 bytes
 *   optional text      tag byte 0 (absent) or 1 followed by count + bytes
 *   optional u64       tag byte 0 (absent) or 1 followed by 8 bytes
 *   boolean            int8_t 0 or 1
 *   ZephConfig record  base_url (count + bytes), node_url and api_key
 *                      (optional texts), timeout (f64 seconds), max_retries
 *                      (u32), cache_ttl (u64 seconds), nothing after
 */
#ifndef ZEPHLAR_H
#define ZEPHLAR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Everything declared here is what the library exports. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* A byte buffer owned across the boundary. */
typedef struct ZephlarByteBuffer {
  uint64_t capacity; /* bytes owned behind data */
  uint64_t len;      /* bytes in use, never above capacity */
  uint8_t* data;     /* NULL only when capacity and len are 0 */
} ZephlarByteBuffer;

/* Bytes lent for the duration of one call; copied, never kept. */
typedef struct ZephlarBorrowedBytes {
  int32_t len;
  const uint8_t* data; /* may be NULL only when len is 0 */
} ZephlarBorrowedBytes;

/* The outcome of one call: 0 success, 1 error, 2 unexpected error. */
typedef struct ZephlarCallStatus {
  int8_t code;
  ZephlarByteBuffer error_buf;
} ZephlarCallStatus;

/* Continuation of an asynchronous call (no entry of this interface makes
 * one). */
typedef void (*ZephlarFutureContinuation)(uint64_t callback_data, int8_t poll_result);

/* The version of the calling contract: 26. */
uint32_t ffi_zephlar_ffi_uniffi_contract_version(void);

/* Buffers. alloc(0) gives capacity 0 and a non-NULL data that must not be
 * touched; sizes of 2^63 or more fail with "capacity overflow". */
ZephlarByteBuffer ffi_zephlar_ffi_rustbuffer_alloc(uint64_t size, ZephlarCallStatus* out_status);
ZephlarByteBuffer ffi_zephlar_ffi_rustbuffer_from_bytes(ZephlarBorrowedBytes bytes, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rustbuffer_free(ZephlarByteBuffer buffer, ZephlarCallStatus* out_status);
ZephlarByteBuffer ffi_zephlar_ffi_rustbuffer_reserve(ZephlarByteBuffer buffer, uint64_t additional,
                                                     ZephlarCallStatus* out_status);

/* Objects. */
void* uniffi_zephlar_ffi_fn_constructor_zephclient_new(ZephlarByteBuffer config, ZephlarCallStatus* out_status);
void* uniffi_zephlar_ffi_fn_clone_zephclient(void* handle, ZephlarCallStatus* out_status);
void uniffi_zephlar_ffi_fn_free_zephclient(void* handle, ZephlarCallStatus* out_status);
void* uniffi_zephlar_ffi_fn_clone_quotestream(void* handle, ZephlarCallStatus* out_status);
void uniffi_zephlar_ffi_fn_free_quotestream(void* handle, ZephlarCallStatus* out_status);

/* Amount conversions. to_display_units reads amount as a signed 64-bit
 * integer; to_smallest_units returns the bits of a signed 64-bit result. */
double uniffi_zephlar_ffi_fn_func_to_display_units(uint64_t amount, uint8_t precision, ZephlarCallStatus* out_status);
uint64_t uniffi_zephlar_ffi_fn_func_to_smallest_units(double amount, uint8_t precision, ZephlarCallStatus* out_status);

/* Methods. Each consumes one reference of its handle. */
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_complete_swap_from_quote(void* handle, ZephlarByteBuffer quote_json, ZephlarCallStatus* out_status);
void* uniffi_zephlar_ffi_fn_method_zephclient_create_quote_stream(void* handle, ZephlarByteBuffer pair_ticker, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_decode_ln_invoice(void* handle, ZephlarByteBuffer invoice, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_estimate_lsp_fees(void* handle, uint64_t channel_size, ZephlarCallStatus* out_status);
uint64_t uniffi_zephlar_ffi_fn_method_zephclient_estimate_swap_fees(void* handle, ZephlarByteBuffer ticker, uint64_t amount, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_find_asset_by_ticker(void* handle, ZephlarByteBuffer ticker, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_find_pair_by_ticker(void* handle, ZephlarByteBuffer ticker, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_asset_balance(void* handle, ZephlarByteBuffer asset_id, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_asset_by_ticker(void* handle, ZephlarByteBuffer ticker, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_best_quote(void* handle, ZephlarByteBuffer ticker, ZephlarByteBuffer from_amount, ZephlarByteBuffer to_amount, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_btc_balance(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_lsp_info(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_lsp_network_info(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_lsp_order(void* handle, ZephlarByteBuffer order_id, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_node_info(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_onchain_address(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_order_analytics(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_order_history(void* handle, ZephlarByteBuffer status, uint32_t limit, uint32_t skip, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_pair_by_ticker(void* handle, ZephlarByteBuffer ticker, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_quote_by_assets(void* handle, ZephlarByteBuffer from_ticker, ZephlarByteBuffer to_ticker, ZephlarByteBuffer from_amount, ZephlarByteBuffer to_amount, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_quote_by_pair(void* handle, ZephlarByteBuffer ticker, ZephlarByteBuffer from_amount, ZephlarByteBuffer to_amount, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_rgb_node_info(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_swap_order_status(void* handle, ZephlarByteBuffer order_id, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_get_swap_status(void* handle, ZephlarByteBuffer payment_hash, ZephlarCallStatus* out_status);
int8_t uniffi_zephlar_ffi_fn_method_zephclient_has_node(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_init_wallet(void* handle, ZephlarByteBuffer password, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_list_active_assets(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_list_active_pairs(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_list_assets(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_list_channels(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_list_node_assets(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_list_pairs(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_list_payments(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_list_peers(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_lock_wallet(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_swap_order_rate_decision(void* handle, ZephlarByteBuffer order_id, int8_t accept, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_unlock_wallet(void* handle, ZephlarByteBuffer password, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_wait_for_swap_completion(void* handle, ZephlarByteBuffer payment_hash, double timeout_secs, double poll_interval_secs, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_zephclient_whitelist_trade(void* handle, ZephlarByteBuffer swapstring, ZephlarCallStatus* out_status);
void uniffi_zephlar_ffi_fn_method_quotestream_close(void* handle, ZephlarCallStatus* out_status);
int8_t uniffi_zephlar_ffi_fn_method_quotestream_is_connected(void* handle, ZephlarCallStatus* out_status);
ZephlarByteBuffer uniffi_zephlar_ffi_fn_method_quotestream_recv(void* handle, double timeout_secs, ZephlarCallStatus* out_status);

/* Checksums of the items above. */
uint16_t uniffi_zephlar_ffi_checksum_constructor_zephclient_new(void);
uint16_t uniffi_zephlar_ffi_checksum_func_to_display_units(void);
uint16_t uniffi_zephlar_ffi_checksum_func_to_smallest_units(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_complete_swap_from_quote(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_create_quote_stream(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_decode_ln_invoice(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_estimate_lsp_fees(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_estimate_swap_fees(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_find_asset_by_ticker(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_find_pair_by_ticker(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_asset_balance(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_asset_by_ticker(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_best_quote(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_btc_balance(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_lsp_info(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_lsp_network_info(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_lsp_order(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_node_info(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_onchain_address(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_order_analytics(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_order_history(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_pair_by_ticker(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_quote_by_assets(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_quote_by_pair(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_rgb_node_info(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_swap_order_status(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_get_swap_status(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_has_node(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_init_wallet(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_list_active_assets(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_list_active_pairs(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_list_assets(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_list_channels(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_list_node_assets(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_list_pairs(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_list_payments(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_list_peers(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_lock_wallet(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_swap_order_rate_decision(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_unlock_wallet(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_wait_for_swap_completion(void);
uint16_t uniffi_zephlar_ffi_checksum_method_zephclient_whitelist_trade(void);
uint16_t uniffi_zephlar_ffi_checksum_method_quotestream_close(void);
uint16_t uniffi_zephlar_ffi_checksum_method_quotestream_is_connected(void);
uint16_t uniffi_zephlar_ffi_checksum_method_quotestream_recv(void);

/* Asynchronous calls (no entry of this interface creates one). */
void ffi_zephlar_ffi_rust_future_poll_u8(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_u8(uint64_t handle);
uint8_t ffi_zephlar_ffi_rust_future_complete_u8(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_u8(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_i8(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_i8(uint64_t handle);
int8_t ffi_zephlar_ffi_rust_future_complete_i8(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_i8(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_u16(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_u16(uint64_t handle);
uint16_t ffi_zephlar_ffi_rust_future_complete_u16(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_u16(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_i16(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_i16(uint64_t handle);
int16_t ffi_zephlar_ffi_rust_future_complete_i16(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_i16(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_u32(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_u32(uint64_t handle);
uint32_t ffi_zephlar_ffi_rust_future_complete_u32(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_u32(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_i32(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_i32(uint64_t handle);
int32_t ffi_zephlar_ffi_rust_future_complete_i32(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_i32(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_u64(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_u64(uint64_t handle);
uint64_t ffi_zephlar_ffi_rust_future_complete_u64(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_u64(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_i64(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_i64(uint64_t handle);
int64_t ffi_zephlar_ffi_rust_future_complete_i64(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_i64(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_f32(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_f32(uint64_t handle);
float ffi_zephlar_ffi_rust_future_complete_f32(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_f32(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_f64(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_f64(uint64_t handle);
double ffi_zephlar_ffi_rust_future_complete_f64(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_f64(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_pointer(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_pointer(uint64_t handle);
void* ffi_zephlar_ffi_rust_future_complete_pointer(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_pointer(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_rust_buffer(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_rust_buffer(uint64_t handle);
ZephlarByteBuffer ffi_zephlar_ffi_rust_future_complete_rust_buffer(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_rust_buffer(uint64_t handle);
void ffi_zephlar_ffi_rust_future_poll_void(uint64_t handle, ZephlarFutureContinuation continuation, uint64_t callback_data);
void ffi_zephlar_ffi_rust_future_cancel_void(uint64_t handle);
void ffi_zephlar_ffi_rust_future_complete_void(uint64_t handle, ZephlarCallStatus* out_status);
void ffi_zephlar_ffi_rust_future_free_void(uint64_t handle);

/* Metadata: the package zephlar_ffi and the namespace zephlar. */
extern const uint8_t UNIFFI_META_NAMESPACE_ZEPHLAR[21];
extern const uint8_t UNIFFI_META_UDL_ZEPHLAR[29];

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZEPHLAR_H */
