#include "bindings/python/binder.hpp"

#include <limits>

#include "bindings/python/builtins.hpp"
#include "bindings/python/py_ref.hpp"

namespace zephlar::python {
namespace {

constexpr std::string_view out_of_range_message = "out of range integral type conversion attempted";
// The names the binding layer gives the interpreter's str and bool types in
// its conversion messages, matching the Py* naming of its own classes.
constexpr std::string_view text_type_name = "PyString";
constexpr std::string_view bool_type_name = "PyBool";

bool raise_type_error(const std::string& message) {
  raise(builtins().type_error, message);
  return false;
}

// 'a' / 'a' and 'b' / 'a', 'b', and 'c'
std::string quoted_list(const std::vector<std::string_view>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() == 2) {
        out += " and ";
      } else if (i + 1 == names.size()) {
        out += ", and ";
      } else {
        out += ", ";
      }
    }
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

template <class Int>
bool narrow(PyObject* object, Int& out) {
  std::int64_t wide = 0;
  if (!to_i64(object, wide)) return false;
  if (wide < static_cast<std::int64_t>(std::numeric_limits<Int>::min()) ||
      (wide > 0 && static_cast<std::uint64_t>(wide) > static_cast<std::uint64_t>(std::numeric_limits<Int>::max()))) {
    raise(builtins().overflow_error, out_of_range_message);
    return false;
  }
  out = static_cast<Int>(wide);
  return true;
}

bool is_none(PyObject* object) { return object == nullptr || object == builtins().none; }

}  // namespace

std::string Signature::callable() const {
  std::string out;
  if (!owner.empty()) {
    out += owner;
    out += '.';
  }
  out += name;
  out += "()";
  return out;
}

bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, std::vector<PyObject*>& slots) {
  const std::size_t count = signature.parameters.size();
  slots.assign(count, nullptr);
  const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
  if (given < 0) return false;
  if (static_cast<std::size_t>(given) > count) {
    const char* verb = given == 1 ? "was" : "were";
    std::string message = signature.callable();
    if (signature.required == count) {
      message += " takes " + std::to_string(count) + " positional arguments but " + std::to_string(given) + " " +
                 verb + " given";
    } else {
      message += " takes from " + std::to_string(signature.required) + " to " + std::to_string(count) +
                 " positional arguments but " + std::to_string(given) + " " + verb + " given";
    }
    return raise_type_error(message);
  }
  for (Py_ssize_t i = 0; i < given; ++i) slots[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);

  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      Py_ssize_t size = 0;
      const char* data = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
      if (data == nullptr) {
        if (PyErr_Occurred() == nullptr) raise_type_error(signature.callable() + " keywords must be strings");
        return false;
      }
      const std::string_view name(data, static_cast<std::size_t>(size));
      std::size_t index = 0;
      while (index < count && signature.parameters[index] != name) ++index;
      if (index == count) {
        return raise_type_error(signature.callable() + " got an unexpected keyword argument '" + std::string(name) +
                                "'");
      }
      if (slots[index] != nullptr) {
        return raise_type_error(signature.callable() + " got multiple values for argument '" + std::string(name) +
                                "'");
      }
      slots[index] = value;
    }
  }

  std::vector<std::string_view> missing;
  for (std::size_t i = 0; i < signature.required; ++i) {
    if (slots[i] == nullptr) missing.push_back(signature.parameters[i]);
  }
  if (!missing.empty()) {
    return raise_type_error(signature.callable() + " missing " + std::to_string(missing.size()) +
                            " required positional " + (missing.size() == 1 ? "argument" : "arguments") + ": " +
                            quoted_list(missing));
  }
  return true;
}

std::string type_name(PyObject* object) {
  PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(object)));
  if (!name) {
    PyErr_Clear();
    return "?";
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(name.get(), &size);
  if (data == nullptr) {
    PyErr_Clear();
    return "?";
  }
  return std::string(data, static_cast<std::size_t>(size));
}

void raise_cannot_convert(PyObject* object, std::string_view target) {
  raise_type_error("'" + type_name(object) + "' object cannot be converted to '" + std::string(target) + "'");
}

bool to_text(PyObject* object, std::string& out) {
  if (!PyUnicode_Check(object)) {
    raise_cannot_convert(object, text_type_name);
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);
  if (data == nullptr) return false;  // lone surrogates: UnicodeEncodeError
  out.assign(data, static_cast<std::size_t>(size));
  return true;
}

bool to_optional_text(PyObject* object, std::optional<std::string>& out) {
  if (is_none(object)) {
    out.reset();
    return true;
  }
  std::string text;
  if (!to_text(object, text)) return false;
  out = std::move(text);
  return true;
}

bool to_i64(PyObject* object, std::int64_t& out) {
  const long long value = PyLong_AsLongLong(object);
  if (value == -1 && PyErr_Occurred() != nullptr) return false;
  out = static_cast<std::int64_t>(value);
  return true;
}

bool to_optional_i64(PyObject* object, std::optional<std::int64_t>& out) {
  if (is_none(object)) {
    out.reset();
    return true;
  }
  std::int64_t value = 0;
  if (!to_i64(object, value)) return false;
  out = value;
  return true;
}

bool to_i32(PyObject* object, std::int32_t& out) { return narrow(object, out); }
bool to_u8(PyObject* object, std::uint8_t& out) { return narrow(object, out); }
bool to_u32(PyObject* object, std::uint32_t& out) { return narrow(object, out); }

bool to_u64(PyObject* object, std::uint64_t& out) {
  PyRef index = PyRef::steal(PyNumber_Index(object));
  if (!index) return false;
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) return false;
  out = static_cast<std::uint64_t>(value);
  return true;
}

bool to_f64(PyObject* object, double& out) {
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred() != nullptr) return false;
  out = value;
  return true;
}

bool to_exact_bool(PyObject* object, bool& out) {
  if (object == builtins().true_) {
    out = true;
    return true;
  }
  if (object == builtins().false_) {
    out = false;
    return true;
  }
  raise_cannot_convert(object, bool_type_name);
  return false;
}

bool name_argument(bool ok, std::string_view parameter) {
  if (ok) return true;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type != builtins().type_error) {
    PyErr_Restore(type, value, traceback);
    return false;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef first_type = PyRef::steal(type);
  PyRef first = PyRef::steal(value);
  PyRef first_traceback = PyRef::steal(traceback);

  std::string message = "argument '" + std::string(parameter) + "': ";
  PyRef text = PyRef::steal(first ? PyObject_Str(first.get()) : nullptr);
  if (text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (data != nullptr) message.append(data, static_cast<std::size_t>(size));
  }
  PyErr_Clear();
  PyRef message_object = PyRef::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!message_object) return false;
  PyRef replacement =
      PyRef::steal(PyObject_CallFunctionObjArgs(builtins().type_error, message_object.get(), nullptr));
  if (!replacement) return false;
  if (first) {
    if (PyObject* cause = PyException_GetCause(first.get())) PyException_SetCause(replacement.get(), cause);
  }
  Py_INCREF(builtins().type_error);
  PyErr_Restore(builtins().type_error, replacement.release(), nullptr);
  return false;
}

}  // namespace zephlar::python
