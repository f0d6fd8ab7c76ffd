"""Float32 arithmetic shared by the reference models.

Values are Python floats holding float32 values. A sum, product, quotient or
square root of two float32 values done in double and rounded once is the
correctly rounded float32 result (double has more than twice float32's
precision plus two bits); a fused multiply-add is not, so fma32 rounds the
exact sum to odd first. Sine and cosine are Python's double results rounded
once, which is what the library's own correctly rounded maths returns.
"""

import ctypes
import ctypes.util
import math
import struct

_F32 = struct.Struct("<f")
_F64 = struct.Struct("<d")
_I64 = struct.Struct("<q")


def r32(x):
    """x rounded once to float32 (nearest, ties to even)."""
    try:
        return _F32.unpack(_F32.pack(x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def fma32(a, b, c):
    """a * b + c rounded once to float32, for float32 a, b, c.

    a * b is exact in double (two 24-bit significands). The double sum s and
    its exact error e (two-sum) are rounded to odd: when e is not zero and s
    is even, s moves one double ulp towards e. Rounding that to float32 gives
    the correctly rounded result, as double keeps 29 more bits than needed.
    """
    a, b, c = float(a), float(b), float(c)
    p = a * b
    s = p + c
    if not math.isfinite(s):
        return r32(s)
    bb = s - p
    err = (p - (s - bb)) + (c - bb)
    if err != 0.0 and (_I64.unpack(_F64.pack(s))[0] & 1) == 0:
        s = math.nextafter(s, math.inf if err > 0.0 else -math.inf)
    return r32(s)


def sincos32(x):
    """(sin x, cos x) correctly rounded to float32; NaN for NaN and infinities."""
    x = float(x)
    if not math.isfinite(x):
        return math.nan, math.nan
    return r32(math.sin(x)), r32(math.cos(x))


def c_fmaf():
    """The C library's fmaf through ctypes, to cross-check fma32; None where not found."""
    for name in (ctypes.util.find_library("m"), ctypes.util.find_library("c"), "libm.so.6", "ucrtbase"):
        if not name:
            continue
        try:
            fn = ctypes.CDLL(name).fmaf
        except (OSError, AttributeError):
            continue
        fn.argtypes = [ctypes.c_float] * 3
        fn.restype = ctypes.c_float
        return fn
    return None
