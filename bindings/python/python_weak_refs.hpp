// Weak references to every interpreter function the module calls.
//
// The library also loads in processes without an interpreter (C hosts of the
// exported interface), including with immediate binding (RTLD_NOW). A weak
// reference that nothing defines resolves to null instead of failing the
// load; none of these functions is called unless the interpreter has loaded
// the module, and then they resolve to its definitions as usual.
//
// A new interpreter call must be added here: the load test with immediate
// binding fails until it is.
#pragma once

#pragma weak PyBool_FromLong
#pragma weak PyCMethod_New
#pragma weak PyDict_Next
#pragma weak PyErr_Clear
#pragma weak PyErr_Fetch
#pragma weak PyErr_NewExceptionWithDoc
#pragma weak PyErr_NormalizeException
#pragma weak PyErr_Occurred
#pragma weak PyErr_Restore
#pragma weak PyErr_SetImportError
#pragma weak PyErr_SetObject
#pragma weak PyException_GetCause
#pragma weak PyException_SetCause
#pragma weak PyFloat_AsDouble
#pragma weak PyFloat_FromDouble
#pragma weak PyImport_ImportModule
#pragma weak PyList_Append
#pragma weak PyList_New
#pragma weak PyLong_AsLongLong
#pragma weak PyLong_AsUnsignedLongLong
#pragma weak PyLong_FromLongLong
#pragma weak PyModule_Create2
#pragma weak PyModule_GetNameObject
#pragma weak PyNumber_Index
#pragma weak PyObject_CallFunctionObjArgs
#pragma weak PyObject_GetAttrString
#pragma weak PyObject_SetAttr
#pragma weak PyObject_SetAttrString
#pragma weak PyObject_Str
#pragma weak PyTuple_GetItem
#pragma weak PyTuple_Size
#pragma weak PyType_FromSpec
#pragma weak PyType_GetFlags
#pragma weak PyType_GetName
#pragma weak PyType_GetSlot
#pragma weak PyType_IsSubtype
#pragma weak PyUnicode_AsUTF8AndSize
#pragma weak PyUnicode_DecodeUTF8
#pragma weak PyUnicode_FromString
#pragma weak PyUnicode_FromStringAndSize
#pragma weak Py_DecRef
#pragma weak Py_GetVersion
#pragma weak _Py_BuildValue_SizeT
#pragma weak _Py_Dealloc
