"""Correctly rounded sin, cos, exp and log (core/fmath.hpp): a small C++
driver over the header against Python's double results rounded to float32,
its block forms against its scalar forms, the oscillator's carrier step, and
the source check that keeps other maths out of the library."""

import importlib.util
import math
import pathlib
import platform
import shutil
import subprocess

import numpy as np
import pytest

import tarsk_sdr as t

ROOT = pathlib.Path(__file__).resolve().parent.parent
f32 = np.float32
TWO_PI = f32(6.2831855)

# Arguments whose double rounds the wrong way (found by bench/fmath_exhaustive.py
# and decided at 300 bits): function, argument bits, correct result bits.
HARD = [("sin", 0x46199998, 0xBEB1FA5D), ("sin", 0xC6199998, 0x3EB1FA5D),
        ("cos", 0x5F18B878, 0x3F7F14BB), ("cos", 0xE115CB11, 0x3F78142F),
        ("log", 0x3C413D3A, 0xC08E158F), ("log", 0x41178FEB, 0x400FE5E7), ("log", 0x4C5D65A5, 0x418F034B),
        ("log", 0x65D890D3, 0x4254D1F9), ("log", 0x6F31A8EC, 0x42845A89)]


def has_avx2():
    try:
        flags = pathlib.Path("/proc/cpuinfo").read_text()
    except OSError:
        return False
    return platform.machine() in ("x86_64", "AMD64") and " avx2" in flags and " fma" in flags


@pytest.fixture(scope="module")
def fmath(tmp_path_factory):
    cxx = shutil.which("c++") or shutil.which("g++") or shutil.which("clang++")
    if cxx is None:
        pytest.skip("no C++ compiler")
    work = tmp_path_factory.mktemp("fmath")
    exe = work / "fmath_check"
    # With AVX2 the block forms run as vector code, the copy the library's kernels use.
    isa = ["-mavx2", "-mfma"] if has_avx2() else []
    subprocess.run([cxx, "-std=c++20", "-O2", "-ffp-contract=off", *isa, f"-I{ROOT / 'src'}",
                    str(ROOT / "tests" / "cpp" / "fmath_check.cpp"), "-o", str(exe)], check=True)

    def run(fn, x):
        x = np.ascontiguousarray(x, np.float32)
        x.tofile(work / "in.bin")
        done = subprocess.run([str(exe), fn, str(work / "in.bin"), str(work / "out.bin")],
                              capture_output=True, text=True)
        assert done.returncode == 0, done.stderr  # 1: a block form differs from the scalar form
        return np.fromfile(work / "out.bin", np.float32)

    return run


def reference(fn, x):
    """Python's double result as float64, or None where the reference is unverifiable."""
    out = np.empty(len(x))
    with np.errstate(invalid="ignore"):  # signalling NaNs among the random bit patterns
        x = x.astype(np.float64)
    for i, v in enumerate(x.tolist()):
        try:
            if fn == "log" and v <= 0.0:
                out[i] = -math.inf if v == 0.0 else math.nan
            else:
                out[i] = getattr(math, fn)(v)
        except ValueError:
            out[i] = math.nan
        except OverflowError:
            out[i] = math.inf
    # A double on a float midpoint (to within its own last bit) may round either way.
    a = np.abs(out)
    normal = np.isfinite(a) & (a >= 2.0**-126)
    low = (a.view(np.uint64) & np.uint64(0x1FFFFFFF)).astype(np.int64)
    unsure = normal & (np.abs(low - 0x10000000) <= 1)
    with np.errstate(invalid="ignore", over="ignore"):
        w = a * 2.0**149
        unsure |= ~normal & (a > 0) & np.isfinite(a) & (np.abs(w - np.floor(w) - 0.5) < 2.0**-28)
    return out, unsure


def assert_correctly_rounded(fn, x, got):
    want64, unsure = reference(fn, x)
    with np.errstate(over="ignore"):
        want = want64.astype(np.float32)
    same = (got.view(np.uint32) == want.view(np.uint32)) | (np.isnan(got) & np.isnan(want))
    bad = np.flatnonzero(~same & ~unsure)
    assert bad.size == 0, [(fn, float(x[i]), float(got[i]), float(want[i])) for i in bad[:5]]


SPECIAL = np.array([0.0, -0.0, np.inf, -np.inf, np.nan, 1e-45, -1e-45, 1.1754942e-38, 1.1754944e-38,
                    -1.1754944e-38, 3.4028235e38, -3.4028235e38, 1.0, -1.0, 0.5, 2.0, 1e-30, 88.72283,
                    88.72284, -87.33654, -103.97208, -103.97209, -104.0, 89.0, 1.5707964, 3.1415927,
                    -3.1415927, 6.2831855, 1048576.0, 1048576.1, 2.0**24, 2.0**100], np.float32)


