// The root certificates every HttpClient trusts: the public roots compiled
// into the library, plus any that the C++ tests add for their own servers.
#pragma once

#include <string>
#include <string_view>

namespace zephlar::http {

// The public roots compiled in at build time, as a PEM bundle.
std::string_view compiled_in_roots() noexcept;

// The PEM bundle handed to a client being created now.
std::string trusted_roots_pem();

}  // namespace zephlar::http
