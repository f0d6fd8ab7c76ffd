// The binding layer every class and function goes through: signatures and
// defaults read from the docstrings at compile time, argument matching with the
// interpreter's messages, converters, array borrowing and creation, the
// per-object borrow flag, and the boundary that turns C++ exceptions into
// Python ones. A class or function is one declarative definition (Class,
// Function) built from the method shapes below; README.md shows how.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

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

/// Sets an exception of `type`; an embedded NUL of the text shows as \x00 instead of cutting it.
void set_error(PyObject* type, std::string_view message) noexcept;
[[noreturn]] void raise(PyObject* type, std::string_view message);
[[noreturn]] inline void raise_value_error(std::string_view message) { raise(PyExc_ValueError, message); }
[[noreturn]] inline void raise_type_error(std::string_view message) { raise(PyExc_TypeError, message); }

/// Sets the library's internal-fault exception (derived directly from BaseException).
void raise_internal_fault(const char* message);
/// The same, then throws PythonError: a broken invariant of the library itself.
[[noreturn]] void internal_fault(const char* message);

/// Sets TypeError "'T' object is not an instance of 'expected'".
void set_type_mismatch(PyObject* o, const char* expected);

// ---------------------------------------------------------------- floating-point mode

/// Clears flush-to-zero and denormals-are-zero for the life of the guard, so
/// another extension that switched them on cannot change a kernel's results.
class ExactFloatMode {
 public:
#if defined(__x86_64__) || defined(_M_X64)
  ExactFloatMode() noexcept : saved_(_mm_getcsr()) {
    if (saved_ & kMask) _mm_setcsr(saved_ & ~kMask);
  }
  ~ExactFloatMode() {
    if (saved_ & kMask) _mm_setcsr(saved_);
  }

 private:
  static constexpr unsigned kMask = (1u << 15) | (1u << 6);  // FTZ, DAZ
  unsigned saved_;
#elif defined(__aarch64__)
  ExactFloatMode() noexcept {
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(saved_));
    if (saved_ & kMask) __asm__ __volatile__("msr fpcr, %0" : : "r"(saved_ & ~kMask));
  }
  ~ExactFloatMode() {
    if (saved_ & kMask) __asm__ __volatile__("msr fpcr, %0" : : "r"(saved_));
  }

 private:
  static constexpr std::uint64_t kMask = std::uint64_t{1} << 24;  // FZ
  std::uint64_t saved_;
#else
  ExactFloatMode() noexcept {}
#endif
 public:
  ExactFloatMode(const ExactFloatMode&) = delete;
  ExactFloatMode& operator=(const ExactFloatMode&) = delete;
};

