#include "tests/support/fake_service_routes.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <optional>

#include "core/json/json.hpp"

namespace zephlar::testing {
namespace {

using json::JsonValue;

// ---------------------------------------------------------------- writing

// A JSON object written member by member, compactly.
class Obj {
 public:
  Obj& str(std::string_view k, std::string_view v) {
    key(k);
    json::Writer(out_).string(v);
    return *this;
  }
  Obj& i64(std::string_view k, std::int64_t v) {
    key(k);
    json::Writer(out_).i64(v);
    return *this;
  }
  Obj& f64(std::string_view k, double v) {
    key(k);
    json::Writer(out_).f64(v);
    return *this;
  }
  Obj& boolean(std::string_view k, bool v) {
    key(k);
    out_.append(v ? "true" : "false");
    return *this;
  }
  Obj& null(std::string_view k) {
    key(k);
    out_.append("null");
    return *this;
  }
  // A value that is JSON text already.
  Obj& raw(std::string_view k, std::string_view json_text) {
    key(k);
    out_.append(json_text);
    return *this;
  }
  Obj& str_or_null(std::string_view k, const std::optional<std::string>& v) { return v ? str(k, *v) : null(k); }
  Obj& i64_or_null(std::string_view k, std::optional<std::int64_t> v) { return v ? i64(k, *v) : null(k); }

  std::string done() {
    if (first_) out_.push_back('{');
    out_.push_back('}');
    return std::move(out_);
  }

 private:
  void key(std::string_view k) {
    out_.push_back(first_ ? '{' : ',');
    first_ = false;
    json::Writer(out_).string(k);
    out_.push_back(':');
  }

  std::string out_;
  bool first_ = true;
};

std::string empty_object() { return "{}"; }

std::string array(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) out.push_back(',');
    out.append(items[i]);
  }
  out.push_back(']');
  return out;
}

std::string string_array(const std::vector<std::string_view>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) out.push_back(',');
    json::Writer(out).string(items[i]);
  }
  out.push_back(']');
  return out;
}

// ---------------------------------------------------------------- reading

// The members of a request body, read with a note of the first problem.
class Fields {
 public:
  // Absent, null, or a value.
  template <class T>
  struct Tri {
    bool present = false;
    std::optional<T> value;
  };

  static Fields parse(std::string_view body) {
    Fields f;
    auto value = json::read_json<JsonValue>(body, json::Source::response_body);
    if (!value) {
      f.error_ = "body is not JSON: " + value.error().text();
      return f;
    }
    f.owned_ = std::make_shared<JsonValue>(std::move(value).value());
    f.obj_ = f.owned_->get_if<JsonValue::Object>();
    if (f.obj_ == nullptr) f.error_ = "body is not a JSON object";
    return f;
  }

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  std::string text(std::string_view k) {
    const JsonValue* v = find(k, true);
    if (v == nullptr) return {};
    if (const auto* s = v->get_if<std::string>()) return *s;
    type_error(k, "a string");
    return {};
  }
  std::int64_t integer(std::string_view k) {
    const JsonValue* v = find(k, true);
    if (v == nullptr) return 0;
    if (auto i = as_integer(*v)) return *i;
    type_error(k, "an integer");
    return 0;
  }
  bool boolean(std::string_view k) {
    const JsonValue* v = find(k, true);
    if (v == nullptr) return false;
    if (const auto* b = v->get_if<bool>()) return *b;
    type_error(k, "a boolean");
    return false;
  }
  // A nested object, read with its own notes folded into this one's.
  Fields object(std::string_view k) {
    Fields sub;
    sub.owned_ = owned_;
    const JsonValue* v = find(k, true);
    if (v != nullptr) {
      sub.obj_ = v->get_if<JsonValue::Object>();
      if (sub.obj_ == nullptr) type_error(k, "an object");
    }
    if (sub.obj_ == nullptr) sub.error_ = "-";
    sub.prefix_ = prefix_ + std::string(k) + ".";
    sub.parent_ = this;
    return sub;
  }
  Tri<std::string> tri_text(std::string_view k) {
    Tri<std::string> t;
    const JsonValue* v = find(k, false);
    if (v == nullptr) return t;
    t.present = true;
    if (v->is<std::nullptr_t>()) return t;
    if (const auto* s = v->get_if<std::string>())
      t.value = *s;
    else
      type_error(k, "a string or null");
    return t;
  }
  Tri<std::int64_t> tri_integer(std::string_view k) {
    Tri<std::int64_t> t;
    const JsonValue* v = find(k, false);
    if (v == nullptr) return t;
    t.present = true;
    if (v->is<std::nullptr_t>()) return t;
    if (auto i = as_integer(*v))
      t.value = *i;
    else
      type_error(k, "an integer or null");
    return t;
  }
  std::optional<bool> opt_boolean(std::string_view k) {
    const JsonValue* v = find(k, false);
    if (v == nullptr || v->is<std::nullptr_t>()) return std::nullopt;
    if (const auto* b = v->get_if<bool>()) return *b;
    type_error(k, "a boolean or null");
    return std::nullopt;
  }

 private:
  static std::optional<std::int64_t> as_integer(const JsonValue& v) {
    if (const auto* i = v.get_if<std::int64_t>()) return *i;
    if (const auto* u = v.get_if<std::uint64_t>())
      if (*u <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(*u);
    return std::nullopt;
  }

  const JsonValue* find(std::string_view k, bool required) {
    if (obj_ == nullptr) return nullptr;
    auto it = obj_->find(k);
    if (it == obj_->end()) {
      if (required) note("field required: " + prefix_ + std::string(k));
      return nullptr;
    }
    return &it->second;
  }
  void type_error(std::string_view k, const char* expected) { note(prefix_ + std::string(k) + " must be " + expected); }
  void note(std::string message) {
    Fields* top = this;
    while (top->parent_ != nullptr) top = top->parent_;
    if (top->error_.empty()) top->error_ = std::move(message);
  }

  std::shared_ptr<JsonValue> owned_;
  const JsonValue::Object* obj_ = nullptr;
  std::string error_;
  std::string prefix_;
  Fields* parent_ = nullptr;
};

template <class T>
void put_tri(Obj& o, std::string_view k, const Fields::Tri<T>& t) {
  if (!t.present) return;
  if (!t.value) {
    o.null(k);
  } else if constexpr (std::is_same_v<T, std::string>) {
    o.str(k, *t.value);
  } else {
    o.i64(k, *t.value);
  }
}

// The query parameters, undecoded, in order.
std::vector<std::pair<std::string_view, std::string_view>> query_params(std::string_view query) {
  std::vector<std::pair<std::string_view, std::string_view>> out;
  while (!query.empty()) {
    const auto amp = query.find('&');
    const std::string_view part = query.substr(0, amp);
    const auto eq = part.find('=');
    if (eq == std::string_view::npos)
      out.emplace_back(part, std::string_view{});
    else
      out.emplace_back(part.substr(0, eq), part.substr(eq + 1));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return out;
}

// ---------------------------------------------------------------- answers

RouteAnswer ok(std::string body) { return {200, std::move(body), {}}; }

RouteAnswer service_error(int status, std::string_view detail) {
  return {status, Obj().str("detail", detail).done(), {}};
}

RouteAnswer node_error(std::string_view message) {
  return {400, Obj().str("error", message).i64("code", 400).done(), {}};
}

// ---------------------------------------------------------------- data

std::string sha256_hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr);
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out.push_back(hex[digest[i] >> 4]);
    out.push_back(hex[digest[i] & 15]);
  }
  return out;
}

