// Reads a JSON document (a file named on the command line, or standard
// input) through the codec and prints it back in compact form, object keys
// in byte order.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "core/json/json.hpp"

int main(int argc, char** argv) {
  std::string input;
  if (argc > 1) {
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "cannot open %s\n", argv[1]);
      return 2;
    }
    input.assign(std::istreambuf_iterator<char>(file), {});
  } else {
    input.assign(std::istreambuf_iterator<char>(std::cin), {});
  }
  auto value = zephlar::json::from_response_body<zephlar::json::JsonValue>(input);
  if (!value) {
    std::fprintf(stderr, "%s\n", value.error().text().c_str());
    return 1;
  }
  std::printf("%s\n", zephlar::json::to_json(*value).c_str());
  return 0;
}
