// Argument binding and conversion for the module's entries.
//
// An argument entry receives a tuple of positional arguments and a dict of
// keyword arguments (or null). bind_arguments fills one slot per parameter
// (every parameter is positional-or-keyword) and raises TypeError with the
// interpreter-style texts when the call does not fit the signature. The
// conversions then turn each bound object into an owned native value; a
// TypeError they raise is re-raised as "argument '<name>': <message>", every
// other exception passes unchanged.
//
// Every function here needs the interpreter lock and reports failure as
// false with a Python exception set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/python/python.hpp"

namespace zephlar::python {

struct Signature {
  // Class name for methods and constructors, empty for module functions.
  std::string_view owner;
  // Method or function name; "__new__" for constructors.
  std::string_view name;
  std::vector<std::string_view> parameters;
  // The number of leading parameters without a default.
  std::size_t required = 0;

  // "Owner.name()" or "name()", as used in the binding messages.
  std::string callable() const;
};

// Fills `slots` (one per parameter, borrowed references, null where the
// argument is absent).
bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, std::vector<PyObject*>& slots);

// The conversion kinds. `object` is never null except for the optional
// kinds, where null (absent) and None both give no value.
bool to_text(PyObject* object, std::string& out);
bool to_optional_text(PyObject* object, std::optional<std::string>& out);
bool to_i64(PyObject* object, std::int64_t& out);
bool to_optional_i64(PyObject* object, std::optional<std::int64_t>& out);
bool to_i32(PyObject* object, std::int32_t& out);
bool to_u8(PyObject* object, std::uint8_t& out);
bool to_u32(PyObject* object, std::uint32_t& out);
bool to_u64(PyObject* object, std::uint64_t& out);
bool to_f64(PyObject* object, double& out);
bool to_exact_bool(PyObject* object, bool& out);

// Runs `ok` (the result of one conversion); on failure with exactly a
// TypeError set, replaces it by TypeError "argument '<parameter>':
// <message>", keeping the cause of the first one. Returns `ok`.
bool name_argument(bool ok, std::string_view parameter);

// TypeError "'<type of object>' object cannot be converted to '<target>'".
void raise_cannot_convert(PyObject* object, std::string_view target);

// The __name__ of an object's type ("int", "str", ...).
std::string type_name(PyObject* object);

}  // namespace zephlar::python
