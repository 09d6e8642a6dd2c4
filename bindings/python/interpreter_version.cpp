#include "bindings/python/interpreter_version.hpp"

#include <charconv>
#include <string>
#include <string_view>

namespace zephlar::python {
namespace {

struct Version {
  int major = 0;
  int minor = 0;
};

// Reads "MAJOR.MINOR" from the start of `text` (the interpreter's version
// text, "3.12.1 (main, ...) [GCC ...]"); false when it does not start so.
bool read_version(std::string_view text, Version& version) {
  const char* end = text.data() + text.size();
  auto [after_major, major_error] = std::from_chars(text.data(), end, version.major);
  if (major_error != std::errc{} || after_major == end || *after_major != '.') return false;
  auto [after_minor, minor_error] = std::from_chars(after_major + 1, end, version.minor);
  return minor_error == std::errc{};
}

// Only Py_GetVersion, PyUnicode_FromString, PyErr_SetImportError and
// Py_DecRef, which every Python 3 interpreter has. Not the Py_DECREF macro:
// on the limited API it calls _Py_Dealloc, which interpreters before 3.8 do
// not export.
void refuse(std::string_view running) noexcept {
  try {
    std::string message = "zephlar needs Python " + std::to_string(oldest_major) + "." + std::to_string(oldest_minor) +
                          " or newer; this interpreter is Python " + std::string(running);
    PyObject* text = PyUnicode_FromString(message.c_str());
    if (text == nullptr) return;  // its MemoryError stays set
    PyObject* name = PyUnicode_FromString("zephlar");
    if (name != nullptr) {
      PyErr_SetImportError(text, name, nullptr);
      Py_DecRef(name);
    }
    Py_DecRef(text);
  } catch (...) {
    // No memory for the message: still refuse, with the short form.
    PyObject* text = PyUnicode_FromString("zephlar needs a newer Python");
    if (text == nullptr) return;
    PyErr_SetImportError(text, nullptr, nullptr);
    Py_DecRef(text);
  }
}

}  // namespace

bool interpreter_is_supported() noexcept {
  const char* text = Py_GetVersion();
  std::string_view running = text == nullptr ? std::string_view() : std::string_view(text);
  Version version;
  bool readable = read_version(running, version);
  if (readable && (version.major > oldest_major || (version.major == oldest_major && version.minor >= oldest_minor)))
    return true;
  refuse(running.substr(0, running.find(' ')));
  return false;
}

}  // namespace zephlar::python
