// The parts of the request path that need no server: reason phrases, the
// lossy UTF-8 decoding of error bodies, the back-off delays and URL joining.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "core/http/http_client.hpp"
#include "core/http/reason_phrase.hpp"
#include "core/http/utf8_lossy.hpp"
#include "tests/http/http_test_support.hpp"

namespace zephlar::testing {
namespace {

TEST(ReasonPhrase, ComesFromTheCodeTable) {
  struct Case {
    std::uint16_t status;
    std::string_view phrase;
  };
  const Case cases[] = {
      {100, "Continue"},
      {101, "Switching Protocols"},
      {102, "Processing"},
      {103, "Early Hints"},
      {300, "Multiple Choices"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {304, "Not Modified"},
      {305, "Use Proxy"},
      {307, "Temporary Redirect"},
      {308, "Permanent Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {402, "Payment Required"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {406, "Not Acceptable"},
      {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},
      {409, "Conflict"},
      {410, "Gone"},
      {411, "Length Required"},
      {412, "Precondition Failed"},
      {413, "Payload Too Large"},
      {414, "URI Too Long"},
      {415, "Unsupported Media Type"},
      {416, "Range Not Satisfiable"},
      {417, "Expectation Failed"},
      {418, "I'm a teapot"},
      {421, "Misdirected Request"},
      {422, "Unprocessable Entity"},
      {423, "Locked"},
      {424, "Failed Dependency"},
      {425, "Too Early"},
      {426, "Upgrade Required"},
      {428, "Precondition Required"},
      {429, "Too Many Requests"},
      {431, "Request Header Fields Too Large"},
      {451, "Unavailable For Legal Reasons"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
      {505, "HTTP Version Not Supported"},
      {506, "Variant Also Negotiates"},
      {507, "Insufficient Storage"},
      {508, "Loop Detected"},
      {510, "Not Extended"},
      {511, "Network Authentication Required"},
      // Outside the table.
      {0, "Unknown error"},
      {99, "Unknown error"},
      {104, "Unknown error"},
      {200, "Unknown error"},
      {306, "Unknown error"},
      {309, "Unknown error"},
      {419, "Unknown error"},
      {420, "Unknown error"},
      {427, "Unknown error"},
      {430, "Unknown error"},
      {450, "Unknown error"},
      {499, "Unknown error"},
      {509, "Unknown error"},
      {512, "Unknown error"},
      {520, "Unknown error"},
      {599, "Unknown error"},
      {600, "Unknown error"},
      {65535, "Unknown error"},
  };
  std::set<std::uint16_t> listed;
  for (const auto& c : cases) {
    EXPECT_EQ(http::reason_phrase(c.status), c.phrase) << c.status;
    listed.insert(c.status);
  }
  // Every code of 1xx to 5xx not listed above has no phrase.
  for (std::uint16_t code = 100; code < 600; ++code) {
    if (!listed.count(code)) {
      EXPECT_EQ(http::reason_phrase(code), "Unknown error") << code;
    }
  }
}

TEST(Utf8Lossy, ReplacesEachMaximalSubpart) {
  struct Case {
    std::string in;
    std::string out;
  };
  const std::string r = "\xEF\xBF\xBD";
  const Case cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      // Boundaries of the well-formed ranges.
      {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
      // Bytes that start nothing: one replacement each.
      {"a\x80"
       "b",
       "a" + r + "b"},
      {"\xBF\xBF", r + r},
      {"\xC0\xAF", r + r},
      {"\xC1\xBF", r + r},
      {"\xF5\x80\x80\x80", r + r + r + r},
      {"\xFF", r},
      // Truncated sequences: the lead and its good continuations are one.
      {"\xC3", r},
      {"\xE2\x82", r},
      {"\xF0\x9F\x98", r},
      {"\xE2\x82"
       "A",
       r + "A"},
      {"\xF0\x9F\x98"
       "\xF0\x9F\x98\x80",
       r + "\xF0\x9F\x98\x80"},
      // Second byte outside the range its lead allows.
      {"\xE0\x80\x80", r + r + r},          // overlong
      {"\xED\xA0\x80", r + r + r},          // surrogate
      {"\xED\x9F\xBF", "\xED\x9F\xBF"},     // last before the surrogates
      {"\xF0\x80\x80\x80", r + r + r + r},  // overlong
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      // Third or fourth byte wrong after a good start.
      {"\xE1\x80\x41", r + "A"},
      {"\xF1\x80\x80\xC3\xA9", r + "\xC3\xA9"},
      // The example of the Unicode standard (U+FFFD substitution).
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64", "a" + r + r + r + "b" + r + "c" + r + r + "d"},
      // A NUL byte is text like any other.
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(http::utf8_lossy(c.in), c.out) << ::testing::PrintToString(c.in);
}

TEST(RetryDelay, FollowsTheBackoffRule) {
  using std::chrono::milliseconds;
  const double below_one = std::nextafter(1.0, 0.0);
  http::RetryConfig standard;
  http::RetryConfig no_jitter;
  no_jitter.jitter = false;
  http::RetryConfig halving;
  halving.multiplier = 0.5;
  http::RetryConfig huge;
  huge.initial_delay = milliseconds::max();
  huge.max_delay = milliseconds::max();
  http::RetryConfig negative;
  negative.initial_delay = milliseconds(-5);
  http::RetryConfig not_a_number;
  not_a_number.multiplier = std::numeric_limits<double>::quiet_NaN();

  struct Case {
    const http::RetryConfig* config;
    std::uint32_t attempt;
    double uniform;
    long long expected_ms;
  };
  const Case cases[] = {
      {&standard, 0, 0.9, 0},
      {&standard, 1, 0.0, 100},
      {&standard, 1, 0.5, 112},  // 112.5 truncated
      {&standard, 1, 0.999, 124},
      // 100 + 25 * (1 - 2^-53) rounds to 125 in double arithmetic.
      {&standard, 1, below_one, 125},
      {&standard, 2, 0.0, 200},
      {&standard, 2, 0.999, 249},
      {&standard, 3, 0.5, 450},
      {&standard, 3, 0.999, 499},
      {&standard, 4, 0.999, 999},
      {&standard, 5, 0.0, 1600},
      {&standard, 6, 0.999, 3999},
      {&standard, 7, 0.0, 6400},
      {&standard, 7, 0.9999, 7999},
      // 12800 is capped to 10000 before the jitter.
      {&standard, 8, 0.0, 10000},
      {&standard, 8, 0.9999, 12499},
      {&standard, 8, below_one, 12500},
      {&standard, 64, 0.5, 11250},
      {&standard, 2000, 0.5, 11250},  // the power is infinite by now
      {&standard, 4294967295u, 0.25, 10625},
      {&no_jitter, 1, below_one, 100},
      {&no_jitter, 3, 0.5, 400},
      {&no_jitter, 30, 0.5, 10000},
      {&halving, 3, 0.0, 25},
      {&halving, 9, 0.0, 0},  // 0.390625 truncated
      {&halving, 2, 0.5, 56},
      {&huge, 1, 0.0, std::numeric_limits<long long>::max()},
      {&huge, 1, 0.5, std::numeric_limits<long long>::max()},
      {&negative, 1, 0.5, 0},
      {&not_a_number, 3, 0.0, 10000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.config->delay_for_attempt(c.attempt, c.uniform).count(), c.expected_ms)
        << "attempt " << c.attempt << " u " << c.uniform << " multiplier " << c.config->multiplier;
  }
}

TEST(RetryDelay, DrawsItsJitterFromTheWholeRange) {
  const http::RetryConfig config;
  EXPECT_EQ(config.delay_for_attempt(0).count(), 0);
  std::set<long long> seen;
  for (int i = 0; i < 2000; ++i) {
    const auto d = config.delay_for_attempt(3).count();
    ASSERT_GE(d, 400);
    ASSERT_LE(d, 499);
    seen.insert(d);
  }
  // 2000 draws over 100 values: all but a handful turn up.
  EXPECT_GT(seen.size(), 90u);
}

TEST(RetryDelay, TakesTheInjectedDraw) {
  BackoffRecorder recorder({0.0, 0.5, 0.999});
  const http::RetryConfig config;
  EXPECT_EQ(config.delay_for_attempt(1).count(), 100);
  EXPECT_EQ(config.delay_for_attempt(2).count(), 225);
  EXPECT_EQ(config.delay_for_attempt(3).count(), 499);
  http::RetryConfig no_jitter;
  no_jitter.jitter = false;
  EXPECT_EQ(no_jitter.delay_for_attempt(2).count(), 200);
}

TEST(BuildUrl, DropsEveryTrailingSlashOfTheBase) {
  struct Case {
    std::string base;
    std::string path;
    std::string url;
  };
  const Case cases[] = {
      {"https://api.example.test", "/api/v1/market/pairs", "https://api.example.test/api/v1/market/pairs"},
      {"https://api.example.test/", "/api/v1/market/pairs", "https://api.example.test/api/v1/market/pairs"},
      {"https://api.example.test///", "/api/v1/market/pairs", "https://api.example.test/api/v1/market/pairs"},
      {"https://api.example.test/base//", "/nodeinfo", "https://api.example.test/base/nodeinfo"},
      {"https://api.example.test/v/",
       "/api/v1/swaps/orders/history?limit=", "https://api.example.test/v/api/v1/swaps/orders/history?limit="},
      {"", "/api/v1/market/pairs", "/api/v1/market/pairs"},
      {"///", "/api/v1/market/pairs", "/api/v1/market/pairs"},
      {"http://h", "", "http://h"},
      {"http://h/", "x y", "http://hx y"},  // nothing inserted or escaped
  };
  for (const auto& c : cases) {
    const auto client = make_client(c.base);
    ASSERT_TRUE(client);
    EXPECT_EQ(client->build_url(c.path), c.url) << c.base << " + " << c.path;
    EXPECT_EQ(client->base_url(), c.base);  // kept as configured
  }
}

TEST(HttpClientCreate, KeepsItsSettings) {
  http::RetryConfig config;
  config.max_retries = 7;
  auto client = http::HttpClient::create("http://h//", std::chrono::nanoseconds(100'000'000), config);
  ASSERT_TRUE(client);
  EXPECT_EQ((*client)->timeout(), std::chrono::nanoseconds(100'000'000));
  EXPECT_EQ((*client)->timeout_seconds(), 0.1);
  EXPECT_EQ((*client)->retry().max_retries, 7u);
  EXPECT_EQ((*client)->base_url(), "http://h//");
}

}  // namespace
}  // namespace zephlar::testing