/// Runs f in exact float mode; C++ exceptions become Python exceptions and a null result.
template <class F>
PyObject* boundary(F&& f) noexcept {
  try {
    ExactFloatMode mode;
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

/// Inputs at least this long are processed with the interpreter lock released.
inline constexpr std::size_t kReleaseLockFrom = 4096;

/// Runs a kernel over n input items; from kReleaseLockFrom on, other Python
/// threads run meanwhile. f must not touch any Python object.
template <class F>
decltype(auto) run_kernel(std::size_t n, F&& f) {
  if (n < kReleaseLockFrom) return f();
  struct Unlocked {
    PyThreadState* saved = PyEval_SaveThread();
    ~Unlocked() { PyEval_RestoreThread(saved); }  // also when f throws
  } unlocked;
  return f();
}

// ---------------------------------------------------------------- compile-time text

/// A string literal as a template argument: docstrings and names of the definitions.
template <std::size_t N>
struct Text {
  char chars[N]{};
  constexpr Text() = default;
  consteval Text(const char (&s)[N]) {
    for (std::size_t i = 0; i < N; ++i) chars[i] = s[i];
  }
  constexpr std::string_view view() const { return {chars, N - 1}; }
};

namespace detail {

// string_view::find compares a pointer with null, which g++ 12 under
// -fsanitize=undefined cannot fold for text held in a template argument.
constexpr std::size_t find_char(std::string_view s, char c) {
  for (std::size_t i = 0; i < s.size(); ++i)
    if (s[i] == c) return i;
  return std::string_view::npos;
}

constexpr std::size_t head_length(std::string_view doc) {
  const std::size_t open = find_char(doc, '(');
  if (open == std::string_view::npos || open == 0) throw "docstring must open with name(...)";
  return open;
}

template <std::size_t N>
consteval Text<N + 1> text_of(std::string_view prefix, std::string_view s) {
  Text<N + 1> t;
  std::size_t k = 0;
  for (char c : prefix) t.chars[k++] = c;
  for (char c : s) t.chars[k++] = c;
  return t;
}

}  // namespace detail

/// Length of the name that opens a docstring (constexpr, not consteval: clang 14
/// refuses a consteval call in a variable template initialiser).
template <Text Doc>
inline constexpr std::size_t kHeadLength = detail::head_length(Doc.view());

/// The name that opens a docstring: "set_gain" of "set_gain($self, g)\n--\n\n".
template <Text Doc>
inline constexpr auto kNameOf = detail::text_of<kHeadLength<Doc>>({}, Doc.view().substr(0, kHeadLength<Doc>));

/// "builtins." and the class name: the type's name, so __module__ reads "builtins".
template <Text Doc>
inline constexpr auto kTypeNameOf =
    detail::text_of<9 + kHeadLength<Doc>>("builtins.", Doc.view().substr(0, kHeadLength<Doc>));

// ---------------------------------------------------------------- signatures

inline constexpr std::size_t kMaxParams = 10;

/// A default written in a text signature: an integer, a number, True/False, or
/// "..." when the definition supplies the value.
struct DefaultValue {
  enum class Kind : unsigned char { None, Integer, Real, Flag, Given };
  Kind kind = Kind::None;
  long long integer = 0;
  double real = 0.0;
  bool flag = false;
};

struct Param {
  std::string_view name;
  DefaultValue value{};
  constexpr bool optional() const { return value.kind != DefaultValue::Kind::None; }
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

  /// How many parameters before `index` take their default from the definition ("...").
  constexpr std::size_t given_before(std::size_t index) const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < index && i < count; ++i) n += params[i].value.kind == DefaultValue::Kind::Given;
    return n;
  }
};

namespace detail {

consteval bool is_space(char c) { return c == ' ' || c == '\n'; }
consteval bool is_digit(char c) { return c >= '0' && c <= '9'; }

consteval std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

// Decimal text to the nearest double: exact when the digits fit 53 bits and the
// power of ten is exact, which is all a signature default needs.
consteval DefaultValue parse_default(std::string_view s) {
  DefaultValue d;
  if (s == "...") return d.kind = DefaultValue::Kind::Given, d;
  if (s == "True" || s == "False") return d.kind = DefaultValue::Kind::Flag, d.flag = s == "True", d;
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || !is_digit(s.front())) throw "a default must be an integer, a decimal number, True, False or ...";
  unsigned long long mantissa = 0;
  int exponent = 0;
  bool real = false;
  bool fraction = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '.' && !fraction && !real) {
      fraction = real = true;
      continue;
    }
    if (c == 'e' || c == 'E') {
      real = true;
      std::string_view e = s.substr(i + 1);
      bool e_negative = false;
      if (!e.empty() && (e.front() == '-' || e.front() == '+')) {
        e_negative = e.front() == '-';
        e.remove_prefix(1);
      }
      if (e.empty()) throw "bad exponent in a default";
      int v = 0;
      for (char x : e) {
        if (!is_digit(x) || v > 1000) throw "bad exponent in a default";
        v = v * 10 + (x - '0');
      }
      exponent += e_negative ? -v : v;
      break;
    }
    if (!is_digit(c)) throw "a default must be an integer, a decimal number, True, False or ...";
    if (mantissa > (1ull << 53) / 10) throw "a default has too many digits";
    mantissa = mantissa * 10 + static_cast<unsigned long long>(c - '0');
    if (fraction) --exponent;
  }
  if (mantissa > (1ull << 53)) throw "a default has too many digits";
  if (!real) {
    d.kind = DefaultValue::Kind::Integer;
    d.integer = negative ? -static_cast<long long>(mantissa) : static_cast<long long>(mantissa);
    return d;
  }
  if (exponent < -22 || exponent > 22) throw "a default's power of ten is out of exact range";
  double scale = 1.0;
  for (int i = 0; i < (exponent < 0 ? -exponent : exponent); ++i) scale *= 10.0;
  double v = static_cast<double>(mantissa);
  v = exponent < 0 ? v / scale : v * scale;
  d.kind = DefaultValue::Kind::Real;
  d.real = negative ? -v : v;
  return d;
}

