// The module's one exported entry, its definition, and the execution step
// that registers every class and function in the fixed order of __all__.
#include "python/binding.hpp"
#include "python/exports.hpp"

namespace tarsk::py {
namespace {

struct Export {
  const char* name;
  PyObject* (*make)(PyObject* module);  ///< null until the name is built
};

// This order is the order of __all__.
const Export kExports[] = {
    {"CwEnvelopeDemod", nullptr},
    {"AmEnvelopeDemod", nullptr},
    {"SsbProductDemod", nullptr},
    {"FmQuadratureDemod", nullptr},
    {"PmQuadratureDemod", nullptr},
    {"BpskDemod", export_bpsk_demod},
    {"QpskDemod", export_qpsk_demod},
    {"QamDemod", export_qam_demod},
    {"AmDsbMod", nullptr},
    {"CwKeyedMod", nullptr},
    {"FmPhaseAccumMod", nullptr},
    {"PmDirectPhaseMod", nullptr},
    {"SsbPhasingMod", nullptr},
    {"BpskMod", export_bpsk_mod},
    {"QpskMod", export_qpsk_mod},
    {"QamMod", export_qam_mod},
    {"Ft8Mod", nullptr},
    {"Ft8Demod", nullptr},
    {"Ft8Codec", nullptr},
    {"Ft4Mod", nullptr},
    {"Ft4Demod", nullptr},
    {"Ft4Codec", nullptr},
    {"ft8_sync", nullptr},
    {"ft4_sync", nullptr},
    {"ft8_pack_standard", export_ft8_pack_standard},
    {"ft8_pack_free_text", export_ft8_pack_free_text},
    {"ft8_pack_telemetry", export_ft8_pack_telemetry},
    {"ft8_unpack", export_ft8_unpack},
    {"VaricodeEncoder", export_varicode_encoder},
    {"VaricodeDecoder", export_varicode_decoder},
    {"Bpsk31Mod", nullptr},
    {"Qpsk31Mod", nullptr},
    {"Bpsk31Demod", nullptr},
    {"Qpsk31Demod", nullptr},
    {"psk31_sync", nullptr},
};

// Binds obj under its __name__ and records the name in __all__.
int add(PyObject* module, PyObject* obj) {
  PyRef name(PyObject_GetAttrString(obj, "__name__"));
  if (!name) return -1;
  PyRef all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = PyRef(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
  }
  if (!PyList_Check(all.get())) {
    set_type_mismatch(all.get(), "list");
    return -1;
  }
  if (PyList_Append(all.get(), name.get()) < 0) {
    PyErr_Clear();
    raise_internal_fault("could not append __name__ to __all__");
    return -1;
  }
  return PyObject_SetAttr(module, name.get(), obj);
}

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    set_type_mismatch(module, "module");
    return -1;
  }
  for (const Export& e : kExports) {
    if (!e.make) continue;
    PyRef obj(e.make(module));
    if (!obj || add(module, obj.get()) < 0) return -1;
  }
  return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "tarsk_sdr", "", 0, nullptr, kSlots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace tarsk::py

extern "C" PyMODINIT_FUNC PyInit_tarsk_sdr(void) { return PyModuleDef_Init(&tarsk::py::kModule); }
