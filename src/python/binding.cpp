#include "python/binding.hpp"

#include <climits>
#include <limits>

namespace tarsk::py {

// ---------------------------------------------------------------- errors

void set_error(PyObject* type, std::string_view message) noexcept {
  std::string text;
  try {
    text.reserve(message.size());
    for (char c : message) {
      if (c == '\0')
        text += "\\x00";
      else
        text += c;
    }
  } catch (...) {
    PyErr_NoMemory();
    return;
  }
  PyRef value(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (value) PyErr_SetObject(type, value.get());
}

void raise(PyObject* type, std::string_view message) {
  set_error(type, message);
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

void internal_fault(const char* message) {
  raise_internal_fault(message);
  throw PythonError{};
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

void set_error(const std::string& message) { tarsk::py::set_error(PyExc_TypeError, message); }

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
  if (!PyUnicode_Check(key)) {
    set_error(sig.display() + " keywords must be strings");
    return false;
  }
  Py_ssize_t len = 0;
  const char* text = PyUnicode_AsUTF8AndSize(key, &len);
  PyRef encoded;
  if (!text) {
    // A lone surrogate: no parameter has it, but the message still names the key.
    PyErr_Clear();
    encoded = PyRef(PyUnicode_AsEncodedString(key, "utf-8", "backslashreplace"));
    if (!encoded) return false;
    char* data = nullptr;
    if (PyBytes_AsStringAndSize(encoded.get(), &data, &len) < 0) return false;
    text = data;
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

// Integers go through __index__ (so a float is a TypeError), then must fit the native type.
namespace detail {

bool convert_signed(PyObject* o, long long& out, long long min, long long max) {
  PyRef index(PyNumber_Index(o));
  if (!index) return false;
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (v == -1 && !overflow && PyErr_Occurred()) return false;
  if (overflow != 0 || v < min || v > max) return set_out_of_range();
  out = v;
  return true;
}

bool convert_unsigned(PyObject* o, unsigned long long& out, unsigned long long max) {
  PyRef index(PyNumber_Index(o));
  if (!index) return false;
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (v == -1 && !overflow && PyErr_Occurred()) return false;
  if (overflow < 0 || (overflow == 0 && v < 0)) return set_out_of_range();
  unsigned long long u = static_cast<unsigned long long>(v);
  if (overflow > 0) {
    u = PyLong_AsUnsignedLongLong(index.get());
    if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
      PyErr_Clear();
      return set_out_of_range();
    }
  }
  if (u > max) return set_out_of_range();
  out = u;
  return true;
}

}  // namespace detail

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

PyObject* build_type(const char* name, const char* doc, newfunc tp_new, PyMethodDef* methods, int basicsize,
                     destructor dealloc_fn) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(tp_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_fn)},
      {Py_tp_methods, methods},
      {Py_tp_doc, const_cast<char*>(doc)},
      {0, nullptr},
  };
  PyType_Spec type_spec = {name, basicsize, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
  return PyType_FromSpec(&type_spec);
}

PyObject* function_object(PyObject* module, PyMethodDef* def) {
  PyRef name(PyModule_GetNameObject(module));
  if (!name) return nullptr;
  return PyCFunction_NewEx(def, module, name.get());
}

}  // namespace tarsk::py

// ---------------------------------------------------------------- compile-time checks of the signature reader

namespace tarsk::py {
namespace {

using K = DefaultValue::Kind;
constexpr Signature kDefaultsProbe = function_signature(
    "probe(iq, fs, min_carrier_syms=8, peak_margin_db=6.0, bias=-2.5e-3, on=False, off=True, n=...)\n--\n\n");
static_assert(kDefaultsProbe.count == 8 && kDefaultsProbe.required == 2);
static_assert(kDefaultsProbe.params[2].value.kind == K::Integer && kDefaultsProbe.params[2].value.integer == 8);
static_assert(kDefaultsProbe.params[3].value.kind == K::Real && kDefaultsProbe.params[3].value.real == 6.0);
static_assert(kDefaultsProbe.params[4].value.kind == K::Real && kDefaultsProbe.params[4].value.real == -2.5e-3);
static_assert(kDefaultsProbe.params[5].value.kind == K::Flag && !kDefaultsProbe.params[5].value.flag);
static_assert(kDefaultsProbe.params[6].value.kind == K::Flag && kDefaultsProbe.params[6].value.flag);
static_assert(kDefaultsProbe.params[7].value.kind == K::Given && kDefaultsProbe.given_before(8) == 1);
static_assert(detail::default_of<kDefaultsProbe, 2, std::uint32_t>() == 8u);
static_assert(detail::default_of<kDefaultsProbe, 2, float>() == 8.0f);
static_assert(detail::default_of<kDefaultsProbe, 3, float>() == 6.0f);
static_assert(detail::default_of<kDefaultsProbe, 4, double>() == -0.0025);
static_assert(detail::default_of<kDefaultsProbe, 6, bool>());
static_assert(detail::default_of<kDefaultsProbe, 7, std::uint32_t, 32>() == 32u);

constexpr Signature kMethodProbe = method_signature("Probe", "modulate_text($self, text, preamble_bits=..., postamble_bits=...)\n--\n\nDoc.");
static_assert(kMethodProbe.count == 3 && kMethodProbe.required == 1 && kMethodProbe.given_before(3) == 2);
static_assert(kNameOf<"modulate_text($self, text)\n--\n\n">.view() == "modulate_text");
static_assert(kTypeNameOf<"Probe(a)\n--\n\n">.view() == "builtins.Probe");

}  // namespace
}  // namespace tarsk::py
