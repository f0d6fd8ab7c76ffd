"""Linear digital modems: BpskMod, QpskMod, QamMod and their demodulators."""

import math
import os
import subprocess
import sys

import numpy as np
import pytest

import tarsk_sdr as t
from ref import linear_ref as ref

f32 = np.float32


def bits_of(x):
    return x.view(np.uint32)


def assert_bits_equal(got, want):
    assert got.dtype == want.dtype
    np.testing.assert_array_equal(bits_of(got), bits_of(want))


def c64(values):
    return np.array(values, np.complex64)


# name, constructor, symbol mapper of the reference, elements per symbol
MODS = [
    ("bpsk", lambda fs, rf, g: t.BpskMod(fs, rf, g), ref.bpsk_symbols, 1),
    ("qpsk", lambda fs, rf, g: t.QpskMod(fs, rf, g), ref.qpsk_symbols, 2),
    ("qam16", lambda fs, rf, g: t.QamMod(16, fs, rf, g), lambda b: ref.qam_symbols(b, 16), 4),
    ("qam64", lambda fs, rf, g: t.QamMod(64, fs, rf, g), lambda b: ref.qam_symbols(b, 64), 6),
    ("qam256", lambda fs, rf, g: t.QamMod(256, fs, rf, g), lambda b: ref.qam_symbols(b, 256), 8),
]
MOD_IDS = [m[0] for m in MODS]

DEMODS = [
    ("bpsk", lambda g: t.BpskDemod(g), 1),
    ("qpsk", lambda g: t.QpskDemod(g), 2),
    ("qam16", lambda g: t.QamDemod(16, g), 4),
    ("qam64", lambda g: t.QamDemod(64, g), 6),
    ("qam256", lambda g: t.QamDemod(256, g), 8),
]
DEMOD_IDS = [d[0] for d in DEMODS]


# ---------------------------------------------------------------- reference model


def test_reference_fma_rounds_once():
    a = 1 + 2**-12
    assert ref.fmaf(a, a, 2**-60) == f32(1 + 2**-11 + 2**-23)
    assert f32(a * a + 2**-60) == f32(1 + 2**-11)  # what double rounding would give


def test_reference_quarter_rate_oscillator():
    osc = ref.Oscillator(1.0, 4.0)
    got = [osc.advance() for _ in range(4)]
    want = [(0, 1), (-1, 0), (0, -1), (1, 0)]
    for (re, im), (wr, wi) in zip(got, want):
        assert abs(re - wr) < 1e-6 and abs(im - wi) < 1e-6


# ---------------------------------------------------------------- modulators, bit exact


@pytest.mark.parametrize("name,make,mapper,per", MODS, ids=MOD_IDS)
def test_modulator_matches_reference_across_calls(name, make, mapper, per, rng):
    fs = float(rng.uniform(8000, 96000))
    rf = float(rng.uniform(-fs / 2, fs))  # negative and above-Nyquist carriers included
    gain = float(rng.uniform(0.1, 3))
    n_sym = 2600  # crosses the renormalisation at 1024 and 2048
    bits = rng.integers(0, 256, n_sym * per, dtype=np.uint8)
    want = ref.LinearMod(fs, rf, gain).waveform(mapper(bits))

    assert_bits_equal(make(fs, rf, gain).process(bits), want)

    # The same stream over calls split at awkward symbol counts, including
    # a split right at the 1024th sample and empty calls.
    mod = make(fs, rf, gain)
    cuts = [0, 1, 1, 1023, 1024, 1025, 1025, 1999, n_sym]
    parts = [mod.process(bits[a * per:b * per]) for a, b in zip(cuts, cuts[1:])]
    assert_bits_equal(np.concatenate(parts), want)


@pytest.mark.parametrize("name,make,mapper,per", MODS[1:], ids=MOD_IDS[1:])
def test_partial_symbols_are_dropped_not_carried(name, make, mapper, per, rng):
    bits = rng.integers(0, 2, 10 * per + per - 1, dtype=np.uint8)
    mod = make(48000.0, 3000.0, 1.0)
    got = np.concatenate([mod.process(bits[:3 * per + 1]), mod.process(bits[3 * per + 1:])])
    want_syms = mapper(bits[:3 * per + 1]) + mapper(bits[3 * per + 1:])
    assert len(want_syms) == len(got) == 3 + 7
    assert_bits_equal(got, ref.LinearMod(48000.0, 3000.0, 1.0).waveform(want_syms))


