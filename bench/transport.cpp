// The request path against the loopback fake service, in one run:
//   (a) CoreClient::list_pairs with no cache: GET, status check and typed
//       decode of a 1,000-pair answer, one call after another;
//   (b) a plain libcurl easy handle reusing its connection, doing the same
//       GET and the same decode;
//   (c) 64 concurrent callers on one CoreClient, on an io_context run by one
//       thread per core, against (d) one caller;
//   (e) the TCP connections the service accepted for 10,000 sequential calls;
// and on the service's default answers, a few kilobytes each:
//   (f) CoreClient::list_pairs with no cache (GET, 2 pairs) and
//       CoreClient::get_quote_by_pair (POST), one call after another, each
//       beside (g) a plain libcurl easy handle reusing its connection doing
//       the same request and the same decode;
//   (h) a cached ZephClient::list_pairs (the blocking wrapper, compact JSON
//       text out) beside the same cached core operation awaited directly.
//
//   transport [--calls N] [--only c|small|f|h]
//
// --only c runs just (c) and (d), for profiling the concurrent path; --only
// small runs just (f) to (h); --only f runs just the calls of (f)'s
// list_pairs, for profiling the path of a small answer, and --only h just
// the cached ZephClient::list_pairs calls of (h). The small-answer figures are the medians of
// several rounds, alternating which side goes first.
//
// The service runs in this process, on its 4 I/O threads, and so competes
// with the client for the same cores. It sends its standing answer from the
// one copy it keeps, head and body in a gathered write, so per request it
// costs little beyond the kernel's copy into the socket; in a process of its
// own (tests/tools/fake_service_main.cpp) it would cost the same cores.
//
// (c) reaches 6 times (d) only with about 6 cores to spare. Beside (c) and
// (d) the run prints the CPU time the whole process spent per call and the
// time its threads spent ready to run but waiting for a core (from
// /proc/self/task/*/schedstat), with the load average: on a machine busy
// with other work the waiting time shows where the concurrency went.
#include <curl/curl.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/client/core_client.hpp"
#include "core/json/json.hpp"
#include "core/models/quote.hpp"
#include "core/models/trading_pair.hpp"
#include "ffi/zeph_client.hpp"
#include "tests/support/fake_service.hpp"

namespace {

namespace asio = boost::asio;
using zephlar::client::CoreClient;
using zephlar::client::CoreConfig;
using zephlar::models::PairQuoteRequest;
using zephlar::models::PairQuoteResponse;
using zephlar::models::TradingPairsResponse;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::shared_ptr<CoreClient> make_client(const std::string& base_url) {
  CoreConfig config;
  config.base_url = base_url;
  config.timeout = 30.0;
  config.max_retries = 0;
  config.cache_ttl = 0;
  auto client = CoreClient::create(config);
  if (!client) {
    std::fprintf(stderr, "client: %s\n", client.error().to_string().c_str());
    std::exit(1);
  }
  return client.value();
}

// Seconds on a core and seconds ready to run but waiting for one.
struct SchedTimes {
  double running = 0;
  double waiting = 0;
  SchedTimes& operator+=(const SchedTimes& o) {
    running += o.running;
    waiting += o.waiting;
    return *this;
  }
  SchedTimes operator-(const SchedTimes& o) const { return {running - o.running, waiting - o.waiting}; }
};

SchedTimes read_schedstat(const std::filesystem::path& path) {
  std::ifstream in(path);
  unsigned long long running = 0;
  unsigned long long waiting = 0;
  if (!(in >> running >> waiting)) return {};
  return {running / 1e9, waiting / 1e9};
}

// Summed over the threads alive now.
SchedTimes process_schedstat() {
  SchedTimes total;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    total += read_schedstat(task.path() / "schedstat");
  }
  return total;
}

double process_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Phase {
  double calls_per_second = 0;
  double cpu_ms_per_call = 0;  // the whole process: client and service
  SchedTimes sched;            // every thread of the process, summed
};

void print_phase(const char* label, const Phase& p) {
  std::printf("%s %9.0f calls/s, CPU %.2f ms/call, threads on a core %.1f s, waiting for one %.1f s\n", label,
              p.calls_per_second, p.cpu_ms_per_call, p.sched.running, p.sched.waiting);
}

