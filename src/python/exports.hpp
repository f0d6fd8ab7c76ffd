// Export functions of every registered name: each returns a new reference to
// the class's type object or to a new function object bound to the module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tarsk::py {

// psk31.cpp
PyObject* export_varicode_encoder(PyObject* module);
PyObject* export_varicode_decoder(PyObject* module);

}  // namespace tarsk::py
