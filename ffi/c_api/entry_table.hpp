// The table of the exported C-callable interface: every item it offers, with
// its checksum, its result and its arguments in wire types. The entries
// (entries.cpp), the checksum entries, and the tests that compare the
// library's exported symbols with the interface are all expanded from these
// lists; ffi/include/zephlar.h and ffi/zephlar.map are checked against them.
//
// Names. Items are exported as
//   uniffi_zephlar_ffi_fn_constructor_<object>_<name>
//   uniffi_zephlar_ffi_fn_method_<object>_<name>
//   uniffi_zephlar_ffi_fn_func_<name>
//   uniffi_zephlar_ffi_fn_clone_<object>, uniffi_zephlar_ffi_fn_free_<object>
// and the checksum of an item as uniffi_zephlar_ffi_checksum_<the item's
// name after "fn_">. The support entries share the prefix ffi_zephlar_ffi_:
// rustbuffer_{alloc,free,from_bytes,reserve}, uniffi_contract_version and
// rust_future_{poll,cancel,complete,free}_<suffix>.
//
// Wire types of arguments: Text, OptText, OptU64 (ByteBuffers), Bool (int8),
// U8, U32, U64, F64 (by value). Results: JsonText, OptText (ByteBuffers),
// FeeU64 (a fallible unsigned 64-bit), Bool, StreamHandle, Void.
//
// This file holds preprocessor lists only; it is plain C as well as C++.
#ifndef ZEPHLAR_FFI_C_API_ENTRY_TABLE_HPP
#define ZEPHLAR_FFI_C_API_ENTRY_TABLE_HPP

// The two object kinds: X(object).
#define ZEPHLAR_C_OBJECTS(X) \
  X(zephclient)              \
  X(quotestream)

// Methods of the client that run the ZephClient member of the same name:
// X(object, name, checksum, Result, (ArgType, arg_name)...).
#define ZEPHLAR_C_CLIENT_METHODS(X)                                                                          \
  X(zephclient, complete_swap_from_quote, 39060, JsonText, (Text, quote_json))                              \
  X(zephclient, decode_ln_invoice, 8434, JsonText, (Text, invoice))                                         \
  X(zephclient, estimate_lsp_fees, 11988, JsonText, (U64, channel_size))                                    \
  X(zephclient, estimate_swap_fees, 371, FeeU64, (Text, ticker), (U64, amount))                             \
  X(zephclient, find_asset_by_ticker, 42363, JsonText, (Text, ticker))                                      \
  X(zephclient, find_pair_by_ticker, 21667, JsonText, (Text, ticker))                                       \
  X(zephclient, get_asset_balance, 53770, JsonText, (Text, asset_id))                                       \
  X(zephclient, get_asset_by_ticker, 25977, JsonText, (Text, ticker))                                       \
  X(zephclient, get_best_quote, 7369, JsonText, (Text, ticker), (OptU64, from_amount), (OptU64, to_amount)) \
  X(zephclient, get_btc_balance, 4602, JsonText)                                                            \
  X(zephclient, get_lsp_info, 49535, JsonText)                                                              \
  X(zephclient, get_lsp_network_info, 22574, JsonText)                                                      \
  X(zephclient, get_lsp_order, 44451, JsonText, (Text, order_id))                                           \
  X(zephclient, get_node_info, 18569, JsonText)                                                             \
  X(zephclient, get_onchain_address, 56511, JsonText)                                                       \
  X(zephclient, get_order_analytics, 2808, JsonText)                                                        \
  X(zephclient, get_order_history, 48100, JsonText, (OptText, status), (U32, limit), (U32, skip))           \
  X(zephclient, get_pair_by_ticker, 64277, JsonText, (Text, ticker))                                        \
  X(zephclient, get_quote_by_assets, 56427, JsonText, (Text, from_ticker), (Text, to_ticker),               \
    (OptU64, from_amount), (OptU64, to_amount))                                                             \
  X(zephclient, get_quote_by_pair, 55620, JsonText, (Text, ticker), (OptU64, from_amount),                  \
    (OptU64, to_amount))                                                                                    \
  X(zephclient, get_rgb_node_info, 21009, JsonText)                                                         \
  X(zephclient, get_swap_order_status, 27917, JsonText, (Text, order_id))                                   \
  X(zephclient, get_swap_status, 33627, JsonText, (Text, payment_hash))                                     \
  X(zephclient, has_node, 5840, Bool)                                                                       \
  X(zephclient, init_wallet, 18898, JsonText, (Text, password))                                             \
  X(zephclient, list_active_assets, 20489, JsonText)                                                        \
  X(zephclient, list_active_pairs, 9174, JsonText)                                                          \
  X(zephclient, list_assets, 56958, JsonText)                                                               \
  X(zephclient, list_channels, 18599, JsonText)                                                             \
  X(zephclient, list_node_assets, 25096, JsonText)                                                          \
  X(zephclient, list_pairs, 39253, JsonText)                                                                \
  X(zephclient, list_payments, 19280, JsonText)                                                             \
  X(zephclient, list_peers, 47083, JsonText)                                                                \
  X(zephclient, lock_wallet, 62597, JsonText)                                                               \
  X(zephclient, swap_order_rate_decision, 33757, JsonText, (Text, order_id), (Bool, accept))                \
  X(zephclient, unlock_wallet, 40004, JsonText, (Text, password))                                           \
  X(zephclient, wait_for_swap_completion, 49686, JsonText, (Text, payment_hash), (F64, timeout_secs),       \
    (F64, poll_interval_secs))                                                                              \
  X(zephclient, whitelist_trade, 42194, JsonText, (Text, swapstring))