// Parses "name(a, b, c=8)\n--\n\n..." into a signature; malformed text fails to compile.
consteval Signature parse(Kind kind, std::string_view owner, std::string_view doc) {
  Signature sig;
  sig.kind = kind;
  const std::size_t open = find_char(doc, '(');
  const std::size_t close = find_char(doc, ')');
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
    const std::size_t comma = find_char(rest, ',');
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
    const std::size_t eq = find_char(item, '=');
    p.name = trim(item.substr(0, eq));
    if (eq != std::string_view::npos) p.value = parse_default(trim(item.substr(eq + 1)));
    if (p.name.empty()) throw "bad parameter";
    for (std::size_t i = 0; i < sig.count; ++i)
      if (sig.params[i].name == p.name) throw "duplicate parameter name";
    if (!p.optional() && sig.count != sig.required) throw "required parameter after an optional one";
    if (sig.count == kMaxParams) throw "too many parameters";
    sig.params[sig.count++] = p;
    if (!p.optional()) ++sig.required;
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

/// A new NumPy array of up to n elements for a kernel to write. finish() hands
/// it over holding exactly the elements written, so Python never sees memory
/// nobody wrote; an array never finished is dropped.
template <class T>
class ArrayOut {
 public:
  explicit ArrayOut(std::size_t n) : array_(numpy::new_vector(array_type<T>::value, n)), n_(n) {
    if (!array_) throw PythonError{};
  }
  std::size_t size() const noexcept { return n_; }
  std::span<T> span() noexcept { return {static_cast<T*>(numpy::mutable_data(array_.get())), n_}; }

  /// The array cut to its first `written` elements; more than its size is an internal fault.
  PyObject* finish(std::size_t written) {
    if (written > n_) internal_fault("a kernel reported more output than it was given room for");
    if (written < n_ && !numpy::shrink(array_.get(), written)) throw PythonError{};
    return array_.release();
  }

  /// The array, which the kernel must have filled: any other count is an internal fault.
  PyObject* finish_exact(std::size_t written) {
    if (written != n_) internal_fault("a kernel wrote another number of items than its output holds");
    return array_.release();
  }

 private:
  PyRef array_;
  std::size_t n_;
};

// ---------------------------------------------------------------- converters

bool convert(PyObject* o, float& out);
bool convert(PyObject* o, double& out);
bool convert(PyObject* o, bool& out);
bool convert(PyObject* o, std::string& out);
bool convert(PyObject* o, Bytes& out);

namespace detail {
bool convert_signed(PyObject* o, long long& out, long long min, long long max);
bool convert_unsigned(PyObject* o, unsigned long long& out, unsigned long long max);
}  // namespace detail

/// Integers: `int` or an object with __index__ (a float is a TypeError); OverflowError outside I's range.
template <std::integral I>
  requires(!std::same_as<I, bool>)
bool convert(PyObject* o, I& out) {
  if constexpr (std::is_signed_v<I>) {
    long long v = 0;
    if (!detail::convert_signed(o, v, std::numeric_limits<I>::min(), std::numeric_limits<I>::max())) return false;
    out = static_cast<I>(v);
  } else {
    unsigned long long v = 0;
    if (!detail::convert_unsigned(o, v, std::numeric_limits<I>::max())) return false;
    out = static_cast<I>(v);
  }
  return true;
}

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

/// Rewrites a pending TypeError as "argument 'NAME': ..." with the original as its cause.
void wrap_argument_error(std::string_view name);

// ---------------------------------------------------------------- results

/// New `bytes` (throws PythonError on failure).
inline PyObject* new_bytes(const std::uint8_t* data, std::size_t n) {
  PyObject* out = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data), static_cast<Py_ssize_t>(n));
  if (!out) throw PythonError{};
  return out;
}