@pytest.mark.parametrize("name,make,mapper,per", MODS, ids=MOD_IDS)
def test_only_lowest_bit_counts(name, make, mapper, per, rng):
    bits = rng.integers(0, 256, 64 * per, dtype=np.uint8)
    a = make(8000.0, 1234.0, 1.0).process(bits)
    b = make(8000.0, 1234.0, 1.0).process(bits & 1)
    assert_bits_equal(a, b)


def test_bpsk_eighth_rate_sequence_and_continuation():
    mod = t.BpskMod(8, 1, 1)  # w = pi/4
    first = mod.process(np.zeros(4, np.uint8))
    h = math.sqrt(0.5)
    np.testing.assert_allclose(first, [h + h * 1j, 1j, -h + h * 1j, -1], atol=1e-6)
    nxt = mod.process(np.array([1], np.uint8))  # phase 5pi/4, negated
    np.testing.assert_allclose(nxt, [h + h * 1j], atol=1e-6)
    want = ref.LinearMod(8, 1, 1).waveform(ref.bpsk_symbols([0, 0, 0, 0, 1]))
    assert_bits_equal(np.concatenate([first, nxt]), want)


def test_quarter_rate_carrier_and_unit_magnitude_after_renormalisation():
    out = t.BpskMod(4.0, 1.0, 1.0).process(np.zeros(2048, np.uint8))
    np.testing.assert_allclose(out[:4], [1j, -1, -1j, 1], atol=1e-6)
    mag = np.abs(out.astype(np.complex128))
    assert abs(mag[1023] - 1.0) < 4 * 2**-23  # right after the 1024th advance
    assert abs(mag[2047] - 1.0) < 4 * 2**-23


def test_zero_carrier_is_symbol_times_gain():
    got = t.BpskMod(8000, 0, 2).process(np.array([0, 1, 1], np.uint8))
    assert_bits_equal(got, c64([2, -2, -2]))
    got = t.QpskMod(8000, 0, 1).process(np.array([0, 1, 1, 0, 1], np.uint8))
    a = f32(0.70710677)
    assert_bits_equal(got, np.array([complex(a, -a), complex(-a, a)], np.complex64))


@pytest.mark.parametrize("order,bits,want", [
    (16, [0, 0, 1, 0], complex(-0.94868326, 0.94868326)),
    (16, [1, 1, 0, 1], complex(0.31622776, -0.31622776)),
    (16, [0, 1, 1, 1, 1], complex(-0.31622776, 0.31622776)),
    (64, [0, 1, 0, 1, 0, 0], complex(-0.15430336, 1.0801235)),
    (256, [0] * 8, complex(-1.1504475, -1.1504475)),
    (256, [1] * 8, complex(0.38348252, 0.38348252)),
])
def test_qam_mapper_examples(order, bits, want):
    got = t.QamMod(order, 8000, 0, 1).process(np.array(bits, np.uint8))
    assert_bits_equal(got, np.array([want], np.complex64))


@pytest.mark.parametrize("order", [16, 64, 256])
def test_qam_level_table_to_the_bit(order):
    nb = ref.QAM_BITS[order]
    half = nb // 2
    levels = np.array(ref.QAM_LEVELS[order], np.float32)
    idx = np.arange(1 << half)
    # I index i with Q index (L-1-i): every level on both axes.
    grp = lambda v: [(v >> s) & 1 for s in range(half - 1, -1, -1)]  # noqa: E731
    bits = np.array([b for i in idx for b in grp(i) + grp(len(idx) - 1 - i)], np.uint8)
    got = t.QamMod(order, 8000, 0, 1).process(bits)
    assert_bits_equal(got.real.copy(), levels)
    assert_bits_equal(got.imag.copy(), levels[::-1].copy())
    assert abs(np.mean(levels.astype(np.float64) ** 2) * 2 - 1) < 1e-6  # unit mean energy


def test_gain_zero_keeps_the_carrier_running():
    mod = t.BpskMod(48000, 1000, 1)
    bits = np.zeros(30, np.uint8)
    a = mod.process(bits[:10])
    mod.set_gain(0)
    b = mod.process(bits[10:20])
    assert not np.any(b.view(np.float32))
    assert mod.set_gain(1) is None
    c = mod.process(bits[20:])
    assert_bits_equal(np.concatenate([a, c]), np.delete(t.BpskMod(48000, 1000, 1).process(bits), range(10, 20)))


