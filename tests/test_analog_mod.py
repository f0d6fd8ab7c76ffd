"""Analog modulators: AmDsbMod, CwKeyedMod, SsbPhasingMod, FmPhaseAccumMod, PmDirectPhaseMod."""

import math

import numpy as np
import pytest

import tarsk_sdr as t
from ref import analog_ref as ref

f32 = np.float32
FS = 48000.0


def assert_bits_equal(got, want):
    assert got.dtype == want.dtype and got.shape == want.shape
    np.testing.assert_array_equal(got.view(np.uint32), want.view(np.uint32))


def tone_level(x, f, fs):
    """Amplitude of the complex or real tone at f hertz (least squares over whole periods)."""
    n = np.arange(len(x))
    e = np.exp(-2j * np.pi * f * n / fs)
    if np.iscomplexobj(x):
        return abs(np.dot(x.astype(np.complex128), e)) / len(x)
    return 2 * abs(np.dot(x.astype(np.float64), e)) / len(x)


# ---------------------------------------------------------------- bit exact, in pieces, with setters

# name, (library object, reference) factory, input maker, {piece index: [(setter, value)]}
def _audio(rng, n):
    x = rng.uniform(-1.5, 1.5, n).astype(np.float32)
    x[rng.integers(0, n, 40)] = rng.choice(np.array([0.0, -0.0, 1.0, -1.0, 2.5, -3.0], np.float32), 40)
    return x


