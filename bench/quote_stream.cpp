// Quote stream throughput and latency: a loopback WebSocket server sends
// quotes as fast as the connection takes them, through the socket task and
// the channel of 32 to a recv loop on this thread.
//
//   quote_stream [COUNT]      (default 200000)
//
// Throughput: quotes received per second, first to last. Latency: from the
// moment the server queued a quote (its "sent_ns", steady clock) to the
// return of the recv that delivered it. Under full load that includes the
// time spent waiting in the channel and the socket buffers; the paced run
// (one quote per millisecond) shows the latency of a quote on an idle path.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ffi/quote_stream.hpp"
#include "ffi/runtime.hpp"
#include "tests/support/ws_server.hpp"

namespace {

using zephlar::ffi::QuoteStream;
using zephlar::ffi::Runtime;
using zephlar::testing::WsAction;
using zephlar::testing::WsServer;
using Clock = std::chrono::steady_clock;

std::int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

std::int64_t sent_ns(std::string_view text) {
  constexpr std::string_view key = "\"sent_ns\":";
  const std::size_t at = text.find(key);
  if (at == std::string_view::npos) return 0;
  return std::strtoll(text.data() + at + key.size(), nullptr, 10);
}

double percentile(std::vector<std::int64_t>& sorted, double p) {
  if (sorted.empty()) return 0.0;
  const std::size_t index = std::min(sorted.size() - 1, static_cast<std::size_t>(p * static_cast<double>(sorted.size())));
  return static_cast<double>(sorted[index]) / 1000.0;
}

struct Outcome {
  std::size_t received = 0;
  double seconds = 0.0;
  std::vector<std::int64_t> latencies_ns;
};

Outcome run(const std::shared_ptr<Runtime>& runtime, std::vector<WsAction> script, std::size_t expected) {
  WsServer server(std::move(script));
  auto stream = QuoteStream::create(runtime, server.base_url(), "BTC/USDT");
  Outcome out;
  out.latencies_ns.reserve(expected);
  Clock::time_point first;
  Clock::time_point last;
  while (out.received < expected) {
    const auto text = stream->recv(10.0);
    if (!text) break;
    const std::int64_t at = now_ns();
    last = Clock::now();
    if (out.received == 0) first = last;
    ++out.received;
    out.latencies_ns.push_back(at - sent_ns(*text));
  }
  stream->close();
  out.seconds = std::chrono::duration<double>(last - first).count();
  std::sort(out.latencies_ns.begin(), out.latencies_ns.end());
  return out;
}

void report(const char* name, Outcome& o, bool rate) {
  std::printf("%-8s quotes %zu", name, o.received);
  if (rate && o.seconds > 0) std::printf("  %.0f quotes/s", static_cast<double>(o.received - 1) / o.seconds);
  std::printf("  latency us p50 %.1f p90 %.1f p99 %.1f max %.1f\n", percentile(o.latencies_ns, 0.50),
              percentile(o.latencies_ns, 0.90), percentile(o.latencies_ns, 0.99),
              o.latencies_ns.empty() ? 0.0 : static_cast<double>(o.latencies_ns.back()) / 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200'000;
  auto runtime = Runtime::create();

  // Warm-up: connection set-up, allocator, page faults.
  run(runtime, {WsAction::quotes(10'000)}, 10'000);

  Outcome full = run(runtime, {WsAction::quotes(count)}, count);
  report("flood", full, true);

  constexpr std::size_t paced_count = 1000;
  std::vector<WsAction> paced;
  for (std::size_t i = 0; i < paced_count; ++i) {
    paced.push_back(WsAction::quotes(1));
    paced.push_back(WsAction::pause(std::chrono::milliseconds(1)));
  }
  Outcome idle = run(runtime, std::move(paced), paced_count);
  report("paced", idle, false);

  const bool ok = full.received == count && idle.received == paced_count;
  if (!ok) std::fprintf(stderr, "quotes were lost\n");
  return ok ? 0 : 1;
}
