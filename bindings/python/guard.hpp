// The fault guard every entry of the module runs under: no C++ exception
// leaves an entry. An internal fault (or any other exception) becomes the
// binding layer's fault exception with the fault's message.
#pragma once

#include <exception>

#include "bindings/python/builtins.hpp"
#include "bindings/python/python.hpp"

namespace zephlar::python {

template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& error) {
    raise_fault(error.what());
  } catch (...) {
    raise_fault({});
  }
  return nullptr;
}

// For deallocation, where nothing can be raised: a fault is reported to
// the interpreter as unraisable.
template <class Body>
void guarded_dealloc(PyObject* self, Body&& body) noexcept {
  try {
    body();
  } catch (const std::exception& error) {
    raise_fault(error.what());
    PyErr_WriteUnraisable(self);
  } catch (...) {
    raise_fault({});
    PyErr_WriteUnraisable(self);
  }
}

}  // namespace zephlar::python
