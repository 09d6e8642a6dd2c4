// The internal fault of the wrapper: a failure that abandons the call in
// progress instead of producing a ZephError (a blocking call made on a
// thread that runs asynchronous tasks, a seconds value that cannot become a
// time span, a broken invariant).
//
// It is a C++ exception of this one type, thrown only inside the wrapper
// and never meant to be handled by the wrapper itself: the C-callable
// entries catch it (and any other exception) and report "unexpected error",
// the Python entries turn it into the binding layer's fault. Nothing thrown
// by the wrapper is of any other type: a stray standard exception reaching
// a blocking call is rethrown as an InternalFault carrying its what() text.
#pragma once

#include <stdexcept>
#include <string>

namespace zephlar::ffi {

class InternalFault : public std::runtime_error {
 public:
  explicit InternalFault(const std::string& message) : std::runtime_error(message) {}
  explicit InternalFault(const char* message) : std::runtime_error(message) {}
};

}  // namespace zephlar::ffi
