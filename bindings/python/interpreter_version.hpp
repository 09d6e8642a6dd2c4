// The oldest interpreter the module runs on, and the refusal of older ones.
//
// The module is built on the limited API of one version and calls functions
// that older interpreters do not have; there they are null (see
// python_weak_refs.hpp), so importing must stop before any of them is
// reached.
#pragma once

#include "bindings/python/python.hpp"

namespace zephlar::python {

// The version of the limited API the module is built on.
inline constexpr int oldest_major = (Py_LIMITED_API >> 24) & 0xff;
inline constexpr int oldest_minor = (Py_LIMITED_API >> 16) & 0xff;

// True when the running interpreter is at least oldest_major.oldest_minor.
// Otherwise sets ImportError naming the oldest supported version and
// returns false. Calls only functions that every Python 3 interpreter has.
bool interpreter_is_supported() noexcept;

}  // namespace zephlar::python