// `callers` coroutines, each making calls until `calls` have been made in
// all, on an io_context run by `threads` threads.
Phase run_callers(const std::shared_ptr<CoreClient>& client, int callers, int threads, int calls) {
  asio::io_context io;
  std::atomic<int> left{calls};
  std::atomic<int> failures{0};
  for (int c = 0; c < callers; ++c) {
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
          while (left.fetch_sub(1) > 0) {
            auto pairs = co_await client->list_pairs();
            if (!pairs || pairs->empty()) ++failures;
          }
        },
        asio::detached);
  }
  // The pool's threads are gone by the end, so each counts its own times.
  std::mutex pool_mutex;
  SchedTimes pool_sched;
  const SchedTimes sched_before = process_schedstat();
  const double cpu_before = process_cpu_seconds();
  const auto start = Clock::now();
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) {
    pool.emplace_back([&] {
      io.run();
      const SchedTimes own = read_schedstat("/proc/thread-self/schedstat");
      const std::lock_guard lock(pool_mutex);
      pool_sched += own;
    });
  }
  io.run();
  for (auto& t : pool) t.join();
  const double elapsed = seconds_since(start);
  if (failures) std::fprintf(stderr, "%d calls failed\n", failures.load());
  Phase phase;
  phase.calls_per_second = calls / elapsed;
  phase.cpu_ms_per_call = (process_cpu_seconds() - cpu_before) * 1e3 / calls;
  phase.sched = process_schedstat() - sched_before;
  phase.sched += pool_sched;
  return phase;
}

double load_average() {
  double load = 0;
  std::ifstream("/proc/loadavg") >> load;
  return load;
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// One plain libcurl easy handle, kept (and its connection with it) across
// calls, as a careful hand-written client would.
class PlainCurl {
 public:
  explicit PlainCurl(const std::string& url) : easy_(curl_easy_init()) {
    if (!easy_) std::exit(1);
    curl_easy_setopt(easy_.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy_.get(), CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(easy_.get(), CURLOPT_WRITEDATA, &body_);
  }

  // A GET; the answer's body, exiting on a failure or a status not 2xx.
  const std::string& get() {
    curl_easy_setopt(easy_.get(), CURLOPT_HTTPGET, 1L);
    return perform();
  }

  // A POST of a JSON body.
  const std::string& post_json(const std::string& json) {
    if (!json_headers_) {
      json_headers_.reset(curl_slist_append(nullptr, "Content-Type: application/json"));
      if (!json_headers_) std::exit(1);
    }
    curl_easy_setopt(easy_.get(), CURLOPT_HTTPHEADER, json_headers_.get());
    curl_easy_setopt(easy_.get(), CURLOPT_POSTFIELDS, json.data());
    curl_easy_setopt(easy_.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(json.size()));
    return perform();
  }

 private:
  const std::string& perform() {
    body_.clear();
    long status = 0;
    if (curl_easy_perform(easy_.get()) != CURLE_OK) std::exit(1);
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status / 100 != 2) std::exit(1);
    return body_;
  }

  std::unique_ptr<CURL, EasyDeleter> easy_;
  std::unique_ptr<curl_slist, HeaderListDeleter> json_headers_;
  std::string body_;
};

double run_plain_curl(const std::string& url, int calls) {
  PlainCurl curl(url);
  const auto start = Clock::now();
  for (int i = 0; i < calls; ++i) {
    auto decoded = zephlar::json::from_response_body<TradingPairsResponse>(curl.get());
    if (!decoded || decoded->pairs.empty()) std::exit(1);
  }
  return calls / seconds_since(start);
}

// A pairs answer with `count` pairs, made from the service's own default
// pairs so that it reads back as the service would answer.
std::string big_pairs_body(const std::shared_ptr<CoreClient>& client, int count) {
  asio::io_context io;
  TradingPairsResponse response;
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        auto pairs = co_await client->list_pairs();
        if (!pairs || pairs->empty()) std::exit(1);
        for (int i = 0; i < count; ++i) {
          auto pair = (*pairs)[static_cast<std::size_t>(i) % pairs->size()];
          pair.id = pair.id.value_or("pair") + "-" + std::to_string(i);
          response.pairs.push_back(std::move(pair));
        }
      },
      asio::detached);
  io.run();
  response.total = response.limit = count;
  response.timestamp = 1765411200;
  return zephlar::json::to_json(response);
}

