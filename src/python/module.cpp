// The module's one exported entry, its definition, and the execution step
// that registers every class and function in the fixed order of __all__.
#include <iterator>
#include <string>
#include <string_view>

#include "python/binding.hpp"
#include "python/demodulate.hpp"
#include "python/ft8.hpp"
#include "python/modulate.hpp"
#include "python/psk31.hpp"

namespace tarsk::py {
namespace {

struct Row {
  const char* name;
  PyObject* (*object)(PyObject* module);  ///< a definition's object(); null until the name is built
};

// This order is the order of __all__.
constexpr Row kRegistry[] = {
    {"CwEnvelopeDemod", &CwEnvelopeDemodClass::object},
    {"AmEnvelopeDemod", &AmEnvelopeDemodClass::object},
    {"SsbProductDemod", &SsbProductDemodClass::object},
    {"FmQuadratureDemod", &FmQuadratureDemodClass::object},
    {"PmQuadratureDemod", &PmQuadratureDemodClass::object},
    {"BpskDemod", &BpskDemodClass::object},
    {"QpskDemod", &QpskDemodClass::object},
    {"QamDemod", &QamDemodClass::object},
    {"AmDsbMod", &AmDsbModClass::object},
    {"CwKeyedMod", &CwKeyedModClass::object},
    {"FmPhaseAccumMod", &FmPhaseAccumModClass::object},
    {"PmDirectPhaseMod", &PmDirectPhaseModClass::object},
    {"SsbPhasingMod", &SsbPhasingModClass::object},
    {"BpskMod", &BpskModClass::object},
    {"QpskMod", &QpskModClass::object},
    {"QamMod", &QamModClass::object},
    {"Ft8Mod", &Ft8ModClass::object},
    {"Ft8Demod", &Ft8DemodClass::object},
    {"Ft8Codec", &Ft8CodecClass::object},
    {"Ft4Mod", &Ft4ModClass::object},
    {"Ft4Demod", &Ft4DemodClass::object},
    {"Ft4Codec", &Ft4CodecClass::object},
    {"ft8_sync", &Ft8SyncFunction::object},
    {"ft4_sync", &Ft4SyncFunction::object},
    {"ft8_pack_standard", &Ft8PackStandardFunction::object},
    {"ft8_pack_free_text", &Ft8PackFreeTextFunction::object},
    {"ft8_pack_telemetry", &Ft8PackTelemetryFunction::object},
    {"ft8_unpack", &Ft8UnpackFunction::object},
    {"VaricodeEncoder", &VaricodeEncoderClass::object},
    {"VaricodeDecoder", &VaricodeDecoderClass::object},
    {"Bpsk31Mod", &Bpsk31ModClass::object},
    {"Qpsk31Mod", &Qpsk31ModClass::object},
    {"Bpsk31Demod", &Bpsk31DemodClass::object},
    {"Qpsk31Demod", &Qpsk31DemodClass::object},
    {"psk31_sync", &Psk31SyncFunction::object},
};

static_assert(std::size(kRegistry) == 35);

// (A definition in two rows is caught at import: g++ 12 under -fsanitize=undefined
// cannot compare function addresses at compile time.)
consteval bool names_are_distinct() {
  for (std::size_t i = 0; i < std::size(kRegistry); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (std::string_view(kRegistry[i].name) == std::string_view(kRegistry[j].name)) return false;
  return true;
}
static_assert(names_are_distinct(), "every name has one row");

// Binds obj under its __name__ and records the name in __all__.
int add(PyObject* module, PyObject* obj, PyObject* name) {
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
  if (PyList_Append(all.get(), name) < 0) {
    PyErr_Clear();
    raise_internal_fault("could not append __name__ to __all__");
    return -1;
  }
  return PyObject_SetAttr(module, name, obj);
}

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    set_type_mismatch(module, "module");
    return -1;
  }
  // Objects registered so far: a row pointing at an already registered
  // definition, or a definition named otherwise than its row, is a wiring fault.
  PyObject* seen[std::size(kRegistry)] = {};
  std::size_t n_seen = 0;
  for (const Row& row : kRegistry) {
    if (!row.object) continue;
    PyRef obj(row.object(module));
    if (!obj) return -1;
    PyRef name(PyObject_GetAttrString(obj.get(), "__name__"));
    if (!name) return -1;
    if (PyUnicode_CompareWithASCIIString(name.get(), row.name) != 0) {
      raise_internal_fault((std::string("registry row ") + row.name + " holds another definition").c_str());
      return -1;
    }
    for (std::size_t i = 0; i < n_seen; ++i) {
      if (seen[i] == obj.get()) {
        raise_internal_fault((std::string("registry row ") + row.name + " repeats a registered definition").c_str());
        return -1;
      }
    }
    if (add(module, obj.get(), name.get()) < 0) return -1;
    seen[n_seen++] = obj.get();  // the module keeps it alive
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

PyMODINIT_FUNC PyInit_tarsk_sdr(void) { return PyModuleDef_Init(&tarsk::py::kModule); }
