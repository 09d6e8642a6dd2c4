// The 45 methods of PyZephClient. Each binds and converts its arguments on
// the calling thread, runs one ZephClient operation on a worker thread (all
// but has_node) and maps the outcome: a value to its Python form, a
// ZephError to RuntimeError with the error's debug text, a fault on the
// worker to RuntimeError "Thread panicked".
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "bindings/python/binder.hpp"
#include "bindings/python/builtins.hpp"
#include "bindings/python/classes.hpp"
#include "bindings/python/guard.hpp"
#include "bindings/python/py_ref.hpp"
#include "bindings/python/worker.hpp"
#include "ffi/internal_fault.hpp"

namespace zephlar::python {
namespace {

using ffi::ZephClient;
using ffi::ZephResult;

template <class F>
PyCFunction entry(F function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

ClientObject* as_client(PyObject* self) {
  if (!is_instance(self, ClassId::client)) {
    raise_cannot_convert(self, class_name(ClassId::client));
    return nullptr;
  }
  return reinterpret_cast<ClientObject*>(self);
}

// A stream from the client: its own operation when it has one, else the
// stream built directly on the client's runtime and configured base URL.
template <class Client>
ZephResult<std::shared_ptr<ffi::QuoteStream>> open_stream(const Client& client, const std::string& pair_ticker) {
  if constexpr (requires { client.create_quote_stream(std::string_view{}); }) {
    return client.create_quote_stream(pair_ticker);
  } else {
    return ffi::QuoteStream::create(client.runtime(), client.core()->config().base_url, pair_ticker);
  }
}

PyObject* to_python(std::string&& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}
PyObject* to_python(std::uint64_t&& value) { return PyLong_FromLongLong(static_cast<long long>(value)); }
PyObject* to_python(std::shared_ptr<ffi::QuoteStream>&& stream) {
  PyObject* object = wrap_stream(std::move(stream));
  if (object == nullptr) {
    // The allocator's error becomes an internal fault of this call.
    PyErr_Clear();
    throw ffi::InternalFault("failed to create the PyQuoteStream object");
  }
  return object;
}

// Steps 5 to 8 of the blocking-call pattern: `operation` gets the worker's
// own share of the client and returns ZephResult<T>.
template <class Operation>
PyObject* call_on_worker(ClientObject* object, Operation operation) {
  using Outcome = std::invoke_result_t<Operation&, const ZephClient&>;
  auto outcome = run_on_worker<Outcome>(
      [client = object->client, operation = std::move(operation)]() mutable { return operation(*client); });
  if (outcome.panicked()) {
    raise(builtins().runtime_error, "Thread panicked");
    return nullptr;
  }
  Outcome& result = *outcome.value;
  if (!result) {
    raise(builtins().runtime_error, result.error().debug());
    return nullptr;
  }
  return to_python(std::move(result).value());
}

// Binding (argument entries) and the instance check, before conversion.
ClientObject* bind_call(const Signature& signature, PyObject* self, PyObject* args, PyObject* kwargs,
                        std::vector<PyObject*>& slots) {
  if (!bind_arguments(signature, args, kwargs, slots)) return nullptr;
  return as_client(self);
}

// ---- No-argument methods ---------------------------------------------------

#define ZEPHLAR_NOARGS_METHOD(NAME)                                                            \
  PyObject* NAME(PyObject* self, PyObject*) noexcept {                                         \
    return guarded([&]() -> PyObject* {                                                        \
      ClientObject* object = as_client(self);                                                  \
      if (object == nullptr) return nullptr;                                                   \
      return call_on_worker(object, [](const ZephClient& client) { return client.NAME(); }); \
    });                                                                                        \
  }

ZEPHLAR_NOARGS_METHOD(list_assets)
ZEPHLAR_NOARGS_METHOD(list_pairs)
ZEPHLAR_NOARGS_METHOD(get_node_info)
ZEPHLAR_NOARGS_METHOD(get_order_analytics)
ZEPHLAR_NOARGS_METHOD(get_lsp_info)
ZEPHLAR_NOARGS_METHOD(get_lsp_network_info)
ZEPHLAR_NOARGS_METHOD(get_rgb_node_info)
ZEPHLAR_NOARGS_METHOD(list_channels)
ZEPHLAR_NOARGS_METHOD(list_peers)
ZEPHLAR_NOARGS_METHOD(list_node_assets)
ZEPHLAR_NOARGS_METHOD(get_onchain_address)
ZEPHLAR_NOARGS_METHOD(get_btc_balance)
ZEPHLAR_NOARGS_METHOD(list_payments)
ZEPHLAR_NOARGS_METHOD(lock_wallet)
ZEPHLAR_NOARGS_METHOD(list_active_assets)
ZEPHLAR_NOARGS_METHOD(list_active_pairs)

#undef ZEPHLAR_NOARGS_METHOD

PyObject* has_node(PyObject* self, PyObject*) noexcept {
  return guarded([&]() -> PyObject* {
    ClientObject* object = as_client(self);
    if (object == nullptr) return nullptr;
    return PyBool_FromLong(object->client->has_node() ? 1 : 0);
  });
}

// ---- Methods with one text parameter ---------------------------------------

#define ZEPHLAR_TEXT_METHOD(NAME, PARAMETER)                                                       \
  PyObject* NAME(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {                      \
    return guarded([&]() -> PyObject* {                                                            \
      static const Signature signature{"PyZephClient", #NAME, {#PARAMETER}, 1};                    \
      std::vector<PyObject*> slots;                                                                \
      ClientObject* object = bind_call(signature, self, args, kwargs, slots);                      \
      if (object == nullptr) return nullptr;                                                       \
      std::string PARAMETER;                                                                       \
      if (!name_argument(to_text(slots[0], PARAMETER), #PARAMETER)) return nullptr;                \
      return call_on_worker(object, [PARAMETER = std::move(PARAMETER)](const ZephClient& client) { \
        return client.NAME(PARAMETER);                                                             \
      });                                                                                          \
    });                                                                                            \
  }

ZEPHLAR_TEXT_METHOD(get_swap_status, payment_hash)
ZEPHLAR_TEXT_METHOD(get_swap_order_status, order_id)
ZEPHLAR_TEXT_METHOD(get_lsp_order, order_id)
ZEPHLAR_TEXT_METHOD(connect_peer, request_json)
ZEPHLAR_TEXT_METHOD(get_asset_balance, asset_id)
ZEPHLAR_TEXT_METHOD(whitelist_trade, swapstring)
ZEPHLAR_TEXT_METHOD(decode_ln_invoice, invoice)
ZEPHLAR_TEXT_METHOD(init_wallet, password)
ZEPHLAR_TEXT_METHOD(unlock_wallet, password)
ZEPHLAR_TEXT_METHOD(get_asset_by_ticker, ticker)
ZEPHLAR_TEXT_METHOD(complete_swap_from_quote, quote_json)
ZEPHLAR_TEXT_METHOD(create_order, request_json)
ZEPHLAR_TEXT_METHOD(create_swap_order, request_json)
ZEPHLAR_TEXT_METHOD(init_maker_swap, request_json)
ZEPHLAR_TEXT_METHOD(execute_maker_swap, request_json)
ZEPHLAR_TEXT_METHOD(retry_delivery, order_id)
ZEPHLAR_TEXT_METHOD(get_pair_by_ticker, ticker)
ZEPHLAR_TEXT_METHOD(find_asset_by_ticker, ticker)
ZEPHLAR_TEXT_METHOD(find_pair_by_ticker, ticker)

#undef ZEPHLAR_TEXT_METHOD

// ---- Methods with their own parameters -------------------------------------

// Amounts arrive as signed 64-bit integers and go on with the same bits.
std::optional<std::uint64_t> bits(const std::optional<std::int64_t>& amount) {
  if (!amount) return std::nullopt;
  return static_cast<std::uint64_t>(*amount);
}

// ticker, from_amount=None, to_amount=None
template <class Operation>
PyObject* quote_method(const Signature& signature, PyObject* self, PyObject* args, PyObject* kwargs,
                       Operation operation) {
  std::vector<PyObject*> slots;
  ClientObject* object = bind_call(signature, self, args, kwargs, slots);
  if (object == nullptr) return nullptr;
  std::string ticker;
  std::optional<std::int64_t> from_amount;
  std::optional<std::int64_t> to_amount;
  if (!name_argument(to_text(slots[0], ticker), "ticker")) return nullptr;
  if (!name_argument(to_optional_i64(slots[1], from_amount), "from_amount")) return nullptr;
  if (!name_argument(to_optional_i64(slots[2], to_amount), "to_amount")) return nullptr;
  return call_on_worker(object, [ticker = std::move(ticker), from = bits(from_amount), to = bits(to_amount),
                                 operation](const ZephClient& client) {
    return operation(client, ticker, from, to);
  });
}

PyObject* get_quote_by_pair(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{"PyZephClient", "get_quote_by_pair", {"ticker", "from_amount", "to_amount"}, 1};
    return quote_method(signature, self, args, kwargs, [](const ZephClient& client, const std::string& ticker,
                                                          auto from, auto to) {
      return client.get_quote_by_pair(ticker, from, to);
    });
  });
}

PyObject* get_best_quote(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{"PyZephClient", "get_best_quote", {"ticker", "from_amount", "to_amount"}, 1};
    return quote_method(signature, self, args, kwargs, [](const ZephClient& client, const std::string& ticker,
                                                          auto from, auto to) {
      return client.get_best_quote(ticker, from, to);
    });
  });
}

PyObject* get_quote_by_assets(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{
        "PyZephClient", "get_quote_by_assets", {"from_ticker", "to_ticker", "from_amount", "to_amount"}, 2};
    std::vector<PyObject*> slots;
    ClientObject* object = bind_call(signature, self, args, kwargs, slots);
    if (object == nullptr) return nullptr;
    std::string from_ticker;
    std::string to_ticker;
    std::optional<std::int64_t> from_amount;
    std::optional<std::int64_t> to_amount;
    if (!name_argument(to_text(slots[0], from_ticker), "from_ticker")) return nullptr;
    if (!name_argument(to_text(slots[1], to_ticker), "to_ticker")) return nullptr;
    if (!name_argument(to_optional_i64(slots[2], from_amount), "from_amount")) return nullptr;
    if (!name_argument(to_optional_i64(slots[3], to_amount), "to_amount")) return nullptr;
    return call_on_worker(object, [from_ticker = std::move(from_ticker), to_ticker = std::move(to_ticker),
                                   from = bits(from_amount), to = bits(to_amount)](const ZephClient& client) {
      return client.get_quote_by_assets(from_ticker, to_ticker, from, to);
    });
  });
}

PyObject* wait_for_swap_completion(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{
        "PyZephClient", "wait_for_swap_completion", {"payment_hash", "timeout_secs", "poll_interval_secs"}, 3};
    std::vector<PyObject*> slots;
    ClientObject* object = bind_call(signature, self, args, kwargs, slots);
    if (object == nullptr) return nullptr;
    std::string payment_hash;
    double timeout_secs = 0;
    double poll_interval_secs = 0;
    if (!name_argument(to_text(slots[0], payment_hash), "payment_hash")) return nullptr;
    if (!name_argument(to_f64(slots[1], timeout_secs), "timeout_secs")) return nullptr;
    if (!name_argument(to_f64(slots[2], poll_interval_secs), "poll_interval_secs")) return nullptr;
    return call_on_worker(object, [payment_hash = std::move(payment_hash), timeout_secs,
                                   poll_interval_secs](const ZephClient& client) {
      return client.wait_for_swap_completion(payment_hash, timeout_secs, poll_interval_secs);
    });
  });
}

