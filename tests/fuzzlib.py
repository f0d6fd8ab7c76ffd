"""Seeded fuzzing of every registered class and function.

Everything is discovered from ``__all__`` and the text signatures, and argument
values are chosen by parameter name, so a class that joins the module is fuzzed
without edits here. Used by tests/test_fuzz.py and tools/fuzz.py.

A call must either succeed or raise one of ALLOWED. A live object is driven
beside a twin that only receives the calls that succeeded, so any failed call
that still moved the object shows up as a difference in later outputs.
"""

import contextlib
import inspect
import math
import pathlib
import random
import re
import resource
import sys
import warnings
from fractions import Fraction

import numpy as np

ALLOWED = (TypeError, ValueError, OverflowError, MemoryError)


class FuzzError(Exception):
    """Raised by hostile argument objects; the binding must pass it through."""


class FuzzFailure(AssertionError):
    pass


# ---------------------------------------------------------------- memory bound


def sanitized():
    maps = pathlib.Path("/proc/self/maps")
    return maps.exists() and "libasan" in maps.read_text()


@contextlib.contextmanager
def memory_cap(extra=3 << 30):
    """Refuse allocations beyond the present data size plus extra, so that a
    runaway size turns into MemoryError instead of swamping the machine. Not
    under the address sanitizer, whose shadow mappings exceed any such limit
    (there its max_allocation_size_mb does the same)."""
    status = pathlib.Path("/proc/self/status")
    if sanitized() or not status.exists():
        yield
        return
    used = next(int(line.split()[1]) * 1024 for line in status.read_text().splitlines() if line.startswith("VmData:"))
    soft, hard = resource.getrlimit(resource.RLIMIT_DATA)
    cap = used + extra if hard == resource.RLIM_INFINITY else min(used + extra, hard)
    resource.setrlimit(resource.RLIMIT_DATA, (cap, hard))
    try:
        yield
    finally:
        resource.setrlimit(resource.RLIMIT_DATA, (soft, hard))


# ---------------------------------------------------------------- discovery


class Callable:
    """One entry point: a constructor, a method, a static method or a module function."""

    def __init__(self, display, owner, attr, params, kind):
        self.display = display  # "Class.__new__()", "Class.method()", "function()"
        self.owner = owner  # the class, or None for module functions
        self.attr = attr  # method name, or None
        self.params = params  # inspect.Parameter list, receiver excluded
        self.kind = kind  # "new", "method", "static", "function"

    @property
    def required(self):
        return [p for p in self.params if p.default is inspect.Parameter.empty]

    def __repr__(self):
        return self.display


def discover(module):
    """(constructors and functions, {class name: [methods]}) for every name in __all__."""
    tops, methods = [], {}
    for name in module.__all__:
        obj = getattr(module, name)
        params = list(inspect.signature(obj).parameters.values())
        if not isinstance(obj, type):
            tops.append(Callable(f"{name}()", None, None, params, "function"))
            continue
        tops.append(Callable(f"{name}.__new__()", obj, None, params, "new"))
        found = []
        for attr, member in vars(obj).items():
            if attr.startswith("_"):
                continue
            static = isinstance(member, staticmethod)
            fn = getattr(obj, attr)
            if not callable(fn):
                continue
            sig = list(inspect.signature(fn).parameters.values())
            if not static:
                sig = sig[1:]  # the receiver
            found.append(Callable(f"{name}.{attr}()", obj, attr, sig, "static" if static else "method"))
        methods[name] = found
    return tops, methods


# ---------------------------------------------------------------- argument kinds by name

ARRAY_DTYPES = {"iq": np.complex64, "audio": np.float32, "llr": np.float32, "bits": np.uint8, "tones": np.uint8}
FLAGS = {"abs_approx", "usb", "on"}
INTS = {"order", "b", "n", "n_bits", "max_cand", "min_carrier_syms", "preamble_bits", "postamble_bits",
        "t_min", "t_max"}
RATES = {"fs", "sample_rate"}
MESSAGE_FIELDS = {"call_to", "call_de", "extra"}


