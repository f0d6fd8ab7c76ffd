#include "python/numpy_api.hpp"

#include <cstdlib>

#include "python/binding.hpp"

namespace tarsk::py::numpy {
namespace {

// Permanent slot numbers of NumPy's C API table.
constexpr int kSlotArrayType = 2;
constexpr int kSlotDescrFromType = 45;
constexpr int kSlotResize = 80;
constexpr int kSlotNewFromDescr = 94;
constexpr int kSlotEquivTypes = 182;

using DescrFromType = PyObject* (*)(int);
using NewFromDescr = PyObject* (*)(PyTypeObject*, PyObject*, int, const Py_ssize_t*, const Py_ssize_t*, void*,
                                   int, PyObject*);
using EquivTypes = unsigned char (*)(PyObject*, PyObject*);
struct Dims {
  Py_ssize_t* ptr;
  int len;
};
using Resize = PyObject* (*)(PyObject*, Dims*, int, int);

// The leading fields of every ndarray, unchanged since NumPy 1.7.
struct ArrayFields {
  PyObject_HEAD
  char* data;
  int nd;
  Py_ssize_t* dimensions;
  Py_ssize_t* strides;
  PyObject* base;
  PyObject* descr;
  int flags;
};

constexpr int kCContiguous = 0x0001;
constexpr int kFContiguous = 0x0002;
constexpr int kAligned = 0x0100;

void** g_api = nullptr;
PyTypeObject* g_array_type = nullptr;
PyObject* g_descr_ubyte = nullptr;  // process-lifetime references to the builtin descriptors
PyObject* g_descr_float = nullptr;
PyObject* g_descr_cfloat = nullptr;

ArrayFields* fields(PyObject* o) { return reinterpret_cast<ArrayFields*>(o); }

PyObject* descr_for(TypeNum t) {
  switch (t) {
    case kUByte: return g_descr_ubyte;
    case kFloat: return g_descr_float;
    case kCFloat: return g_descr_cfloat;
  }
  return nullptr;
}

// How far loading got: importing NumPy, or finding its table once imported.
enum class Load { kDone, kImportFailed, kNoTable };

Load load_api() {
  PyRef numpy(PyImport_ImportModule("numpy"));
  if (!numpy) return Load::kImportFailed;
  PyRef version(PyObject_GetAttrString(numpy.get(), "__version__"));
  if (!version) return Load::kNoTable;
  const char* text = PyUnicode_AsUTF8AndSize(version.get(), nullptr);
  if (!text) return Load::kNoTable;
  const int major = std::atoi(text);
  PyRef multiarray(PyImport_ImportModule(major >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray"));
  if (!multiarray) return Load::kImportFailed;
  PyRef capsule(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
  if (!capsule || !PyCapsule_CheckExact(capsule.get())) return Load::kNoTable;
  void** api = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
  if (!api) return Load::kNoTable;
  const auto descr_from_type = reinterpret_cast<DescrFromType>(api[kSlotDescrFromType]);
  PyRef ubyte(descr_from_type(kUByte)), flt(descr_from_type(kFloat)), cflt(descr_from_type(kCFloat));
  if (!ubyte || !flt || !cflt) return Load::kNoTable;
  g_descr_ubyte = ubyte.release();
  g_descr_float = flt.release();
  g_descr_cfloat = cflt.release();
  g_array_type = static_cast<PyTypeObject*>(api[kSlotArrayType]);
  capsule.release();  // the table lives as long as its capsule: keep it for the process
  g_api = api;
  return Load::kDone;
}

}  // namespace

bool ensure_api() {
  if (g_api) return true;
  const Load load = load_api();
  if (load == Load::kDone) return true;
  if (load == Load::kImportFailed) {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;  // an interrupt stays one
    // NumPy missing, broken, or refusing this (sub-)interpreter: say so, keeping its reason.
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef type_ref(type), cause(value), tb(traceback);
    if (tb) PyException_SetTraceback(cause.get(), tb.get());
    PyRef error(PyObject_CallFunction(PyExc_ImportError, "s", "Failed to access NumPy array API capsule"));
    if (!error) return false;
    PyException_SetCause(error.get(), cause.release());  // steals
    PyErr_SetObject(PyExc_ImportError, error.get());
    return false;
  }
  PyErr_Clear();
  raise_internal_fault("Failed to access NumPy array API capsule");
  return false;
}

bool is_vector_of(PyObject* o, TypeNum type_num) {
  if (!PyObject_TypeCheck(o, g_array_type)) return false;
  ArrayFields* a = fields(o);
  if (a->nd != 1) return false;
  PyObject* want = descr_for(type_num);
  if (a->descr == want) return true;
  return reinterpret_cast<EquivTypes>(g_api[kSlotEquivTypes])(a->descr, want) != 0;
}

std::size_t length(PyObject* array) { return static_cast<std::size_t>(fields(array)->dimensions[0]); }

const void* contiguous_data(PyObject* array) {
  const ArrayFields* a = fields(array);
  if (!(a->flags & (kCContiguous | kFContiguous)) || !(a->flags & kAligned)) return nullptr;
  return a->data;
}

PyObject* new_vector(TypeNum type_num, std::size_t n) {
  if (!ensure_api()) return nullptr;
  PyObject* descr = descr_for(type_num);
  const std::size_t item = type_num == kUByte ? 1 : type_num == kFloat ? 4 : 8;
  if (n > static_cast<std::size_t>(PY_SSIZE_T_MAX) / item) return PyErr_NoMemory();
  const Py_ssize_t dims[1] = {static_cast<Py_ssize_t>(n)};
  Py_INCREF(descr);  // stolen by NewFromDescr, even on failure
  return reinterpret_cast<NewFromDescr>(g_api[kSlotNewFromDescr])(g_array_type, descr, 1, dims, nullptr, nullptr,
                                                                   0, nullptr);
}

void* mutable_data(PyObject* array) { return fields(array)->data; }

bool shrink(PyObject* array, std::size_t n) {
  Py_ssize_t dims[1] = {static_cast<Py_ssize_t>(n)};
  Dims shape = {dims, 1};
  // refcheck off: the array has not left the binding yet.
  PyRef none(reinterpret_cast<Resize>(g_api[kSlotResize])(array, &shape, 0, 0));
  return static_cast<bool>(none);
}

}  // namespace tarsk::py::numpy
