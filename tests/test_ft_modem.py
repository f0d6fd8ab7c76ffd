"""FT8/FT4 tone modulators and demodulators on aligned frames: bit-exact
against the float32 model, round trips through the codec, and decoding in
white noise from LLRs of per-symbol tone powers."""

import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import tarsk_sdr as t
from ref import ft_ref as ref

MODES = {
    "ft8": (ref.FT8, t.Ft8Mod, t.Ft8Demod, t.Ft8Codec),
    "ft4": (ref.FT4, t.Ft4Mod, t.Ft4Demod, t.Ft4Codec),
}
FS = 12000.0


@pytest.fixture(params=sorted(MODES))
def mode(request):
    return MODES[request.param]


def random_payload(rng):
    p = bytearray(rng.integers(0, 256, 10, dtype=np.uint8).tobytes())
    p[9] &= 0xF8
    return bytes(p)


def bits_of(x):
    return np.ascontiguousarray(x).view(np.uint32)


# ---------------------------------------------------------------- modulator


@pytest.mark.parametrize("rf_hz", [0.0, 37.5])
def test_modulator_matches_model(mode, rf_hz, rng):
    m, mod, _, codec = mode
    tones = codec.encode(random_payload(rng))
    tones[:3] = [m.bits * 3, 255, 0]  # unmasked: values past the last tone just go higher
    n = 2200  # two renormalisations and a symbol boundary or more
    got = mod(FS, 1000.0, rf_hz, 0.7).modulate(tones)
    np.testing.assert_array_equal(bits_of(got[:n]), bits_of(ref.modulate(m, tones, FS, 1000.0, rf_hz, 0.7, n)))


def test_frame_length_magnitude_and_repeatability(mode, rng):
    m, mod, _, codec = mode
    tones = codec.encode(random_payload(rng))
    x = mod(FS, 1500.0, -220.0, 0.5).modulate(tones)
    assert x.dtype == np.complex64 and x.shape == (m.frame,) and x.flags.owndata and x.flags.writeable
    # Rounding drifts the phasor by about an ulp per sample until the next renormalisation.
    np.testing.assert_allclose(np.abs(x.astype(np.complex128)), 0.5, rtol=1024 * 2**-24)
    np.testing.assert_array_equal(bits_of(x), bits_of(mod(FS, 1500.0, -220.0, 0.5).modulate(tones)))


def test_first_symbol_frequency():
    for mod, tones, want_hz in ((t.Ft8Mod, np.zeros(58, np.uint8), 1018.75), (t.Ft4Mod, np.zeros(87, np.uint8), 1000.0)):
        x = mod(FS, 1000.0, 0.0, 1.0).modulate(tones)[:500].astype(np.complex128)
        step = np.angle(np.sum(x[1:] * np.conj(x[:-1])))
        assert step * FS / (2 * np.pi) == pytest.approx(want_hz, abs=1e-3)


def test_still_phasor_between_costas_blocks():
    """Tone 0 at 0 Hz does not turn: each data sample repeats the one before, except
    where the phasor is renormalised (after every 1024th sample)."""
    x = t.Ft8Mod(FS, 0.0, 0.0, 1.0).modulate(np.zeros(58, np.uint8))
    for first, last in ((7, 36), (43, 72)):
        k = np.arange(first * 1920, last * 1920)
        same = x[k] == x[k - 1]
        assert same[k % 1024 != 0].all() and not same[k % 1024 == 0].all()
        np.testing.assert_allclose(x[k], x[first * 1920 - 1], rtol=1e-4)


def test_modulator_errors(mode):
    m, mod, _, _ = mode
    name = mod.__name__
    for n in (m.n_data - 1, m.n_data + 1):
        with pytest.raises(ValueError, match=rf"^{name}\.modulate: expected {m.n_data} tone indices, got {n}$"):
            mod(FS, 1000.0, 0.0, 1.0).modulate(np.zeros(n, np.uint8))
    with pytest.raises(TypeError, match="^argument 'tones': "):
        mod(FS, 1000.0, 0.0, 1.0).modulate(np.zeros(m.n_data, np.float32))
    assert mod.__text_signature__ == "(fs, base_hz, rf_hz, gain)"
    assert not np.isfinite(mod(0.0, 1000.0, 0.0, 1.0).modulate(np.zeros(m.n_data, np.uint8))[5])


# ---------------------------------------------------------------- demodulator


def test_demodulator_matches_model(mode, rng):
    m, mod, demod, codec = mode
    x = mod(FS, 1000.0, 0.0, 1.0).modulate(codec.encode(random_payload(rng)))
    noise = rng.normal(scale=2.0, size=(m.frame, 2)).astype(np.float32).view(np.complex64)[:, 0]
    y = x + noise
    np.testing.assert_array_equal(demod(FS, 1000.0).demodulate(y), ref.demodulate(m, y, FS, 1000.0))


