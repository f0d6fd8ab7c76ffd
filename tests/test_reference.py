"""The reference models' own float32 arithmetic (tests/ref/fp32.py), checked
before anything is compared with it."""

import math

import numpy as np
import pytest

from ref.fp32 import c_fmaf, fma32, r32

f32 = np.float32


def test_fma_rounds_once_by_hand():
    a = 1 + 2**-12
    assert fma32(a, a, 2**-60) == r32(1 + 2**-11 + 2**-23)
    assert r32(a * a + 2**-60) == r32(1 + 2**-11)  # what double rounding gives
    assert fma32(a, a, -(2**-60)) == r32(1 + 2**-11)
    assert fma32(2**-75, 2**-75, 2**-149) == 2**-148  # a subnormal tie goes to even
    assert math.copysign(1, fma32(-0.0, 1.0, -0.0)) == -1
    big = r32(3e38)
    assert fma32(big, 2.0, -big) == big  # no overflow inside the fused product


def test_fma_matches_the_c_library_on_hard_cases(rng):
    fmaf = c_fmaf()
    if fmaf is None:
        pytest.skip("no C library fmaf to compare with")
    # Products of 13-bit significands that fall exactly halfway between two floats, nudged by
    # a c far below a double ulp: the double sum lands on the halfway point and a second
    # rounding to float32 picks the even side, right or wrong.
    n = 4000
    a = rng.integers(2**12, 2**13, n) * 2.0**-12 * rng.choice([-1, 1], n)
    b = rng.integers(2**12, 2**13, n) * 2.0 ** rng.integers(-30, 10, n)
    p = a * b
    f = p.astype(np.float32).astype(np.float64)
    half = np.abs(p - f) == np.spacing(np.abs(f).astype(np.float32)).astype(np.float64) / 2
    c = (p * 2.0**-60 * rng.uniform(-1.5, 1.5, n)).astype(np.float32)
    cases = [(float(x), float(y), float(z)) for x, y, z in zip(a[half], b[half], c[half])]
    cases += [(1 + 2**-12, 1 + 2**-12, 2**-60), (1.0, 2.0**-149, -0.0), (3e38, 2.0, -3e38), (-0.0, 1.0, -0.0)]
    cases += [tuple(map(float, v)) for v in rng.standard_normal((2000, 3)).astype(np.float32)]
    assert len(cases) > 2000
    double_rounded = 0
    for x, y, z in cases:
        want = f32(fmaf(x, y, z))
        assert f32(fma32(x, y, z)).view(np.uint32) == want.view(np.uint32), (x, y, z)
        double_rounded += f32(x * y + z) != want
    assert double_rounded > 100  # the cases really are hard
