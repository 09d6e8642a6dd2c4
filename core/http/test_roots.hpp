// For the C++ tests only: trust the root of a test server. Hidden inside
// the library; neither the exported interface, the Python module nor the
// environment can reach it.
#pragma once

#include <string>

namespace zephlar::http::testing {

// Appends a PEM root to those trusted by every client created afterwards
// (clients keep the roots they were created with).
__attribute__((visibility("hidden"))) void add_trusted_root_for_tests(std::string pem);

// Forgets every root added by add_trusted_root_for_tests.
__attribute__((visibility("hidden"))) void clear_trusted_roots_for_tests();

}  // namespace zephlar::http::testing