// ---------------------------------------------------------------- small answers

// The cost of one call: wall time, and CPU time of the whole process (the
// in-process service's share included, which is the same for both sides of
// a comparison).
struct PerCall {
  double wall_us = 0;
  double cpu_us = 0;
};

// Per call of `calls` calls of `call`, one after another.
PerCall per_call(const std::function<void()>& call, int calls) {
  const double cpu_before = process_cpu_seconds();
  const auto start = Clock::now();
  for (int i = 0; i < calls; ++i) call();
  return {seconds_since(start) * 1e6 / calls, (process_cpu_seconds() - cpu_before) * 1e6 / calls};
}

// Per call of `calls` awaits of `make_task()` in turn, inside one coroutine
// on an io_context run by this thread.
template <class MakeTask>
PerCall core_per_call(MakeTask make_task, int calls) {
  asio::io_context io;
  PerCall cost;
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        const double cpu_before = process_cpu_seconds();
        const auto start = Clock::now();
        for (int i = 0; i < calls; ++i) {
          auto result = co_await make_task();
          if (!result) {
            std::fprintf(stderr, "call failed: %s\n", result.error().to_string().c_str());
            std::exit(1);
          }
        }
        cost = {seconds_since(start) * 1e6 / calls, (process_cpu_seconds() - cpu_before) * 1e6 / calls};
      },
      asio::detached);
  io.run();
  return cost;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

PerCall median(const std::vector<PerCall>& costs) {
  std::vector<double> wall;
  std::vector<double> cpu;
  for (const auto& c : costs) {
    wall.push_back(c.wall_us);
    cpu.push_back(c.cpu_us);
  }
  return {median(std::move(wall)), median(std::move(cpu))};
}

// The medians of `rounds` rounds of `first` and `second`, alternating which
// of them goes first, so that a slow spell of the machine hits both.
std::pair<PerCall, PerCall> paired_medians(const std::function<PerCall()>& first,
                                           const std::function<PerCall()>& second, int rounds) {
  std::vector<PerCall> a;
  std::vector<PerCall> b;
  for (int r = 0; r < rounds; ++r) {
    if (r % 2 == 0) {
      a.push_back(first());
      b.push_back(second());
    } else {
      b.push_back(second());
      a.push_back(first());
    }
  }
  return {median(a), median(b)};
}

void print_cost(const char* label, const PerCall& cost) {
  std::printf("    %-46s %9.2f us/call, CPU %9.2f us/call\n", label, cost.wall_us, cost.cpu_us);
}

void print_pair(const char* what, const char* first_label, const PerCall& first, const char* second_label,
                const PerCall& second, const char* ratio_label, double target) {
  std::printf("%s\n", what);
  print_cost(first_label, first);
  print_cost(second_label, second);
  std::printf("    %s = %.2f (target at most %.1f); CPU ratio %.2f\n", ratio_label, first.wall_us / second.wall_us,
              target, first.cpu_us / second.cpu_us);
}

