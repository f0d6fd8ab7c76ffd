// The binding layer every class and function goes through: signatures read
// from the docstrings, argument matching with the interpreter's messages,
// converters, array borrowing and creation, the per-object borrow flag, and
// the boundary that turns C++ exceptions into Python ones.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "core/cf32.hpp"
#include "python/numpy_api.hpp"

namespace tarsk::py {

// ---------------------------------------------------------------- references

/// Owns one strong reference.
class PyRef {
 public:
  PyRef() noexcept = default;
  explicit PyRef(PyObject* owned) noexcept : p_(owned) {}
  PyRef(PyRef&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  PyRef& operator=(PyRef&& o) noexcept {
    if (this != &o) {
      Py_XDECREF(p_);
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

// ---------------------------------------------------------------- errors

/// Thrown once a Python exception has been set; the boundary returns null for it.
struct PythonError {};

[[noreturn]] inline void throw_if_error_set() { throw PythonError{}; }
[[noreturn]] void raise(PyObject* type, const char* message);
[[noreturn]] inline void raise_value_error(const std::string& message) { raise(PyExc_ValueError, message.c_str()); }
[[noreturn]] inline void raise_type_error(const std::string& message) { raise(PyExc_TypeError, message.c_str()); }

/// Sets the library's internal-fault exception (derived directly from BaseException).
void raise_internal_fault(const char* message);

/// Sets TypeError "'T' object is not an instance of 'expected'".
void set_type_mismatch(PyObject* o, const char* expected);

/// Runs f; C++ exceptions become Python exceptions and a null result.
template <class F>
PyObject* boundary(F&& f) noexcept {
  try {
    return f();
  } catch (const PythonError&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::length_error&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_internal_fault(e.what());
    return nullptr;
  } catch (...) {
    raise_internal_fault("unknown internal error");
    return nullptr;
  }
}

// ---------------------------------------------------------------- signatures

inline constexpr std::size_t kMaxParams = 8;

struct Param {
  std::string_view name;
  bool optional = false;
};

enum class Kind { Constructor, Method, StaticMethod, Function };

struct Signature {
  Kind kind = Kind::Function;
  std::string_view owner;  ///< class name, empty for module functions
  std::string_view name;   ///< method or function name, "__new__" for constructors
  std::array<Param, kMaxParams> params{};
  std::size_t count = 0;
  std::size_t required = 0;

  /// The name used in argument messages: "Class.__new__()", "Class.method()", "function()".
  std::string display() const;
};

namespace detail {

consteval bool is_space(char c) { return c == ' ' || c == '\n'; }

consteval std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

// Parses "name(a, b, c=...)\n--\n\n..." into a signature; malformed text fails to compile.
consteval Signature parse(Kind kind, std::string_view owner, std::string_view doc) {
  Signature sig;
  sig.kind = kind;
  const std::size_t open = doc.find('(');
  const std::size_t close = doc.find(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    throw "docstring must open with a text signature";
  if (doc.substr(close + 1, 5) != "\n--\n\n") throw "text signature must be followed by \\n--\\n\\n";
  const std::string_view head = doc.substr(0, open);
  if (kind == Kind::Constructor) {
    sig.owner = head;
    sig.name = "__new__";
  } else {
    sig.owner = owner;
    sig.name = head;
  }
  std::string_view rest = doc.substr(open + 1, close - open - 1);
  bool first = true;
  while (!trim(rest).empty()) {
    const std::size_t comma = rest.find(',');
    std::string_view item = trim(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    if (first && kind == Kind::Method) {
      if (item != "$self") throw "method signatures start with $self";
      first = false;
      continue;
    }
    first = false;
    if (item.empty() || item.front() == '$') throw "bad parameter";
    Param p;
    const std::size_t eq = item.find('=');
    p.name = trim(item.substr(0, eq));
    p.optional = eq != std::string_view::npos;
    if (!p.optional && sig.count != sig.required) throw "required parameter after an optional one";
    if (sig.count == kMaxParams) throw "too many parameters";
    sig.params[sig.count++] = p;
    if (!p.optional) ++sig.required;
  }
  if (kind == Kind::Method && first) throw "method signatures start with $self";
  return sig;
}

}  // namespace detail

consteval Signature constructor_signature(std::string_view doc) { return detail::parse(Kind::Constructor, {}, doc); }
consteval Signature method_signature(std::string_view owner, std::string_view doc) {
  return detail::parse(Kind::Method, owner, doc);
}
consteval Signature static_signature(std::string_view owner, std::string_view doc) {
  return detail::parse(Kind::StaticMethod, owner, doc);
}
consteval Signature function_signature(std::string_view doc) { return detail::parse(Kind::Function, {}, doc); }

/// Fills slots[0..count) with borrowed arguments (null where absent) from a fast call.
bool match(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots);
/// The same for a call with an argument tuple and keyword dict (type constructors).
bool match(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots);

// ---------------------------------------------------------------- converted values

/// A `bytes` argument, viewed in place.
class Bytes {
 public:
  Bytes() noexcept = default;
  explicit Bytes(PyObject* o) noexcept : o_(o) {}
  std::string_view view() const noexcept;
  PyObject* object() const noexcept { return o_; }

 private:
  PyObject* o_ = nullptr;
};

template <class T>
struct array_type;
template <>
struct array_type<std::uint8_t> : std::integral_constant<numpy::TypeNum, numpy::kUByte> {};
template <>
struct array_type<float> : std::integral_constant<numpy::TypeNum, numpy::kFloat> {};
template <>
struct array_type<Cf32> : std::integral_constant<numpy::TypeNum, numpy::kCFloat> {};

/// A one-dimensional input array of T, borrowed read-only for the call.
template <class T>
class ArrayIn {
 public:
  ArrayIn() noexcept = default;
  explicit ArrayIn(PyObject* o) noexcept : o_(o) {}
  std::size_t size() const noexcept { return numpy::length(o_); }

  /// The elements, read in place. An empty array of any layout gives an empty span;
  /// otherwise the array must be contiguous and aligned (TypeError raised and thrown if not).
  std::span<const T> samples() const {
    const std::size_t n = size();
    if (n == 0) return {};
    const void* data = numpy::contiguous_data(o_);
    if (!data) raise_type_error("The given array is not contiguous or is misaligned.");
    return {static_cast<const T*>(data), n};
  }

 private:
  PyObject* o_ = nullptr;
};

/// A new NumPy array of n elements that the caller fills and returns.
template <class T>
class ArrayOut {
 public:
  explicit ArrayOut(std::size_t n) : array_(numpy::new_vector(array_type<T>::value, n)), n_(n) {
    if (!array_) throw PythonError{};
  }
  std::span<T> span() noexcept { return {static_cast<T*>(numpy::mutable_data(array_.get())), n_}; }
  PyObject* release() noexcept { return array_.release(); }

 private:
  PyRef array_;
  std::size_t n_;
};

// ---------------------------------------------------------------- converters

bool convert(PyObject* o, float& out);
bool convert(PyObject* o, double& out);
bool convert(PyObject* o, bool& out);
bool convert(PyObject* o, std::uint8_t& out);
bool convert(PyObject* o, std::int32_t& out);
bool convert(PyObject* o, std::uint32_t& out);
bool convert(PyObject* o, std::uint64_t& out);
bool convert(PyObject* o, std::string& out);
bool convert(PyObject* o, Bytes& out);

template <class T>
bool convert(PyObject* o, ArrayIn<T>& out) {
  if (!numpy::ensure_api()) return false;
  if (!numpy::is_vector_of(o, array_type<T>::value)) {
    set_type_mismatch(o, "ndarray");
    return false;
  }
  out = ArrayIn<T>(o);
  return true;
}

template <class T>
bool convert(PyObject* o, std::optional<T>& out) {
  T value{};
  if (!convert(o, value)) return false;
  out = std::move(value);
  return true;
}

/// Rewrites a pending TypeError as "argument 'NAME': ..." with the original as its cause.
void wrap_argument_error(std::string_view name);

namespace detail {

template <class F>
struct traits;
template <class R, class... A>
struct traits<R (*)(A...)> {
  using result = R;
  using values = std::tuple<std::remove_cvref_t<A>...>;
};
template <class R, class... A>
struct traits<R (*)(A...) noexcept> : traits<R (*)(A...)> {};

// Methods take the receiver's state first, then the converted arguments.
template <class F>
struct method_traits;
template <class R, class S, class... A>
struct method_traits<R (*)(S&, A...)> {
  using state = S;
  using values = std::tuple<std::remove_cvref_t<A>...>;
};
template <class R, class S, class... A>
struct method_traits<R (*)(S&, A...) noexcept> : method_traits<R (*)(S&, A...)> {};

// Converts the matched slots in parameter order; stops at the first failure.
template <const Signature& Sig, class Values>
bool convert_all(PyObject* const* slots, Values& values) {
  static_assert(std::tuple_size_v<Values> == Sig.count, "impl parameters must match the text signature");
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    [[maybe_unused]] const auto one = [&](std::size_t i, auto& value) {
      if (!slots[i]) return true;  // optional, not given: the default stays
      if (convert(slots[i], value)) return true;
      wrap_argument_error(Sig.params[i].name);
      return false;
    };
    return (one(I, std::get<I>(values)) && ...);
  }(std::make_index_sequence<Sig.count>{});
}

template <std::size_t N>
using Slots = std::array<PyObject*, (N > 0 ? N : 1)>;

}  // namespace detail

// ---------------------------------------------------------------- objects

/// Instance layout of every class: the header, the kernel's state record, the borrow flag.
template <class State>
struct Instance {
  PyObject_HEAD
  State state;
  bool borrowed;
};

template <class State>
Instance<State>* instance(PyObject* self) noexcept {
  return reinterpret_cast<Instance<State>*>(self);
}

/// Exclusive use of an object's state for one call; "Already borrowed" when re-entered.
template <class State>
class ExclusiveUse {
 public:
  explicit ExclusiveUse(PyObject* self) : inst_(instance<State>(self)) {
    if (inst_->borrowed) raise(PyExc_RuntimeError, "Already borrowed");
    inst_->borrowed = true;
  }
  ~ExclusiveUse() { inst_->borrowed = false; }
  ExclusiveUse(const ExclusiveUse&) = delete;
  ExclusiveUse& operator=(const ExclusiveUse&) = delete;
  State& state() noexcept { return inst_->state; }

 private:
  Instance<State>* inst_;
};

template <class State>
void dealloc(PyObject* self) {
  instance<State>(self)->state.~State();
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
  Py_DECREF(type);  // every instance holds a reference to its heap type
}

// ---------------------------------------------------------------- entry templates

/// tp_new: match and convert, build the state with Factory, then allocate the object.
template <const Signature& Sig, auto Factory>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> PyObject* {
    using T = detail::traits<decltype(Factory)>;
    using State = typename T::result;
    detail::Slots<Sig.count> slots{};
    if (!match(Sig, args, kwargs, slots.data())) return nullptr;
    typename T::values values{};
    if (!detail::convert_all<Sig>(slots.data(), values)) return nullptr;
    State state = std::apply(Factory, values);
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (!self) return nullptr;
    new (&instance<State>(self)->state) State(std::move(state));
    instance<State>(self)->borrowed = false;
    return self;
  });
}

/// METH_FASTCALL | METH_KEYWORDS method: Impl is PyObject* (State&, converted args...).
template <const Signature& Sig, auto Impl>
PyObject* method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return boundary([&]() -> PyObject* {
    using T = detail::method_traits<decltype(Impl)>;
    detail::Slots<Sig.count> slots{};
    if (!match(Sig, args, nargs, kwnames, slots.data())) return nullptr;
    typename T::values values{};
    if (!detail::convert_all<Sig>(slots.data(), values)) return nullptr;
    ExclusiveUse<typename T::state> use(self);
    return std::apply([&](auto&... a) { return Impl(use.state(), a...); }, values);
  });
}

/// METH_NOARGS method: Impl is PyObject* (State&).
template <auto Impl>
PyObject* noargs(PyObject* self, PyObject*) {
  return boundary([&]() -> PyObject* {
    ExclusiveUse<typename detail::method_traits<decltype(Impl)>::state> use(self);
    return Impl(use.state());
  });
}

/// Module function or static method (METH_FASTCALL | METH_KEYWORDS): Impl is PyObject* (args...).
template <const Signature& Sig, auto Impl>
PyObject* function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return boundary([&]() -> PyObject* {
    detail::Slots<Sig.count> slots{};
    if (!match(Sig, args, nargs, kwnames, slots.data())) return nullptr;
    typename detail::traits<decltype(Impl)>::values values{};
    if (!detail::convert_all<Sig>(slots.data(), values)) return nullptr;
    return std::apply(Impl, values);
  });
}

/// Impl of a setter for one float parameter (set_gain and friends): no range check, returns None.
template <class State, float State::*Field>
PyObject* set_float(State& state, float value) {
  state.*Field = value;
  Py_RETURN_NONE;
}

/// Casts an entry template to the method-table pointer type, as the interpreter's own sources do.
template <class F>
PyCFunction as_cfunction(F* f) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

inline constexpr int kFastKeywords = METH_FASTCALL | METH_KEYWORDS;

static constexpr char kSetGainDoc[] = "set_gain($self, g)\n--\n\n";

/// Method table of the common streaming shape: set_gain(g) on the Gain field, then process(x).
template <const char* Owner, const char* ProcessDoc, auto Process, class State, float State::*Gain>
struct GainProcessMethods {
  static constexpr Signature kSetGain = method_signature(Owner, kSetGainDoc);
  static constexpr Signature kProcess = method_signature(Owner, ProcessDoc);
  static inline PyMethodDef table[] = {
      {"set_gain", as_cfunction(&method<kSetGain, &set_float<State, Gain>>), kFastKeywords, kSetGainDoc},
      {"process", as_cfunction(&method<kProcess, Process>), kFastKeywords, ProcessDoc},
      {nullptr, nullptr, 0, nullptr},
  };
};

// ---------------------------------------------------------------- registration

struct ClassSpec {
  const char* name;  ///< "builtins.ClassName"
  const char* doc;
  newfunc tp_new;
  PyMethodDef* methods;
};

PyObject* build_type(const ClassSpec& spec, int basicsize, destructor dealloc_fn);

/// The class's type object, built on first use and kept for the process (new reference).
template <class State>
PyObject* class_object(const ClassSpec& spec) {
  static PyObject* cached = nullptr;
  if (!cached) {
    cached = build_type(spec, static_cast<int>(sizeof(Instance<State>)), &dealloc<State>);
    if (!cached) return nullptr;
  }
  return Py_NewRef(cached);
}

/// A built-in function bound to the module, reporting the module's name.
PyObject* function_object(PyObject* module, PyMethodDef* def);

}  // namespace tarsk::py