/// New `str` from UTF-8 (throws PythonError on failure).
inline PyRef new_str(std::string_view s) {
  PyRef out(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
  if (!out) throw PythonError{};
  return out;
}

/// dict[key] = value (throws PythonError on failure).
inline void set_item(PyObject* dict, const char* key, PyRef value) {
  if (PyDict_SetItemString(dict, key, value.get()) < 0) throw PythonError{};
}

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

/// Exclusive use of an object's state for one call: "Already borrowed" while
/// another call (another thread, or a re-entry) holds it.
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

PyObject* build_type(const char* name, const char* doc, newfunc tp_new, PyMethodDef* methods, int basicsize,
                     destructor dealloc_fn);

/// A built-in function bound to the module, reporting the module's name.
PyObject* function_object(PyObject* module, PyMethodDef* def);

/// Casts an entry point to the method-table pointer type, as the interpreter's own sources do.
template <class F>
PyCFunction as_cfunction(F* f) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

inline constexpr int kFastKeywords = METH_FASTCALL | METH_KEYWORDS;

// ---------------------------------------------------------------- call machinery

namespace detail {

template <class... A>
using values_of = std::tuple<std::remove_cvref_t<A>...>;

// Free functions: static methods, module functions and factories.
template <class F>
struct function_traits;
template <class R, class... A>
struct function_traits<R (*)(A...)> {
  using result = R;
  using values = values_of<A...>;
};
template <class R, class... A>
struct function_traits<R (*)(A...) noexcept> : function_traits<R (*)(A...)> {};

// Methods: a free function taking the state first, or a member function of the state.
template <class F>
struct method_traits;
template <class R, class S, class... A>
struct method_traits<R (*)(S&, A...)> {
  using state = std::remove_const_t<S>;
  using values = values_of<A...>;
};
template <class R, class S, class... A>
struct method_traits<R (*)(S&, A...) noexcept> : method_traits<R (*)(S&, A...)> {};
template <class R, class S, class... A>
struct method_traits<R (S::*)(A...)> {
  using state = S;
  using values = values_of<A...>;
};
template <class R, class S, class... A>
struct method_traits<R (S::*)(A...) noexcept> : method_traits<R (S::*)(A...)> {};
template <class R, class S, class... A>
struct method_traits<R (S::*)(A...) const> : method_traits<R (S::*)(A...)> {};
template <class R, class S, class... A>
struct method_traits<R (S::*)(A...) const noexcept> : method_traits<R (S::*)(A...)> {};

// The value of parameter I when it is not given: its parsed default, or for
// "..." the matching value among the definition's Given list.
template <const Signature& Sig, std::size_t I, class T, auto... Given>
consteval T default_of() {
  constexpr DefaultValue d = Sig.params[I].value;
  using K = DefaultValue::Kind;
  if constexpr (d.kind == K::Given) {
    constexpr auto v = std::get<Sig.given_before(I)>(std::tuple{Given...});
    if constexpr (std::is_integral_v<T> && std::is_integral_v<decltype(v)>) {
      if (!std::in_range<T>(v)) throw "given default out of the parameter's range";
    }
    return static_cast<T>(v);
  } else if constexpr (std::is_same_v<T, bool>) {
    if (d.kind != K::Flag) throw "a flag parameter's default must be True or False";
    return d.flag;
  } else if constexpr (std::is_integral_v<T>) {
    if (d.kind != K::Integer) throw "an integer parameter's default must be an integer";
    if (!std::in_range<T>(d.integer)) throw "default out of the parameter's range";
    return static_cast<T>(d.integer);
  } else if constexpr (std::is_floating_point_v<T>) {
    if (d.kind == K::Integer) return static_cast<T>(d.integer);
    if (d.kind != K::Real) throw "a number parameter's default must be a number";
    return static_cast<T>(d.real);
  } else {
    throw "this parameter type takes no default; write ... and give the value in the definition";
  }
}

template <const Signature& Sig, std::size_t I, class T, auto... Given>
bool convert_one(PyObject* o, T& value) {
  if (!o) {
    if constexpr (Sig.params[I].optional()) {
      static constexpr T kDefault = default_of<Sig, I, T, Given...>();
      value = kDefault;
    }
    return true;
  }
  if (convert(o, value)) return true;
  wrap_argument_error(Sig.params[I].name);
  return false;
}

// Converts the matched slots in parameter order; stops at the first failure.
template <const Signature& Sig, class Values, auto... Given>
bool convert_all(PyObject* const* slots, Values& values) {
  static_assert(std::tuple_size_v<Values> == Sig.count, "impl parameters must match the text signature");
  static_assert(Sig.given_before(Sig.count) == sizeof...(Given),
                "every ... default of the text signature needs one value in the definition");
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    return (convert_one<Sig, I, std::tuple_element_t<I, Values>, Given...>(slots[I], std::get<I>(values)) && ...);
  }(std::make_index_sequence<Sig.count>{});
}

template <std::size_t N>
using Slots = std::array<PyObject*, (N > 0 ? N : 1)>;

// A result as a new reference: void is None, bool a Python bool, PyObject* as returned.
template <class F>
PyObject* result_of(F&& f) {
  using R = decltype(f());
  if constexpr (std::is_void_v<R>) {
    f();
    Py_RETURN_NONE;
  } else if constexpr (std::is_same_v<R, bool>) {
    return PyBool_FromLong(f());
  } else {
    static_assert(std::is_same_v<R, PyObject*>, "an impl returns void, bool or a new reference");
    return f();
  }
}

template <const Signature& Sig, auto Impl, auto... Given>
PyObject* call_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  using T = method_traits<decltype(Impl)>;
  return boundary([&]() -> PyObject* {
    Slots<Sig.count> slots{};
    if (!match(Sig, args, nargs, kwnames, slots.data())) return nullptr;
    typename T::values values{};
    if (!convert_all<Sig, typename T::values, Given...>(slots.data(), values)) return nullptr;
    ExclusiveUse<typename T::state> use(self);
    return std::apply(
        [&](auto&... a) { return result_of([&]() -> decltype(auto) { return std::invoke(Impl, use.state(), a...); }); },
        values);
  });
}

