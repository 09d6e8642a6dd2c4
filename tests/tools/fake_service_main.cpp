// fake_service [--tls] [--port N] [--root-cert-out FILE]
//
// Serves the fake trading service and node on 127.0.0.1 until SIGTERM or
// SIGINT. The first line on standard output is the base URL
// ("http://127.0.0.1:PORT" or "https://..."); with --root-cert-out the PEM
// of the TLS root is written to FILE before that line. Scripting, the
// recorded requests and resets go through the endpoints under "/_control/"
// (see tests/support/fake_service.hpp). Exit 2 on a usage error, 1 when the
// server cannot start.
#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <exception>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "tests/support/fake_service.hpp"

namespace {

int usage() {
  std::fprintf(stderr, "usage: fake_service [--tls] [--port N] [--root-cert-out FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  zephlar::testing::FakeService::Options options;
  std::optional<std::string> root_out;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--tls") {
      options.tls = true;
    } else if (arg == "--port" && i + 1 < argc) {
      const std::string_view v = argv[++i];
      unsigned port = 0;
      const auto r = std::from_chars(v.data(), v.data() + v.size(), port);
      if (r.ec != std::errc() || r.ptr != v.data() + v.size() || port > 65535) return usage();
      options.port = static_cast<std::uint16_t>(port);
    } else if (arg == "--root-cert-out" && i + 1 < argc) {
      root_out = argv[++i];
    } else {
      return usage();
    }
  }

  // Block the stop signals before any thread starts, so that only sigwait
  // below receives them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  try {
    zephlar::testing::FakeService service(options);
    if (root_out) {
      std::ofstream out(*root_out, std::ios::binary | std::ios::trunc);
      out << zephlar::testing::FakeService::root_certificate_pem();
      if (!out.flush()) {
        std::fprintf(stderr, "fake_service: cannot write %s\n", root_out->c_str());
        return 1;
      }
    }
    std::printf("%s\n", service.base_url().c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fake_service: %s\n", e.what());
    return 1;
  }
  return 0;
}