// The client method that opens a quote stream; its entry is written out on
// its own since the stream is built from the client's runtime and base URL.
#define ZEPHLAR_C_CLIENT_STREAM_METHODS(X) \
  X(zephclient, create_quote_stream, 53454, StreamHandle, (Text, pair_ticker))

// Methods of the quote stream, running the QuoteStream member of the same
// name.
#define ZEPHLAR_C_STREAM_METHODS(X)                                  \
  X(quotestream, close, 13304, Void)                                 \
  X(quotestream, is_connected, 57618, Bool)                          \
  X(quotestream, recv, 62107, OptText, (F64, timeout_secs))

// Every method entry, in one list.
#define ZEPHLAR_C_METHODS(X)         \
  ZEPHLAR_C_CLIENT_METHODS(X)        \
  ZEPHLAR_C_CLIENT_STREAM_METHODS(X) \
  ZEPHLAR_C_STREAM_METHODS(X)

// Constructors: X(object, name, checksum).
#define ZEPHLAR_C_CONSTRUCTORS(X) X(zephclient, new, 50570)

// Free functions: X(name, checksum).
#define ZEPHLAR_C_FUNCTIONS(X)   \
  X(to_display_units, 22281)     \
  X(to_smallest_units, 28943)

// The four buffer entries: X(name).
#define ZEPHLAR_C_BUFFER_ENTRIES(X) \
  X(alloc)                          \
  X(free)                           \
  X(from_bytes)                     \
  X(reserve)

// Result types of the asynchronous-call entries: X(suffix).
#define ZEPHLAR_C_FUTURE_TYPES(X) \
  X(u8)                           \
  X(i8)                           \
  X(u16)                          \
  X(i16)                          \
  X(u32)                          \
  X(i32)                          \
  X(u64)                          \
  X(i64)                          \
  X(f32)                          \
  X(f64)                          \
  X(pointer)                      \
  X(rust_buffer)                  \
  X(void)

// The four operations on an asynchronous call: X(operation).
#define ZEPHLAR_C_FUTURE_OPERATIONS(X) \
  X(poll)                              \
  X(cancel)                            \
  X(complete)                          \
  X(free)

// The two exported data objects: X(name).
#define ZEPHLAR_C_DATA_OBJECTS(X)    \
  X(UNIFFI_META_NAMESPACE_ZEPHLAR)   \
  X(UNIFFI_META_UDL_ZEPHLAR)

// The version of the calling contract.
#define ZEPHLAR_C_CONTRACT_VERSION 26

#endif  // ZEPHLAR_FFI_C_API_ENTRY_TABLE_HPP
