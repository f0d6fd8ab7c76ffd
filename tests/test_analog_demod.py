"""Analog demodulators: CwEnvelopeDemod, AmEnvelopeDemod, SsbProductDemod,
FmQuadratureDemod, PmQuadratureDemod; modulator-to-demodulator round trips."""

import math
import os
import subprocess
import sys

import numpy as np
import pytest

import tarsk_sdr as t
from ref import analog_ref as ref

f32 = np.float32
FS = 48000.0
HERE = os.path.dirname(os.path.abspath(__file__))


def assert_bits_equal(got, want):
    assert got.dtype == want.dtype and got.shape == want.shape
    np.testing.assert_array_equal(got.view(np.uint32), want.view(np.uint32))


def tone_level(x, f, fs):
    n = np.arange(len(x))
    return 2 * abs(np.dot(x.astype(np.float64), np.exp(-2j * np.pi * f * n / fs))) / len(x)


def received(rng, n):
    """An FM/AM mixture with noise, plus the samples that meet the discriminator's
    edges: zeros, signed zeros, |I| = |Q| and negative I."""
    k = np.arange(n)
    x = 0.8 * (1 + 0.5 * np.sin(0.003 * k)) * np.exp(1j * (0.05 * k + 2 * np.sin(0.01 * k)))
    x = (x + 0.05 * (rng.normal(size=n) + 1j * rng.normal(size=n))).astype(np.complex64)
    special = np.array([0, complex(-0.0, 0.0), complex(0.0, -0.0), 1 + 1j, -1 - 1j, 0.5 - 0.5j, -2 + 0j, 1j],
                       np.complex64)
    x[rng.integers(0, n, 64)] = rng.choice(special, 64)
    return x


DEMODS = [
    ("am", lambda: (t.AmEnvelopeDemod(FS, 3000.0), ref.AmEnvelopeDemod(FS, 3000.0))),
    ("am_approx", lambda: (t.AmEnvelopeDemod(FS, 3000.0, abs_approx=True), ref.AmEnvelopeDemod(FS, 3000.0, True))),
    ("cw", lambda: (t.CwEnvelopeDemod(FS, 700, 50.0), ref.CwEnvelopeDemod(FS, 700, 50.0))),
    ("ssb", lambda: (t.SsbProductDemod(FS, -1234.5, 2500.0), ref.SsbProductDemod(FS, -1234.5, 2500.0))),
    ("fm", lambda: (t.FmQuadratureDemod(FS, 2000.0, 3000.0), ref.FmQuadratureDemod(FS, 2000.0, 3000.0))),
    ("pm", lambda: (t.PmQuadratureDemod(22050, -1.7, 4000.0), ref.PmQuadratureDemod(22050, -1.7, 4000.0))),
]
CUTS = [0, 1, 1, 255, 256, 257, 700, 1024, 1025, 2600]  # empty calls, block and renormalisation edges


@pytest.mark.parametrize("name,make", DEMODS, ids=[d[0] for d in DEMODS])
def test_matches_reference_in_pieces(name, make, rng):
    x = received(rng, CUTS[-1])
    obj, model = make()
    got, want = [], []
    for i, (a, b) in enumerate(zip(CUTS, CUTS[1:])):
        if name == "cw" and i in (3, 6):
            obj.set_gain(2.5 if i == 3 else -0.5)
            model.gain = f32(2.5 if i == 3 else -0.5)
        got.append(obj.process(x[a:b]))
        want.append(model.process(x[a:b]))
    assert_bits_equal(np.concatenate(got), np.concatenate(want))
    if name != "cw":
        assert_bits_equal(make()[0].process(x), np.concatenate(got))


