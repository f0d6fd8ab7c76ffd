// Export functions of every registered name: each returns a new reference to
// the class's type object or to a new function object bound to the module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tarsk::py {

// psk31.cpp
PyObject* export_varicode_encoder(PyObject* module);
PyObject* export_varicode_decoder(PyObject* module);

// ft8.cpp
PyObject* export_ft8_pack_standard(PyObject* module);
PyObject* export_ft8_pack_free_text(PyObject* module);
PyObject* export_ft8_pack_telemetry(PyObject* module);
PyObject* export_ft8_unpack(PyObject* module);

// demodulate.cpp
PyObject* export_bpsk_demod(PyObject* module);
PyObject* export_qpsk_demod(PyObject* module);
PyObject* export_qam_demod(PyObject* module);

// modulate.cpp
PyObject* export_bpsk_mod(PyObject* module);
PyObject* export_qpsk_mod(PyObject* module);
PyObject* export_qam_mod(PyObject* module);

}  // namespace tarsk::py
