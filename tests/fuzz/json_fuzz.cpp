// Fuzzes every JSON reading entry point. The first byte picks the type and
// the source; the rest is the input. Beyond crashes, hangs and undefined
// behaviour it checks that every error carries a position and that what the
// writer produces reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tests/support/type_registry.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const auto names = zephlar::testing::probe_type_names();
  const auto source = (data[0] & 0x80) ? zephlar::json::Source::caller_text : zephlar::json::Source::response_body;
  const std::string_view type = names[(data[0] & 0x7F) % names.size()];
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

  const auto result = zephlar::testing::probe(type, input, source);
  if (!result) std::abort();
  if (!result->ok) {
    // "... at line L column C" with L >= 1.
    const auto at = result->text.rfind(" at line ");
    if (at == std::string::npos || result->text.compare(at + 9, 2, "0 ") == 0) std::abort();
    return 0;
  }
  // Written output is itself readable as the same type.
  const auto again = zephlar::testing::probe(type, result->text, source);
  if (!again || !again->ok) std::abort();
  return 0;
}