template <auto Impl>
PyObject* call_noargs(PyObject* self, PyObject*) {
  using T = method_traits<decltype(Impl)>;
  return boundary([&]() -> PyObject* {
    ExclusiveUse<typename T::state> use(self);
    return result_of([&]() -> decltype(auto) { return std::invoke(Impl, use.state()); });
  });
}

template <const Signature& Sig, auto Impl, auto... Given>
PyObject* call_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  using T = function_traits<decltype(Impl)>;
  return boundary([&]() -> PyObject* {
    Slots<Sig.count> slots{};
    if (!match(Sig, args, nargs, kwnames, slots.data())) return nullptr;
    typename T::values values{};
    if (!convert_all<Sig, typename T::values, Given...>(slots.data(), values)) return nullptr;
    return std::apply([&](auto&... a) { return result_of([&]() -> decltype(auto) { return Impl(a...); }); },
                      values);
  });
}

// The kernel shape process(span<const In>, span<Out>) -> count, as a member function.
template <class F>
struct kernel_traits;
template <class K, class In, class Out>
struct kernel_traits<std::size_t (K::*)(std::span<const In>, std::span<Out>)> {
  using state = K;
  using in = In;
  using out = Out;
};
template <class K, class In, class Out>
struct kernel_traits<std::size_t (K::*)(std::span<const In>, std::span<Out>) noexcept>
    : kernel_traits<std::size_t (K::*)(std::span<const In>, std::span<Out>)> {};