def _keying(rng, n):
    x = np.repeat(rng.integers(0, 2, n // 97 + 1), 97)[:n].astype(np.float32)
    x[rng.integers(0, n, 200)] = rng.uniform(-0.5, 1.5, 200).astype(np.float32)
    return x


MODS = [
    ("am", lambda: (t.AmDsbMod(FS, 1234.5, 1.0, 0.7), ref.AmDsbMod(FS, 1234.5, 1.0, 0.7)), _audio,
     {1: [("set_gain", -0.75)], 2: [("set_clamp", True)], 4: [("set_gain", 2.5), ("set_clamp", False)]}),
    ("dsb", lambda: (t.AmDsbMod(8000, -3100, 0.0, 1.3), ref.AmDsbMod(8000, -3100, 0.0, 1.3)), _audio,
     {3: [("set_clamp", True)]}),
    ("cw", lambda: (t.CwKeyedMod(FS, 700, 4.0, 2.5), ref.CwKeyedMod(FS, 700, 4.0, 2.5)), _keying,
     {2: [("set_gain", 0.4)], 5: [("set_gain", -3.0)]}),
    ("usb", lambda: (t.SsbPhasingMod(FS, 1500, 1700, 3000, True), ref.SsbPhasingMod(FS, 1500, 1700, 3000, True)),
     _audio, {}),
    ("lsb", lambda: (t.SsbPhasingMod(22050, 2000, 2100, -7000, False),
                     ref.SsbPhasingMod(22050, 2000, 2100, -7000, False)), _audio, {}),
    ("fm", lambda: (t.FmPhaseAccumMod(FS, 5000, 2000), ref.FmPhaseAccumMod(FS, 5000, 2000)), _audio,
     {1: [("set_deviation", 12345.6)], 3: [("set_gain", 0.3)], 5: [("set_deviation", 0.0)]}),
    ("pm", lambda: (t.PmDirectPhaseMod(FS, 2.5, -3000), ref.PmDirectPhaseMod(FS, 2.5, -3000)), _audio,
     {2: [("set_sensitivity", 40.0)], 3: [("set_gain", 1.7)]}),
]
REF_FIELD = {"set_gain": "gain", "set_clamp": "clamp", "set_deviation": "deviation", "set_sensitivity": "kp"}
CUTS = [0, 1, 1, 700, 1023, 1024, 1025, 2047, 2600]  # empty calls and the renormalisations included


@pytest.mark.parametrize("name,make,signal,setters", MODS, ids=[m[0] for m in MODS])
def test_matches_reference_in_pieces_with_setters(name, make, signal, setters, rng):
    x = signal(rng, CUTS[-1])
    obj, model = make()
    got, want = [], []
    for i, (a, b) in enumerate(zip(CUTS, CUTS[1:])):
        for setter, value in setters.get(i, []):
            assert getattr(obj, setter)(value) is None
            setattr(model, REF_FIELD[setter], value if isinstance(value, bool) else f32(value))
        got.append(obj.process(x[a:b]))
        want.append(model.process(x[a:b]))
    assert_bits_equal(np.concatenate(got), np.concatenate(want))
    if not setters:  # and in one piece the same as in many
        assert_bits_equal(make()[0].process(x), np.concatenate(got))


# ---------------------------------------------------------------- edge cases


def carrier_step(f, fs):
    s, c = ref.sincosf((f32(f) * ref.TWO_PI) / f32(fs))
    return complex(c, s)


def test_am_examples_and_clamp():
    m = t.AmDsbMod(48000.0, 0.0, 1.0, 0.5)
    np.testing.assert_array_equal(m.process(np.array([0.5, -4], np.float32)), [1.25, -1])  # no rectification
    m.set_clamp(True)
    np.testing.assert_array_equal(m.process(np.array([4, -8, 0.5], np.float32)), [1, -1, 1])
    out = m.process(np.array([np.nan, 0.0], np.float32))
    assert np.isnan(out[0].real) and out[1] == 1  # NaN passes the limit and leaves no trace


def test_am_first_sample_is_already_turned_and_zeros_keep_the_carrier_running():
    m = t.AmDsbMod(8000, 1000, 0.0, 1.0)
    silent = m.process(np.zeros(5, np.float32))
    assert np.all(silent == 0)
    first = t.AmDsbMod(8000, 1000, 0.0, 1.0).process(np.ones(1, np.float32))[0]
    assert first == np.complex64(carrier_step(1000, 8000))
    later = m.process(np.ones(1, np.float32))[0]
    assert abs(later - np.exp(1j * np.pi / 4 * 6)) < 1e-6  # the sixth advance, not the first


def test_cw_rise_and_fall_follow_their_poles():
    fs, rise_ms, fall_ms = 8000.0, 2.0, 5.0
    m = t.CwKeyedMod(fs, 0.0, rise_ms, fall_ms)
    up = m.process(np.full(400, 1.0, np.float32))
    down = m.process(np.zeros(400, np.float32))
    assert np.all(up.imag == 0)
    a_rise, a_fall = math.exp(-1 / (rise_ms * 1e-3 * fs)), math.exp(-1 / (fall_ms * 1e-3 * fs))
    n = np.arange(1, 401)
    np.testing.assert_allclose(up.real, 1 - a_rise**n, atol=2e-6)
    np.testing.assert_allclose(down.real, up.real[-1] * a_fall**n, atol=2e-6)
    tau = int(rise_ms * 1e-3 * fs)
    assert abs(up.real[tau - 1] - (1 - 1 / math.e)) < 1e-3  # one time constant


def test_cw_limits_and_floors():
    fs = 48000.0
    x = np.array([0.2, 7.0, 0.5, -3.0, 1.0, 0.0, -0.0] * 50, np.float32)
    clipped = np.clip(x, 0, 1)
    assert_bits_equal(t.CwKeyedMod(fs, 600, 3, 3).process(x), t.CwKeyedMod(fs, 600, 3, 3).process(clipped))
    floor = t.CwKeyedMod(fs, 600, 0.1, 0.1).process(x)
    for low in (0.0, -5.0, 0.05, float("nan")):
        assert_bits_equal(t.CwKeyedMod(fs, 600, low, low).process(x), floor)


def test_cw_zero_rate_keys_instantly_and_raises_nothing():
    out = t.CwKeyedMod(0.0, 0.0, 5.0, 5.0).process(np.array([0.5, 1.0], np.float32))
    assert out.shape == (2,) and np.all(np.isnan(out.view(np.float32)))  # the carrier step is NaN


def test_ssb_zero_input_and_sideband_conjugates():
    z = t.SsbPhasingMod(FS, 1500, 1700, 3000, True).process(np.zeros(300, np.float32))
    assert np.all(z == 0)
    x = np.sin(2 * np.pi * 900 * np.arange(3000) / FS).astype(np.float32)
    usb = t.SsbPhasingMod(FS, 1500, 1700, 0.0, True).process(x)
    lsb = t.SsbPhasingMod(FS, 1500, 1700, 0.0, False).process(x)
    np.testing.assert_array_equal(lsb, np.conj(usb))  # equal values; a zero may differ in sign


@pytest.mark.parametrize("usb", [True, False])
def test_ssb_tone_lands_on_its_sideband(usb):
    fs, bw, f_if, rf, f = 48000.0, 1500.0, 1700.0, 3000.0, 1500.0
    n = 48000
    x = np.cos(2 * np.pi * f * np.arange(n) / fs).astype(np.float32)
    out = t.SsbPhasingMod(fs, bw, f_if, rf, usb).process(x)[4800:]
    want_f = rf + f_if - f if usb else rf - f_if + f
    mirror_f = rf - f_if + f if usb else rf + f_if - f
    level = tone_level(out, want_f, fs)
    assert abs(level - 0.5) < 0.02
    assert tone_level(out, mirror_f, fs) < level * 1e-3  # the other sideband: at least 60 dB down
    spectrum = np.abs(np.fft.fft(out * np.hanning(len(out))))
    assert abs(np.fft.fftfreq(len(out), 1 / fs)[np.argmax(spectrum)] - want_f) < 2


def test_fm_and_pm_rest_values():
    assert np.all(t.FmPhaseAccumMod(FS, 5000, 0).process(np.zeros(2100, np.float32)) == 1)
    pm = t.PmDirectPhaseMod(FS, 0.75, 0.0)
    pm.set_gain(2.0)
    s, c = ref.sincosf(f32(0.5) * f32(0.75))
    assert np.all(pm.process(np.full(10, 0.5, np.float32)) == np.complex64(complex(c * 2, s * 2)))


def test_fm_constant_input_turns_by_x_k_and_stays_near_unit_magnitude():
    fs, dev, x = 8000.0, 1000.0, 0.25
    out = t.FmPhaseAccumMod(fs, dev, 0.0).process(np.full(3000, x, np.float32))
    step = np.angle(out[1:] * np.conj(out[:-1]))
    np.testing.assert_allclose(step, 2 * np.pi * x * dev / fs, atol=2e-6)
    # A rounded (cos, sin) pair is not exactly of unit length, so the magnitude
    # drifts by up to about an ulp per update until the 1024th pulls it back.
    drift = np.abs(np.abs(out.astype(np.complex128)) - 1)
    assert np.max(drift) < 1024 * 2**-23
    assert np.max(drift[[1023, 2047]]) < 4 * 2**-23


def test_fm_zero_deviation_freezes_the_phase():
    m = t.FmPhaseAccumMod(FS, 3000, 0.0)
    last = m.process(np.full(100, 0.8, np.float32))[-1]
    m.set_deviation(0.0)
    m.set_gain(0.5)
    assert np.all(m.process(np.full(50, 0.8, np.float32)) == last * np.float32(0.5))