def arguments(fn, rng):
    random_bits = rng.integers(0, 2**32, 100_000, dtype=np.uint64).astype(np.uint32).view(np.float32)
    if fn == "sincos":
        # Phases as the modulators see them, then near many multiples of pi/2.
        k = rng.integers(-2**22, 2**22, 50_000).astype(np.float64)
        near = (k * (math.pi / 2)).astype(np.float32).view(np.int32) + rng.integers(-3, 4, k.size).astype(np.int32)
        dense = [np.linspace(-3.1415927, 3.1415927, 100_000, dtype=np.float32),
                 rng.uniform(-1e6, 1e6, 50_000).astype(np.float32), near.view(np.float32)]
    elif fn == "exp":
        # Results flagged as near a float midpoint, checked the slow way.
        flagged = np.array([0x4001B249, 0x40315B33, 0x4288942B, 0xC16912CD], np.uint32).view(np.float32)
        dense = [flagged, rng.uniform(-104.0, 89.0, 100_000).astype(np.float32), rng.uniform(-1, 1, 50_000).astype(np.float32)]
    else:
        dense = [rng.uniform(0.0, 4.0, 100_000).astype(np.float32), rng.uniform(0.5, 2.0, 50_000).astype(np.float32)]
    return np.concatenate([SPECIAL, random_bits, *dense])


@pytest.mark.parametrize("fn", ["sincos", "exp", "log"])
def test_correctly_rounded_and_block_equals_scalar(fmath, rng, fn):
    x = arguments(fn, rng)
    got = fmath(fn, x)
    if fn == "sincos":
        assert_correctly_rounded("sin", x, got[:x.size])
        assert_correctly_rounded("cos", x, got[x.size:])
    else:
        assert_correctly_rounded(fn, x, got)


def test_special_values(fmath):
    x = np.array([0.0, -0.0, np.inf, -np.inf, np.nan], np.float32)
    s, c = np.split(fmath("sincos", x), 2)
    assert s[:2].view(np.uint32).tolist() == [0, 0x80000000] and c[:2].tolist() == [1.0, 1.0]
    assert np.isnan(s[2:]).all() and np.isnan(c[2:]).all()
    e = fmath("exp", x)
    assert e[:4].tolist() == [1.0, 1.0, np.inf, 0.0] and np.isnan(e[4])
    lg = fmath("log", np.array([0.0, -0.0, np.inf, -1.0, np.nan, 1.0, 1e-45], np.float32))
    assert lg[:3].tolist() == [-np.inf, -np.inf, np.inf] and np.isnan(lg[3:5]).all()
    assert lg[5].view(np.uint32) == 0 and lg[6] == f32(math.log(2.0**-149))


def test_hard_cases(fmath):
    for fn in ("sin", "cos", "exp", "log"):
        rows = [(x, y) for f, x, y in HARD if f == fn]
        if not rows:
            continue
        xs = np.array([x for x, _ in rows], np.uint32).view(np.float32)
        got = fmath("sincos" if fn in ("sin", "cos") else fn, xs)
        if fn == "sin":
            got = got[:xs.size]
        elif fn == "cos":
            got = got[xs.size:]
        assert got.view(np.uint32).tolist() == [y for _, y in rows], fn


def test_oscillator_step_is_correctly_rounded(rng):
    # The first sample of a fresh BPSK modulator at gain 1 is the step (cos w, sin w).
    fs = np.exp(rng.uniform(0.0, math.log(1e6), 3000)).astype(np.float32)
    scale = np.where(rng.random(fs.size) < 0.1, 1e6, 1.0)  # some steps beyond 2^20 rad
    rf = (fs * rng.uniform(-1.0, 1.0, fs.size) * scale).astype(np.float32)
    for fs_k, rf_k in zip(fs, rf):
        w = float((rf_k * TWO_PI) / fs_k)
        got = t.BpskMod(float(fs_k), float(rf_k), 1.0).process(np.zeros(1, np.uint8))[0]
        assert (got.real, got.imag) == (f32(math.cos(w)), f32(math.sin(w))), (fs_k, rf_k, w)


def test_source_check(tmp_path):
    spec = importlib.util.spec_from_file_location("check_sources", ROOT / ".ci" / "check_sources.py")
    checker = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(checker)
    assert checker.check(ROOT / "src") == []
    (tmp_path / "ok.cpp").write_text("// std::sin(x) in words\nconst char* s = \"log(x)\";\n"
                                     "float f(float x) { return tarsk::cr_sinf(x) + v.exp(x); }\n")
    assert checker.check(tmp_path) == []
    bad = ["float f(float x) { return std::exp(x); }", "float g(float x) { ::sincosf(x, &a, &b); }",
           "float h(float x) { return powf(x, 2.0f); }", "#include <complex>", "std::complex<float> z;",
           "auto p = &std::log;"]
    (tmp_path / "bad.cpp").write_text("\n".join(bad) + "\n")
    assert [p.split(":")[1] for p in checker.check(tmp_path)] == [str(i) for i in range(1, len(bad) + 1)]
