// PyRef: an owning reference to a Python object. Every reference the
// binding layer takes is held in one, so that each path out of an entry
// releases what it took.
//
// Must only be created, copied and destroyed while holding the interpreter
// lock; worker threads never see one.
#pragma once

#include "bindings/python/python.hpp"

namespace zephlar::python {

class PyRef {
 public:
  PyRef() noexcept = default;
  // Takes over a new reference (may be null).
  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  // Takes a further reference to a borrowed object (may be null).
  static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(const PyRef& other) noexcept : object_(other.object_) { Py_XINCREF(object_); }
  PyRef(PyRef&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  PyRef& operator=(PyRef other) noexcept {
    PyObject* old = object_;
    object_ = other.object_;
    other.object_ = old;
    return *this;
  }
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference over to the caller.
  PyObject* release() noexcept {
    PyObject* object = object_;
    object_ = nullptr;
    return object;
  }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace zephlar::python
