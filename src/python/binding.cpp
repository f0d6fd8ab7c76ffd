#include "python/binding.hpp"

#include <climits>
#include <limits>

namespace tarsk::py {

// ---------------------------------------------------------------- errors

void raise(PyObject* type, const char* message) {
  PyErr_SetString(type, message);
  throw PythonError{};
}

void raise_internal_fault(const char* message) {
  static PyObject* fault_type = nullptr;
  if (!fault_type) {
    fault_type = PyErr_NewExceptionWithDoc("tarsk_sdr.InternalFault",
                                           "A broken internal invariant of tarsk_sdr (a library bug).",
                                           PyExc_BaseException, nullptr);
    if (!fault_type) return;  // the creation failure is the pending exception
  }
  PyErr_SetString(fault_type, message);
}

void set_type_mismatch(PyObject* o, const char* expected) {
  if (o == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
    return;
  }
  PyRef name(PyType_GetQualName(Py_TYPE(o)));
  if (!name) return;
  PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), expected);
}

void wrap_argument_error(std::string_view name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef type_ref(type), cause(value), tb(traceback);
  if (tb) PyException_SetTraceback(cause.get(), tb.get());
  PyRef text(PyObject_Str(cause.get()));
  if (!text) return;
  PyRef message(PyUnicode_FromFormat("argument '%s': %U", std::string(name).c_str(), text.get()));
  if (!message) return;
  PyRef error(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
  if (!error) return;
  PyException_SetCause(error.get(), cause.release());  // steals
  PyErr_SetObject(PyExc_TypeError, error.get());
}

// ---------------------------------------------------------------- matching

std::string Signature::display() const {
  std::string s;
  if (!owner.empty()) {
    s.append(owner);
    s.push_back('.');
  }
  s.append(name);
  s.append("()");
  return s;
}

namespace {

void set_error(const std::string& message) { PyErr_SetString(PyExc_TypeError, message.c_str()); }

bool too_many_positional(const Signature& sig, Py_ssize_t given) {
  const char* was = given == 1 ? "was" : "were";
  std::string m = sig.display() + " takes ";
  if (sig.required != sig.count)
    m += "from " + std::to_string(sig.required) + " to " + std::to_string(sig.count);
  else
    m += std::to_string(sig.count);
  m += " positional arguments but " + std::to_string(given) + " " + was + " given";
  set_error(m);
  return false;
}

// Finds the keyword's parameter and stores the value; false with TypeError set otherwise.
bool place_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** slots) {
  Py_ssize_t len = 0;
  const char* text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &len) : nullptr;
  if (!text) {
    PyErr_Clear();
    set_error(sig.display() + " keywords must be strings");
    return false;
  }
  const std::string_view k(text, static_cast<std::size_t>(len));
  for (std::size_t i = 0; i < sig.count; ++i) {
    if (sig.params[i].name != k) continue;
    if (slots[i]) {
      set_error(sig.display() + " got multiple values for argument '" + std::string(k) + "'");
      return false;
    }
    slots[i] = value;
    return true;
  }
  set_error(sig.display() + " got an unexpected keyword argument '" + std::string(k) + "'");
  return false;
}

bool check_missing(const Signature& sig, PyObject** slots) {
  std::size_t missing[kMaxParams];
  std::size_t n = 0;
  for (std::size_t i = 0; i < sig.required; ++i)
    if (!slots[i]) missing[n++] = i;
  if (n == 0) return true;
  std::string m = sig.display() + " missing " + std::to_string(n) + " required positional argument" +
                  (n > 1 ? "s" : "") + ": ";
  for (std::size_t j = 0; j < n; ++j) {
    if (j != 0) {
      if (n > 2) m += ",";
      m += j == n - 1 ? " and " : " ";
    }
    m += "'" + std::string(sig.params[missing[j]].name) + "'";
  }
  set_error(m);
  return false;
}

}  // namespace

bool match(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots) {
  if (static_cast<std::size_t>(nargs) > sig.count) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
  if (kwnames) {
    const Py_ssize_t nkw = PyTuple_Size(kwnames);
    for (Py_ssize_t i = 0; i < nkw; ++i)
      if (!place_keyword(sig, PyTuple_GetItem(kwnames, i), args[nargs + i], slots)) return false;
  }
  return check_missing(sig, slots);
}