def test_set_gain_applies_to_later_calls(rng):
    bits = rng.integers(0, 2, 2000, dtype=np.uint8)
    mod = t.QamMod(16, 48000, 5000, 1.0)
    mod.process(bits[:1000])
    mod.set_gain(g=-0.25)
    got = mod.process(bits[1000:])
    r = ref.LinearMod(48000, 5000, 1.0)
    r.waveform(ref.qam_symbols(bits[:1000], 16))
    r.gain = f32(-0.25)
    assert_bits_equal(got, r.waveform(ref.qam_symbols(bits[1000:], 16)))


def test_zero_sample_rate_gives_nan_not_an_error():
    out = t.QpskMod(0.0, 1000.0, 1.0).process(np.zeros(4, np.uint8))
    assert out.shape == (2,) and np.all(np.isnan(out.view(np.float32)))


# ---------------------------------------------------------------- demodulators


def test_bpsk_demod_examples():
    iq = c64([0.5 + 9j, -0.5 - 9j, 0, 0])
    iq.view(np.float32)[6:] = -0.0
    np.testing.assert_array_equal(t.BpskDemod(1.0).process(iq), [0, 1, 0, 0])
    nan = c64([complex(np.nan, -1), -1 + 0j])
    np.testing.assert_array_equal(t.BpskDemod(1.0).process(nan), [0, 1])
    np.testing.assert_array_equal(t.BpskDemod(0.0).process(c64([-1, -np.inf + 0j])), [0, 0])


def test_qpsk_demod_examples():
    iq = c64([0.3 - 0.2j, -1 + 0j])
    np.testing.assert_array_equal(t.QpskDemod(1.0).process(iq), [0, 1, 1, 0])
    np.testing.assert_array_equal(t.QpskDemod(-1.0).process(iq), [1, 0, 0, 0])
    np.testing.assert_array_equal(t.QpskDemod(1.0).process(c64([complex(-1, np.nan)])), [1, 0])
    demod = t.QpskDemod(1.0)
    demod.set_gain(-2)
    np.testing.assert_array_equal(demod.process(iq), [1, 0, 0, 0])


@pytest.mark.parametrize("order,iq,want", [
    (16, complex(0.0, 0.6324555), [0, 1, 1, 1]),
    (16, -5 - 5j, [0, 0, 0, 0]),
    (16, 5 + 5j, [1, 0, 1, 0]),
    (16, complex(np.nan, 5), [0, 0, 1, 0]),
    (64, complex(-0.15430336, np.nan), [0, 1, 0, 0, 0, 0]),
    (256, complex(-1.1504475, -1.1504475), [0] * 8),
    (256, complex(np.inf, -np.inf), [1, 0, 0, 0, 0, 0, 0, 0]),
])
def test_qam_demod_examples(order, iq, want):
    np.testing.assert_array_equal(t.QamDemod(order, 1.0).process(c64([iq])), want)


@pytest.mark.parametrize("order,per_symbol", [
    (16, [0, 1, 0, 1]),
    (64, [0, 1, 0, 0, 1, 0]),
    (256, [0, 1, 0, 0, 0, 1, 0, 0]),
])
def test_qam_demod_gain_zero_falls_below_the_middle(order, per_symbol, rng):
    iq = (rng.normal(size=5) + 1j * rng.normal(size=5)).astype(np.complex64)
    np.testing.assert_array_equal(t.QamDemod(order, 0.0).process(iq), per_symbol * 5)


@pytest.mark.parametrize("order", [16, 64, 256])
def test_qam_thresholds_to_the_bit(order):
    # On a threshold a coordinate takes the lower level; one ulp above, the upper.
    th = np.array(ref.QAM_THRESHOLDS[order], np.float32)
    up = np.nextafter(th, np.float32(np.inf))
    iq = np.empty(2 * len(th), np.complex64)
    iq.real[0::2], iq.imag[0::2] = th, up
    iq.real[1::2], iq.imag[1::2] = up, th
    got = t.QamDemod(order, 1.0).process(iq)
    np.testing.assert_array_equal(got, ref.qam_demod(iq, order, 1.0))
    half = ref.QAM_BITS[order] // 2
    pos_lo = np.arange(len(th))
    gray = lambda p: (p ^ (p >> 1))  # noqa: E731
    first_axis = got.reshape(-1, half)[0::4]  # I of the even samples: exactly on th
    want = ((gray(pos_lo)[:, None] >> np.arange(half - 1, -1, -1)) & 1)
    np.testing.assert_array_equal(first_axis, want)