def test_ties_and_nan_pick_the_lowest_tone(mode):
    m, _, demod, _ = mode
    d = demod(FS, 1000.0)
    np.testing.assert_array_equal(d.demodulate(np.zeros(m.frame, np.complex64)), np.zeros(m.n_data, np.uint8))
    np.testing.assert_array_equal(d.demodulate(np.full(m.frame, np.nan, np.complex64)), np.zeros(m.n_data, np.uint8))


def test_demodulator_length_rules(mode, rng):
    m, mod, demod, codec = mode
    name = demod.__name__
    with pytest.raises(ValueError, match=rf"^{name}\.demodulate: input too short \({m.frame - 1} < {m.frame}\)$"):
        demod(FS, 1000.0).demodulate(np.zeros(m.frame - 1, np.complex64))
    tones = codec.encode(random_payload(rng))
    x = mod(FS, 1000.0, 0.0, 1.0).modulate(tones)
    longer = np.concatenate([x, rng.normal(size=50000).astype(np.complex64)])
    np.testing.assert_array_equal(demod(FS, 1000.0).demodulate(longer), tones)


# ---------------------------------------------------------------- aligned round trips


@pytest.mark.parametrize("base_hz, rf_hz", [(1000.0, 0.0), (600.0, 412.5), (1500.0, -300.0)])
def test_aligned_frame_round_trip(mode, base_hz, rf_hz, rng):
    m, mod, demod, codec = mode
    payload = t.ft8_pack_standard("CQ", "X1ABC", "FN42")
    tones = codec.encode(payload)
    x = mod(FS, base_hz, rf_hz, 0.25).modulate(tones)
    got = demod(FS, base_hz + rf_hz).demodulate(x)
    np.testing.assert_array_equal(got, tones)
    assert t.ft8_unpack(codec.decode_hard(got)) == {
        "type": "standard", "call_to": "CQ", "call_de": "X1ABC", "extra": "FN42"}


# ---------------------------------------------------------------- white noise


def tone_powers(m, iq, base_hz):
    n = np.arange(m.sps)
    phasors = np.exp(-2j * np.pi * np.outer(n, base_hz + m.offsets.astype(np.float64)) / FS)
    return np.abs(iq[: m.frame].reshape(m.symbols, m.sps) @ phasors) ** 2


# (mode, SNR in 2500 Hz, least decode rate): the first point is comfortably above the
# decoder's threshold, the second close to it; hard decisions decode neither.
NOISE_POINTS = [("ft8", -16.0, 0.9), ("ft8", -19.0, 0.5), ("ft4", -12.0, 0.9), ("ft4", -14.5, 0.4)]


@pytest.mark.parametrize("name, snr_db, least", NOISE_POINTS)
def test_soft_decoding_in_white_noise(name, snr_db, least, rng, record_property):
    m, mod, _, codec = MODES[name]
    noise_power = 1.0 / (10 ** (snr_db / 10) * 2500.0 / FS)  # signal power 1, noise spread over FS
    trials, decoded = 16, 0
    for _ in range(trials):
        payload = random_payload(rng)
        x = mod(FS, 1000.0, 0.0, 1.0).modulate(codec.encode(payload))
        y = x + np.sqrt(noise_power / 2) * (rng.normal(size=m.frame) + 1j * rng.normal(size=m.frame))
        got = codec.decode_soft(ref.max_log_llrs(m, tone_powers(m, y, 1000.0)))
        assert got in (None, payload)
        decoded += got == payload
    rate = decoded / trials
    record_property("decode_rate", rate)
    print(f"{name} at {snr_db:+.1f} dB in 2500 Hz: {decoded}/{trials} decoded")
    assert rate >= least


# ---------------------------------------------------------------- every kernel target

_DIGEST = textwrap.dedent("""
    import hashlib, numpy as np, tarsk_sdr as t
    h = hashlib.sha256()
    rng = np.random.default_rng(7)
    for mod, demod, codec in ((t.Ft8Mod, t.Ft8Demod, t.Ft8Codec), (t.Ft4Mod, t.Ft4Demod, t.Ft4Codec)):
        tones = codec.encode(bytes(range(10)))
        for rf in (0.0, 123.4):
            x = mod(12000.0, 987.6, rf, 0.8).modulate(tones)
            h.update(x.tobytes())
        y = (x + rng.normal(scale=3.0, size=x.size)).astype(np.complex64)
        h.update(demod(12000.0, 1111.0).demodulate(y).tobytes())
        cw = np.where(rng.integers(0, 2, 174) == 0, 1.0, -1.0)
        for k in range(300):
            llr = (cw * 3 + rng.normal(scale=3.0 + k / 100, size=174)).astype(np.float32)
            h.update(repr(codec.decode_soft(llr)).encode())
    print(h.hexdigest())
""")


def test_every_kernel_target_gives_the_same_bits():
    digests = {}
    for isa in ("baseline", "avx2", "avx512"):
        env = dict(os.environ, TARSK_ISA=isa, PYTHONPATH=os.pathsep.join(sys.path))
        out = subprocess.run([sys.executable, "-c", _DIGEST], env=env, capture_output=True, text=True, check=True)
        digests[isa] = out.stdout.strip()
    assert len(set(digests.values())) == 1, digests