PATHS_SCRIPT = r"""
import hashlib, numpy as np, tarsk_sdr as t
rng = np.random.default_rng(7)
a = rng.uniform(-1.5, 1.5, 3000).astype(np.float32)
iq = (rng.normal(size=3000) + 1j * rng.normal(size=3000)).astype(np.complex64)
objs = [(t.AmDsbMod(48000, 1000, 1, 0.7), a), (t.CwKeyedMod(48000, 700, 5, 5), a),
        (t.SsbPhasingMod(48000, 1500, 1700, 3000, True), a), (t.FmPhaseAccumMod(48000, 5000, 2000), a),
        (t.PmDirectPhaseMod(48000, 2.5, 1000), a), (t.AmEnvelopeDemod(48000, 3000), iq),
        (t.AmEnvelopeDemod(48000, 3000, True), iq), (t.CwEnvelopeDemod(48000, 700, 50), iq),
        (t.SsbProductDemod(48000, 1000, 2500), iq), (t.FmQuadratureDemod(48000, 2000, 3000), iq),
        (t.PmQuadratureDemod(48000, 1.7, 3000), iq)]
h = hashlib.sha256()
for obj, x in objs:
    h.update(np.concatenate([obj.process(x[:999]), obj.process(x[999:])]).tobytes())
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


# ---------------------------------------------------------------- edge cases


def first_outputs(demod, samples):
    return demod.process(np.array(samples, np.complex64))


def b0_of(bw, fs):
    return ref.Lowpass(bw, fs).b0


def test_am_first_outputs_and_envelope_weights():
    b0 = b0_of(3000.0, FS)
    a = f32(1.5)
    approx = first_outputs(t.AmEnvelopeDemod(FS, 3000.0, True), [1.5])[0]
    assert approx == (f32(f32(0.9482) * a) * b0) * b0
    exact = first_outputs(t.AmEnvelopeDemod(FS, 3000.0), [1.5])[0]
    assert exact == np.sqrt((f32(a * a) * b0) * b0)
    one = [first_outputs(t.AmEnvelopeDemod(FS, 3000.0, True), [v])[0] for v in (1 + 1j, 1 - 1j, -1 + 0j, 1j)]
    assert one[0] == one[1] == (f32(1.3402) * b0) * b0  # no ordering of |I| and |Q| by size
    assert one[2] == (f32(0.9482) * b0) * b0 and one[3] == (f32(0.392) * b0) * b0
    assert np.all(t.AmEnvelopeDemod(FS, 3000.0).process(np.zeros(500, np.complex64)) == 0)


def test_am_carrier_that_stops_abruptly_leaves_no_nan():
    d = t.AmEnvelopeDemod(FS, 3000.0)
    strong = d.process(np.full(4800, 100.0, np.complex64))
    silence = d.process(np.zeros(4800, np.complex64))
    n = np.arange(24000)
    am = (1 + 0.5 * np.sin(2 * np.pi * 400 * n / FS)).astype(np.complex64)
    after = d.process(am)
    assert not np.isnan(strong).any() and not np.isnan(silence).any() and not np.isnan(after).any()
    assert abs(tone_level(after[12000:], 400, FS) - 0.5) < 0.01  # still demodulating
    r = ref.AmEnvelopeDemod(FS, 3000.0)  # the low-pass really did undershoot below zero
    r.process(np.full(4800, 100.0, np.complex64))
    powers = []
    for _ in range(200):
        r.process(np.zeros(1, np.complex64))
        powers.append(r.lp.state[1][0])
    assert min(powers) < 0


def test_cw_envelope_from_rest_floors_and_gain():
    fs, bw = 8000.0, 50.0
    a = math.exp(-2 * math.pi * bw / fs)
    d = t.CwEnvelopeDemod(fs, 700, bw)
    out = d.process(np.full(400, 0.6 - 0.8j, np.complex64))
    np.testing.assert_allclose(out, 1 - a ** np.arange(1, 401), atol=2e-6)
    tau = round(fs / (2 * math.pi * bw))
    assert abs(out[tau - 1] - (1 - 1 / math.e)) < 0.01  # its time constant, by design
    d.set_gain(2.0)
    more = d.process(np.full(10, 0.6 - 0.8j, np.complex64))
    twin = t.CwEnvelopeDemod(fs, 700, bw)
    twin.process(np.full(400, 0.6 - 0.8j, np.complex64))
    assert_bits_equal(more, twin.process(np.full(10, 0.6 - 0.8j, np.complex64)) * f32(2))  # no transient
    x = received(np.random.default_rng(3), 500)
    floor = t.CwEnvelopeDemod(fs, 0, 1.0).process(x)
    for low, tone in ((0.0, 0), (0.5, 1234), (float("nan"), -9), (-3.0, 700)):
        assert_bits_equal(t.CwEnvelopeDemod(fs, tone, low).process(x), floor)


def test_cw_zero_rate_follows_the_magnitude():
    x = received(np.random.default_rng(4), 300)
    re, im = x.real, x.imag
    assert_bits_equal(t.CwEnvelopeDemod(0.0, 0, 50.0).process(x), np.sqrt(re * re + im * im))


def test_ssb_examples():
    b0 = b0_of(2500.0, FS)
    out = t.SsbProductDemod(FS, 0.0, 2500.0).process(np.ones(20000, np.complex64))
    assert out[0] == (b0 * b0) and abs(out[-1]) < 0.01  # the blocker removes the settled level
    assert np.all(t.SsbProductDemod(FS, 1000, 2500.0).process(np.zeros(100, np.complex64)) == 0)
    n = np.arange(24000)
    for f in (1500.0 + 1000, 1500.0 - 1000):
        x = np.exp(2j * np.pi * f * n / FS).astype(np.complex64)
        y = t.SsbProductDemod(FS, 1500.0, 2500.0).process(x)[4800:]
        assert abs(tone_level(y, 1000, FS) - 1) < 0.05


def test_quadrature_first_samples_and_the_polynomial_jump():
    b0 = b0_of(3000.0, FS)
    for sample, angle in ((1j, ref.HALF_PI), (-1j, -ref.HALF_PI), (-1 + 0j, ref.PI), (complex(-1, -0.0), ref.PI)):
        assert first_outputs(t.PmQuadratureDemod(FS, 1.0, 3000.0), [sample])[0] == (angle * b0) * b0
    assert np.all(t.FmQuadratureDemod(FS, 2000.0, 3000.0).process(np.ones(500, np.complex64)) == 0)
    tie = first_outputs(t.PmQuadratureDemod(FS, 1.0, 3000.0), [1 + 1j])[0] / (b0 * b0)
    past = first_outputs(t.PmQuadratureDemod(FS, 1.0, 3000.0), [complex(1, 1.001)])[0] / (b0 * b0)
    assert abs(tie - 0.6069) < 1e-3 and abs(past - (math.pi / 2 - 0.607)) < 2e-3  # not pi/4 either side


@pytest.mark.parametrize("theta", [0.1, -0.1])
def test_quadrature_settled_value_is_the_polynomial(theta):
    x = np.exp(1j * theta * np.arange(6000)).astype(np.complex64)
    u = math.tan(abs(theta))
    p = math.copysign(u * (math.pi / 4 + u * u * (-0.2447 + u * u * 0.0663)), theta)  # about 0.07856
    assert abs(p) == pytest.approx(0.07856, abs=1e-5)
    assert t.FmQuadratureDemod(FS, 2000.0, 3000.0).process(x)[-1] == pytest.approx(p / 2000, rel=1e-5)
    assert t.PmQuadratureDemod(FS, 3.0, 3000.0).process(x)[-1] == pytest.approx(3 * p, rel=1e-5)


def test_quadrature_scales():
    x = received(np.random.default_rng(5), 1000)
    unit = t.FmQuadratureDemod(FS, 1.0, 3000.0).process(x)
    for dev in (0.5, 0.0, -7.0, float("nan")):
        assert_bits_equal(t.FmQuadratureDemod(FS, dev, 3000.0).process(x), unit)
    assert_bits_equal(t.PmQuadratureDemod(FS, 1.0, 3000.0).process(x), unit)
    assert_bits_equal(t.FmQuadratureDemod(FS, 2000.0, 3000.0).process(x),
                      t.PmQuadratureDemod(FS, 1 / f32(2000.0), 3000.0).process(x))
    assert np.all(t.PmQuadratureDemod(FS, 0.0, 3000.0).process(x) == 0)


def test_zero_sample_rate_raises_nothing():
    x = received(np.random.default_rng(6), 50)
    a = np.ones(50, np.float32)
    for obj, inp in ((t.AmEnvelopeDemod(0, 3000.0), x), (t.SsbProductDemod(0, 0, 3000.0), x),
                     (t.FmQuadratureDemod(0, 1, 3000.0), x), (t.PmQuadratureDemod(0, 1, 3000.0), x),
                     (t.AmDsbMod(0, 1000, 1, 1), a), (t.SsbPhasingMod(0, 1, 1, 1, True), a),
                     (t.FmPhaseAccumMod(0, 1, 1), a), (t.PmDirectPhaseMod(0, 1, 1), a)):
        out = obj.process(inp)
        assert out.shape == (50,) and not np.isfinite(out.view(np.float32)).all()


# ---------------------------------------------------------------- the Python surface


ALL = [
    lambda: t.AmDsbMod(FS, 1000, 1, 0.5), lambda: t.CwKeyedMod(FS, 700, 5, 5),
    lambda: t.SsbPhasingMod(FS, 1500, 1700, 3000, True), lambda: t.FmPhaseAccumMod(FS, 5000, 1000),
    lambda: t.PmDirectPhaseMod(FS, 2, 1000), lambda: t.AmEnvelopeDemod(FS, 3000),
    lambda: t.CwEnvelopeDemod(FS, 700, 50), lambda: t.SsbProductDemod(FS, 1000, 2500),
    lambda: t.FmQuadratureDemod(FS, 2000, 3000), lambda: t.PmQuadratureDemod(FS, 1, 3000),
]


@pytest.mark.parametrize("make", ALL, ids=lambda m: type(m()).__name__)
def test_refused_input_and_empty_input_leave_the_state_alone(make, rng):
    obj = make()
    kind = np.complex64 if "Demod" in type(obj).__name__ else np.float32
    out_kind = np.float32 if kind is np.complex64 else np.complex64
    x = (rng.normal(size=600) * (1 + 1j if kind is np.complex64 else 1)).astype(kind)
    bad = [np.zeros(600, np.float64), x.reshape(-1, 1), x[::2], list(x[:3]), None]
    for b in bad:
        with pytest.raises(TypeError):
            obj.process(b)
    empty = obj.process(np.zeros(0, kind))
    assert empty.dtype == out_kind and empty.shape == (0,)
    got = obj.process(x)
    assert_bits_equal(got, make().process(x))
    assert got.flags.writeable and got.flags.owndata and got.flags.c_contiguous
    got[:] = 0
    assert np.any(x != 0)


def test_signatures_and_docstrings():
    assert t.SsbProductDemod.__text_signature__ == "(fs, bfo_hz, audio_bw_hz)"
    assert t.AmDsbMod.__text_signature__ == "(fs, rf_hz, carrier_level, modulation_index)"
    assert t.AmDsbMod.__doc__ == ""
    assert t.CwKeyedMod.process.__text_signature__ == "($self, audio)"
    assert t.CwKeyedMod.process.__doc__ == "Input: keying envelope 0..1 as float32 array."
    assert t.FmPhaseAccumMod.set_deviation.__text_signature__ == "($self, hz)"
    assert t.PmDirectPhaseMod.set_sensitivity.__text_signature__ == "($self, kp)"
    assert t.AmEnvelopeDemod.__text_signature__ == "(fs, audio_bw_hz, abs_approx=False)"
    with pytest.raises(TypeError, match="^argument 'abs_approx': "):
        t.AmEnvelopeDemod(48000.0, 3000.0, 1)
    with pytest.raises(TypeError, match="^argument 'usb': "):
        t.SsbPhasingMod(48000.0, 1500, 1700, 0, 1)
    with pytest.raises(TypeError, match=r"^AmDsbMod.__new__\(\) missing 1 required positional argument: "
                                        r"'modulation_index'$"):
        t.AmDsbMod(48000.0, 0.0, 1.0)
    t.AmEnvelopeDemod(fs=48000, audio_bw_hz=3000, abs_approx=np.True_)


# ---------------------------------------------------------------- round trips


def test_am_modulation_depth_comes_back():
    n = np.arange(48000)
    audio = np.sin(2 * np.pi * 400 * n / FS).astype(np.float32)
    iq = t.AmDsbMod(FS, 0.0, 1.0, 0.6).process(audio)
    exact = t.AmEnvelopeDemod(FS, 3000.0).process(iq)[24000:]
    approx = t.AmEnvelopeDemod(FS, 3000.0, True).process(iq)[24000:]
    assert abs(tone_level(exact, 400, FS) - 0.6) < 0.006
    assert abs(tone_level(approx, 400, FS) - 0.6 * 0.9482) < 0.006  # a real carrier: |I| weighted only


def test_fm_round_trip_scale():
    fs, dev, f, amp = 48000.0, 3000.0, 400.0, 0.8
    n = np.arange(48000)
    audio = (amp * np.sin(2 * np.pi * f * n / fs)).astype(np.float32)
    y = t.FmQuadratureDemod(fs, dev, 4000.0).process(t.FmPhaseAccumMod(fs, dev, 0.0).process(audio))[4800:]
    # Radians per sample over the deviation; small steps come out pi/4 of their size.
    want = (math.pi / 4) * (2 * math.pi * amp * dev / fs) / dev
    assert abs(tone_level(y, f, fs) / want - 1) < 0.01


def test_pm_round_trip_scale_is_not_integrated():
    fs, kp, k, f, amp = 48000.0, 1.5, 2.0, 300.0, 0.5
    n = np.arange(48000)
    audio = (amp * np.sin(2 * np.pi * f * n / fs)).astype(np.float32)
    y = t.PmQuadratureDemod(fs, k, 4000.0).process(t.PmDirectPhaseMod(fs, kp, 0.0).process(audio))[4800:]
    want = k * (math.pi / 4) * kp * amp * 2 * math.pi * f / fs  # the phase's step, not the phase
    assert abs(tone_level(y, f, fs) / want - 1) < 0.01


def test_keyed_cw_comes_back_with_its_keying(rng):
    fs, sps = 8000.0, 400  # 50 ms elements
    keys = np.concatenate([[1, 0, 1, 1, 0], rng.integers(0, 2, 40)]).astype(np.float32)
    iq = t.CwKeyedMod(fs, 700.0, 4.0, 4.0).process(np.repeat(keys, sps))
    env = t.CwEnvelopeDemod(fs, 700.0, 100.0).process(iq)
    got = (env[sps // 2::sps] > 0.5).astype(np.float32)  # mid-element decisions
    np.testing.assert_array_equal(got, keys)
    assert abs(np.max(env) - 1) < 1e-3
