// The module `zephlar`: single-phase initialisation, at most once per
// process, and the two unit-conversion functions.
#include <cstdint>
#include <string>
#include <vector>

#include "bindings/python/binder.hpp"
#include "bindings/python/builtins.hpp"
#include "bindings/python/classes.hpp"
#include "bindings/python/guard.hpp"
#include "bindings/python/interpreter_version.hpp"
#include "bindings/python/py_ref.hpp"
#include "ffi/internal_fault.hpp"
#include "ffi/zeph_client.hpp"

namespace zephlar::python {
namespace {

template <class F>
PyCFunction entry(F function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyObject* to_smallest_units_py(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{"", "to_smallest_units_py", {"amount", "precision"}, 2};
    std::vector<PyObject*> slots;
    if (!bind_arguments(signature, args, kwargs, slots)) return nullptr;
    double amount = 0;
    std::uint8_t precision = 0;
    if (!name_argument(to_f64(slots[0], amount), "amount")) return nullptr;
    if (!name_argument(to_u8(slots[1], precision), "precision")) return nullptr;
    return PyLong_FromLongLong(static_cast<long long>(ffi::to_smallest_units(amount, precision)));
  });
}

PyObject* to_display_units_py(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{"", "to_display_units_py", {"amount", "precision"}, 2};
    std::vector<PyObject*> slots;
    if (!bind_arguments(signature, args, kwargs, slots)) return nullptr;
    std::int64_t amount = 0;
    std::uint8_t precision = 0;
    if (!name_argument(to_i64(slots[0], amount), "amount")) return nullptr;
    if (!name_argument(to_u8(slots[1], precision), "precision")) return nullptr;
    return PyFloat_FromDouble(ffi::to_display_units(amount, precision));
  });
}

PyMethodDef function_defs[] = {
    {"to_smallest_units_py", entry(to_smallest_units_py), METH_VARARGS | METH_KEYWORDS,
     "to_smallest_units_py(amount, precision)\n--\n\n"},
    {"to_display_units_py", entry(to_display_units_py), METH_VARARGS | METH_KEYWORDS,
     "to_display_units_py(amount, precision)\n--\n\n"},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "zephlar", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The module of the one successful initialisation, kept for the process.
PyObject* initialised_module = nullptr;

// Appends `name` to the module's __all__, creating the list first when the
// module has none.
bool append_to_all(PyObject* module, PyObject* name) {
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  if (PyList_Append(all.get(), name) < 0) throw ffi::InternalFault("could not append __name__ to __all__");
  return true;
}

bool add_class(PyObject* module, ClassId id) {
  PyObject* type = class_object(id);
  if (type == nullptr) return false;
  PyRef name = PyRef::steal(PyUnicode_FromString(class_name(id)));
  if (!name || !append_to_all(module, name.get())) return false;
  return PyObject_SetAttr(module, name.get(), type) == 0;
}

bool add_function(PyObject* module, PyMethodDef* def) {
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return false;
  PyRef function = PyRef::steal(PyCFunction_NewEx(def, module, module_name.get()));
  if (!function) return false;
  PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name || !append_to_all(module, name.get())) return false;
  return PyObject_SetAttr(module, name.get(), function.get()) == 0;
}

PyObject* initialise() {
  if (!load_builtins()) return nullptr;
  if (initialised_module != nullptr) {
    raise(builtins().import_error, "zephlar may be initialised only once per interpreter process");
    return nullptr;
  }
  PyRef module = PyRef::steal(PyModule_Create2(&module_def, PYTHON_ABI_VERSION));
  if (!module) return nullptr;
  for (ClassId id : {ClassId::config, ClassId::client, ClassId::json_value, ClassId::quote_stream}) {
    if (!add_class(module.get(), id)) return nullptr;
  }
  for (PyMethodDef& def : function_defs) {
    if (!add_function(module.get(), &def)) return nullptr;
  }
  initialised_module = PyRef::borrow(module.get()).release();
  return module.release();
}

}  // namespace
}  // namespace zephlar::python

PyMODINIT_FUNC PyInit_zephlar(void) {
  // First of all: on an older interpreter, functions that everything below
  // calls are missing.
  if (!zephlar::python::interpreter_is_supported()) return nullptr;
  return zephlar::python::guarded([] { return zephlar::python::initialise(); });
}