def kind_of(name):
    if name in ARRAY_DTYPES:
        return "array"
    if name in ("payload", "data"):
        return "bytes"
    if name == "text":
        return "text"
    if name in MESSAGE_FIELDS:
        return "field"
    if name in FLAGS:
        return "flag"
    if name in INTS or name.startswith("n_") or name.endswith(("_bits", "_syms", "_cand", "_count")):
        return "int"
    if name in RATES:
        return "rate"
    if name.endswith(("_hz", "_ms", "_db", "_unit", "_level", "_index")) or name in ("hz", "g", "k", "kp", "gain"):
        return "float"
    return "any"


# Lengths a valid array may take; lengths learned from ValueError texts are added per callable.
LENGTHS = [0, 1, 2, 3, 5, 8, 16, 24, 31, 64, 100, 255, 256, 1000, 1536, 3072]
CALLS = ["CQ", "QRZ", "DE", "K1ABC", "W9XYZ", "G4ABC", "VK2ABC", "K1ABC/R", "G4ABC/P", "PJ4/K1ABC",
         "CQ DX", "CQ 123", "<K1ABC>", "3DA0XYZ", "ZZ9ZZZ"]
EXTRAS = ["FN31", "AA00", "RR99", "+07", "-12", "R+05", "R-30", "RRR", "RR73", "73", ""]
TEXT_CHARS = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ+-./?"
RATE_VALUES = [8000.0, 11025.0, 12000.0, 16000.0, 22050.0, 44100.0, 48000.0]

# Far outside any sane range, yet never a size that a correct call could
# really allocate: sizes derived from these either fit in kilobytes or are hopeless.
ODD_FLOATS = [math.nan, -math.nan, math.inf, -math.inf, 0.0, -0.0, 5e-324, -5e-324, 1e-45, 1e-30,
              -1.0, -48000.0, 1e20, -1e20, 1e30, 3.4028235e38, 3.5e38, 1e300, -1e300]
HUGE_INTS = [2**40, 2**62, 2**63 - 1, 2**63, 2**64 - 1, 2**64, 2**100, -(2**31), -(2**63), -(2**64), -(2**100)]
SMALL_INTS = [-1, 0, 1, 2, 3, 7, 255, 256, -256]
ODD_INTS = SMALL_INTS + HUGE_INTS
# As frequencies or rates even 2**31 can size a waterfall of gigabytes: only hopeless ones.
FAR_INTS = [v for v in HUGE_INTS if abs(v) >= 2**40]
ODD_STRS = ["", " ", "\x00", "\x00K1ABC", "a", "k1abc", "é", "\u2192", "\U0001F600", "\ud800", "A" * 14,
            "A" * 200, "CQ " * 50, "K1ABC/P/R", "<<>>", "/", "  K1ABC  ", "R", "+", "-99", "R+999"]
ODD_BYTES = [b"", b"\x00", bytes(9), bytes(10), bytes(11), b"\xff" * 9, b"\xff" * 10, bytes(range(256)),
             b"\x80" * 10, bytes(4096)]


class IndexObj:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v

    def __repr__(self):
        return f"IndexObj({self.v!r})"


class FloatObj:
    def __init__(self, v):
        self.v = v

    def __float__(self):
        return self.v

    def __repr__(self):
        return f"FloatObj({self.v!r})"


class Hostile:
    """Every conversion hook raises FuzzError."""

    def __index__(self):
        raise FuzzError("index")

    def __float__(self):
        raise FuzzError("float")

    def __bool__(self):
        raise FuzzError("bool")

    def __len__(self):
        raise FuzzError("len")

    def __repr__(self):
        return "Hostile()"


class Reenter:
    """A number whose conversion calls back into the object being called."""

    def __init__(self, call, value):
        self.call = call
        self.value = value
        self.inner = []  # what the inner calls raised, if anything

    def run(self):
        try:
            self.call()
        except BaseException as e:  # noqa: BLE001 - judged by the caller
            self.inner.append(e)

    def __float__(self):
        self.run()
        return float(self.value)

    def __index__(self):
        self.run()
        return int(self.value)

    def __repr__(self):
        return f"Reenter({self.value!r})"