bool match(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots) {
  const Py_ssize_t nargs = PyTuple_Size(args);
  if (nargs < 0) return false;
  if (static_cast<std::size_t>(nargs) > sig.count) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GetItem(args, i);
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value))
      if (!place_keyword(sig, key, value, slots)) return false;
  }
  return check_missing(sig, slots);
}

// ---------------------------------------------------------------- converters

bool convert(PyObject* o, double& out) {
  const double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool convert(PyObject* o, float& out) {
  double v = 0.0;
  if (!convert(o, v)) return false;
  out = static_cast<float>(v);  // the nearest float; out-of-range values become infinities
  return true;
}

namespace {

bool is_numpy_bool(PyObject* o) {
  PyTypeObject* type = Py_TYPE(o);
  PyRef name(PyType_GetName(type));
  if (!name) return PyErr_Clear(), false;
  if (PyUnicode_CompareWithASCIIString(name.get(), "bool_") != 0 &&
      PyUnicode_CompareWithASCIIString(name.get(), "bool") != 0)
    return false;
  PyRef module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  if (!module) return PyErr_Clear(), false;
  return PyUnicode_Check(module.get()) && PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0;
}

bool set_out_of_range() {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
  return false;
}

// Integers go through __index__ (so a float is a TypeError), then must fit the native type.
template <class I>
bool convert_integer(PyObject* o, I& out) {
  PyRef index(PyNumber_Index(o));
  if (!index) return false;
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (v == -1 && !overflow && PyErr_Occurred()) return false;
  if (overflow > 0 && std::is_same_v<I, std::uint64_t>) {
    const unsigned long long u = PyLong_AsUnsignedLongLong(index.get());
    if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
      PyErr_Clear();
      return set_out_of_range();
    }
    out = static_cast<I>(u);
    return true;
  }
  if (overflow != 0) return set_out_of_range();
  if constexpr (std::is_signed_v<I>) {
    if (v < static_cast<long long>(std::numeric_limits<I>::min()) ||
        v > static_cast<long long>(std::numeric_limits<I>::max()))
      return set_out_of_range();
  } else {
    if (v < 0 || static_cast<unsigned long long>(v) > std::numeric_limits<I>::max()) return set_out_of_range();
  }
  out = static_cast<I>(v);
  return true;
}

}  // namespace

bool convert(PyObject* o, bool& out) {
  if (PyBool_Check(o)) {
    out = o == Py_True;
    return true;
  }
  if (is_numpy_bool(o)) {
    const int truth = PyObject_IsTrue(o);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
  }
  set_type_mismatch(o, "bool");
  return false;
}

bool convert(PyObject* o, std::uint8_t& out) { return convert_integer(o, out); }
bool convert(PyObject* o, std::int32_t& out) { return convert_integer(o, out); }
bool convert(PyObject* o, std::uint32_t& out) { return convert_integer(o, out); }
bool convert(PyObject* o, std::uint64_t& out) { return convert_integer(o, out); }

bool convert(PyObject* o, std::string& out) {
  if (!PyUnicode_Check(o)) {
    set_type_mismatch(o, "str");
    return false;
  }
  Py_ssize_t len = 0;
  const char* text = PyUnicode_AsUTF8AndSize(o, &len);
  if (!text) return false;
  out.assign(text, static_cast<std::size_t>(len));
  return true;
}

bool convert(PyObject* o, Bytes& out) {
  if (!PyBytes_Check(o)) {
    set_type_mismatch(o, "bytes");
    return false;
  }
  out = Bytes(o);
  return true;
}

std::string_view Bytes::view() const noexcept {
  char* data = nullptr;
  Py_ssize_t len = 0;
  if (!o_ || PyBytes_AsStringAndSize(o_, &data, &len) < 0) return {};
  return {data, static_cast<std::size_t>(len)};
}

// ---------------------------------------------------------------- registration

PyObject* build_type(const ClassSpec& spec, int basicsize, destructor dealloc_fn) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(spec.tp_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_fn)},
      {Py_tp_methods, spec.methods},
      {Py_tp_doc, const_cast<char*>(spec.doc)},
      {0, nullptr},
  };
  PyType_Spec type_spec = {spec.name, basicsize, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
  return PyType_FromSpec(&type_spec);
}

PyObject* function_object(PyObject* module, PyMethodDef* def) {
  PyRef name(PyModule_GetNameObject(module));
  if (!name) return nullptr;
  return PyCFunction_NewEx(def, module, name.get());
}

}  // namespace tarsk::py
