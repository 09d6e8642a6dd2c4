// Class objects, constructors, the json property, PyQuoteStream's methods
// and deallocation.
#include "bindings/python/classes.hpp"

#include <array>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "bindings/python/binder.hpp"
#include "bindings/python/builtins.hpp"
#include "bindings/python/guard.hpp"
#include "bindings/python/py_ref.hpp"
#include "bindings/python/worker.hpp"
#include "ffi/internal_fault.hpp"

namespace zephlar::python {
namespace {

// Casts an entry to the generic C function type the method tables hold.
template <class F>
PyCFunction entry(F function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

template <class Object>
Object* allocate(PyTypeObject* type) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  return reinterpret_cast<Object*>(alloc(type, 0));
}

// Frees an instance through its own type's tp_free and drops the reference
// the instance held to its (heap) type.
void free_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_function = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_function(self);
  Py_DECREF(reinterpret_cast<PyObject*>(type));
}

template <class Object, class Member>
void destroy_member(PyObject* self, Member Object::*member) {
  using T = Member;
  guarded_dealloc(self, [&] { (reinterpret_cast<Object*>(self)->*member).~T(); });
  free_instance(self);
}

void config_dealloc(PyObject* self) noexcept { destroy_member(self, &ConfigObject::config); }
void client_dealloc(PyObject* self) noexcept { destroy_member(self, &ClientObject::client); }
void stream_dealloc(PyObject* self) noexcept { destroy_member(self, &StreamObject::stream); }
void json_dealloc(PyObject* self) noexcept { destroy_member(self, &JsonValueObject::text); }

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) noexcept {
  raise(builtins().type_error, "No constructor defined");
  return nullptr;
}

// ---- PyJsonValue -----------------------------------------------------------