PyObject* get_order_history(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{"PyZephClient", "get_order_history", {"status", "limit", "skip"}, 0};
    std::vector<PyObject*> slots;
    ClientObject* object = bind_call(signature, self, args, kwargs, slots);
    if (object == nullptr) return nullptr;
    std::optional<std::string> status;
    std::int32_t limit = 10;
    std::int32_t skip = 0;
    if (!name_argument(to_optional_text(slots[0], status), "status")) return nullptr;
    if (slots[1] != nullptr && !name_argument(to_i32(slots[1], limit), "limit")) return nullptr;
    if (slots[2] != nullptr && !name_argument(to_i32(slots[2], skip), "skip")) return nullptr;
    return call_on_worker(object, [status = std::move(status), limit = static_cast<std::uint32_t>(limit),
                                   skip = static_cast<std::uint32_t>(skip)](const ZephClient& client) {
      std::optional<std::string_view> filter;
      if (status) filter = *status;
      return client.get_order_history(filter, limit, skip);
    });
  });
}

PyObject* swap_order_rate_decision(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{"PyZephClient", "swap_order_rate_decision", {"order_id", "accept"}, 2};
    std::vector<PyObject*> slots;
    ClientObject* object = bind_call(signature, self, args, kwargs, slots);
    if (object == nullptr) return nullptr;
    std::string order_id;
    bool accept = false;
    if (!name_argument(to_text(slots[0], order_id), "order_id")) return nullptr;
    if (!name_argument(to_exact_bool(slots[1], accept), "accept")) return nullptr;
    return call_on_worker(object, [order_id = std::move(order_id), accept](const ZephClient& client) {
      return client.swap_order_rate_decision(order_id, accept);
    });
  });
}

