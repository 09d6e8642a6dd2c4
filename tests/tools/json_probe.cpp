// json_probe [--caller] TYPE
//
// Reads all of standard input as an answer body (or, with --caller, as a
// text handed in by a host) into TYPE and prints one line: the compact JSON
// written back (exit 0) or the reading error with its position (exit 1).
// Exit 2 on a usage error or an unknown type.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

#include "tests/support/type_registry.hpp"

int main(int argc, char** argv) {
  auto source = zephlar::json::Source::response_body;
  int arg = 1;
  if (arg < argc && std::string_view(argv[arg]) == "--caller") {
    source = zephlar::json::Source::caller_text;
    ++arg;
  }
  if (arg + 1 != argc) {
    std::fprintf(stderr, "usage: json_probe [--caller] TYPE\n");
    return 2;
  }
  std::ios::sync_with_stdio(false);
  const std::string input(std::istreambuf_iterator<char>(std::cin), {});
  const auto result = zephlar::testing::probe(argv[arg], input, source);
  if (!result) {
    std::fprintf(stderr, "json_probe: unknown type %s; known types:", argv[arg]);
    for (auto name : zephlar::testing::probe_type_names())
      std::fprintf(stderr, " %.*s", static_cast<int>(name.size()), name.data());
    std::fprintf(stderr, "\n");
    return 2;
  }
  std::fwrite(result->text.data(), 1, result->text.size(), stdout);
  std::fputc('\n', stdout);
  return result->ok ? 0 : 1;
}
