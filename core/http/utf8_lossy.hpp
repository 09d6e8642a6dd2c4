// Bytes shown as text: UTF-8 with every ill-formed sequence replaced.
#pragma once

#include <string>
#include <string_view>

namespace zephlar::http {

// Decodes `bytes` as UTF-8, putting U+FFFD in place of each maximal subpart
// of an ill-formed sequence: a lead byte followed by as many continuation
// bytes as can still start a well-formed sequence is one replacement; a
// byte that cannot start any sequence is one replacement on its own.
// "\xE2\x82" gives one U+FFFD, "\xF0\x80" two, "\xC0\xAF" two.
std::string utf8_lossy(std::string_view bytes);

}  // namespace zephlar::http