void run_small_answers(int calls) {
  constexpr int rounds = 5;
  zephlar::testing::FakeService service;
  const std::string base_url = service.base_url();
  auto client = make_client(base_url);
  PlainCurl plain_pairs(base_url + "/api/v1/market/pairs");
  PlainCurl plain_quote(base_url + "/api/v1/market/quote");
  const std::size_t pairs_size = plain_pairs.get().size();

  // What get_quote_by_pair("BTC/USDT", 100000, none, BTC_LN) sends.
  PairQuoteRequest quote_request;
  quote_request.from_asset.asset_id = "BTC";
  quote_request.from_asset.layer = zephlar::models::Layer::BTC_LN;
  quote_request.from_asset.amount = 100000;
  quote_request.to_asset.asset_id = "USDT";
  quote_request.to_asset.layer = zephlar::models::Layer::BTC_LN;

  const auto core_pairs = [&] { return core_per_call([&] { return client->list_pairs(); }, calls); };
  const auto core_quote = [&] {
    return core_per_call(
        [&] { return client->get_quote_by_pair("BTC/USDT", 100000, std::nullopt, zephlar::models::Layer::BTC_LN); },
        calls);
  };
  const auto curl_pairs = [&] {
    return per_call(
        [&] {
          auto decoded = zephlar::json::from_response_body<TradingPairsResponse>(plain_pairs.get());
          if (!decoded || decoded->pairs.size() != 2) std::exit(1);
        },
        calls);
  };
  const auto curl_quote = [&] {
    return per_call(
        [&] {
          const std::string json = zephlar::json::to_json(quote_request);
          auto decoded = zephlar::json::from_response_body<PairQuoteResponse>(plain_quote.post_json(json));
          if (!decoded) std::exit(1);
        },
        calls);
  };

  // The blocking wrapper on the same service: once with the cache off, once
  // with it on (filled by a first call).
  const auto wrapper = [&](std::uint64_t cache_ttl) {
    zephlar::ffi::ZephConfig config;
    config.base_url = base_url;
    config.max_retries = 0;
    config.cache_ttl = cache_ttl;
    auto made = zephlar::ffi::ZephClient::create(config);
    if (!made) std::exit(1);
    return std::move(made).value();
  };
  auto uncached_wrapper = wrapper(0);
  auto cached_wrapper = wrapper(3600);
  const auto wrapper_pairs = [&](const std::shared_ptr<zephlar::ffi::ZephClient>& zeph, int n) {
    return per_call(
        [&] {
          if (!zeph->list_pairs()) std::exit(1);
        },
        n);
  };
  const int cached_calls = calls * 20;
  const auto cached_core = [&] {
    return core_per_call([&] { return cached_wrapper->core()->list_pairs(); }, cached_calls);
  };

  // Warm up: connections open, caches filled.
  core_pairs();
  core_quote();
  curl_pairs();
  curl_quote();
  wrapper_pairs(uncached_wrapper, 100);
  wrapper_pairs(cached_wrapper, 100);

  std::printf(
      "small answers: the service's default pair list of 2 pairs, %zu bytes, and a quote; medians of %d rounds\n",
      pairs_size, rounds);
  std::printf("load average at the start: %.1f on %u cores\n", load_average(),
              std::max(1u, std::thread::hardware_concurrency()));
  const auto [f_pairs, g_pairs] = paired_medians(core_pairs, curl_pairs, rounds);
  print_pair("(f)/(g) GET list_pairs, cache off", "(f) CoreClient::list_pairs", f_pairs,
             "(g) plain libcurl easy handle + decode", g_pairs, "(f) / (g)", 1.2);
  const auto [f_quote, g_quote] = paired_medians(core_quote, curl_quote, rounds);
  print_pair("(f)/(g) POST get_quote_by_pair", "(f) CoreClient::get_quote_by_pair", f_quote,
             "(g) plain libcurl easy handle + encode/decode", g_quote, "(f) / (g)", 1.2);
  const auto [w_uncached, f_again] =
      paired_medians([&] { return wrapper_pairs(uncached_wrapper, calls); }, core_pairs, rounds);
  print_cost("for reference: ZephClient::list_pairs, cache off", w_uncached);
  std::printf("    that is %.2f times (f) in the same rounds\n", w_uncached.wall_us / f_again.wall_us);
  const auto [h_wrapper, h_core] =
      paired_medians([&] { return wrapper_pairs(cached_wrapper, cached_calls); }, cached_core, rounds);
  print_pair("(h) list_pairs from the cache", "ZephClient::list_pairs (blocking, JSON out)", h_wrapper,
             "CoreClient::list_pairs awaited directly", h_core, "wrapper / core", 3.0);
  // The wrapper's own work without the blocking hand-off: what is left of
  // the difference is the cost of blocking.
  const auto cached_core_json = [&] {
    return core_per_call(
        [&]() -> zephlar::Task<std::string> {
          auto pairs = co_await cached_wrapper->core()->list_pairs();
          if (!pairs) co_return zephlar::Err(std::move(pairs).error());
          co_return zephlar::json::to_json(pairs.value());
        },
        cached_calls);
  };
  const auto [h_wrapper_again, h_core_json] =
      paired_medians([&] { return wrapper_pairs(cached_wrapper, cached_calls); }, cached_core_json, rounds);
  print_cost("for reference: the same, plus its JSON text", h_core_json);
  std::printf("    blocking hand-off: %.2f us/call (wrapper %.2f in the same rounds)\n",
              h_wrapper_again.wall_us - h_core_json.wall_us, h_wrapper_again.wall_us);
  std::printf("    load average now %.1f\n", load_average());
}

}  // namespace