PyObject* estimate_lsp_fees(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{"PyZephClient", "estimate_lsp_fees", {"channel_size"}, 1};
    std::vector<PyObject*> slots;
    ClientObject* object = bind_call(signature, self, args, kwargs, slots);
    if (object == nullptr) return nullptr;
    std::int64_t channel_size = 0;
    if (!name_argument(to_i64(slots[0], channel_size), "channel_size")) return nullptr;
    return call_on_worker(object, [size = static_cast<std::uint64_t>(channel_size)](const ZephClient& client) {
      return client.estimate_lsp_fees(size);
    });
  });
}

PyObject* estimate_swap_fees(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{"PyZephClient", "estimate_swap_fees", {"ticker", "amount"}, 2};
    std::vector<PyObject*> slots;
    ClientObject* object = bind_call(signature, self, args, kwargs, slots);
    if (object == nullptr) return nullptr;
    std::string ticker;
    std::int64_t amount = 0;
    if (!name_argument(to_text(slots[0], ticker), "ticker")) return nullptr;
    if (!name_argument(to_i64(slots[1], amount), "amount")) return nullptr;
    return call_on_worker(object, [ticker = std::move(ticker),
                                   amount = static_cast<std::uint64_t>(amount)](const ZephClient& client) {
      return client.estimate_swap_fees(ticker, amount);
    });
  });
}