template <class K, class In, class Out>
struct kernel_traits<std::size_t (K::*)(std::span<const In>, std::span<Out>) const>
    : kernel_traits<std::size_t (K::*)(std::span<const In>, std::span<Out>)> {};
template <class K, class In, class Out>
struct kernel_traits<std::size_t (K::*)(std::span<const In>, std::span<Out>) const noexcept>
    : kernel_traits<std::size_t (K::*)(std::span<const In>, std::span<Out>)> {};

template <auto Fn, auto Size>
struct ProcessImpl {
  using K = typename kernel_traits<decltype(Fn)>::state;
  using In = typename kernel_traits<decltype(Fn)>::in;
  using Out = typename kernel_traits<decltype(Fn)>::out;

  static std::size_t capacity(const K& k, std::size_t n) {
    if constexpr (!std::is_null_pointer_v<decltype(Size)>)
      return std::invoke(Size, k, n);
    else if constexpr (requires { k.output_size(n); })
      return k.output_size(n);
    else
      return n;
  }

  static PyObject* run(K& k, const ArrayIn<In>& input) {
    const std::span<const In> in = input.samples();
    ArrayOut<Out> out(capacity(k, in.size()));
    // A short input may still make a long output (a modulator's symbols).
    const std::size_t work = in.size() > out.size() ? in.size() : out.size();
    const std::size_t written = run_kernel(work, [&] { return (k.*Fn)(in, out.span()); });
    return out.finish(written);
  }
};

// flush-like: no input, room from a size query, write(span<Out>) -> count.
template <class F>
struct writer_traits;
template <class K, class Out>
struct writer_traits<std::size_t (K::*)(std::span<Out>)> {
  using state = K;
  using out = Out;
};
template <class K, class Out>
struct writer_traits<std::size_t (K::*)(std::span<Out>) noexcept> : writer_traits<std::size_t (K::*)(std::span<Out>)> {
};

template <auto Size, auto Write>
struct FlushImpl {
  using K = typename writer_traits<decltype(Write)>::state;
  using Out = typename writer_traits<decltype(Write)>::out;

  static PyObject* run(K& k) {
    const std::size_t n = std::invoke(Size, std::as_const(k));
    ArrayOut<Out> out(n);
    const std::size_t written = run_kernel(n, [&] { return (k.*Write)(out.span()); });
    return out.finish(written);
  }
};

template <auto Field>
struct FieldSetter;
template <class K, class V, V K::*Field>
struct FieldSetter<Field> {
  using value = V;
  static void set(K& k, V v) noexcept { k.*Field = v; }
};

}  // namespace detail

// ---------------------------------------------------------------- method shapes

/// A method: Impl is `R f(State&, args...)` or a member function of State, R one of
/// void (None), bool or PyObject* (new reference). Given supplies, in order, the
/// values of parameters whose default the signature shows as "...".
template <Text Doc, auto Impl, auto... Given>
struct Method {
  using State = typename detail::method_traits<decltype(Impl)>::state;

  template <Text Owner>
  struct Bound {
    static constexpr Signature sig = method_signature(Owner.view(), Doc.view());
    static PyMethodDef def() {
      if constexpr (sig.count == 0) {
        static_assert(sizeof...(Given) == 0);
        return {kNameOf<Doc>.chars, as_cfunction(&detail::call_noargs<Impl>), METH_NOARGS, Doc.chars};
      } else {
        return {kNameOf<Doc>.chars, as_cfunction(&detail::call_method<sig, Impl, Given...>), kFastKeywords,
                Doc.chars};
      }
    }
  };
};

/// process(x): borrows the input array, allocates room for `state.*Size(n)` items
/// (default: `state.output_size(n)`, else n), runs `count = state.*Fn(in, out)`
/// and returns the first count.
template <Text Doc, auto Fn, auto Size = nullptr>
struct Process : Method<Doc, &detail::ProcessImpl<Fn, Size>::run> {};

