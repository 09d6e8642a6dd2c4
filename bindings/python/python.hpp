// The interpreter's header, on the limited API (stable ABI of 3.11), so one
// build serves every interpreter version from 3.11 on.
//
// The library must also load in a process without an interpreter (a C host
// that only uses the C-callable interface). Calls into the interpreter are
// weak references (python_weak_refs.hpp), but references to its data (the
// exception classes, None, True, False, the built-in types) would have to be
// bound at load time, so this layer never names them: it looks them up once
// at module initialisation (see builtins.hpp).
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030B0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "bindings/python/python_weak_refs.hpp"
