// The request path against the loopback fake service, in one run:
//   (a) CoreClient::list_pairs with no cache: GET, status check and typed
//       decode of a 1,000-pair answer, one call after another;
//   (b) a plain libcurl easy handle reusing its connection, doing the same
//       GET and the same decode;
//   (c) 64 concurrent callers on one CoreClient, on an io_context run by one
//       thread per core, against (d) one caller;
//   (e) the TCP connections the service accepted for 10,000 sequential calls.
//
//   transport [--calls N] [--only c]
//
// --only c runs just (c) and (d), for profiling the concurrent path.
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
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/client/core_client.hpp"
#include "core/json/json.hpp"
#include "core/models/trading_pair.hpp"
#include "tests/support/fake_service.hpp"

namespace {

namespace asio = boost::asio;
using zephlar::client::CoreClient;
using zephlar::client::CoreConfig;
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

double run_plain_curl(const std::string& url, int calls) {
  CURL* easy = curl_easy_init();
  std::string body;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
  const auto start = Clock::now();
  for (int i = 0; i < calls; ++i) {
    body.clear();
    long status = 0;
    if (curl_easy_perform(easy) != CURLE_OK) std::exit(1);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status / 100 != 2) std::exit(1);
    auto decoded = zephlar::json::from_response_body<TradingPairsResponse>(body);
    if (!decoded || decoded->pairs.empty()) std::exit(1);
  }
  const double elapsed = seconds_since(start);
  curl_easy_cleanup(easy);
  return calls / elapsed;
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

}  // namespace

int main(int argc, char** argv) {
  int calls = 2000;
  bool only_concurrent = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--calls") == 0) calls = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--only") == 0) only_concurrent = std::strcmp(argv[i + 1], "c") == 0;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

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