@pytest.mark.parametrize("name,make,per", DEMODS, ids=DEMOD_IDS)
def test_demod_matches_sign_and_threshold_rule(name, make, per, rng):
    n = 3001  # not a multiple of any vector width
    iq = (rng.normal(scale=0.8, size=n) + 1j * rng.normal(scale=0.8, size=n)).astype(np.complex64)
    iq[::97] = np.nan
    iq[5::101] = 0
    parts = iq.view(np.uint32)
    parts[7::89] = 0x80000000  # -0.0
    parts[8::83] = 0xFFC00001  # a NaN with the sign bit set
    parts[9::79] = 0xFF800000  # -inf
    gain = float(rng.uniform(-2, 2))
    got = make(gain).process(iq)
    assert got.dtype == np.uint8 and got.shape == (per * n,)
    y = iq.view(np.float32) * f32(gain)
    if name == "bpsk":
        want = (y[0::2] < 0).astype(np.uint8)
    elif name == "qpsk":
        want = (y < 0).astype(np.uint8)
    else:
        want = ref.qam_demod(iq, int(name[3:]), gain)
    np.testing.assert_array_equal(got, want)


# ---------------------------------------------------------------- round trips and noise


@pytest.mark.parametrize("mod_i,demod_i", [(i, i) for i in range(5)], ids=MOD_IDS)
def test_noise_free_round_trip(mod_i, demod_i, rng):
    _, make_mod, _, per = MODS[mod_i]
    _, make_demod, _ = DEMODS[demod_i]
    bits = rng.integers(0, 256, 4000 * per + per - 1, dtype=np.uint8)
    whole = bits[:len(bits) // per * per] & 1
    np.testing.assert_array_equal(make_demod(1.0).process(make_mod(8000, 0, 1).process(bits)), whole)
    # Through a carrier, removed again on the test side in double precision.
    fs, rf = 48000.0, 7100.0
    iq = make_mod(fs, rf, 1.0).process(bits)
    w = np.float64(f32(f32(rf) * ref.TWO_PI) / f32(fs))
    base = (iq * np.exp(-1j * w * np.arange(1, len(iq) + 1))).astype(np.complex64)
    np.testing.assert_array_equal(make_demod(1.0).process(base), whole)


def qfunc(x):
    return 0.5 * math.erfc(x / math.sqrt(2))


@pytest.mark.parametrize("ebn0_db", [4.0, 7.0])
def test_qpsk_bit_error_rate_in_noise(ebn0_db, rng):
    n = 300_000
    bits = rng.integers(0, 2, 2 * n, dtype=np.uint8)
    iq = t.QpskMod(8000, 0, 1).process(bits)  # Es = 1, two bits per symbol
    ebn0 = 10 ** (ebn0_db / 10)
    sigma = math.sqrt(1 / (2 * 2 * ebn0))
    noisy = (iq + sigma * (rng.normal(size=n) + 1j * rng.normal(size=n))).astype(np.complex64)
    errors = np.count_nonzero(t.QpskDemod(1.0).process(noisy) != bits)
    # I and Q see independent noise, so the error count is binomial: allow 5.5 sigma.
    p = qfunc(math.sqrt(2 * ebn0))
    mean, sd = 2 * n * p, math.sqrt(2 * n * p * (1 - p))
    assert abs(errors - mean) < 5.5 * sd, (errors, mean, sd)


@pytest.mark.parametrize("ebn0_db", [6.0, 9.0])
def test_qam16_bit_error_rate_in_noise(ebn0_db, rng):
    n = 250_000
    bits = rng.integers(0, 2, 4 * n, dtype=np.uint8)
    iq = t.QamMod(16, 8000, 0, 1).process(bits)
    ebn0 = 10 ** (ebn0_db / 10)
    sigma = math.sqrt(1 / (2 * 4 * ebn0))
    noisy = (iq + sigma * (rng.normal(size=n) + 1j * rng.normal(size=n))).astype(np.complex64)
    ber = np.mean(t.QamDemod(16, 1.0).process(noisy) != bits)
    # Gray 4-PAM per axis, half-spacing s = 1/sqrt(10): both bits averaged.
    a = (1 / math.sqrt(10)) / sigma
    theory = (3 * qfunc(a) + 2 * qfunc(3 * a) - qfunc(5 * a)) / 4
    assert abs(ber / theory - 1) < 0.12, (ber, theory)


# ---------------------------------------------------------------- kernel paths

PATHS_SCRIPT = """
import hashlib, numpy as np, tarsk_sdr as t
rng = np.random.default_rng(5)
bits = rng.integers(0, 256, 8 * 2100 + 7, dtype=np.uint8)
iq = (rng.normal(size=2099) + 1j * rng.normal(size=2099)).astype(np.complex64)
f = iq.view(np.float32)
f[::53], f[1::59], f[2::61] = np.nan, -0.0, np.inf
f[3::67] = 0.6324555  # on a 16-QAM threshold
h = hashlib.sha256()
for mod in (t.BpskMod(48000, 1234.5, 0.75), t.QpskMod(48000, -1234.5, 0.75), t.QamMod(16, 48000, 999, 1.5),
            t.QamMod(64, 48000, 999, 1.5), t.QamMod(256, 48000, 999, 1.5)):
    out = np.concatenate([mod.process(bits[:1000]), mod.process(bits[1000:])])
    h.update(np.where(np.isnan(out.view(np.float32)), np.float32(np.nan), out.view(np.float32)).tobytes())
for demod in (t.BpskDemod(-1.25), t.QpskDemod(0.5), t.QamDemod(16, 1.0), t.QamDemod(64, 0.9), t.QamDemod(256, 1.1)):
    h.update(demod.process(iq).tobytes())
print(h.hexdigest())
"""


def test_every_cpu_path_gives_the_same_bits():
    digests = set()
    for isa in ("baseline", "avx2", "avx512"):
        env = dict(os.environ, TARSK_ISA=isa, PYTHONPATH=os.pathsep.join(sys.path))
        run = subprocess.run([sys.executable, "-c", PATHS_SCRIPT], env=env, capture_output=True, text=True,
                             check=True)
        digests.add(run.stdout.strip())
    assert len(digests) == 1


# ---------------------------------------------------------------- Python surface


def test_docstrings_and_signatures():
    assert t.BpskMod.__doc__ == (
        "Combined BPSK mapper + waveform stage.\nInput: uint8 array of bits (LSB of each byte used).\n"
        "Output: complex64 IQ array (one symbol per input bit).")
    assert t.QpskMod.__doc__.endswith("consumed in pairs.\nOutput: complex64 IQ array (one symbol per two input bits).")
    assert t.QamMod.__doc__ == (
        "Combined QAM mapper + waveform stage.\n\n*order* must be 16, 64, or 256.\n"
        "Input: uint8 array of bits (LSB of each byte); consumed log2(order) bytes per symbol.\n"
        "Output: complex64 IQ array (one symbol per log2(order) input bits).")
    assert t.QpskDemod.__doc__ == (
        "Combined QPSK soft-demod + hard decider.\n"
        "Input: complex64 IQ array (carrier-removed baseband, 1 sample per symbol).\n"
        "Output: uint8 array of bits (0 or 1); two bits per input symbol,\n"
        "        interleaved as [b0_I, b0_Q, b1_I, b1_Q, \u2026].")
    assert t.BpskDemod.__doc__.endswith("Output: uint8 array of bits (0 or 1), one per input symbol.")
    assert t.QamDemod.__doc__.endswith("log2(order) bits per input symbol.")
    sigs = {t.BpskMod: "(fs, rf_hz, gain)", t.QpskMod: "(fs, rf_hz, gain)", t.QamMod: "(order, fs, rf_hz, gain)",
            t.BpskDemod: "(gain)", t.QpskDemod: "(gain)", t.QamDemod: "(order, gain)"}
    for cls, sig in sigs.items():
        assert cls.__text_signature__ == sig
        assert cls.__module__ == "builtins"
        assert cls.process.__text_signature__ == ("($self, bits)" if cls.__name__.endswith("Mod") else "($self, iq)")
        assert cls.set_gain.__text_signature__ == "($self, g)"
        assert not hasattr(cls, "reset")


@pytest.mark.parametrize("cls,name", [(t.QamMod, "QamMod"), (t.QamDemod, "QamDemod")])
def test_qam_order_conversion(cls, name):
    rest = (8000.0, 0.0, 1.0) if cls is t.QamMod else (1.0,)
    for bad in (32, 0, 1, 17, 2**32 - 1):
        with pytest.raises(ValueError, match=rf"^{name}: order must be 16, 64, or 256$"):
            cls(bad, *rest)
    for bad in (-16, -1, 2**32, 2**40):
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            cls(bad, *rest)
    with pytest.raises(OverflowError):
        cls(2**70, *rest)
    with pytest.raises(TypeError, match="^argument 'order': ") as e:
        cls(16.0, *rest)
    assert isinstance(e.value.__cause__, TypeError)
    cls(np.int64(64), *rest)  # __index__ is accepted
    # the order test runs after every argument converted
    with pytest.raises(TypeError, match="^argument 'gain': "):
        cls(32, *rest[:-1], "x")
    with pytest.raises(OverflowError):
        cls(-1, *rest[:-1], "x")


def test_constructor_arguments():
    t.BpskMod(fs=8000, rf_hz=0, gain=2)
    t.QamDemod(gain=1, order=256)
    with pytest.raises(TypeError, match=r"^QamMod.__new__\(\) missing 1 required positional argument: 'gain'$"):
        t.QamMod(16, 8000.0, 0.0)
    with pytest.raises(TypeError, match="^argument 'rf_hz': "):
        t.QpskMod(8000.0, None, 1.0)
    with pytest.raises(TypeError, match="^argument 'g': "):
        t.BpskDemod(1.0).set_gain("1")


# ---------------------------------------------------------------- array rules


def _mod_input(per, rng):
    return rng.integers(0, 2, 40 * per, dtype=np.uint8)


@pytest.mark.parametrize("name,make,mapper,per", MODS, ids=MOD_IDS)
def test_modulator_array_rules(name, make, mapper, per, rng):
    bits = _mod_input(per, rng)
    mod = make(48000.0, 1500.0, 1.0)
    bad_inputs = [bits.astype(np.int8), bits.astype(np.float32), bits.reshape(-1, per), [0, 1] * per, None]
    for bad in bad_inputs:
        with pytest.raises(TypeError, match="^argument 'bits': '.*' (object )?is not an instance of 'ndarray'$"):
            mod.process(bad)
    wide = np.repeat(bits, 2)
    before = sys.getrefcount(wide)
    with pytest.raises(TypeError, match="^The given array is not contiguous or is misaligned.$"):
        mod.process(wide[::2])
    assert sys.getrefcount(wide) == before
    empty = mod.process(np.zeros(0, np.uint8))
    assert empty.dtype == np.complex64 and empty.shape == (0,)
    assert mod.process(bits[:per - 1]).shape == (0,)
    assert mod.process(wide[:0:2]).shape == (0,)  # an empty view of any layout is fine
    # None of the above moved the carrier.
    before = sys.getrefcount(bits)
    got = mod.process(bits)
    assert sys.getrefcount(bits) == before
    assert_bits_equal(got, make(48000.0, 1500.0, 1.0).process(bits))
    assert got.flags.writeable and got.flags.c_contiguous and got.flags.owndata and got.ndim == 1
    snapshot = bits.copy()
    got[:] = 7
    np.testing.assert_array_equal(bits, snapshot)


@pytest.mark.parametrize("name,make,per", DEMODS, ids=DEMOD_IDS)
def test_demodulator_array_rules(name, make, per, rng):
    iq = (rng.normal(size=50) + 1j * rng.normal(size=50)).astype(np.complex64)
    demod = make(1.0)
    for bad in [iq.astype(np.complex128), iq.view(np.float32), iq.reshape(5, 10), iq.astype(">c8"), list(iq)]:
        with pytest.raises(TypeError, match="^argument 'iq': "):
            demod.process(bad)
    before = sys.getrefcount(iq)
    with pytest.raises(TypeError, match="^The given array is not contiguous or is misaligned.$"):
        demod.process(iq[::2])
    demod.process(iq)
    assert sys.getrefcount(iq) == before
    empty = demod.process(np.zeros(0, np.complex64))
    assert empty.dtype == np.uint8 and empty.shape == (0,)
    got = demod.process(iq[::2].copy())
    assert got.shape == (25 * per,) and got.flags.writeable and got.flags.owndata
    fortran = np.asfortranarray(iq)
    np.testing.assert_array_equal(demod.process(fortran), make(1.0).process(iq))
