"""PSK31: Bpsk31Mod, Qpsk31Mod, Bpsk31Demod, Qpsk31Demod."""

import difflib
import math
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import tarsk_sdr as t
from ref import psk31_ref as ref

u8 = np.uint8


def assert_bits_equal(got, want):
    assert got.dtype == want.dtype and got.shape == want.shape
    np.testing.assert_array_equal(got.view(np.uint32 if got.dtype != u8 else u8),
                                  want.view(np.uint32 if want.dtype != u8 else u8))


def noisy(iq, sigma, rng):
    n = (rng.normal(0, sigma, iq.size) + 1j * rng.normal(0, sigma, iq.size)).astype(np.complex64)
    return (iq + n).astype(np.complex64)


def chunks(x, rng, n_cuts):
    """x cut at random points, with empty and one-sample pieces among them."""
    cuts = np.sort(np.concatenate([rng.integers(0, x.size + 1, n_cuts), [0, 0, 1, x.size, x.size]]))
    return [x[a:b] for a, b in zip(cuts[:-1], cuts[1:])]


def sigma_for(ebn0_db, sps):
    """Noise per component for a unit-amplitude symbol at this Eb/N0 after the matched integrator,
    whose weights (the ramp) carry about 0.375 sps of energy."""
    return math.sqrt(0.375 * sps / (2 * 10 ** (ebn0_db / 10)))


def text_back(soft):
    dec = t.VaricodeDecoder()
    dec.push_bits((soft > 0).astype(u8))
    return dec.pop_bytes()


MODS = [("bpsk", t.Bpsk31Mod, ref.Bpsk31Mod), ("qpsk", t.Qpsk31Mod, ref.Qpsk31Mod)]
DEMODS = [("bpsk", t.Bpsk31Demod, ref.Bpsk31Demod), ("qpsk", t.Qpsk31Demod, ref.Qpsk31Demod)]


# ---------------------------------------------------------------- reference model


def test_samples_per_symbol_and_ramp():
    assert [ref.sps_of(fs) for fs in (1000, 8000, 44100, 48000, 15.625, 15.6, 0, -5, math.nan, 1e30)] == [
        32, 256, 1411, 1536, 1, 0, 0, 0, 0, 2**64 - 1]
    # A 0 bit from +1 at fs 1000: 1 - 2 ramp[k], from +1 down to -1 exactly.
    y = t.Bpsk31Mod(1000.0, 0.0, 1.0).modulate_bits(np.array([0], u8))
    ramp = np.array(ref.make_hann(32), np.float32)
    assert_bits_equal(y.real.copy(), (np.float32(1) - np.float32(2) * ramp).astype(np.float32))
    assert y[0] == 1 and y[-1] == -1 and not np.signbit(y.imag).any() and not y.imag.any()


# ---------------------------------------------------------------- bit exact against the model


@pytest.mark.parametrize("name,cls,model", MODS, ids=[m[0] for m in MODS])
@pytest.mark.parametrize("rf", [0.0, 187.3, -95.0])
def test_modulator_matches_reference_across_calls_and_reset(name, cls, model, rf, rng):
    fs, gain = 1000.0, 0.8  # 32 samples per symbol: 75 symbols cross renormalisation at 1024 and 2048
    mod, want = cls(fs, rf, gain), model(fs, rf, gain)
    bits = rng.integers(0, 4, 150).astype(u8)  # 2 and 3 in the mix: the lowest bit (QPSK) or non-zero (BPSK)
    for piece in (bits[:75], bits[75:75], bits[75:76], bits[76:]):
        assert_bits_equal(mod.modulate_bits(piece), want.modulate_bits(piece))
    mod.reset()
    want = model(fs, rf, gain)
    assert_bits_equal(mod.modulate_bits(bits[:9]), want.modulate_bits(bits[:9]))
    mod.set_gain(-2.5)
    want.gain = ref.r32(-2.5)
    assert_bits_equal(mod.modulate_bits(bits[9:20]), want.modulate_bits(bits[9:20]))