PyObject* json_get(PyObject* self, void*) noexcept {
  return guarded([&]() -> PyObject* {
    if (!is_instance(self, ClassId::json_value)) {
      raise_cannot_convert(self, class_name(ClassId::json_value));
      return nullptr;
    }
    const std::string& text = reinterpret_cast<JsonValueObject*>(self)->text;
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyGetSetDef json_getset[] = {
    {"json", json_get, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- PyQuoteStream ---------------------------------------------------------

StreamObject* as_stream(PyObject* self) {
  if (!is_instance(self, ClassId::quote_stream)) {
    raise_cannot_convert(self, class_name(ClassId::quote_stream));
    return nullptr;
  }
  return reinterpret_cast<StreamObject*>(self);
}

PyObject* stream_recv(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{"PyQuoteStream", "recv", {"timeout_secs"}, 1};
    std::vector<PyObject*> slots;
    if (!bind_arguments(signature, args, kwargs, slots)) return nullptr;
    StreamObject* object = as_stream(self);
    if (object == nullptr) return nullptr;
    double timeout_secs = 0;
    if (!name_argument(to_f64(slots[0], timeout_secs), "timeout_secs")) return nullptr;

    auto outcome = run_on_worker<std::optional<std::string>>(
        [stream = object->stream, timeout_secs] { return stream->recv(timeout_secs); });
    if (outcome.panicked()) {
      raise(builtins().runtime_error, "Thread panicked");
      return nullptr;
    }
    if (!outcome.value->has_value()) return PyRef::borrow(builtins().none).release();
    const std::string& text = **outcome.value;
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyObject* stream_is_connected(PyObject* self, PyObject*) noexcept {
  return guarded([&]() -> PyObject* {
    StreamObject* object = as_stream(self);
    if (object == nullptr) return nullptr;
    return PyBool_FromLong(object->stream->is_connected() ? 1 : 0);
  });
}

PyObject* stream_close(PyObject* self, PyObject*) noexcept {
  return guarded([&]() -> PyObject* {
    StreamObject* object = as_stream(self);
    if (object == nullptr) return nullptr;
    object->stream->close();
    return PyRef::borrow(builtins().none).release();
  });
}

// ---- Class objects ---------------------------------------------------------

struct ClassSpec {
  const char* qualified_name;
  const char* doc;  // null: no docstring slot
  int basic_size;
  void (*dealloc)(PyObject*) noexcept;
  newfunc constructor;
  PyMethodDef* methods;
  PyGetSetDef* getset;
};

const ClassSpec& spec_of(ClassId id) {
  static const std::array<ClassSpec, class_count> specs{{
      {"builtins.PyZephConfig",
       "PyZephConfig(base_url, node_url=None, api_key=None, timeout=30.0, max_retries=3, cache_ttl=300)\n--\n\n",
       sizeof(ConfigObject), config_dealloc, config_new, nullptr, nullptr},
      {"builtins.PyZephClient", "PyZephClient(config)\n--\n\n", sizeof(ClientObject), client_dealloc, client_new,
       client_methods, nullptr},
      {"builtins.PyJsonValue", nullptr, sizeof(JsonValueObject), json_dealloc, no_constructor, nullptr, json_getset},
      {"builtins.PyQuoteStream", "Real-time quote stream for receiving WebSocket updates", sizeof(StreamObject),
       stream_dealloc, no_constructor, stream_methods, nullptr},
  }};
  return specs[static_cast<std::size_t>(id)];
}

std::array<PyObject*, class_count> built{};

PyObject* build_class(ClassId id) {
  if (!load_builtins()) return nullptr;
  const ClassSpec& layout = spec_of(id);
  std::vector<PyType_Slot> slots;
  slots.push_back({Py_tp_base, builtins().object_type});
  if (layout.doc != nullptr) slots.push_back({Py_tp_doc, const_cast<char*>(layout.doc)});
  if (layout.methods != nullptr) slots.push_back({Py_tp_methods, layout.methods});
  if (layout.getset != nullptr) slots.push_back({Py_tp_getset, layout.getset});
  slots.push_back({Py_tp_new, reinterpret_cast<void*>(layout.constructor)});
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(layout.dealloc)});
  slots.push_back({0, nullptr});
  PyType_Spec type_spec{layout.qualified_name, layout.basic_size, 0, Py_TPFLAGS_DEFAULT, slots.data()};
  return PyType_FromSpec(&type_spec);
}

}  // namespace

PyMethodDef stream_methods[] = {
    {"recv", entry(stream_recv), METH_VARARGS | METH_KEYWORDS,
     "recv($self, timeout_secs)\n--\n\nReceive the next quote update (blocking with timeout)\n"
     "Returns None if timeout expires without receiving a quote"},
    {"is_connected", entry(stream_is_connected), METH_NOARGS,
     "is_connected($self)\n--\n\nCheck if the stream is still connected"},
    {"close", entry(stream_close), METH_NOARGS, "close($self)\n--\n\nClose the stream and clean up resources"},
    {nullptr, nullptr, 0, nullptr},
};

const char* class_name(ClassId id) noexcept {
  switch (id) {
    case ClassId::config:
      return "PyZephConfig";
    case ClassId::client:
      return "PyZephClient";
    case ClassId::json_value:
      return "PyJsonValue";
    case ClassId::quote_stream:
      return "PyQuoteStream";
  }
  return "?";
}

PyObject* class_object(ClassId id) {
  PyObject*& slot = built[static_cast<std::size_t>(id)];
  if (slot == nullptr) slot = build_class(id);
  return slot;
}

PyObject* require_class(ClassId id) {
  if (PyObject* type = class_object(id)) return type;
  // The interpreter's own reason goes into the fault's message; the library
  // writes nothing to the standard streams.
  std::string reason;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyRef owned_type = PyRef::steal(type);
  PyRef owned_value = PyRef::steal(value);
  PyRef owned_traceback = PyRef::steal(traceback);
  if (owned_value) {
    PyRef text = PyRef::steal(PyObject_Str(owned_value.get()));
    Py_ssize_t size = 0;
    const char* data = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (data != nullptr) reason.assign(data, static_cast<std::size_t>(size));
  }
  PyErr_Clear();
  std::string message = std::string("failed to create type object for ") + class_name(id);
  if (!reason.empty()) message += " (" + reason + ")";
  throw ffi::InternalFault(message);
}

bool is_instance(PyObject* object, ClassId id) {
  PyObject* type = built[static_cast<std::size_t>(id)];
  return type != nullptr && PyType_IsSubtype(Py_TYPE(object), reinterpret_cast<PyTypeObject*>(type)) != 0;
}

PyObject* wrap_stream(std::shared_ptr<ffi::QuoteStream> stream) {
  auto* type = reinterpret_cast<PyTypeObject*>(require_class(ClassId::quote_stream));
  StreamObject* object = allocate<StreamObject>(type);
  if (object == nullptr) return nullptr;  // `stream` is released on return
  new (&object->stream) std::shared_ptr<ffi::QuoteStream>(std::move(stream));
  return reinterpret_cast<PyObject*>(object);
}

PyObject* config_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{
        "PyZephConfig", "__new__", {"base_url", "node_url", "api_key", "timeout", "max_retries", "cache_ttl"}, 1};
    std::vector<PyObject*> slots;
    if (!bind_arguments(signature, args, kwargs, slots)) return nullptr;
    ffi::ZephConfig config;
    if (!name_argument(to_text(slots[0], config.base_url), "base_url")) return nullptr;
    if (!name_argument(to_optional_text(slots[1], config.node_url), "node_url")) return nullptr;
    if (!name_argument(to_optional_text(slots[2], config.api_key), "api_key")) return nullptr;
    config.timeout = 30.0;
    if (slots[3] != nullptr && !name_argument(to_f64(slots[3], config.timeout), "timeout")) return nullptr;
    config.max_retries = 3;
    if (slots[4] != nullptr && !name_argument(to_u32(slots[4], config.max_retries), "max_retries")) return nullptr;
    config.cache_ttl = 300;
    if (slots[5] != nullptr && !name_argument(to_u64(slots[5], config.cache_ttl), "cache_ttl")) return nullptr;

    ConfigObject* object = allocate<ConfigObject>(type);
    if (object == nullptr) return nullptr;
    new (&object->config) ffi::ZephConfig(std::move(config));
    return reinterpret_cast<PyObject*>(object);
  });
}

PyObject* client_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    static const Signature signature{"PyZephClient", "__new__", {"config"}, 1};
    std::vector<PyObject*> slots;
    if (!bind_arguments(signature, args, kwargs, slots)) return nullptr;
    if (!is_instance(slots[0], ClassId::config)) {
      raise_cannot_convert(slots[0], class_name(ClassId::config));
      name_argument(false, "config");
      return nullptr;
    }
    ffi::ZephConfig copy = reinterpret_cast<ConfigObject*>(slots[0])->config;
    auto created = ffi::ZephClient::create(std::move(copy));
    if (!created) {
      raise(builtins().runtime_error, created.error().debug());
      return nullptr;
    }
    std::shared_ptr<ffi::ZephClient> client = std::move(created).value();
    ClientObject* object = allocate<ClientObject>(type);
    if (object == nullptr) return nullptr;  // `client` (and its runtime) released on return
    new (&object->client) std::shared_ptr<ffi::ZephClient>(std::move(client));
    return reinterpret_cast<PyObject*>(object);
  });
}

}  // namespace zephlar::python