PyObject* create_quote_stream(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{"PyZephClient", "create_quote_stream", {"pair_ticker"}, 1};
    std::vector<PyObject*> slots;
    ClientObject* object = bind_call(signature, self, args, kwargs, slots);
    if (object == nullptr) return nullptr;
    std::string pair_ticker;
    if (!name_argument(to_text(slots[0], pair_ticker), "pair_ticker")) return nullptr;
    return call_on_worker(object, [pair_ticker = std::move(pair_ticker)](const ZephClient& client) {
      return open_stream(client, pair_ticker);
    });
  });
}

constexpr int noargs = METH_NOARGS;
constexpr int varargs = METH_VARARGS | METH_KEYWORDS;

}  // namespace

PyMethodDef client_methods[] = {
    {"has_node", entry(has_node), noargs, "has_node($self)\n--\n\n"},
    {"list_assets", entry(list_assets), noargs,
     "list_assets($self)\n--\n\nList all available assets - runs on blocking thread to avoid runtime nesting"},
    {"list_pairs", entry(list_pairs), noargs,
     "list_pairs($self)\n--\n\nList all available trading pairs - runs on blocking thread to avoid runtime "
     "nesting"},
    {"get_quote_by_pair", entry(get_quote_by_pair), varargs,
     "get_quote_by_pair($self, ticker, from_amount=None, to_amount=None)\n--\n\nGet a quote by trading pair ticker "
     "- runs on blocking thread"},
    {"get_node_info", entry(get_node_info), noargs, "get_node_info($self)\n--\n\nGet node information"},
    {"get_swap_status", entry(get_swap_status), varargs,
     "get_swap_status($self, payment_hash)\n--\n\nGet swap status by payment hash"},
    {"wait_for_swap_completion", entry(wait_for_swap_completion), varargs,
     "wait_for_swap_completion($self, payment_hash, timeout_secs, poll_interval_secs)\n--\n\nWait for swap "
     "completion"},
    {"get_swap_order_status", entry(get_swap_order_status), varargs,
     "get_swap_order_status($self, order_id)\n--\n\nGet swap order status"},
    {"get_order_history", entry(get_order_history), varargs,
     "get_order_history($self, status=None, limit=10, skip=0)\n--\n\nGet order history"},
    {"get_order_analytics", entry(get_order_analytics), noargs,
     "get_order_analytics($self)\n--\n\nGet order analytics"},
    {"swap_order_rate_decision", entry(swap_order_rate_decision), varargs,
     "swap_order_rate_decision($self, order_id, accept)\n--\n\nSubmit rate decision for a swap order"},
    {"get_lsp_info", entry(get_lsp_info), noargs, "get_lsp_info($self)\n--\n\nGet LSP information"},
    {"get_lsp_network_info", entry(get_lsp_network_info), noargs,
     "get_lsp_network_info($self)\n--\n\nGet LSP network information"},
    {"get_lsp_order", entry(get_lsp_order), varargs, "get_lsp_order($self, order_id)\n--\n\nGet an LSPS1 order"},
    {"estimate_lsp_fees", entry(estimate_lsp_fees), varargs,
     "estimate_lsp_fees($self, channel_size)\n--\n\nEstimate fees for an LSPS1 order"},
    {"get_rgb_node_info", entry(get_rgb_node_info), noargs, "get_rgb_node_info($self)\n--\n\nGet RGB node information"},
    {"list_channels", entry(list_channels), noargs, "list_channels($self)\n--\n\nList channels"},
    {"list_peers", entry(list_peers), noargs, "list_peers($self)\n--\n\nList peers"},
    {"connect_peer", entry(connect_peer), varargs, "connect_peer($self, request_json)\n--\n\nConnect to a peer"},
    {"list_node_assets", entry(list_node_assets), noargs, "list_node_assets($self)\n--\n\nList node assets"},
    {"get_asset_balance", entry(get_asset_balance), varargs,
     "get_asset_balance($self, asset_id)\n--\n\nGet asset balance"},
    {"get_onchain_address", entry(get_onchain_address), noargs,
     "get_onchain_address($self)\n--\n\nGet onchain address"},
    {"get_btc_balance", entry(get_btc_balance), noargs, "get_btc_balance($self)\n--\n\nGet BTC balance"},
    {"whitelist_trade", entry(whitelist_trade), varargs, "whitelist_trade($self, swapstring)\n--\n\nWhitelist a trade"},
    {"decode_ln_invoice", entry(decode_ln_invoice), varargs,
     "decode_ln_invoice($self, invoice)\n--\n\nDecode a Lightning invoice"},
    {"list_payments", entry(list_payments), noargs, "list_payments($self)\n--\n\nList payments"},
    {"init_wallet", entry(init_wallet), varargs, "init_wallet($self, password)\n--\n\nInitialize wallet"},
    {"unlock_wallet", entry(unlock_wallet), varargs, "unlock_wallet($self, password)\n--\n\nUnlock wallet"},
    {"lock_wallet", entry(lock_wallet), noargs, "lock_wallet($self)\n--\n\nLock wallet"},
    {"get_asset_by_ticker", entry(get_asset_by_ticker), varargs,
     "get_asset_by_ticker($self, ticker)\n--\n\nGet an asset by its ticker (e.g., \"BTC\", \"USDT\")"},
    {"get_quote_by_assets", entry(get_quote_by_assets), varargs,
     "get_quote_by_assets($self, from_ticker, to_ticker, from_amount=None, to_amount=None)\n--\n\nGet a quote by "
     "asset tickers (e.g., \"BTC\", \"USDT\")"},
    {"complete_swap_from_quote", entry(complete_swap_from_quote), varargs,
     "complete_swap_from_quote($self, quote_json)\n--\n\nComplete a swap using a quote JSON string"},
    {"create_order", entry(create_order), varargs,
     "create_order($self, request_json)\n--\n\nCreate a new LSPS1 order (LEGACY)"},
    {"create_swap_order", entry(create_swap_order), varargs,
     "create_swap_order($self, request_json)\n--\n\nCreate a new swap order (LEGACY)"},
    {"init_maker_swap", entry(init_maker_swap), varargs,
     "init_maker_swap($self, request_json)\n--\n\nInitialize a maker swap (LEGACY)"},
    {"execute_maker_swap", entry(execute_maker_swap), varargs,
     "execute_maker_swap($self, request_json)\n--\n\nExecute a maker swap (LEGACY)"},
    {"retry_delivery", entry(retry_delivery), varargs,
     "retry_delivery($self, order_id)\n--\n\nRetry asset delivery for an order (LEGACY)"},
    {"get_pair_by_ticker", entry(get_pair_by_ticker), varargs,
     "get_pair_by_ticker($self, ticker)\n--\n\nGet a trading pair by ticker (e.g., \"BTC/USDT\")"},
    {"list_active_assets", entry(list_active_assets), noargs,
     "list_active_assets($self)\n--\n\nList only active assets"},
    {"list_active_pairs", entry(list_active_pairs), noargs,
     "list_active_pairs($self)\n--\n\nList only active trading pairs"},
    {"estimate_swap_fees", entry(estimate_swap_fees), varargs,
     "estimate_swap_fees($self, ticker, amount)\n--\n\nEstimate swap fees for a given pair and amount"},
    {"get_best_quote", entry(get_best_quote), varargs,
     "get_best_quote($self, ticker, from_amount=None, to_amount=None)\n--\n\nGet the best quote by trying multiple "
     "layers"},
    {"find_asset_by_ticker", entry(find_asset_by_ticker), varargs,
     "find_asset_by_ticker($self, ticker)\n--\n\nFind an asset by ticker"},
    {"find_pair_by_ticker", entry(find_pair_by_ticker), varargs,
     "find_pair_by_ticker($self, ticker)\n--\n\nFind a trading pair by ticker"},
    {"create_quote_stream", entry(create_quote_stream), varargs,
     "create_quote_stream($self, pair_ticker)\n--\n\nCreate a real-time quote stream for a trading pair\nThe "
     "pair_ticker should be in format \"BTC/USDT\""},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace zephlar::python
