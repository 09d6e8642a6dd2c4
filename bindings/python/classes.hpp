// The four classes of the module and what their instances hold.
//
// Instances are plain (non-GC, no __dict__, no weak references) objects of
// heap types built with PyType_FromSpec under the names "builtins.<Class>".
// They never change after construction; the state that changes lives in the
// shared wrapper objects they point to.
#pragma once

#include <memory>
#include <string>

#include "bindings/python/python.hpp"
#include "ffi/quote_stream.hpp"
#include "ffi/zeph_client.hpp"
#include "ffi/zeph_config.hpp"

namespace zephlar::python {

enum class ClassId { config = 0, client = 1, json_value = 2, quote_stream = 3 };
inline constexpr int class_count = 4;

struct ConfigObject {
  PyObject_HEAD
  ffi::ZephConfig config;
};

struct ClientObject {
  PyObject_HEAD
  std::shared_ptr<ffi::ZephClient> client;
};

struct StreamObject {
  PyObject_HEAD
  std::shared_ptr<ffi::QuoteStream> stream;
};

struct JsonValueObject {
  PyObject_HEAD
  std::string text;
};

// The class name ("PyZephConfig", ...).
const char* class_name(ClassId id) noexcept;

// The class object, built on first need and kept for the process (a
// borrowed reference); null with a Python error set when it cannot be built.
PyObject* class_object(ClassId id);

// As class_object, for use outside module initialisation: a class that
// cannot be built is an internal fault "failed to create type object for
// <Class>" (thrown as ffi::InternalFault).
PyObject* require_class(ClassId id);

// Whether `object` is an instance of the class (or a subclass).
bool is_instance(PyObject* object, ClassId id);

// A new PyQuoteStream around `stream` (ownership passes to it); null with
// the allocator's error set when it cannot be allocated, the stream then
// being released.
PyObject* wrap_stream(std::shared_ptr<ffi::QuoteStream> stream);

// The method tables, defined beside their entries.
extern PyMethodDef client_methods[];
extern PyMethodDef stream_methods[];

// The constructors.
PyObject* config_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;
PyObject* client_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;

}  // namespace zephlar::python