class BadIndex:
    def __index__(self):
        return 1.5  # not an int: the interpreter raises TypeError

    def __repr__(self):
        return "BadIndex()"


class StrSub(str):
    pass


class BytesSub(bytes):
    pass


class ArraySub(np.ndarray):
    pass


WRONG_TYPES = [None, "1", b"1", 1j, [1, 0], (1,), {}, object(), 1.5, True, Fraction(1, 3), Hostile(),
               BadIndex(), np.float64(1.0), np.int64(3), np.bool_(True), np.zeros(2), bytearray(3)]


def hostile_in(value):
    if isinstance(value, Hostile):
        return True
    if isinstance(value, (list, tuple)):
        return any(hostile_in(v) for v in value)
    return False


class Gen:
    """Argument values, all drawn from one seed."""

    def __init__(self, seed, tiny=False):
        self.r = random.Random(seed)
        self.np = np.random.default_rng(seed)
        self.hints = {}  # (callable display, param) -> lengths learned from ValueError texts
        self.tiny = tiny

    # -- valid values ------------------------------------------------------

    def length(self, fn, name):
        r = self.r
        if self.tiny:
            return r.randrange(0, 9)
        learned = self.hints.get((fn.display, name))
        if learned and r.random() < 0.6:
            n = r.choice(sorted(learned))
            return n + r.choice([0, 0, 0, 0, -1, 1, 7])
        return r.choice(LENGTHS)

    def array(self, dtype, n, name=""):
        g = self.np
        if dtype == np.complex64:
            x = (g.standard_normal(n) + 1j * g.standard_normal(n)).astype(np.complex64)
        elif dtype == np.float32:
            x = g.standard_normal(n).astype(np.float32)
        elif name == "tones":
            x = g.integers(0, 8, n, dtype=np.uint8)
        elif name == "bits" and self.r.random() < 0.8:
            x = g.integers(0, 2, n, dtype=np.uint8)
        else:
            x = g.integers(0, 256, n, dtype=np.uint8)
        return x

    def valid(self, fn, p, ctx):
        """A value that a careful caller could pass."""
        r, name = self.r, p.name
        k = kind_of(name)
        if k == "array":
            return self.array(ARRAY_DTYPES[name], self.length(fn, name), name)
        if k == "bytes":
            learned = self.hints.get((fn.display, name))
            n = r.choice(sorted(learned)) if learned and r.random() < 0.7 else r.choice([9, 10, 10, 0, 1, 11])
            data = bytearray(self.np.integers(0, 256, n, dtype=np.uint8).tobytes())
            if data and r.random() < 0.7:
                data[0] &= 0x7F
            return bytes(data)
        if k == "text":
            n = r.randrange(0, 6 if self.tiny else 30)
            s = "".join(r.choice(TEXT_CHARS + "abcxyz\n") for _ in range(n))
            return s.encode() if r.random() < 0.5 else s
        if k == "field":
            if name == "extra":
                return r.choice(EXTRAS)
            if r.random() < 0.7:
                return r.choice(CALLS)
            return "".join(r.choice("ABCXYZ") for _ in range(r.randrange(1, 3))) + str(r.randrange(10)) + \
                "".join(r.choice("ABCXYZ") for _ in range(r.randrange(1, 4)))
        if k == "flag":
            return r.random() < 0.5
        if k == "int":
            if name == "order":
                return r.choice([16, 64, 256])
            if name == "b":
                return r.randrange(256)
            if name == "n_bits":
                return r.randrange(0, 64 if self.tiny else 300)
            if name.startswith("t_"):  # frame start offsets in symbols
                v = r.randrange(-4, 9) if name == "t_min" else ctx.get("t_min", 0) + r.randrange(-2, 13)
                ctx[name] = v
                return v
            return r.randrange(0, 9 if self.tiny else 65)
        if k == "rate":
            fs = r.choice(RATE_VALUES)
            ctx["fs"] = fs
            return fs
        if k == "float":
            fs = ctx.get("fs", 12000.0)
            if name.endswith("_hz") or name == "hz":
                if name == "max_hz":
                    return ctx.get("base_hz", 0.0) + r.uniform(50.0, 600.0)
                v = r.uniform(0.0, fs / 8) if r.random() < 0.9 else r.choice([0.0, fs / 4, -fs / 8])
                ctx[name] = v
                return v
            if name.endswith("_ms"):
                return r.uniform(0.1, 20.0)
            if name.endswith("_db"):
                return r.uniform(0.0, 20.0)
            return r.choice([1.0, 0.5, 2.0, 0.0, -1.0, r.uniform(0.0, 3.0)])
        return self.anything(ctx)

    def anything(self, ctx):
        r = self.r
        pick = r.randrange(7)
        if pick == 0:
            return r.randrange(-3, 65)
        if pick == 1:
            return r.uniform(-10.0, 10.0)
        if pick == 2:
            return r.random() < 0.5
        if pick == 3:
            return "".join(r.choice(TEXT_CHARS) for _ in range(r.randrange(0, 12)))
        if pick == 4:
            return bytes(self.np.integers(0, 256, r.randrange(0, 12), dtype=np.uint8))
        dtype = r.choice([np.complex64, np.float32, np.uint8])
        return self.array(dtype, r.choice(LENGTHS[:10]))

    # -- odd values --------------------------------------------------------

    def odd(self, fn, p, ctx):
        """A value chosen to break things: wrong type, extreme number, odd array or text."""
        r, name = self.r, p.name
        k = kind_of(name)
        if r.random() < 0.15:
            return r.choice(WRONG_TYPES)
        if k == "array":
            return self.odd_array(ARRAY_DTYPES[name], fn, name)
        if k == "any":
            return r.choice([self.odd_array(r.choice(list(ARRAY_DTYPES.values())), fn, name),
                             r.choice(ODD_INTS), r.choice(ODD_FLOATS), r.choice(ODD_STRS), r.choice(ODD_BYTES)])
        if k == "int":
            return r.choice([r.choice(ODD_INTS), r.choice(HUGE_INTS), IndexObj(r.choice(ODD_INTS)),
                             np.uint64(2**64 - 1), np.int64(-1), np.uint8(255), 1.0, True,
                             2**31 if name in ("order", "b") else 65, 2**32 - 1 if name == "order" else 64])
        if k in ("float", "rate"):
            return r.choice([r.choice(ODD_FLOATS), FloatObj(r.choice(ODD_FLOATS)), IndexObj(r.choice(SMALL_INTS)),
                             10**400, -(10**400), np.float32(np.nan), np.float64(np.inf), r.choice(FAR_INTS),
                             FloatObj("x"), "1.0", 1j])
        if k == "flag":
            return r.choice([True, False, np.bool_(False), np.True_, 0, 1, None, "True", np.int8(1), 1.0,
                             np.array(True), Hostile()])
        if k == "bytes":
            return r.choice([r.choice(ODD_BYTES), BytesSub(bytes(10)), bytearray(10), memoryview(bytes(10)),
                             "0123456789", list(range(10)), np.zeros(10, np.uint8), bytes(10).hex()])
        if k in ("text", "field"):
            s = r.choice(ODD_STRS)
            return r.choice([s, s.encode("utf-8", "surrogatepass"), StrSub(s), bytearray(b"K1ABC"),
                             "K1ABC" * r.randrange(1, 40), ["K1ABC"], 0])
        return r.choice(WRONG_TYPES)

    def odd_array(self, dtype, fn, name):
        r = self.r
        n = self.length(fn, name)
        base = self.array(dtype, max(n, 2), name)
        pick = r.randrange(14)
        if pick == 0:  # another dtype, byte order included
            other = r.choice([np.float64, np.complex128, np.int8, np.uint16, np.int32, np.bool_, np.float16,
                              np.dtype(">f4"), np.dtype(">c8"), np.dtype(">u2"), np.uint8, np.float32,
                              np.complex64, object, np.dtype("U1"),
                              np.dtype([("re", "<f4"), ("im", "<f4")])])
            try:
                return np.zeros(n, other) if r.random() < 0.5 else base.astype(other)
            except (TypeError, ValueError):
                return np.zeros(n, other)
        if pick == 1:  # other shapes
            return r.choice([base.reshape(-1, 1), base.reshape(1, -1), np.zeros((), dtype), np.zeros((0, 3), dtype),
                             np.zeros((2, 0), dtype), np.zeros((2, 2, 2), dtype), np.asfortranarray(base.reshape(-1, 1)),
                             dtype(0) if dtype != np.uint8 else np.uint8(1)])
        if pick == 2:  # strided views
            return r.choice([base[::2], base[::-1], base[1::3], base[::2][:0], base[::-1][:1]])
        if pick == 3:  # misaligned, read-only view into a bytes buffer
            item = np.dtype(dtype).itemsize
            buf = bytes(r.randrange(1, 8) + n * item)
            return np.frombuffer(buf, dtype, count=n, offset=len(buf) - n * item)
        if pick == 4:
            ro = base[:n].copy()
            ro.flags.writeable = False
            return ro
        if pick == 5:  # zero stride
            return np.broadcast_to(base[:1], (n,))
        if pick == 6:
            return base[:n].view(ArraySub)
        if pick == 7:
            return np.ma.masked_array(base[:n], mask=self.np.integers(0, 2, n).astype(bool))
        if pick == 8:  # non-finite and extreme samples
            x = base[:n].copy()
            if x.size and dtype != np.uint8:
                specials = np.array([np.nan, np.inf, -np.inf, 3.4e38, -3.4e38, 1e-45, -0.0, 0.0], np.float32)
                idx = self.np.integers(0, x.size, max(1, x.size // 3))
                x[idx] = specials[self.np.integers(0, specials.size, idx.size)]
                if dtype == np.complex64:
                    x.imag[idx[::2]] = np.nan
            return x
        if pick == 9:  # not arrays at all
            return r.choice([base[:n].tolist(), tuple(base[:4].tolist()), base[:n].tobytes(), memoryview(base[:n]),
                             None, base[0]])
        if pick == 10:  # Fortran-ordered 1-D (both contiguous) and empty of every layout
            return r.choice([np.asfortranarray(base[:n]), np.zeros(0, dtype), base[:0], base[::-1][:0]])
        if pick == 11:  # uint8 with every value, or all ones
            if dtype == np.uint8:
                return r.choice([np.arange(256, dtype=np.uint8), np.full(n, 255, np.uint8), np.ones(n, np.uint8)])
            return base[:n] * np.float32(1e30).astype(dtype)
        if pick == 12:  # a view of a bigger array starting mid-way
            return base[1:][:n]
        return base[:n]

    # -- whole calls -------------------------------------------------------

    def call_args(self, fn, odd_rate):
        """Positional and keyword arguments, with each parameter odd at odd_rate."""
        ctx = {}
        values = []
        for p in fn.params:
            optional = p.default is not inspect.Parameter.empty
            if optional and self.r.random() < 0.4:
                values.append((p.name, None, False))
                continue
            v = self.odd(fn, p, ctx) if self.r.random() < odd_rate else self.valid(fn, p, ctx)
            values.append((p.name, v, True))
        return self.split(fn, values)

    def split(self, fn, values):
        """Pass a prefix positionally and the rest by keyword; skipped optionals go by keyword only."""
        r = self.r
        given = [(n, v) for n, v, present in values if present]
        cut = len(values)
        if r.random() < 0.4:
            cut = r.randrange(len(values) + 1)
        args, kwargs = [], {}
        positional = True
        for i, (name, v, present) in enumerate(values):
            if i >= cut or not present:
                positional = False
            if not present:
                continue
            if positional:
                args.append(v)
            else:
                kwargs[name] = v
        del given
        return args, kwargs

    def mangle(self, fn, args, kwargs):
        """Argument-matching errors: wrong counts, unknown and duplicate keywords."""
        r = self.r
        args, kwargs = list(args), dict(kwargs)
        pick = r.randrange(5)
        if pick == 0:
            args += [None] * r.randrange(1, 4)
            return args, kwargs
        if pick == 1:
            kwargs[r.choice(["bogus", "self", "Fs", "iq_", "kwargs", "args"])] = 1
            return args, kwargs
        if pick == 2 and fn.params:
            kwargs[fn.params[0].name] = args[0] if args else None
            if not args:
                args = [None]
            return args, kwargs
        if pick == 3:
            return args[:max(0, len(args) - 1)], {}
        return [], {}


# ---------------------------------------------------------------- outcomes


def describe(value, depth=0):
    if isinstance(value, np.ndarray):
        flags = "".join(c for c, f in (("C", "C_CONTIGUOUS"), ("F", "F_CONTIGUOUS"), ("W", "WRITEABLE"),
                                       ("A", "ALIGNED")) if value.flags[f])
        head = np.array2string(value.ravel()[:4], threshold=4) if value.dtype != object else "..."
        return (f"{type(value).__name__}(dtype={value.dtype.str}, shape={value.shape}, strides={value.strides}, "
                f"flags={flags}, head={head})")
    if isinstance(value, (bytes, bytearray, str)) and len(value) > 40:
        return f"{type(value).__name__}(len={len(value)}, head={value[:16]!r})"
    if isinstance(value, (list, tuple)) and len(value) > 8:
        return f"{type(value).__name__}(len={len(value)})"
    if isinstance(value, float):
        return repr(value)
    return repr(value)


def describe_call(target, fn, args, kwargs):
    parts = [describe(a) for a in args] + [f"{k}={describe(v)}" for k, v in kwargs.items()]
    return f"{target}({', '.join(parts)})"


def same(a, b):
    """Equal to the bit: arrays by dtype, shape and bytes; floats by their encoding."""
    if type(a) is not type(b):
        return False
    if isinstance(a, np.ndarray):
        return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()
    if isinstance(a, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return a == b


def check_result(value):
    """Every returned array is a new, one-dimensional, owning, writeable C array of a library dtype."""
    if isinstance(value, np.ndarray):
        assert type(value) is np.ndarray, type(value)
        assert value.ndim == 1 and value.dtype in (np.uint8, np.float32, np.complex64), (value.dtype, value.shape)
        assert value.flags.owndata and value.flags.writeable and value.flags.c_contiguous
    elif isinstance(value, (list, tuple)):
        for v in value:
            check_result(v)
    elif isinstance(value, dict):
        for v in value.values():
            check_result(v)


class Err:
    """What is kept of a raised exception."""

    def __init__(self, e):
        self.type = type(e)
        self.text = str(e)

    def __eq__(self, other):
        return self.type is other.type and self.text == other.text

    def __repr__(self):
        return f"{self.type.__name__}({self.text!r})"


ANY_LENGTH = re.compile(r"expected (\d+)|< (\d+)\)|expected (\d+)-byte")


class Fuzzer:
    """Drives the callables; counts calls; raises FuzzFailure naming the seed and the call."""

    def __init__(self, module, seed, tiny=False):
        self.module = module
        self.seed = seed
        self.gen = Gen(seed, tiny)
        self.r = self.gen.r
        self.tops, self.methods = discover(module)
        self.calls = 0
        self.failing = []  # (callable, args, kwargs) that raised an allowed error, kept for replays
        self.keep_failing = False
        self.log = None
        self.stats = {}  # (callable display, outcome) -> count

    def fail(self, what, target, args, kwargs, detail=""):
        raise FuzzFailure(f"seed {self.seed}, call {self.calls}: {what}\n  {describe_call(target, None, args, kwargs)}"
                          + (f"\n  {detail}" if detail else ""))

    def invoke(self, target, fn, args, kwargs):
        """('ok', result) or ('err', exception); anything not allowed is a FuzzFailure."""
        self.calls += 1
        if self.log:
            self.log.write(describe_call(target, None, args, kwargs) + "\n")
            self.log.flush()
        arrays = [a for a in list(args) + list(kwargs.values()) if isinstance(a, np.ndarray)]
        before = [(sys.getrefcount(a), a.tobytes() if a.dtype != object and a.size < 65536 else None)
                  for a in arrays]
        try:
            out = ("ok", fn(*args, **kwargs))
        except ALLOWED as e:
            if not str(e) and not isinstance(e, MemoryError):
                self.fail(f"{type(e).__name__} without a message", target, args, kwargs)
            # Only type and text are kept: the exception's frames may hold the arguments.
            out = ("err", Err(e))
        except FuzzError as e:
            if not any(hostile_in(v) for v in list(args) + list(kwargs.values())):
                self.fail("FuzzError from nowhere", target, args, kwargs)
            out = ("err", Err(e))
        except BaseException as e:  # noqa: BLE001 - anything else is the finding
            if isinstance(e, KeyboardInterrupt):
                raise
            self.fail(f"raised {type(e).__module__}.{type(e).__qualname__}: {e}", target, args, kwargs)
        for i, (count, data) in enumerate(before):
            a = arrays[i]  # not through zip(), whose reused tuple would hold a reference
            if sys.getrefcount(a) != count:
                self.fail(f"reference count of an array argument moved from {count} to {sys.getrefcount(a)}",
                          target, args, kwargs)
            if data is not None and a.tobytes() != data:
                self.fail("an input array was written to", target, args, kwargs)
        key = (target.display, "ok" if out[0] == "ok" else out[1].type.__name__)
        self.stats[key] = self.stats.get(key, 0) + 1
        if out[0] == "ok":
            try:
                check_result(out[1])
            except AssertionError as e:
                self.fail(f"bad result {e}", target, args, kwargs)
        else:
            self.learn(target, out[1])
            if self.keep_failing:
                self.failing.append((target, fn, args, kwargs))
        return out

    def learn(self, target, exc):
        if not issubclass(exc.type, ValueError):
            return
        m = ANY_LENGTH.search(exc.text)
        if not m:
            return
        n = int(next(g for g in m.groups() if g))
        if n > 400_000:
            return
        for p in target.params:
            if kind_of(p.name) in ("array", "bytes"):
                self.gen.hints.setdefault((target.display, p.name), set()).add(n)

    def compare(self, target, args, kwargs, a, b, what):
        if a[0] != b[0]:
            self.fail(f"{what}: one twin {a[0]} ({a[1]!r}), the other {b[0]} ({b[1]!r})", target, args, kwargs)
        if a[0] == "ok":
            if not same(a[1], b[1]):
                self.fail(f"{what}: results differ", target, args, kwargs,
                          f"{describe(a[1])} != {describe(b[1])}")
        elif a[1] != b[1]:
            self.fail(f"{what}: errors differ: {a[1]!r} vs {b[1]!r}", target, args, kwargs)

    # -- one round ---------------------------------------------------------

    def round(self):
        """One module function or static method call, or one class episode."""
        target = self.r.choice(self.tops)
        if target.kind == "function":
            self.stateless(target, target.owner, getattr(self.module, target.display[:-2]))
        else:
            self.episode(target)

    def stateless(self, target, _owner, fn):
        r = self.r
        # Several calls, so that functions get about as many as a class episode.
        for _ in range(r.randrange(1, 16)):
            args, kwargs = self.gen.call_args(target, odd_rate=r.choice([0.0, 0.0, 0.3, 1.0]))
            if r.random() < 0.1:
                args, kwargs = self.gen.mangle(target, args, kwargs)
            first = self.invoke(target, fn, args, kwargs)
            if first[0] == "ok" and r.random() < 0.2:
                # Nothing is kept between calls: the same call gives the same answer.
                self.compare(target, args, kwargs, first, self.invoke(target, fn, args, kwargs), "repeat")

    def construct(self, new):
        """Twin objects built from the same sane arguments, or None."""
        cls = new.owner
        for _ in range(4):
            args, kwargs = self.gen.call_args(new, odd_rate=0.0)
            a = self.invoke(new, cls, args, kwargs)
            if a[0] == "ok":
                # The twin gets everything by keyword: the result must not depend on the form.
                ctx = {}
                names = [p.name for p in new.params]
                merged = dict(zip(names, args), **kwargs)
                del ctx
                b = self.invoke(new, cls, [], merged)
                if b[0] != "ok":
                    self.fail("twin construction by keyword failed", new, [], merged, repr(b[1]))
                return a[1], b[1]
        return None

    def episode(self, new):
        r = self.r
        cls = new.owner
        # Constructors with odd values first; what they build is exercised lightly.
        if r.random() < 0.5:
            args, kwargs = self.gen.call_args(new, odd_rate=r.choice([0.3, 1.0]))
            if r.random() < 0.15:
                args, kwargs = self.gen.mangle(new, args, kwargs)
            out = self.invoke(new, cls, args, kwargs)
            if out[0] == "ok":
                self.light(out[1], new)
            return
        twins = self.construct(new)
        if twins is None:
            return
        a, b = twins
        methods = self.methods[cls.__name__]
        if not methods:
            return
        for _ in range(r.randrange(1, 25)):
            m = r.choice(methods)
            if r.random() < 0.03 and self.reentry(m, a, methods):
                return  # the twins have parted; the object itself was checked
            self.step(m, a, b)
        # Every method once more with good arguments: any hidden difference shows now.
        for m in methods:
            args, kwargs = self.gen.call_args(m, odd_rate=0.0)
            self.both(m, a, b, args, kwargs, "after the sequence")

    def bound(self, m, obj):
        return getattr(obj, m.attr) if m.kind == "method" else getattr(m.owner, m.attr)

    def both(self, m, a, b, args, kwargs, what):
        out_a = self.invoke(m, self.bound(m, a), args, kwargs)
        out_b = self.invoke(m, self.bound(m, b), args, kwargs)
        self.compare(m, args, kwargs, out_a, out_b, what)
        return out_a

    def step(self, m, a, b):
        r = self.r
        if r.random() < 0.45:
            self.both(m, a, b, *self.gen.call_args(m, odd_rate=0.0), "good call on both twins")
            return
        args, kwargs = self.gen.call_args(m, odd_rate=r.choice([0.3, 0.6, 1.0]))
        if r.random() < 0.15:
            args, kwargs = self.gen.mangle(m, args, kwargs)
        out = self.invoke(m, self.bound(m, a), args, kwargs)
        if out[0] == "ok":
            # A call that went through must go through the same way on the twin.
            self.compare(m, args, kwargs, out, self.invoke(m, self.bound(m, b), args, kwargs), "odd call that passed")

    def reentry(self, m, obj, methods):
        """A call whose number argument calls another method of the same object
        while it is converted. Either order is sound (the inner call may find the
        object taken), but the object must come out usable."""
        numbers = [i for i, p in enumerate(m.params) if kind_of(p.name) in ("int", "float", "rate")]
        if m.kind != "method" or not numbers:
            return False
        other = self.r.choice(methods)
        inner_args, inner_kwargs = self.gen.call_args(other, odd_rate=0.0)
        inner = Reenter(lambda: self.bound(other, obj)(*inner_args, **inner_kwargs), 0)
        args, kwargs = self.gen.call_args(m, odd_rate=0.0)
        names = [p.name for p in m.params]
        merged = dict(zip(names, args), **kwargs)
        name = names[self.r.choice(numbers)]
        if name not in merged:
            return False
        inner.value = merged[name] if isinstance(merged[name], (int, float)) else 0
        merged[name] = inner
        self.invoke(m, self.bound(m, obj), [], merged)
        for e in inner.inner:
            busy = isinstance(e, RuntimeError) and str(e) == "Already borrowed"
            if not busy and not isinstance(e, ALLOWED):
                self.fail(f"inner call raised {type(e).__name__}: {e}", m, [], merged)
        for later in methods:
            args, kwargs = self.gen.call_args(later, odd_rate=0.0)
            self.invoke(later, self.bound(later, obj), args, kwargs)  # RuntimeError here: still borrowed
        return True

    def light(self, obj, new):
        """A few small calls on an object built from odd values."""
        saved = self.gen.tiny
        self.gen.tiny = True
        try:
            for m in self.methods[new.owner.__name__][:6]:
                args, kwargs = self.gen.call_args(m, odd_rate=0.0)
                self.invoke(m, self.bound(m, obj), args, kwargs)
        finally:
            self.gen.tiny = saved

    def run(self, calls):
        with warnings.catch_warnings(), memory_cap():
            warnings.simplefilter("ignore")  # NumPy's casting and masked-array chatter from the generator
            while self.calls < calls:
                self.round()
        return self.calls
