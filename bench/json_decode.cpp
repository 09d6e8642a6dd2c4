// json_decode: typed decoding of large market answers from bytes into
// records, and writing them back, beside nlohmann::json parsing the same
// bytes into its DOM.
//
//   json_decode [--pairs N] [--assets N] [--min-time SECONDS] [--only decode|write|nlohmann]
//
// --only runs one kind of measurement (for a profiler).
//
// The bodies are generated deterministically (same bytes on every run). Each
// figure is the median of several timed rounds; MB/s counts the body's bytes
// (for writing: the bytes written, which equal the body).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/json.hpp"
#include "core/models/asset.hpp"
#include "core/models/trading_pair.hpp"

#if ZEPHLAR_BENCH_NLOHMANN
#include <nlohmann/json.hpp>
#endif

namespace {

using namespace zephlar;

// Empty: every measurement; else only the one named.
std::string_view g_only;
bool wanted(std::string_view what) { return g_only.empty() || g_only == what; }

// ---- deterministic answer bodies ----

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {  // splitmix64
    std::uint64_t z = (s_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  bool chance(unsigned percent) { return below(100) < percent; }

 private:
  std::uint64_t s_;
};

constexpr std::string_view kLayers[] = {"BTC_L1", "BTC_LN", "RGB_L1", "RGB_LN", "BTC_SPARK", "LIQUID_LIQUID"};
constexpr std::string_view kWords[] = {"Tether", "Bitcoin", "Dollar",  "Gold",  "Silver", "Euro", "Yen",   "Token",
                                       "Coin",   "Stable",  "Digital", "Asset", "Prime",  "Nova", "Lumen", "Vault"};

std::string ticker(Rng& rng) {
  std::string t;
  const std::size_t n = 3 + rng.below(3);
  for (std::size_t k = 0; k < n; ++k) t.push_back(static_cast<char>('A' + rng.below(26)));
  return t;
}

std::string hex(Rng& rng, std::size_t n) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string s;
  for (std::size_t k = 0; k < n; ++k) s.push_back(digits[rng.below(16)]);
  return s;
}

void quoted(std::string& out, std::string_view s) {
  out += '"';
  out += s;
  out += '"';
}

void int_member(std::string& out, std::string_view key, std::int64_t v) {
  out += ",\"";
  out += key;
  out += "\":";
  out += std::to_string(v);
}

// The members an asset and a tradable asset share, from ticker to endpoints;
// the caller closes the object. Written in the writer's normal form, so that
// a typed round trip reproduces the bytes.
void tradable_members(std::string& out, Rng& rng) {
  out += "{\"ticker\":";
  quoted(out, ticker(rng));
  out += ",\"name\":";
  quoted(out, std::string(kWords[rng.below(16)]) + " " + std::string(kWords[rng.below(16)]) + " \\\"" +
                  std::to_string(rng.below(1000)) + "\\\" caf\xC3\xA9");
  int_member(out, "precision", static_cast<std::int64_t>(rng.below(19)));
  if (rng.chance(80)) {
    out += ",\"protocol_ids\":{\"RGB\":";
    quoted(out, "rgb:" + hex(rng, 8) + "-" + hex(rng, 8) + "-" + hex(rng, 8) + "-" + hex(rng, 8));
    if (rng.chance(50)) {
      out += ",\"TAPASS\":";
      quoted(out, "0x" + hex(rng, 40));
    }
    out += '}';
  }
  if (rng.chance(60)) {
    out += ",\"media\":{\"file_path\":";
    quoted(out, "/media/" + hex(rng, 12) + ".png");
    out += ",\"digest\":";
    quoted(out, hex(rng, 64));
    out += ",\"mime\":\"image/png\"}";
  } else if (rng.chance(50)) {
    out += ",\"media\":null";
  }
  if (rng.chance(90)) int_member(out, "issued_supply", static_cast<std::int64_t>(rng.next() >> 2));
  if (rng.chance(90)) int_member(out, "timestamp", 1700000000 + static_cast<std::int64_t>(rng.below(30000000)));
  out += ",\"endpoints\":[";
  const std::size_t n = 1 + rng.below(3);
  for (std::size_t k = 0; k < n; ++k) {
    if (k) out += ',';
    out += "{\"layer\":";
    quoted(out, kLayers[rng.below(6)]);
    int_member(out, "min_amount", static_cast<std::int64_t>(rng.below(100000)));
    int_member(out, "max_amount", static_cast<std::int64_t>(rng.below(std::uint64_t{1} << 50)));
    if (rng.chance(70)) out += rng.chance(80) ? ",\"is_active\":true" : ",\"is_active\":false";
    out += '}';
  }
  out += ']';
}

std::string pairs_body(std::size_t count) {
  Rng rng(0x7a657068);
  std::string out = "{\"pairs\":[";
  for (std::size_t i = 0; i < count; ++i) {
    if (i) out += ',';
    out += "{\"id\":";
    quoted(out, "pair-" + std::to_string(i) + "-" + hex(rng, 16));
    out += ",\"base\":";
    tradable_members(out, rng);
    out += "},\"quote\":";
    tradable_members(out, rng);
    out += '}';
    if (rng.chance(85)) {
      out += ",\"price\":";
      quoted(out, std::to_string(rng.below(100000)) + "." + std::to_string(rng.below(100000000)));
    } else {
      out += ",\"price\":null";
    }
    out += ",\"routes\":[";
    const std::size_t n = 1 + rng.below(3);
    for (std::size_t k = 0; k < n; ++k) {
      if (k) out += ',';
      out += "{\"from_layer\":";
      quoted(out, kLayers[rng.below(6)]);
      out += ",\"to_layer\":";
      quoted(out, kLayers[rng.below(6)]);
      out += '}';
    }
    out += rng.chance(90) ? "],\"is_active\":true}" : "],\"is_active\":false}";
  }
  out += ']';
  int_member(out, "total", static_cast<std::int64_t>(count));
  int_member(out, "limit", static_cast<std::int64_t>(count));
  int_member(out, "offset", 0);
  int_member(out, "timestamp", 1718000000);
  out += '}';
  return out;
}

std::string assets_body(std::size_t count) {
  Rng rng(0x61737365);
  std::string out = "{\"assets\":[";
  for (std::size_t i = 0; i < count; ++i) {
    if (i) out += ',';
    tradable_members(out, rng);
    out += rng.chance(90) ? ",\"is_active\":true" : ",\"is_active\":false";
    if (rng.chance(80)) int_member(out, "added_at", 1700000000 + static_cast<std::int64_t>(rng.below(30000000)));
    out += ",\"supported_layers\":[";
    const std::size_t n = 1 + rng.below(3);
    for (std::size_t k = 0; k < n; ++k) {
      if (k) out += ',';
      quoted(out, kLayers[rng.below(6)]);
    }
    out += "]}";
  }
  out += "],\"network\":\"Regtest\"";
  int_member(out, "total", static_cast<std::int64_t>(count));
  int_member(out, "limit", static_cast<std::int64_t>(count));
  int_member(out, "offset", 0);
  int_member(out, "timestamp", 1718000000);
  out += '}';
  return out;
}

// ---- timing ----

struct Figure {
  double mb_per_s = 0;
};

// Median throughput over `rounds` rounds of at least `min_time` seconds each.
Figure measure(std::size_t bytes, double min_time, const std::function<void()>& body) {
  using clock = std::chrono::steady_clock;
  constexpr int rounds = 5;
  body();  // warm-up
  std::vector<double> rates;
  for (int round = 0; round < rounds; ++round) {
    std::size_t iterations = 0;
    const auto start = clock::now();
    double elapsed = 0;
    do {
      body();
      ++iterations;
      elapsed = std::chrono::duration<double>(clock::now() - start).count();
    } while (elapsed < min_time);
    rates.push_back(static_cast<double>(bytes) * static_cast<double>(iterations) / elapsed / 1e6);
  }
  std::sort(rates.begin(), rates.end());
  return {rates[rounds / 2]};
}

// Keeps the optimiser from dropping a result.
template <class T>
void keep(const T& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

template <class Record>
int run(const char* label, const std::string& body, std::size_t expected_count, double min_time,
        std::size_t (*count)(const Record&)) {
  // Correctness first: the typed reading must accept the body and write it
  // back byte for byte.
  auto first = json::from_response_body<Record>(body);
  if (!first) {
    std::fprintf(stderr, "%s: typed read failed: %s\n", label, first.error().text().c_str());
    return 1;
  }
  if (count(*first) != expected_count) {
    std::fprintf(stderr, "%s: read %zu elements, expected %zu\n", label, count(*first), expected_count);
    return 1;
  }
  const std::string written = json::to_json(*first);
  if (written != body) {
    std::fprintf(stderr, "%s: written text differs from the body\n", label);
    return 1;
  }

  std::printf("%-22s %8.2f MB body\n", label, static_cast<double>(body.size()) / 1e6);
  Figure decode;
  if (wanted("decode")) {
    decode = measure(body.size(), min_time, [&] {
      auto value = json::from_response_body<Record>(body);
      keep(value);
    });
    std::printf("  typed decode          %9.1f MB/s\n", decode.mb_per_s);
  }
  if (wanted("write")) {
    std::string out;
    out.reserve(body.size());
    const Figure write = measure(body.size(), min_time, [&] {
      out.clear();
      json::append_json(out, *first);
      keep(out);
    });
    std::printf("  typed write           %9.1f MB/s\n", write.mb_per_s);
  }
  if (wanted("nlohmann")) {
#if ZEPHLAR_BENCH_NLOHMANN
    const Figure dom = measure(body.size(), min_time, [&] {
      auto value = nlohmann::json::parse(body);
      keep(value);
    });
    std::printf("  nlohmann::json parse  %9.1f MB/s\n", dom.mb_per_s);
    if (decode.mb_per_s > 0) std::printf("  typed decode / nlohmann parse: %.2fx\n", decode.mb_per_s / dom.mb_per_s);
#else
    std::printf("  nlohmann::json parse  (not built: nlohmann/json.hpp not found)\n");
#endif
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t pairs = 10000;
  std::size_t assets = 10000;
  double min_time = 0.3;
  if (argc % 2 == 0) {
    std::fprintf(stderr,
                 "usage: json_decode [--pairs N] [--assets N] [--min-time SECONDS] [--only decode|write|nlohmann]\n");
    return 2;
  }
  for (int k = 1; k + 1 < argc; k += 2) {
    const std::string_view arg = argv[k];
    if (arg == "--pairs") {
      pairs = std::strtoull(argv[k + 1], nullptr, 10);
    } else if (arg == "--assets") {
      assets = std::strtoull(argv[k + 1], nullptr, 10);
    } else if (arg == "--min-time") {
      min_time = std::strtod(argv[k + 1], nullptr);
    } else if (arg == "--only") {
      g_only = argv[k + 1];
    } else {
      std::fprintf(stderr,
                   "usage: json_decode [--pairs N] [--assets N] [--min-time SECONDS] [--only decode|write|nlohmann]\n");
      return 2;
    }
  }
  int rc = 0;
  rc |= run<models::TradingPairsResponse>("TradingPairsResponse", pairs_body(pairs), pairs, min_time,
                                          [](const models::TradingPairsResponse& r) { return r.pairs.size(); });
  rc |= run<models::AssetsResponse>("AssetsResponse", assets_body(assets), assets, min_time,
                                    [](const models::AssetsResponse& r) { return r.assets.size(); });
  return rc;
}