std::int64_t now_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string iso_time(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

// When the asset list and pair list were last changed.
constexpr std::int64_t listed_at = 1735689600;

struct Limits {
  std::string_view layer;
  std::int64_t min_amount;
  std::int64_t max_amount;
};

struct AssetData {
  std::string_view ticker;
  std::string_view name;
  std::string_view asset_id;
  std::int64_t precision;
  double usd;  // value of one whole unit
  std::int64_t issued_supply;
  std::string_view protocol;  // key of protocol_ids
  bool has_media;
  std::vector<Limits> endpoints;
  std::vector<std::string_view> layers;
};

const std::vector<AssetData>& asset_data() {
  static const std::vector<AssetData> assets = {
      {"BTC",
       "Bitcoin",
       fake_data::btc_asset_id,
       8,
       95000.0,
       2'100'000'000'000'000,
       "BTC",
       false,
       {{"BTC_L1", 10'000, 100'000'000},
        {"BTC_LN", 1'000, 10'000'000},
        {"BTC_SPARK", 1'000, 10'000'000},
        {"BTC_ARKADE", 1'000, 10'000'000}},
       {"BTC_L1", "BTC_LN", "BTC_SPARK", "BTC_ARKADE"}},
      {"USDT",
       "Tether USD",
       fake_data::usdt_asset_id,
       6,
       1.0,
       1'000'000'000'000'000,
       "RGB",
       true,
       {{"RGB_L1", 1'000'000, 100'000'000'000}, {"RGB_LN", 100'000, 10'000'000'000}},
       {"RGB_L1", "RGB_LN"}},
      {"XAUT",
       "Tether Gold",
       fake_data::xaut_asset_id,
       6,
       2650.0,
       246'524'330'000,
       "RGB",
       true,
       {{"RGB_L1", 1'000, 1'000'000'000}, {"RGB_LN", 100, 100'000'000}},
       {"RGB_L1", "RGB_LN"}},
  };
  return assets;
}

const AssetData& btc() { return asset_data()[0]; }
const AssetData& usdt() { return asset_data()[1]; }
const AssetData& xaut() { return asset_data()[2]; }

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
           return up(x) == up(y);
         });
}

// By asset id, or by ticker without regard to case.
const AssetData* find_asset(std::string_view id_or_ticker) {
  for (const AssetData& a : asset_data())
    if (a.asset_id == id_or_ticker || iequals(a.ticker, id_or_ticker)) return &a;
  return nullptr;
}

constexpr std::array<std::string_view, 13> layer_names = {
    "BTC_L1", "BTC_LN",    "BTC_SPARK", "BTC_ARKADE",    "BTC_LIQUID",    "BTC_CASHU",  "RGB_L1",
    "RGB_LN", "TAPASS_L1", "TAPASS_LN", "LIQUID_LIQUID", "ARKADE_ARKADE", "SPARK_SPARK"};

bool is_layer(std::string_view name) {
  return std::find(layer_names.begin(), layer_names.end(), name) != layer_names.end();
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Lightning legs cost least, on-chain legs most.
double layer_surcharge(std::string_view layer) {
  if (ends_with(layer, "_LN")) return 0.0;
  if (ends_with(layer, "_L1")) return 0.002;
  return 0.001;
}

double pow10(std::int64_t e) { return std::pow(10.0, static_cast<double>(e)); }

std::string write_media(const AssetData& a) {
  return Obj()
      .str("file_path", "/media/" + std::string(a.ticker) + ".png")
      .str("digest", sha256_hex(a.ticker))
      .str("mime", "image/png")
      .done();
}

// The members shared by Asset and TradableAsset; `full` adds the three that
// only Asset has.
std::string write_asset(const AssetData& a, bool full) {
  Obj o;
  o.str("ticker", a.ticker).str("name", a.name).i64("precision", a.precision);
  o.raw("protocol_ids", Obj().str(a.protocol, a.asset_id).done());
  if (a.has_media)
    o.raw("media", write_media(a));
  else
    o.null("media");
  o.i64("issued_supply", a.issued_supply).i64("timestamp", listed_at);
  std::vector<std::string> limits;
  for (const Limits& l : a.endpoints)
    limits.push_back(Obj()
                         .str("layer", l.layer)
                         .i64("min_amount", l.min_amount)
                         .i64("max_amount", l.max_amount)
                         .boolean("is_active", true)
                         .done());
  o.raw("endpoints", array(limits));
  if (full) {
    o.boolean("is_active", true).i64("added_at", listed_at).raw("supported_layers", string_array(a.layers));
  }
  return o.done();
}

// ---------------------------------------------------------------- pricing

struct FeeData {
  std::int64_t base_fee = 0;
  std::int64_t variable_fee = 0;
  double fee_rate = 0.0;
  std::int64_t final_fee = 0;
  std::string fee_asset;
  std::int64_t fee_asset_precision = 0;
};

std::string write_fee(const FeeData& f) {
  return Obj()
      .i64("base_fee", f.base_fee)
      .i64("variable_fee", f.variable_fee)
      .f64("fee_rate", f.fee_rate)
      .i64("final_fee", f.final_fee)
      .str("fee_asset", f.fee_asset)
      .i64("fee_asset_precision", f.fee_asset_precision)
      .done();
}

struct Priced {
  std::int64_t from_amount = 0;
  std::int64_t to_amount = 0;
  std::int64_t price = 0;  // smallest units of `to` for one whole `from`
  FeeData fee;
};

// Prices a swap of `from` for `to`; exactly one amount is given. The fee is
// charged in `from`: a flat half dollar plus a rate that grows with slower
// layers.
Priced price_swap(const AssetData& from, std::string_view from_layer, const AssetData& to, std::string_view to_layer,
                  std::optional<std::int64_t> from_amount, std::optional<std::int64_t> to_amount) {
  Priced p;
  const double rate = from.usd / to.usd;                                 // whole `to` per whole `from`
  const double unit_rate = rate * pow10(to.precision - from.precision);  // smallest per smallest
  p.price = std::llround(rate * pow10(to.precision));
  p.fee.fee_rate = 0.001 + layer_surcharge(from_layer) + layer_surcharge(to_layer);
  p.fee.base_fee = std::llround(0.5 / from.usd * pow10(from.precision));
  p.fee.fee_asset = std::string(from.ticker);
  p.fee.fee_asset_precision = from.precision;
  if (from_amount) {
    p.from_amount = *from_amount;
  } else {
    p.to_amount = *to_amount;
    const double net = std::ceil(static_cast<double>(std::max<std::int64_t>(*to_amount, 0)) / unit_rate);
    p.from_amount =
        static_cast<std::int64_t>(std::ceil((net + static_cast<double>(p.fee.base_fee)) / (1.0 - p.fee.fee_rate)));
  }
  p.fee.variable_fee = std::llround(static_cast<double>(std::max<std::int64_t>(p.from_amount, 0)) * p.fee.fee_rate);
  p.fee.final_fee = p.fee.base_fee + p.fee.variable_fee;
  if (from_amount) {
    const double net = static_cast<double>(p.from_amount - p.fee.final_fee);
    p.to_amount = net <= 0 ? 0 : static_cast<std::int64_t>(std::floor(net * unit_rate));
  }
  return p;
}

std::string write_leg(std::string_view asset_id, const AssetData& a, std::string_view layer, std::int64_t amount) {
  return Obj()
      .str("asset_id", asset_id)
      .str("name", a.name)
      .str("ticker", a.ticker)
      .str("layer", layer)
      .i64("amount", amount)
      .i64("precision", a.precision)
      .done();
}

// Where the service wants the deposit for a leg on `layer`.
std::string write_deposit_address(std::string_view layer, std::string_view seed) {
  const std::string h = sha256_hex(seed);
  std::string_view format = "BOLT11";
  std::string address = "lnbcrt" + h.substr(0, 10) + "n1p" + h.substr(10, 50);
  if (layer == "BTC_L1" || layer == "TAPASS_L1") {
    format = "BTC_ADDRESS";
    address = "bcrt1q" + h.substr(0, 38);
  } else if (layer == "RGB_L1") {
    format = "RGB_INVOICE";
    address = "rgb:~/~/~/bcrt:utxob:" + h.substr(0, 36);
  } else if (layer == "BTC_SPARK" || layer == "SPARK_SPARK") {
    format = "SPARK_ADDRESS";
    address = "sprt1" + h.substr(0, 58);
  } else if (layer == "BTC_ARKADE" || layer == "ARKADE_ARKADE") {
    format = "ARKADE_ADDRESS";
    address = "tark1" + h.substr(0, 58);
  } else if (layer == "BTC_LIQUID" || layer == "LIQUID_LIQUID") {
    format = "LIQUID_ADDRESS";
    address = "el1qq" + h.substr(0, 58);
  } else if (layer == "BTC_CASHU") {
    format = "CASHU_TOKEN";
    address = "cashuA" + h;
  }
  return Obj().str("address", address).str("format", format).done();
}

// ---------------------------------------------------------------- history

struct HistoryEntry {
  std::string_view id;
  std::string_view status;
  std::string_view from_asset;
  std::int64_t from_amount;
  std::string_view to_asset;
  std::int64_t to_amount;
  std::int64_t created_at;
  std::optional<std::int64_t> filled_at;
};

// Newest first.
const std::vector<HistoryEntry>& history() {
  static const std::vector<HistoryEntry> entries = {
      {"ord_hist_0005", "FAILED", "XAUT", 1'000'000, "BTC", 2'778'000, 1'736'300'000, std::nullopt},
      {"ord_hist_0004", "PENDING_PAYMENT", "BTC", 10'000, "USDT", 9'440'000, 1'736'200'000, std::nullopt},
      {"ord_hist_0003", "EXPIRED", "USDT", 50'000'000, "BTC", 52'100, 1'736'100'000, std::nullopt},
      {"ord_hist_0002", "FILLED", "BTC", 250'000, "XAUT", 89'480, 1'736'000'000, 1'736'000'140},
      {"ord_hist_0001", "FILLED", "BTC", 100'000, "USDT", 94'380'000, 1'735'900'000, 1'735'900'095},
  };
  return entries;
}

std::optional<std::int64_t> parse_int(std::string_view s) {
  std::int64_t v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace

// ---------------------------------------------------------------- state

struct DefaultRoutes::State {
  struct SwapOrderData {
    std::string id;
    std::string rfq_id;
    std::string from_leg;  // JSON
    std::string to_leg;    // JSON
    std::string deposit_address;
    std::string payout_address;
    Fields::Tri<std::string> refund_address;
    Fields::Tri<std::string> email;
    std::string status;
    std::int64_t price = 0;
    std::int64_t created_at = 0;
    FeeData fee;
  };
  struct SwapData {
    std::int64_t qty_from = 0;
    std::int64_t qty_to = 0;
    std::string from_asset;
    std::string to_asset;
    std::int64_t requested_at = 0;
    std::optional<std::int64_t> completed_at;
  };

  std::mutex mutex;
  std::uint64_t counter = 0;
  std::map<std::string, SwapOrderData, std::less<>> orders;
  std::map<std::string, SwapData, std::less<>> swaps;
  std::map<std::string, std::string, std::less<>> channel_orders;  // id -> answer body

  // A fresh identifier in the form of a UUID.
  std::string next_id(std::string_view kind) {
    std::uint64_t n;
    {
      std::lock_guard lock(mutex);
      n = ++counter;
    }
    const std::string h = sha256_hex(std::string(kind) + std::to_string(n));
    return h.substr(0, 8) + "-" + h.substr(8, 4) + "-4" + h.substr(13, 3) + "-8" + h.substr(17, 3) + "-" +
           h.substr(20, 12);
  }
};

namespace {

using State = DefaultRoutes::State;

struct Request {
  std::string_view query;
  std::string_view body;
};

// ---------------------------------------------------------------- market

RouteAnswer make_market_assets() {
  std::vector<std::string> items;
  for (const AssetData& a : asset_data()) items.push_back(write_asset(a, true));
  return ok(Obj()
                .raw("assets", array(items))
                .str("network", "regtest")
                .i64("total", static_cast<std::int64_t>(items.size()))
                .i64("limit", 100)
                .i64("offset", 0)
                .i64("timestamp", listed_at)
                .done());
}

std::string write_pair(const AssetData& base, const AssetData& quote) {
  const double price = base.usd / quote.usd;
  char price_text[32];
  std::snprintf(price_text, sizeof price_text, "%.*f", static_cast<int>(quote.precision), price);
  std::vector<std::string> routes;
  for (const auto& [from, to] : std::vector<std::pair<std::string_view, std::string_view>>{
           {"BTC_LN", "RGB_LN"}, {"RGB_LN", "BTC_LN"}, {"BTC_L1", "RGB_L1"}, {"RGB_L1", "BTC_L1"}})
    routes.push_back(Obj().str("from_layer", from).str("to_layer", to).done());
  return Obj()
      .str("id", std::string(base.ticker) + "-" + std::string(quote.ticker))
      .raw("base", write_asset(base, false))
      .raw("quote", write_asset(quote, false))
      .str("price", price_text)
      .raw("routes", array(routes))
      .boolean("is_active", true)
      .done();
}

RouteAnswer make_market_pairs() {
  return ok(Obj()
                .raw("pairs", array({write_pair(btc(), usdt()), write_pair(btc(), xaut())}))
                .i64("total", 2)
                .i64("limit", 100)
                .i64("offset", 0)
                .i64("timestamp", listed_at)
                .done());
}

RouteAnswer market_quote(State& state, const Request& req) {
  Fields body = Fields::parse(req.body);
  Fields from = body.object("from_asset");
  Fields to = body.object("to_asset");
  const std::string from_id = from.text("asset_id");
  const std::string from_layer = from.text("layer");
  const auto from_amount = from.tri_integer("amount");
  const std::string to_id = to.text("asset_id");
  const std::string to_layer = to.text("layer");
  const auto to_amount = to.tri_integer("amount");
  if (!body.ok()) return service_error(422, body.error());
  for (const std::string* layer : {&from_layer, &to_layer})
    if (!is_layer(*layer)) return service_error(422, "Unknown layer: " + *layer);
  if (from_amount.value.has_value() == to_amount.value.has_value())
    return service_error(422, "Give the amount of exactly one of from_asset and to_asset");
  const AssetData* from_asset = find_asset(from_id);
  if (from_asset == nullptr) return service_error(400, "Unknown asset: " + from_id);
  const AssetData* to_asset = find_asset(to_id);
  if (to_asset == nullptr) return service_error(400, "Unknown asset: " + to_id);

  const Priced p = price_swap(*from_asset, from_layer, *to_asset, to_layer, from_amount.value, to_amount.value);
  const std::int64_t now = now_seconds();
  return ok(Obj()
                .str("rfq_id", state.next_id("rfq"))
                .raw("from_asset", write_leg(from_id, *from_asset, from_layer, p.from_amount))
                .raw("to_asset", write_leg(to_id, *to_asset, to_layer, p.to_amount))
                .i64("price", p.price)
                .raw("fee", write_fee(p.fee))
                .i64("timestamp", now)
                .i64("expires_at", now + 60)
                .done());
}

// ---------------------------------------------------------------- swap orders

// Reads a SwapLeg of a request; its text is written back in normal form.
struct LegIn {
  std::string asset_id;
  std::string name;
  std::string ticker;
  std::string layer;
  std::int64_t amount = 0;
  std::int64_t precision = 0;
};

LegIn read_leg(Fields f) {
  LegIn l;
  l.asset_id = f.text("asset_id");
  l.name = f.text("name");
  l.ticker = f.text("ticker");
  l.layer = f.text("layer");
  l.amount = f.integer("amount");
  l.precision = f.integer("precision");
  return l;
}

std::string write_leg(const LegIn& l) {
  return Obj()
      .str("asset_id", l.asset_id)
      .str("name", l.name)
      .str("ticker", l.ticker)
      .str("layer", l.layer)
      .i64("amount", l.amount)
      .i64("precision", l.precision)
      .done();
}

// Market data for a leg: the listed asset, or one made from the leg itself
// at a dollar a unit.
AssetData leg_asset(const LegIn& l) {
  if (const AssetData* a = find_asset(l.asset_id)) return *a;
  if (const AssetData* a = find_asset(l.ticker)) return *a;
  return {l.ticker, l.name, l.asset_id, l.precision, 1.0, 0, "", false, {}, {}};
}

std::string write_swap_order(const State::SwapOrderData& o) {
  const bool filled = o.status == "FILLED";
  Obj w;
  w.str("id", o.id)
      .str("rfq_id", o.rfq_id)
      .str("maker_pubkey", fake_data::service_pubkey)
      .raw("from_asset", o.from_leg)
      .raw("to_asset", o.to_leg)
      .i64("price", o.price)
      .raw("deposit_address", o.deposit_address)
      .raw("payout_address", o.payout_address);
  if (o.refund_address.present)
    put_tri(w, "refund_address", o.refund_address);
  else
    w.null("refund_address");
  w.str("status", o.status)
      .i64("created_at", o.created_at)
      .i64("expires_at", o.created_at + 3600)
      .i64_or_null("filled_at", filled ? std::optional<std::int64_t>(o.created_at + 95) : std::nullopt)
      .null("refund_txid")
      .boolean("requires_manual_refund", false)
      .str("payment_status", filled ? "PAID" : "NOT_PAID")
      .i64("payment_difference", 0)
      .i64_or_null("last_payment_check", filled ? std::optional<std::int64_t>(o.created_at + 60) : std::nullopt);
  if (o.email.present)
    put_tri(w, "email", o.email);
  else
    w.null("email");
  w.null("failure_reason").raw("fee", write_fee(o.fee));
  return w.done();
}

RouteAnswer swap_orders_create(State& state, const Request& req) {
  Fields body = Fields::parse(req.body);
  const std::string rfq_id = body.text("rfq_id");
  const LegIn from = read_leg(body.object("from_asset"));
  const LegIn to = read_leg(body.object("to_asset"));
  Fields receiver = body.object("receiver_address");
  const std::string address = receiver.text("address");
  const std::string format = receiver.text("format");
  body.tri_integer("min_onchain_conf");
  const auto refund_address = body.tri_text("refund_address");
  const auto email = body.tri_text("email");
  if (!body.ok()) return service_error(422, body.error());
  for (const std::string* layer : {&from.layer, &to.layer})
    if (!is_layer(*layer)) return service_error(422, "Unknown layer: " + *layer);

  State::SwapOrderData o;
  o.id = state.next_id("order");
  o.rfq_id = rfq_id;
  o.from_leg = write_leg(from);
  o.to_leg = write_leg(to);
  o.deposit_address = write_deposit_address(from.layer, o.id);
  o.payout_address = Obj().str("address", address).str("format", format).done();
  o.refund_address = refund_address;
  o.email = email;
  o.status = "PENDING_PAYMENT";
  o.created_at = now_seconds();
  const Priced p = price_swap(leg_asset(from), from.layer, leg_asset(to), to.layer, from.amount, std::nullopt);
  o.price = p.price;
  o.fee = p.fee;

  std::string answer = Obj()
                           .str("id", o.id)
                           .str("rfq_id", o.rfq_id)
                           .raw("deposit_address", o.deposit_address)
                           .str("status", o.status)
                           .done();
  std::lock_guard lock(state.mutex);
  state.orders.insert_or_assign(o.id, std::move(o));
  return ok(std::move(answer));
}

// An order that was never created here: a filled BTC -> USDT swap.
State::SwapOrderData made_up_order(std::string_view id) {
  State::SwapOrderData o;
  o.id = std::string(id);
  o.rfq_id = "rfq-" + sha256_hex(id).substr(0, 16);
  const Priced p = price_swap(btc(), "BTC_LN", usdt(), "RGB_LN", 100'000, std::nullopt);
  o.from_leg = write_leg(btc().asset_id, btc(), "BTC_LN", p.from_amount);
  o.to_leg = write_leg(usdt().asset_id, usdt(), "RGB_LN", p.to_amount);
  o.price = p.price;
  o.fee = p.fee;
  o.deposit_address = write_deposit_address("BTC_LN", id);
  o.payout_address = write_deposit_address("RGB_LN", o.rfq_id);
  o.status = "FILLED";
  o.created_at = now_seconds() - 600;
  return o;
}

RouteAnswer swap_orders_status(State& state, const Request& req) {
  Fields body = Fields::parse(req.body);
  const std::string order_id = body.text("order_id");
  if (!body.ok()) return service_error(422, body.error());
  State::SwapOrderData order;
  {
    std::lock_guard lock(state.mutex);
    auto it = state.orders.find(order_id);
    order = it != state.orders.end() ? it->second : made_up_order(order_id);
  }
  return ok(Obj().str("order_id", order_id).str("status", order.status).raw("order", write_swap_order(order)).done());
}

RouteAnswer swap_orders_rate_decision(State&, const Request& req) {
  Fields body = Fields::parse(req.body);
  const std::string order_id = body.text("order_id");
  const bool accept = body.boolean("accept_new_rate");
  if (!body.ok()) return service_error(422, body.error());
  Obj o;
  o.str("order_id", order_id).boolean("decision_accepted", true);
  if (accept) {
    o.str("message", "New rate accepted; the order goes on").null("refund_txid");
  } else {
    o.str("message", "New rate declined; the deposit is refunded").str("refund_txid", sha256_hex(order_id));
  }
  return ok(o.done());
}

RouteAnswer swap_orders_history(State&, const Request& req) {
  std::int64_t limit = 10;
  std::int64_t skip = 0;
  std::optional<std::string_view> status;
  for (const auto& [k, v] : query_params(req.query)) {
    if (k == "limit" || k == "skip") {
      const auto n = parse_int(v);
      if (!n) return service_error(422, std::string(k) + " must be an integer");
      (k == "limit" ? limit : skip) = *n;
    } else if (k == "status") {
      status = v;
    }
  }
  std::vector<const HistoryEntry*> matching;
  for (const HistoryEntry& e : history())
    if (!status || e.status == *status) matching.push_back(&e);
  const auto total = static_cast<std::int64_t>(matching.size());
  std::vector<std::string> data;
  if (limit > 0) {
    for (std::int64_t i = std::max<std::int64_t>(skip, 0); i < total && i < std::max<std::int64_t>(skip, 0) + limit;
         ++i) {
      const HistoryEntry& e = *matching[static_cast<std::size_t>(i)];
      data.push_back(Obj()
                         .str("id", e.id)
                         .str("status", e.status)
                         .str("from_asset", e.from_asset)
                         .i64("from_amount", e.from_amount)
                         .str("to_asset", e.to_asset)
                         .i64("to_amount", e.to_amount)
                         .i64("created_at", e.created_at)
                         .i64_or_null("filled_at", e.filled_at)
                         .done());
    }
  }
  const std::int64_t pages = limit > 0 ? (total + limit - 1) / limit : 0;
  const std::int64_t page = limit > 0 ? std::max<std::int64_t>(skip, 0) / limit + 1 : 1;
  const std::string pagination = Obj()
                                     .i64("total", total)
                                     .i64("limit", limit)
                                     .i64("skip", skip)
                                     .i64("current_page", page)
                                     .i64("total_pages", pages)
                                     .boolean("has_next", limit > 0 && std::max<std::int64_t>(skip, 0) + limit < total)
                                     .boolean("has_previous", skip > 0)
                                     .done();
  return ok(Obj().raw("data", array(data)).raw("pagination", pagination).done());
}

RouteAnswer swap_orders_analytics(State&, const Request&) {
  std::map<std::string_view, std::int64_t> counts;
  std::int64_t volume = 0;
  std::int64_t filled = 0;
  for (const HistoryEntry& e : history()) {
    ++counts[e.status];
    if (e.status == "FILLED") {
      ++filled;
      volume += e.from_amount;
    }
  }
  Obj status_counts;
  for (const auto& [status, n] : counts) status_counts.i64(status, n);
  return ok(Obj()
                .raw("status_counts", status_counts.done())
                .i64("filled_orders_volume", volume)
                .i64("filled_orders_count", filled)
                .done());
}

// ---------------------------------------------------------------- atomic swaps

RouteAnswer swaps_nodeinfo(State&, const Request&) {
  return ok(Obj()
                .str("pubkey", fake_data::service_pubkey)
                .str("network", "regtest")
                .i64("block_height", fake_data::block_height)
                .done());
}

RouteAnswer swaps_init(State& state, const Request& req) {
  Fields body = Fields::parse(req.body);
  const std::string rfq_id = body.text("rfq_id");
  State::SwapData swap;
  swap.from_asset = body.text("from_asset");
  swap.qty_from = body.integer("from_amount");
  swap.to_asset = body.text("to_asset");
  swap.qty_to = body.integer("to_amount");
  if (!body.ok()) return service_error(422, body.error());
  swap.requested_at = now_seconds();
  const std::string payment_hash = sha256_hex(rfq_id + "/" + state.next_id("swap"));
  const std::string swapstring = std::to_string(swap.qty_from) + "/" + swap.from_asset + "/" +
                                 std::to_string(swap.qty_to) + "/" + swap.to_asset + "/" +
                                 std::to_string(swap.requested_at + 600) + "/" + payment_hash;
  {
    std::lock_guard lock(state.mutex);
    state.swaps.insert_or_assign(payment_hash, std::move(swap));
  }
  return ok(Obj().str("swapstring", swapstring).str("payment_hash", payment_hash).done());
}

RouteAnswer swaps_taker(State&, const Request& req) {
  Fields body = Fields::parse(req.body);
  body.text("swapstring");
  if (!body.ok()) return service_error(422, body.error());
  return ok(empty_object());
}

RouteAnswer swaps_execute(State& state, const Request& req) {
  Fields body = Fields::parse(req.body);
  body.text("swapstring");
  body.text("taker_pubkey");
  const std::string payment_hash = body.text("payment_hash");
  if (!body.ok()) return service_error(422, body.error());
  {
    std::lock_guard lock(state.mutex);
    auto it = state.swaps.find(payment_hash);
    if (it != state.swaps.end() && !it->second.completed_at) it->second.completed_at = now_seconds();
  }
  return ok(Obj().i64("status", 200).str("message", "Swap executed").done());
}

RouteAnswer swaps_atomic_status(State& state, const Request& req) {
  Fields body = Fields::parse(req.body);
  const std::string payment_hash = body.text("payment_hash");
  if (!body.ok()) return service_error(422, body.error());
  State::SwapData swap;
  {
    std::lock_guard lock(state.mutex);
    auto it = state.swaps.find(payment_hash);
    if (it != state.swaps.end()) {
      swap = it->second;
    } else {
      swap = {
          100'000,           94'380'000, std::string(btc().asset_id), std::string(usdt().asset_id), now_seconds() - 120,
          now_seconds() - 60};
    }
  }
  const bool done = swap.completed_at.has_value();
  const std::string s = Obj()
                            .i64("qty_from", swap.qty_from)
                            .i64("qty_to", swap.qty_to)
                            .str("from_asset", swap.from_asset)
                            .str("to_asset", swap.to_asset)
                            .str("payment_hash", payment_hash)
                            .str("status", done ? "Succeeded" : "Waiting")
                            .i64("requested_at", swap.requested_at)
                            .i64_or_null("initiated_at", done ? std::optional(swap.requested_at + 5) : std::nullopt)
                            .i64("expires_at", swap.requested_at + 600)
                            .i64_or_null("completed_at", swap.completed_at)
                            .done();
  return ok(Obj().raw("swap", s).done());
}

// ---------------------------------------------------------------- LSPS1

std::string write_asset_options(const AssetData& a, std::int64_t channel_max) {
  return Obj()
      .str("name", a.name)
      .str("asset_id", a.asset_id)
      .str("ticker", a.ticker)
      .i64("precision", a.precision)
      .i64("issued_supply", a.issued_supply)
      .i64("min_initial_client_amount", 0)
      .i64("max_initial_client_amount", channel_max)
      .i64("min_initial_lsp_amount", 0)
      .i64("max_initial_lsp_amount", channel_max)
      .i64("min_channel_amount", channel_max / 1000)
      .i64("max_channel_amount", channel_max)
      .done();
}

RouteAnswer make_lsps1_get_info() {
  const std::string options = Obj()
                                  .i64("min_required_channel_confirmations", 0)
                                  .i64("min_funding_confirms_within_blocks", 6)
                                  .i64("min_onchain_payment_confirmations", 1)
                                  .boolean("supports_zero_channel_reserve", true)
                                  .null("min_onchain_payment_size_sat")
                                  .i64("max_channel_expiry_blocks", 20'160)
                                  .i64("min_initial_client_balance_sat", 0)
                                  .i64("max_initial_client_balance_sat", 100'000'000)
                                  .i64("min_initial_lsp_balance_sat", 0)
                                  .i64("max_initial_lsp_balance_sat", 100'000'000)
                                  .i64("min_channel_balance_sat", 50'000)
                                  .i64("max_channel_balance_sat", 100'000'000)
                                  .done();
  return ok(
      Obj()
          .str("lsp_connection_url", std::string(fake_data::service_pubkey) + "@127.0.0.1:9735")
          .raw("options", options)
          .raw("assets", array({write_asset_options(usdt(), 10'000'000'000), write_asset_options(xaut(), 100'000'000)}))
          .done());
}

RouteAnswer lsps1_network_info(State&, const Request&) {
  return ok(Obj().str("network", "Regtest").i64("height", fake_data::block_height).done());
}

struct ChannelFeesData {
  std::int64_t setup = 0;
  std::int64_t capacity = 0;
  std::int64_t duration = 0;
  std::int64_t total = 0;
};

ChannelFeesData channel_fees(std::int64_t channel_size) {
  ChannelFeesData f;
  f.setup = 2'000;
  f.capacity = std::max<std::int64_t>(channel_size, 0) / 100;
  f.duration = std::max<std::int64_t>(channel_size, 0) / 2'000;
  f.total = f.setup + f.capacity + f.duration;
  return f;
}

RouteAnswer lsps1_estimate_fees(State&, const Request& req) {
  Fields body = Fields::parse(req.body);
  const std::int64_t size = body.integer("channel_size");
  if (!body.ok()) return service_error(422, body.error());
  const ChannelFeesData f = channel_fees(size);
  return ok(Obj()
                .i64("setup_fee", f.setup)
                .i64("capacity_fee", f.capacity)
                .i64("duration_fee", f.duration)
                .i64("total_fee", f.total)
                .null("applied_discount")
                .null("discount_code")
                .done());
}

struct ChannelOrderIn {
  std::string order_id;
  std::string client_pubkey;
  std::int64_t lsp_balance_sat = 0;
  std::int64_t client_balance_sat = 0;
  std::int64_t required_channel_confirmations = 0;
  std::int64_t funding_confirms_within_blocks = 6;
  std::int64_t channel_expiry_blocks = 4'320;
  Fields::Tri<std::string> token;
  Fields::Tri<std::string> refund_onchain_address;
  bool announce_channel = false;
  Fields::Tri<std::string> asset_id;
  Fields::Tri<std::int64_t> lsp_asset_amount;
  Fields::Tri<std::int64_t> client_asset_amount;
  Fields::Tri<std::string> rfq_id;
  std::int64_t created_at = 0;
  bool completed = false;
};

// Two's-complement sums and products: callers may send any 64-bit balance,
// and the figures derived from them only need to be deterministic.
std::int64_t wrapping_add(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
std::int64_t wrapping_mul(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}

std::string write_channel_order(const ChannelOrderIn& in) {
  const ChannelFeesData fees = channel_fees(wrapping_add(in.lsp_balance_sat, in.client_balance_sat));
  const bool with_asset = in.asset_id.value.has_value();
  const std::int64_t asset_price = with_asset ? 1'000 : 0;
  const std::int64_t order_total = wrapping_add(wrapping_add(fees.total, in.client_balance_sat), asset_price);
  const std::string expires = iso_time(in.created_at + 3600);
  const char* state = in.completed ? "PAID" : "EXPECT_PAYMENT";
  const std::string h = sha256_hex(in.order_id);
  const std::string bolt11 =
      Obj()
          .str("state", state)
          .str("expires_at", expires)
          .i64("fee_total_sat", fees.total)
          .i64("order_total_sat", order_total)
          .str("invoice", "lnbcrt" + std::to_string(wrapping_mul(order_total, 10)) + "n1p" + h.substr(0, 52))
          .done();
  Obj onchain;
  onchain.str("state", in.completed ? "PAID" : "EXPECT_PAYMENT")
      .str("expires_at", expires)
      .i64("fee_total_sat", fees.total)
      .i64("order_total_sat", order_total)
      .str("address", "bcrt1q" + h.substr(20, 38))
      .i64("min_fee_for_0conf", 253)
      .i64("min_onchain_payment_confirmations", 1);
  if (in.refund_onchain_address.present)
    put_tri(onchain, "refund_onchain_address", in.refund_onchain_address);
  else
    onchain.null("refund_onchain_address");
  onchain.null("payment_status").null("payment_difference").null("last_payment_check");
  const std::string payment = Obj().raw("bolt11", bolt11).raw("onchain", onchain.done()).done();

  Obj o;
  o.str("order_id", in.order_id)
      .str("client_pubkey", in.client_pubkey)
      .i64("lsp_balance_sat", in.lsp_balance_sat)
      .i64("client_balance_sat", in.client_balance_sat)
      .i64("required_channel_confirmations", in.required_channel_confirmations)
      .i64("funding_confirms_within_blocks", in.funding_confirms_within_blocks)
      .i64("channel_expiry_blocks", in.channel_expiry_blocks);
  if (in.token.present)
    put_tri(o, "token", in.token);
  else
    o.null("token");
  o.str("created_at", iso_time(in.created_at))
      .boolean("announce_channel", in.announce_channel)
      .str("order_state", in.completed ? "COMPLETED" : "CREATED")
      .raw("payment", payment);
  if (in.completed) {
    o.raw("channel", Obj()
                         .str("channel_id", h.substr(0, 64))
                         .str("temporary_channel_id", sha256_hex(h).substr(0, 64))
                         .str("funded_at", iso_time(in.created_at + 600))
                         .str("funding_outpoint", sha256_hex("funding" + h) + ":0")
                         .str("expires_at", iso_time(in.created_at + 600 + in.channel_expiry_blocks * 600))
                         .done());
  } else {
    o.null("channel");
  }
  put_tri(o, "asset_id", in.asset_id);
  if (!in.asset_id.present) o.null("asset_id");
  put_tri(o, "lsp_asset_amount", in.lsp_asset_amount);
  if (!in.lsp_asset_amount.present) o.null("lsp_asset_amount");
  put_tri(o, "client_asset_amount", in.client_asset_amount);
  if (!in.client_asset_amount.present) o.null("client_asset_amount");
  put_tri(o, "rfq_id", in.rfq_id);
  if (!in.rfq_id.present) o.null("rfq_id");
  o.i64_or_null("asset_price_sat", with_asset ? std::optional(asset_price) : std::nullopt);
  if (with_asset)
    o.str("asset_delivery_status", in.completed ? "COMPLETED" : "PENDING");
  else
    o.str("asset_delivery_status", "NOT_REQUIRED");
  o.null("asset_delivery_payment_hash")
      .null("asset_delivery_completed_at")
      .null("asset_delivery_error")
      .null("failure_reason");
  return o.done();
}

RouteAnswer lsps1_create_order(State& state, const Request& req) {
  Fields body = Fields::parse(req.body);
  ChannelOrderIn in;
  in.client_pubkey = body.text("client_pubkey");
  in.lsp_balance_sat = body.integer("lsp_balance_sat");
  in.client_balance_sat = body.integer("client_balance_sat");
  in.required_channel_confirmations = body.integer("required_channel_confirmations");
  in.funding_confirms_within_blocks = body.integer("funding_confirms_within_blocks");
  in.channel_expiry_blocks = body.integer("channel_expiry_blocks");
  in.token = body.tri_text("token");
  in.refund_onchain_address = body.tri_text("refund_onchain_address");
  in.announce_channel = body.opt_boolean("announce_channel").value_or(false);
  in.asset_id = body.tri_text("asset_id");
  in.lsp_asset_amount = body.tri_integer("lsp_asset_amount");
  in.client_asset_amount = body.tri_integer("client_asset_amount");
  in.rfq_id = body.tri_text("rfq_id");
  body.tri_text("email");
  if (!body.ok()) return service_error(422, body.error());
  in.order_id = state.next_id("lsps1");
  in.created_at = now_seconds();
  std::string answer = write_channel_order(in);
  std::lock_guard lock(state.mutex);
  state.channel_orders.insert_or_assign(in.order_id, answer);
  return ok(std::move(answer));
}

RouteAnswer lsps1_get_order(State& state, const Request& req) {
  Fields body = Fields::parse(req.body);
  const std::string order_id = body.text("order_id");
  if (!body.ok()) return service_error(422, body.error());
  {
    std::lock_guard lock(state.mutex);
    auto it = state.channel_orders.find(order_id);
    if (it != state.channel_orders.end()) return ok(it->second);
  }
  // Never created here: a completed order for 100 USDT on a 1 BTC channel.
  ChannelOrderIn in;
  in.order_id = order_id;
  in.client_pubkey = std::string(fake_data::node_pubkey);
  in.lsp_balance_sat = 1'000'000;
  in.client_balance_sat = 0;
  in.asset_id.present = true;
  in.asset_id.value = std::string(usdt().asset_id);
  in.lsp_asset_amount.present = true;
  in.lsp_asset_amount.value = 100'000'000;
  in.client_asset_amount.present = true;
  in.client_asset_amount.value = 0;
  in.created_at = now_seconds() - 7'200;
  in.completed = true;
  return ok(write_channel_order(in));
}

RouteAnswer lsps1_retry_delivery(State&, const Request& req) {
  Fields body = Fields::parse(req.body);
  const std::string order_id = body.text("order_id");
  if (!body.ok()) return service_error(422, body.error());
  return ok(Obj()
                .str("order_id", order_id)
                .str("asset_delivery_status", "IN_PROGRESS")
                .str("message", "Asset delivery retry scheduled")
                .done());
}

// ---------------------------------------------------------------- node

std::string peer_pubkey(int n) { return "03" + sha256_hex("peer" + std::to_string(n)); }

RouteAnswer node_nodeinfo(State&, const Request&) {
  return ok(Obj()
                .str("pubkey", fake_data::node_pubkey)
                .str("network", "Regtest")
                .i64("block_height", fake_data::block_height)
                .i64("num_channels", 2)
                .i64("num_usable_channels", 1)
                .i64("num_peers", 2)
                .i64("local_balance_sat", 1'650'000)
                .done());
}

RouteAnswer node_listpeers(State&, const Request&) {
  return ok(
      Obj()
          .raw("peers", array({Obj()
                                   .str("pubkey", fake_data::service_pubkey)
                                   .str("address", "127.0.0.1:9735")
                                   .boolean("connected", true)
                                   .done(),
                               Obj().str("pubkey", peer_pubkey(2)).null("address").boolean("connected", false).done()}))
          .done());
}

RouteAnswer node_listchannels(State&, const Request&) {
  return ok(Obj()
                .raw("channels", array({Obj()
                                            .str("channel_id", sha256_hex("channel1"))
                                            .str("peer_pubkey", fake_data::service_pubkey)
                                            .i64("capacity", 2'000'000)
                                            .i64("local_balance", 1'500'000)
                                            .i64("remote_balance", 500'000)
                                            .boolean("is_active", true)
                                            .boolean("is_public", false)
                                            .str("asset_id", usdt().asset_id)
                                            .i64("asset_local_amount", 250'000'000)
                                            .i64("asset_remote_amount", 750'000'000)
                                            .done(),
                                        Obj()
                                            .str("channel_id", sha256_hex("channel2"))
                                            .str("peer_pubkey", peer_pubkey(2))
                                            .i64("capacity", 500'000)
                                            .i64("local_balance", 150'000)
                                            .i64("remote_balance", 350'000)
                                            .boolean("is_active", false)
                                            .boolean("is_public", true)
                                            .done()}))
                .done());
}

RouteAnswer node_listpayments(State&, const Request&) {
  auto payment = [](int n, std::string_view status, std::int64_t msat, std::string_view direction, std::int64_t at) {
    return Obj()
        .str("payment_hash", sha256_hex("payment" + std::to_string(n)))
        .str("status", status)
        .i64("amount_msat", msat)
        .str("direction", direction)
        .i64("created_at", at)
        .done();
  };
  return ok(Obj()
                .raw("payments", array({payment(1, "Succeeded", 3'000'000, "Inbound", 1'736'000'000),
                                        payment(2, "Succeeded", 12'500'000, "Outbound", 1'736'100'000),
                                        payment(3, "Pending", 1'000'000, "Outbound", 1'736'200'000)}))
                .done());
}

RouteAnswer node_connectpeer(State&, const Request& req) {
  Fields body = Fields::parse(req.body);
  body.text("peer_pubkey_and_addr");
  if (!body.ok()) return node_error(body.error());
  return ok(empty_object());
}

RouteAnswer node_btcbalance(State&, const Request&) {
  return ok(Obj().i64("confirmed", 1'500'000).i64("unconfirmed", 25'000).i64("total", 1'525'000).done());
}

std::string write_rgb_balance(std::string_view asset_id) {
  std::int64_t settled = 0, future = 0;
  if (asset_id == usdt().asset_id) settled = 250'000'000, future = 300'000'000;
  if (asset_id == xaut().asset_id) settled = 2'000'000, future = 2'000'000;
  return Obj().i64("settled", settled).i64("future", future).i64("spendable", settled).done();
}

RouteAnswer node_assetbalance(State&, const Request& req) {
  Fields body = Fields::parse(req.body);
  const std::string asset_id = body.text("asset_id");
  if (!body.ok()) return node_error(body.error());
  return ok(write_rgb_balance(asset_id));
}

RouteAnswer node_listassets(State&, const Request&) {
  std::vector<std::string> items;
  for (const AssetData* a : {&usdt(), &xaut()})
    items.push_back(Obj()
                        .str("asset_id", a->asset_id)
                        .str("ticker", a->ticker)
                        .str("name", a->name)
                        .i64("precision", a->precision)
                        .raw("balance", write_rgb_balance(a->asset_id))
                        .done());
  return ok(Obj().raw("assets", array(items)).done());
}

RouteAnswer node_address(State&, const Request&) {
  return ok(Obj().str("address", "bcrt1q" + sha256_hex("node address").substr(0, 38)).done());
}

RouteAnswer node_decodelninvoice(State&, const Request& req) {
  Fields body = Fields::parse(req.body);
  const std::string invoice = body.text("invoice");
  if (!body.ok()) return node_error(body.error());
  return ok(Obj()
                .i64("amt_msat", 3'000'000)
                .i64("expiry_sec", 3'600)
                .i64("timestamp", now_seconds())
                .null("asset_id")
                .null("asset_amount")
                .str("payment_hash", sha256_hex(invoice))
                .str("payment_secret", sha256_hex("secret" + invoice))
                .str("payee_pubkey", fake_data::service_pubkey)
                .str("network", "Regtest")
                .done());
}

RouteAnswer node_taker(State&, const Request& req) {
  Fields body = Fields::parse(req.body);
  body.text("swapstring");
  if (!body.ok()) return node_error(body.error());
  return ok(empty_object());
}

RouteAnswer node_init(State&, const Request& req) {
  Fields body = Fields::parse(req.body);
  body.text("password");
  if (!body.ok()) return node_error(body.error());
  return ok(Obj()
                .str("mnemonic",
                     "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about")
                .done());
}

RouteAnswer node_unlock(State&, const Request& req) {
  Fields body = Fields::parse(req.body);
  body.text("password");
  if (!body.ok()) return node_error(body.error());
  return ok(empty_object());
}

RouteAnswer node_lock(State&, const Request&) { return ok(empty_object()); }

// The answers that never change are written once.
RouteAnswer market_assets(State&, const Request&) {
  static const RouteAnswer answer = make_market_assets();
  return answer;
}

RouteAnswer market_pairs(State&, const Request&) {
  static const RouteAnswer answer = make_market_pairs();
  return answer;
}

RouteAnswer lsps1_get_info(State&, const Request&) {
  static const RouteAnswer answer = make_lsps1_get_info();
  return answer;
}

// The quote stream's endpoint asked without a WebSocket upgrade (the upgrade
// itself never reaches the routes).
RouteAnswer quote_stream_without_upgrade(State&, const Request&) {
  RouteAnswer a = service_error(426, "Upgrade Required");
  a.headers.emplace_back("Upgrade", "websocket");
  return a;
}

// ---------------------------------------------------------------- table

using Handler = RouteAnswer (*)(State&, const Request&);

struct Route {
  std::string_view method;
  std::string_view path;
  Handler handler;
};

constexpr Route routes[] = {
    {"GET", "/api/v1/market/assets", market_assets},
    {"GET", "/api/v1/market/pairs", market_pairs},
    {"POST", "/api/v1/market/quote", market_quote},
    {"POST", "/api/v1/swaps/orders", swap_orders_create},
    {"POST", "/api/v1/swaps/orders/status", swap_orders_status},
    {"POST", "/api/v1/swaps/orders/rate_decision", swap_orders_rate_decision},
    {"GET", "/api/v1/swaps/orders/history", swap_orders_history},
    {"GET", "/api/v1/swaps/orders/analytics", swap_orders_analytics},
    {"GET", "/api/v1/swaps/nodeinfo", swaps_nodeinfo},
    {"POST", "/api/v1/swaps/init", swaps_init},
    {"POST", "/api/v1/swaps/taker", swaps_taker},
    {"POST", "/api/v1/swaps/execute", swaps_execute},
    {"POST", "/api/v1/swaps/atomic/status", swaps_atomic_status},
    {"GET", "/api/v1/lsps1/get_info", lsps1_get_info},
    {"GET", "/api/v1/lsps1/network_info", lsps1_network_info},
    {"POST", "/api/v1/lsps1/estimate_fees", lsps1_estimate_fees},
    {"POST", "/api/v1/lsps1/create_order", lsps1_create_order},
    {"POST", "/api/v1/lsps1/get_order", lsps1_get_order},
    {"POST", "/api/v1/lsps1/retry_delivery", lsps1_retry_delivery},
    {"GET", "/nodeinfo", node_nodeinfo},
    {"GET", "/listpeers", node_listpeers},
    {"POST", "/connectpeer", node_connectpeer},
    {"GET", "/listchannels", node_listchannels},
    {"GET", "/listpayments", node_listpayments},
    {"POST", "/btcbalance", node_btcbalance},
    {"POST", "/assetbalance", node_assetbalance},
    {"POST", "/listassets", node_listassets},
    {"POST", "/address", node_address},
    {"POST", "/decodelninvoice", node_decodelninvoice},
    {"POST", "/taker", node_taker},
    {"POST", "/init", node_init},
    {"POST", "/unlock", node_unlock},
    {"POST", "/lock", node_lock},
    {"GET", "/ws", quote_stream_without_upgrade},
};

}  // namespace

DefaultRoutes::DefaultRoutes() : state_(std::make_unique<State>()) {}
DefaultRoutes::~DefaultRoutes() = default;

RouteAnswer DefaultRoutes::answer(std::string_view method, std::string_view path, std::string_view query,
                                  std::string_view body) {
  const Route* same_path = nullptr;
  for (const Route& r : routes) {
    if (r.path != path) continue;
    if (r.method == method) return r.handler(*state_, Request{query, body});
    same_path = &r;
  }
  if (same_path != nullptr) {
    RouteAnswer a = service_error(405, "Method Not Allowed");
    a.headers.emplace_back("Allow", std::string(same_path->method));
    return a;
  }
  return service_error(404, "Not Found");
}

void DefaultRoutes::reset() {
  std::lock_guard lock(state_->mutex);
  state_->orders.clear();
  state_->swaps.clear();
  state_->channel_orders.clear();
}

}  // namespace zephlar::testing