@pytest.mark.parametrize("name,cls,model", DEMODS, ids=[d[0] for d in DEMODS])
@pytest.mark.parametrize("rf", [0.0, 260.0])
def test_demodulator_matches_reference_across_calls_and_reset(name, cls, model, rf, rng):
    fs, gain = 1000.0, 1.3
    mod = (t.Bpsk31Mod if name == "bpsk" else t.Qpsk31Mod)(fs, rf, 1.0)
    iq = noisy(mod.modulate_bits(rng.integers(0, 2, 80).astype(u8)), 0.3, rng)
    iq = iq * np.complex64(np.exp(0.7j))  # a phase offset for the tracker to pull in
    iq = iq.astype(np.complex64)
    want = model(fs, rf, gain).process(iq)

    dem = cls(fs, rf, gain)
    got = np.concatenate([dem.process(p) for p in chunks(iq, rng, 12)])
    assert_bits_equal(got, want)

    # After reset the object behaves as new, even after a partial symbol.
    dem.process(iq[:45])
    dem.reset()
    assert_bits_equal(np.concatenate([dem.process(iq[:1001]), dem.process(iq[1001:])]), want)

    # A new gain scales the symbol in progress when it completes.
    m = model(fs, rf, gain)
    dem.reset()
    first = np.concatenate([dem.process(iq[:50]), m.process(iq[:50])])
    dem.set_gain(0.25)
    m.gain = ref.r32(0.25)
    assert_bits_equal(first[: first.size // 2], first[first.size // 2:])
    assert_bits_equal(dem.process(iq[50:]), m.process(iq[50:]))


def test_viterbi_matches_reference_and_its_tie_rules(rng):
    dem = t.Qpsk31Demod(31.25, 0.0, 1.0)  # one sample per symbol: the dibits are the input itself
    # Noisy symbols, then symbols on a coarse lattice where branch metrics tie everywhere.
    soft = [ref.to_c64(list(zip(rng.normal(0, 1, 300), rng.normal(0, 1, 300)))),
            ref.to_c64([tuple(v) for v in rng.integers(-2, 3, (300, 2)) * 0.5]),
            np.zeros(40, np.complex64)]
    for iq in soft:
        d = dem.process(iq)
        dem_ref = ref.Qpsk31Demod(31.25, 0.0, 1.0)
        assert_bits_equal(d, dem_ref.process(iq))
        assert_bits_equal(dem.flush(), ref.viterbi(d))
        dem.reset()
    # All-zero symbols tie every branch: lower predecessors and the lowest final state give zeros.
    dem.process(np.zeros(40, np.complex64))
    assert not dem.flush().any()


def _isa_digest():
    rng = np.random.default_rng(7)
    out = []
    for cls in (t.Bpsk31Mod, t.Qpsk31Mod):
        out.append(cls(8000.0, 1234.5, 0.9).modulate_bits(rng.integers(0, 2, 40).astype(u8)))
    iq = out[0] + out[1] * np.complex64(0.1)
    out.append(t.Bpsk31Demod(8000.0, 1234.5, 1.0).process(iq))
    q = t.Qpsk31Demod(8000.0, 1234.5, 1.0)
    out.append(q.process(iq))
    out.append(q.flush())
    big = rng.normal(0, 1, 20000).astype(np.float32)
    q = t.Qpsk31Demod(31.25, 0.0, 1.0)
    q.process(big.view(np.complex64))
    out.append(q.flush())
    return [bytes(a.tobytes()).hex() for a in out]


def test_every_cpu_path_gives_the_same_bits():
    # This process runs the widest path the CPU has; force each narrower one in a child.
    script = textwrap.dedent(f"""
        import sys, json
        sys.path[:0] = {[p for p in sys.path if p]!r}
        import test_psk31
        print(json.dumps(test_psk31._isa_digest()))
    """)
    here = _isa_digest()
    for isa in ("baseline", "avx2"):
        env = dict(os.environ, TARSK_ISA=isa)
        env["PYTHONPATH"] = os.pathsep.join([os.path.dirname(__file__), env.get("PYTHONPATH", "")])
        res = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, check=True)
        assert __import__("json").loads(res.stdout) == here, isa


# ---------------------------------------------------------------- round trips


@pytest.mark.parametrize("fs", [8000.0, 48000.0])
@pytest.mark.parametrize("rf", [0.0, 1500.0])
def test_text_round_trip(fs, rf):
    text = b"CQ CQ de X1ABC X1ABC pse k\r\n" + bytes(range(1, 128, 7))
    iq = t.Bpsk31Mod(fs, rf, 1.0).modulate_text(text)
    assert text_back(t.Bpsk31Demod(fs, rf, 1.0).process(iq)) == text


def test_text_round_trip_through_noise(rng):
    # Eb/N0 10 dB: the differential detector then misses about 1.5e-4 of the bits (ideal
    # 0.5 exp(-10) = 2.3e-5, the ramp-shaped symbols cost about 1.5 dB), so ~17000 bits for
    # 1500 characters lose a few characters. Allowing 1% catches a loss of 2-3 dB, let alone
    # a broken tracker or timing, which garble everything.
    fs, rf = 8000.0, 1000.0
    text = bytes(rng.integers(32, 127, 1500).astype(u8))
    iq = t.Bpsk31Mod(fs, rf, 1.0).modulate_text(text)
    got = text_back(t.Bpsk31Demod(fs, rf, 1.0).process(noisy(iq, sigma_for(10.0, 256), rng)))
    ops = difflib.SequenceMatcher(None, text, got, autojunk=False).get_opcodes()
    errors = sum(max(i2 - i1, j2 - j1) for tag, i1, i2, j1, j2 in ops if tag != "equal")
    print(f"character error rate at Eb/N0 10 dB: {errors} of {len(text)}")
    assert errors <= 15


def test_qpsk_bits_round_trip_over_many_calls(rng):
    fs, rf = 8000.0, 1000.0
    bits = rng.integers(0, 2, 400).astype(u8)
    iq = t.Qpsk31Mod(fs, rf, 1.0).modulate_bits(bits)
    dem = t.Qpsk31Demod(fs, rf, 1.0)
    soft = np.concatenate([dem.process(p) for p in chunks(iq, rng, 300)])
    assert soft.size == 2 * bits.size
    np.testing.assert_array_equal(dem.flush(), bits)
    assert dem.flush().size == 0


def test_bit_error_rates_of_qpsk_viterbi_and_bpsk(rng):
    # Same Eb/N0 for both (one data bit per symbol). The rate-1/2 code with its 16-state
    # decoder gains several dB, so QPSK31 must beat BPSK31 clearly at each SNR; a broken
    # trellis sits near 0.5, an uncoded one near the BPSK31 rate. Below ~6 dB the phase
    # tracker occasionally slips a quarter turn, which the absolute-phase trellis cannot undo.
    fs, n = 1000.0, 2000
    bits = rng.integers(0, 2, n).astype(u8)
    qiq = t.Qpsk31Mod(fs, 0.0, 1.0).modulate_bits(bits)
    biq = t.Bpsk31Mod(fs, 0.0, 1.0).modulate_bits(bits)
    for ebn0_db in (6.0, 7.0):
        sigma = sigma_for(ebn0_db, 32)
        q = t.Qpsk31Demod(fs, 0.0, 1.0)
        q.process(noisy(qiq, sigma, rng))
        q_ber = np.mean(q.flush() != bits)
        b_ber = np.mean((t.Bpsk31Demod(fs, 0.0, 1.0).process(noisy(biq, sigma, rng)) > 0) != bits)
        print(f"Eb/N0 {ebn0_db} dB: QPSK31 + Viterbi BER {q_ber:.4f}, BPSK31 BER {b_ber:.4f}")
        assert q_ber <= 0.005 and b_ber >= 0.002 and q_ber < b_ber / 3


# ---------------------------------------------------------------- edges


def test_one_sample_per_symbol():
    bits = np.array([1, 0, 0, 1, 0], u8)
    y = t.Bpsk31Mod(31.25, 0.0, 2.0).modulate_bits(bits)
    np.testing.assert_array_equal(y, np.array([2, -2, 2, 2, -2], np.complex64))
    soft = t.Bpsk31Demod(31.25, 0.0, 0.5).process(y)
    np.testing.assert_array_equal(soft, np.array([1, -1, -1, 1, -1], np.float32))


def test_empty_inputs_change_nothing(rng):
    iq = t.Qpsk31Mod(1000.0, 100.0, 1.0).modulate_bits(rng.integers(0, 2, 10).astype(u8))
    for cls in (t.Bpsk31Demod, t.Qpsk31Demod):
        a, b = cls(1000.0, 100.0, 1.0), cls(1000.0, 100.0, 1.0)
        a.process(iq[:40])
        b.process(iq[:40])
        e = a.process(np.zeros(0, np.complex64))
        assert e.dtype == np.float32 and e.size == 0
        assert_bits_equal(a.process(iq[40:]), b.process(iq[40:]))
    for cls in (t.Bpsk31Mod, t.Qpsk31Mod):
        a, b = cls(1000.0, 100.0, 1.0), cls(1000.0, 100.0, 1.0)
        e = a.modulate_bits(np.zeros(0, u8))
        assert e.dtype == np.complex64 and e.size == 0
        assert_bits_equal(a.modulate_bits(np.array([1, 0, 1], u8)), b.modulate_bits(np.array([1, 0, 1], u8)))
    assert t.Qpsk31Demod(1000.0, 0.0, 1.0).flush().dtype == u8


def test_modulate_text_framing():
    for cls in (t.Bpsk31Mod, t.Qpsk31Mod):
        cases = ((b"", 32, 32, {}), (b"e", 32, 32, {}), (b"e", 3, 0, {"preamble_bits": 3, "postamble_bits": 0}))
        for text, pre, post, kw in cases:
            enc = t.VaricodeEncoder()
            enc.push_preamble(pre)
            for c in text:
                enc.push_byte(c)
            enc.push_postamble(post)
            assert_bits_equal(cls(1000.0, 50.0, 1.0).modulate_text(text, **kw),
                              cls(1000.0, 50.0, 1.0).modulate_bits(enc.drain_bits()))
    assert t.Bpsk31Mod(1000.0, 0.0, 1.0).modulate_text(b"").size == 64 * 32
    assert t.Bpsk31Mod(1000.0, 0.0, 1.0).modulate_text(b"e").size == 68 * 32


def test_reset_discards_buffered_symbols():
    dem = t.Qpsk31Demod(1000.0, 0.0, 1.0)
    iq = t.Qpsk31Mod(1000.0, 0.0, 1.0).modulate_bits(np.array([1, 0, 0, 1], u8))
    assert dem.process(iq).size == 8
    dem.reset()
    assert dem.flush().size == 0
    # One symbol from 1+0j to +j (coded pair 1 0) reads back as about (0, 1).
    z = t.Qpsk31Demod(1000.0, 0.0, 1.0).process(ref.to_c64([(1 - v, v) for v in ref.make_hann(32)]))
    np.testing.assert_allclose(z, [0, 1], atol=1e-6)


def test_qpsk_decision_ties_go_to_the_real_axis():
    # One sample per symbol, z = (1, 1): the real axis as decision gives phase error +sin 45 deg, so
    # the next symbol (1, 0) comes out rotated by -0.1 * 0.7071 rad.
    dem = t.Qpsk31Demod(31.25, 0.0, 1.0)
    z = dem.process(np.array([1 + 1j, 1], np.complex64))
    r = np.float32(0.1) * np.float32(np.float32(1) / np.sqrt(np.float32(2)))
    np.testing.assert_allclose(z[2:], [math.cos(r), -math.sin(r)], rtol=1e-6)


# ---------------------------------------------------------------- refused input


def test_huge_outputs_are_refused_before_anything_moves():
    mod = t.Bpsk31Mod(1e30, 0.0, 1.0)  # samples per symbol saturate at 2**64 - 1
    with pytest.raises((MemoryError, ValueError), match="Bpsk31Mod.modulate_bits"):
        mod.modulate_bits(np.array([0, 1, 0], u8))
    assert mod.modulate_bits(np.zeros(0, u8)).size == 0

    for cls, name in ((t.Bpsk31Mod, "Bpsk31Mod"), (t.Qpsk31Mod, "Qpsk31Mod")):
        mod, fresh = cls(8000.0, 1000.0, 1.0), cls(8000.0, 1000.0, 1.0)
        mod.modulate_bits(np.array([0, 1, 1], u8))
        fresh.modulate_bits(np.array([0, 1, 1], u8))
        for pre, post in ((2**62, 32), (32, 2**64 - 1), (2**63, 2**63)):
            with pytest.raises((MemoryError, ValueError), match=name + ".modulate_text"):
                mod.modulate_text(b"e", pre, post)
        assert_bits_equal(mod.modulate_text(b"ok"), fresh.modulate_text(b"ok"))


@pytest.mark.parametrize("fs", [15.0, 0.0, -8000.0, math.nan])
def test_demodulators_refuse_a_zero_symbol_length(fs):
    for cls, name in ((t.Bpsk31Demod, "Bpsk31Demod"), (t.Qpsk31Demod, "Qpsk31Demod")):
        with pytest.raises(ValueError, match="^" + name + ": "):
            cls(fs, 0.0, 1.0)
    # The modulators take it: no samples, whatever the input.
    for cls in (t.Bpsk31Mod, t.Qpsk31Mod):
        assert cls(fs, 0.0, 1.0).modulate_text(b"abc").size == 0


def test_signatures_and_docstrings():
    for cls in (t.Bpsk31Mod, t.Qpsk31Mod, t.Bpsk31Demod, t.Qpsk31Demod):
        assert cls.__text_signature__ == "(fs, rf_hz, gain)" and cls.__doc__ == ""
        assert cls.set_gain.__text_signature__ == "($self, g)" and cls.reset.__text_signature__ == "($self)"
    for cls in (t.Bpsk31Mod, t.Qpsk31Mod):
        assert cls.modulate_text.__text_signature__ == "($self, text, preamble_bits=..., postamble_bits=...)"
    assert t.Bpsk31Mod.modulate_bits.__doc__ == "Modulate raw differential bits into a complex64 IQ waveform."
    assert t.Bpsk31Mod.modulate_text.__doc__ == "Modulate text bytes into a complex64 IQ waveform."
    assert t.Qpsk31Mod.modulate_bits.__doc__ is None and t.Qpsk31Mod.modulate_text.__doc__ is None
    assert t.Bpsk31Demod.process.__doc__ == "Process a complex64 IQ array and return float32 soft bits."
    assert t.Qpsk31Demod.process.__doc__ == (
        "Process IQ samples and buffer the resulting soft dibits.\n"
        "Returns the soft dibit float32 array (interleaved Re/Im pairs).")
    assert t.Qpsk31Demod.flush.__doc__ == "Run Viterbi on accumulated soft dibits and return decoded bits."
    assert [m for m in vars(t.Qpsk31Demod) if not m.startswith("_")] == ["set_gain", "reset", "process", "flush"]
    with pytest.raises(TypeError, match="argument 'text'"):
        t.Bpsk31Mod(8000.0, 0.0, 1.0).modulate_text("str")
    with pytest.raises(OverflowError):
        t.Qpsk31Mod(8000.0, 0.0, 1.0).modulate_text(b"", -1)


def test_front_end_asked_for_no_symbols_takes_nothing():
    # The carrier search demodulates through the same front end; n_bits = 0 must give empty
    # soft bits (and write nothing) rather than run on past its room.
    burst = t.Bpsk31Mod(8000.0, 1000.0, 1.0).modulate_bits(np.ones(40, u8))
    iq = np.concatenate([np.zeros(256 * 30, np.complex64), burst, np.zeros(256 * 60, np.complex64)])
    found = t.psk31_sync(iq, 8000.0, 500.0, 2000.0, n_bits=0)
    assert found and all(c["soft_bits"].size == 0 for c in found)
    assert all(c["soft_bits"].size == 5 for c in t.psk31_sync(iq, 8000.0, 500.0, 2000.0, n_bits=5))
