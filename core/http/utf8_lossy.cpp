#include "core/http/utf8_lossy.hpp"

namespace zephlar::http {

std::string utf8_lossy(std::string_view bytes) {
  static constexpr std::string_view replacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    // Length of the sequence and the range allowed for its second byte
    // (the later ones are always 80..BF).
    std::size_t length = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) lo = 0xA0;  // no overlong forms
      if (lead == 0xED) hi = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) lo = 0x90;  // no overlong forms
      if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    }
    if (length == 0) {  // 80..C1 or F5..FF: starts nothing
      out += replacement;
      ++i;
      continue;
    }
    std::size_t n = 1;
    while (n < length && i + n < bytes.size()) {
      const unsigned char b = byte(i + n);
      const bool ok = n == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
      if (!ok) break;
      ++n;
    }
    if (n == length) {
      out.append(bytes.substr(i, n));
    } else {
      out += replacement;
    }
    i += n;
  }
  return out;
}

}  // namespace zephlar::http
