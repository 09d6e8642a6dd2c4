#include "bindings/python/builtins.hpp"

#include "bindings/python/py_ref.hpp"

namespace zephlar::python {
namespace {

Builtins loaded;
bool ready = false;

constexpr std::string_view generic_fault_message = "an internal fault ended the call";

// A new reference to builtins.<name>, kept for the whole process.
PyObject* lookup(PyObject* module, const char* name) noexcept { return PyObject_GetAttrString(module, name); }

}  // namespace

bool load_builtins() noexcept {
  if (ready) return true;
  PyRef module = PyRef::steal(PyImport_ImportModule("builtins"));
  if (!module) return false;
  Builtins found;
  found.none = Py_BuildValue("");
  found.true_ = PyBool_FromLong(1);
  found.false_ = PyBool_FromLong(0);
  found.object_type = lookup(module.get(), "object");
  found.base_exception = lookup(module.get(), "BaseException");
  found.type_error = lookup(module.get(), "TypeError");
  found.overflow_error = lookup(module.get(), "OverflowError");
  found.runtime_error = lookup(module.get(), "RuntimeError");
  found.import_error = lookup(module.get(), "ImportError");
  PyObject* all[] = {found.none,       found.true_,          found.false_,
                     found.object_type, found.base_exception, found.type_error,
                     found.overflow_error, found.runtime_error, found.import_error};
  bool complete = true;
  for (PyObject* object : all) complete = complete && object != nullptr;
  if (complete) {
    found.fault = PyErr_NewExceptionWithDoc(
        "zephlar.BindingFault",
        "An internal fault in the binding layer or the client below it ended the call. Derived from "
        "BaseException, so that handlers of Exception do not swallow it.",
        found.base_exception, nullptr);
    complete = found.fault != nullptr;
  }
  if (!complete) {
    for (PyObject* object : all) Py_XDECREF(object);
    return false;
  }
  loaded = found;
  ready = true;
  return true;
}

const Builtins& builtins() noexcept { return loaded; }

void raise(PyObject* type, std::string_view message) noexcept {
  PyRef text = PyRef::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return;  // the decoding error stays set
  PyErr_SetObject(type, text.get());
}

void raise_fault(std::string_view message) noexcept {
  // Without the builtins there is no fault class yet: the error of looking
  // them up is what the interpreter gets then.
  if (!ready && !load_builtins()) return;
  raise(loaded.fault, message.empty() ? generic_fault_message : message);
}

}  // namespace zephlar::python
