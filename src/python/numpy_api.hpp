// The few NumPy array-API slots the library uses, reached through NumPy's
// `_ARRAY_API` capsule. Slot numbers and the leading ndarray fields are the
// same in NumPy 1.x and 2.x, so no NumPy headers are needed.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace tarsk::py::numpy {

enum TypeNum : int { kUByte = 2, kFloat = 11, kCFloat = 14 };

/// Fetches the array API once per process. False with an exception set on failure: ImportError
/// (caused by NumPy's own) when NumPy cannot be imported, else the internal fault.
bool ensure_api();

/// True when o is an ndarray (or subclass) with one dimension and a dtype equivalent to type_num.
/// Requires ensure_api().
bool is_vector_of(PyObject* o, TypeNum type_num);

/// Element count of a one-dimensional array accepted by is_vector_of.
std::size_t length(PyObject* array);

/// Data of a non-empty vector if it is contiguous and aligned, else nullptr.
const void* contiguous_data(PyObject* array);

/// A new, C-contiguous, writeable one-dimensional array of n elements with its own
/// (uninitialised) buffer. Null with an exception set (MemoryError when too large).
PyObject* new_vector(TypeNum type_num, std::size_t n);

/// Writable data pointer of an array made by new_vector.
void* mutable_data(PyObject* array);

/// Cuts an array made by new_vector, still referenced only by its maker, to its
/// first n elements. False with an exception set on failure.
bool shrink(PyObject* array, std::size_t n);

}  // namespace tarsk::py::numpy
