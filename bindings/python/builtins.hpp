// The interpreter objects the binding layer needs by identity: None, True,
// False, the base object type and the exception classes, plus the layer's
// own fault exception. They are looked up from the builtins module once, at
// the first module initialisation, and kept for the rest of the process
// (never through the interpreter's exported data symbols, see python.hpp).
#pragma once

#include <string_view>

#include "bindings/python/python.hpp"

namespace zephlar::python {

struct Builtins {
  PyObject* none = nullptr;
  PyObject* true_ = nullptr;
  PyObject* false_ = nullptr;
  PyObject* object_type = nullptr;
  PyObject* base_exception = nullptr;
  PyObject* type_error = nullptr;
  PyObject* overflow_error = nullptr;
  PyObject* runtime_error = nullptr;
  PyObject* import_error = nullptr;
  // The binding layer's fault exception, derived directly from
  // BaseException: an internal fault on the calling thread.
  PyObject* fault = nullptr;
};

// Looks the objects up on first use; false with a Python error set when
// that fails. Needs the interpreter lock.
bool load_builtins() noexcept;
// Only valid after load_builtins succeeded.
const Builtins& builtins() noexcept;

// Sets `type` with a message of any bytes (the text is taken as UTF-8,
// undecodable bytes replaced).
void raise(PyObject* type, std::string_view message) noexcept;
// Sets the fault exception; an empty message becomes a fixed generic text.
void raise_fault(std::string_view message) noexcept;

}  // namespace zephlar::python