int main(int argc, char** argv) {
  int calls = 2000;
  bool only_concurrent = false;
  bool only_small = false;
  bool only_f = false;
  bool only_h = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--calls") == 0) calls = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--only") == 0) {
      only_concurrent = std::strcmp(argv[i + 1], "c") == 0;
      only_small = std::strcmp(argv[i + 1], "small") == 0;
      only_f = std::strcmp(argv[i + 1], "f") == 0;
      only_h = std::strcmp(argv[i + 1], "h") == 0;
    }
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

  if (only_f) {
    zephlar::testing::FakeService service;
    auto client = make_client(service.base_url());
    const PerCall f = core_per_call([&] { return client->list_pairs(); }, calls);
    std::printf("(f) CoreClient::list_pairs %.2f us/call, CPU %.2f us/call\n", f.wall_us, f.cpu_us);
  } else if (only_h) {
    zephlar::testing::FakeService service;
    zephlar::ffi::ZephConfig config;
    config.base_url = service.base_url();
    config.cache_ttl = 3600;
    auto zeph = zephlar::ffi::ZephClient::create(config);
    if (!zeph || !zeph.value()->list_pairs()) std::exit(1);
    const PerCall h = per_call(
        [&] {
          if (!zeph.value()->list_pairs()) std::exit(1);
        },
        calls);
    std::printf("(h) cached ZephClient::list_pairs %.2f us/call, CPU %.2f us/call\n", h.wall_us, h.cpu_us);
  } else if (!only_concurrent) {
    run_small_answers(calls);
  }
  if (only_small || only_f || only_h) {
    curl_global_cleanup();
    return 0;
  }

  {
    zephlar::testing::FakeService service;
    auto client = make_client(service.base_url());
    const std::string body = big_pairs_body(client, 1000);
    zephlar::testing::ScriptedAnswer answer;
    answer.body = body;
    service.set_standing_answer("GET", "/api/v1/market/pairs", answer);
    std::printf("answer: 1,000 pairs, %.2f MB\n", body.size() / 1e6);

    run_callers(client, 1, 1, 50);  // warm up
    std::printf("load average at the start: %.1f on %d cores\n", load_average(), cores);
    if (!only_concurrent) {
      const double a = run_callers(client, 1, 1, calls).calls_per_second;
      const double b = run_plain_curl(service.base_url() + "/api/v1/market/pairs", calls);
      std::printf("(a) CoreClient::list_pairs, one caller     %9.0f calls/s\n", a);
      std::printf("(b) plain libcurl easy handle + decode     %9.0f calls/s\n", b);
      std::printf("    (b) / (a) = %.2f (target at most 1.3)\n", b / a);
    }

    const Phase d = run_callers(client, 1, 1, calls);
    const std::size_t connections_before = service.connections_accepted();
    const Phase c = run_callers(client, 64, cores, calls * 4);
    const std::size_t connections = service.connections_accepted() - connections_before;
    std::printf("(c) 64 concurrent callers, %d threads, %zu new connections\n", cores, connections);
    print_phase("   ", c);
    std::printf("(d) one caller\n");
    print_phase("   ", d);
    std::printf("    (c) / (d) = %.2f (target at least 6 on 8 cores); load average now %.1f\n",
                c.calls_per_second / d.calls_per_second, load_average());
  }
  if (!only_concurrent) {
    zephlar::testing::FakeService service;
    auto client = make_client(service.base_url());
    run_callers(client, 1, 1, 10'000);
    std::printf("(e) connections accepted for 10,000 sequential calls: %zu (target at most 4)\n",
                service.connections_accepted());
  }
  curl_global_cleanup();
  return 0;
}