/// A no-argument method returning an array: room for `state.*Size()` items,
/// `count = state.*Write(out)`, the first count returned (flush and the like).
template <Text Doc, auto Size, auto Write>
struct Flush : Method<Doc, &detail::FlushImpl<Size, Write>::run> {};

/// A setter storing its one number argument into a float field, returning None.
template <Text Doc, auto Field>
struct SetFloat : Method<Doc, &detail::FieldSetter<Field>::set> {
  static_assert(std::is_same_v<typename detail::FieldSetter<Field>::value, float>);
};

/// A setter storing its one flag argument into a bool field, returning None.
template <Text Doc, auto Field>
struct SetFlag : Method<Doc, &detail::FieldSetter<Field>::set> {
  static_assert(std::is_same_v<typename detail::FieldSetter<Field>::value, bool>);
};

/// A static method, callable on the class and on an instance: Impl is `R f(args...)`.
template <Text Doc, auto Impl, auto... Given>
struct Static {
  using State = void;

  template <Text Owner>
  struct Bound {
    static constexpr Signature sig = static_signature(Owner.view(), Doc.view());
    static PyMethodDef def() {
      return {kNameOf<Doc>.chars, as_cfunction(&detail::call_function<sig, Impl, Given...>),
              kFastKeywords | METH_STATIC, Doc.chars};
    }
  };
};

// ---------------------------------------------------------------- definitions

/// One Python class: its docstring (name and constructor signature first), the
/// factory that builds the state record from the converted constructor
/// arguments (it may raise), and its methods in table order.
template <Text Doc, auto Factory, class... Methods>
struct Class {
  using State = std::remove_cvref_t<typename detail::function_traits<decltype(Factory)>::result>;
  static_assert(((std::is_same_v<typename Methods::State, State> || std::is_void_v<typename Methods::State>) && ...),
                "every method must work on the state record the factory builds");
  static_assert(alignof(State) <= alignof(std::max_align_t), "the interpreter aligns objects to max_align_t");
  static_assert(std::is_nothrow_move_constructible_v<State>, "the state moves into a fresh object that cannot fail");

  static constexpr Signature sig = constructor_signature(Doc.view());

  static PyObject* tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    using T = detail::function_traits<decltype(Factory)>;
    return boundary([&]() -> PyObject* {
      detail::Slots<sig.count> slots{};
      if (!match(sig, args, kwargs, slots.data())) return nullptr;
      typename T::values values{};
      if (!detail::convert_all<sig, typename T::values>(slots.data(), values)) return nullptr;
      State state = std::apply(Factory, values);
      auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
      PyObject* self = alloc(type, 0);
      if (!self) return nullptr;
      new (&instance<State>(self)->state) State(std::move(state));
      instance<State>(self)->borrowed = false;
      return self;
    });
  }

  static inline PyMethodDef methods[] = {Methods::template Bound<kNameOf<Doc>>::def()...,
                                         {nullptr, nullptr, 0, nullptr}};

  /// The type object, built on first use and kept for the process (new reference).
  static PyObject* object(PyObject*) {
    static PyObject* cached = nullptr;  // one per class, even where classes share a state record
    if (!cached) {
      cached = build_type(kTypeNameOf<Doc>.chars, Doc.chars, &tp_new, methods,
                          static_cast<int>(sizeof(Instance<State>)), &dealloc<State>);
      if (!cached) return nullptr;
    }
    return Py_NewRef(cached);
  }
};

/// One module function: its docstring (name and signature first) and Impl `R f(args...)`.
template <Text Doc, auto Impl, auto... Given>
struct Function {
  static constexpr Signature sig = function_signature(Doc.view());
  static inline PyMethodDef def = {kNameOf<Doc>.chars, as_cfunction(&detail::call_function<sig, Impl, Given...>),
                                   kFastKeywords, Doc.chars};

  /// A new function object bound to the module.
  static PyObject* object(PyObject* module) { return function_object(module, &def); }
};

/// A factory for a state record built by default construction.
template <class State>
State make_default() {
  return State{};
}

}  // namespace tarsk::py
