"""Waterfall, FT8/FT4 Costas synchronisation and the PSK31 carrier search."""

import os
import subprocess
import sys

import numpy as np
import pytest

import tarsk_sdr as t
from ref import sync_ref as ref

f32 = np.float32
HERE = os.path.dirname(os.path.abspath(__file__))


def noise(rng, n, sigma):
    return (rng.normal(0, sigma, n) + 1j * rng.normal(0, sigma, n)).astype(np.complex64)


def fsk(tones, block, fs, base_hz, spacing):
    """Phase-continuous tones, one per block: a stand-in frame for the waterfall checks."""
    f = base_hz + np.repeat(np.asarray(tones, np.float64), block) * spacing
    return np.exp(2j * np.pi * np.cumsum(f) / fs).astype(np.complex64)


def frame_tones(mode, rng):
    tones = rng.integers(0, mode["tones"], mode["symbols"])
    for pos, tone in mode["costas"]:
        tones[pos] = tone
    return tones


def same_bits(a, b):
    return np.asarray(a, f32).tobytes() == np.asarray(b, f32).tobytes()


# ---------------------------------------------------------------- bit-exact against the reference

@pytest.mark.parametrize("name,mode,sync", [("ft8", ref.FT8, t.ft8_sync), ("ft4", ref.FT4, t.ft4_sync)])
def test_every_position_matches_reference(name, mode, sync, rng):
    # Four start offsets from t_min = -1, five base bins; the buffer ends inside row 80 (FT8) or
    # 106 (FT4), so one row is cut short and the last lies past the end (all 0.0).
    block, fs, base = mode["block"], 12000.0, 1000.0
    n_rows = mode["symbols"] + 1
    iq = noise(rng, n_rows * block + 700, 0.3)
    iq[block:block + mode["symbols"] * block] += fsk(frame_tones(mode, rng), block, fs, base + 2 * float(mode["bin_hz"]),
                                                     float(mode["bin_hz"]))
    max_hz = base + 3 * float(mode["bin_hz"])
    got = sync(iq, fs, base, max_hz, -1, 2, 1000)
    want = ref.ft_sync_all(mode, iq, fs, base, max_hz, -1, 2)
    assert len(got) == len(want) == 4 * (3 + mode["extra"] - mode["tones"] + 1)
    for g, (time_sym, freq_bin, score, llr) in zip(got, want):
        assert list(g) == ["time_sym", "freq_bin", "score", "llr"]
        assert (g["time_sym"], g["freq_bin"]) == (time_sym, freq_bin)
        assert same_bits(g["score"], score)
        assert g["llr"].dtype == f32 and same_bits(g["llr"], llr)
    # The frame starts at symbol 1 on base bin 2.
    assert (got[0]["time_sym"], got[0]["freq_bin"]) == (1, 2)


ISA_SCRIPT = r"""
import hashlib, sys
import numpy as np
import tarsk_sdr as t
rng = np.random.default_rng(5)
iq = (rng.normal(size=200000) + 1j * rng.normal(size=200000)).astype(np.complex64)
h = hashlib.sha256()
for sync in (t.ft8_sync, t.ft4_sync):
    for d in sync(iq[:170000], 12000.0, 300.0, 480.0, -2, 7, 40):
        h.update(repr((d["time_sym"], d["freq_bin"], d["score"])).encode() + d["llr"].tobytes())
for d in t.psk31_sync(iq, 8000.0, 500.0, 1500.0, 2, 1.0, 64, 30):
    h.update(repr((d["time_sym"], d["freq_bin"], d["carrier_hz"], d["score"])).encode() + d["soft_bits"].tobytes())
print(h.hexdigest())
"""


def test_every_cpu_target_gives_the_same_bits():
    """Baseline, AVX2 and AVX-512 kernels (as far as this CPU runs them) agree bit for bit."""
    digests = set()
    for isa in ("baseline", "avx2", "avx512", ""):
        env = dict(os.environ, TARSK_ISA=isa)
        out = subprocess.run([sys.executable, "-c", ISA_SCRIPT], env=env, capture_output=True, text=True, check=True)
        digests.add(out.stdout.strip())
    assert len(digests) == 1


# ---------------------------------------------------------------- frames found and decoded

FT = {
    "ft8": (t.ft8_sync, t.Ft8Mod, t.Ft8Demod, t.Ft8Codec, 1920, 79, 6.25),
    "ft4": (t.ft4_sync, t.Ft4Mod, t.Ft4Demod, t.Ft4Codec, 576, 105, 62.5 / 3),
}


def add_frame(iq, name, payload, base_hz, f, start, gain=0.5):
    _, mod, _, codec, block, _, spacing = FT[name]
    tones = codec.encode(payload)
    frame = mod(12000.0, base_hz + f * spacing, 0.0, gain).modulate(tones)
    iq[start * block:start * block + frame.size] += frame
    return tones


@pytest.mark.parametrize("name", ["ft8", "ft4"])
@pytest.mark.parametrize("t_min,t_max", [(-3, 9), (0, 10), (4, 9)])
def test_frame_found_at_its_time_and_bin(name, t_min, t_max, rng):
    sync, _, demod, codec, block, symbols, spacing = FT[name]
    base = 500.0
    iq = noise(rng, (symbols + 16) * block, 1.0)
    payload = t.ft8_pack_standard("CQ", "X1ABC", "FN42")
    tones = add_frame(iq, name, payload, base, 37, 6)
    got = sync(iq, 12000.0, base, base + 60 * spacing, t_min, t_max, 5)
    assert (got[0]["time_sym"], got[0]["freq_bin"]) == (6, 37)
    assert codec.decode_soft(got[0]["llr"]) == payload
    # time_sym is the frame start in the buffer, whatever t_min: the frame cuts out there.
    start = got[0]["time_sym"] * block
    frame = iq[start:start + symbols * block]
    assert np.array_equal(demod(12000.0, base + 37 * spacing).demodulate(frame), tones)


@pytest.mark.parametrize("name", ["ft8", "ft4"])
def test_several_frames_in_one_buffer(name, rng):
    sync, _, _, codec, block, symbols, spacing = FT[name]
    iq = noise(rng, (symbols + 20) * block, 1.0)
    sent = {}
    for i, (f, start) in enumerate([(12, 3), (40, 11), (75, 0), (103, 7)]):
        payload = t.ft8_pack_standard("CQ", f"X{i}ABC", "FN42")
        add_frame(iq, name, payload, 200.0, f, start, gain=0.3)
        sent[payload] = (start, f)
    found = {}
    for c in sync(iq, 12000.0, 200.0, 200.0 + 115 * spacing, 0, 14, 40):
        payload = codec.decode_soft(c["llr"])
        if payload is not None:
            found.setdefault(payload, (c["time_sym"], c["freq_bin"]))
    assert found == sent


def test_ft8_wav_example_reads_a_recording(tmp_path, rng):
    import wave

    audio = rng.normal(0, 0.05, 15 * 12000)
    frame = t.Ft8Mod(12000.0, 1500.0, 0.0, 0.2).modulate(t.Ft8Codec.encode(t.ft8_pack_standard("CQ", "X1ABC", "FN42")))
    audio[4000:4000 + frame.size] += frame.real  # 0.33 s in, between two symbol starts
    path = tmp_path / "slot.wav"
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(12000)
        w.writeframes((np.clip(audio, -1, 1) * 32767).astype("<i2").tobytes())
    script = os.path.join(HERE, "..", "examples", "ft8_wav.py")
    out = subprocess.run([sys.executable, script, str(path)], capture_output=True, text=True, check=True).stdout
    lines = out.splitlines()
    assert len(lines) == 1 and lines[0].endswith("CQ X1ABC FN42") and "1500.0 Hz" in lines[0]
    with wave.open(str(path), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(b"\0" * 400)
    bad = subprocess.run([sys.executable, script, str(path)], capture_output=True, text=True)
    assert bad.returncode != 0 and "expected 12000 Hz mono 16-bit PCM, got 8000 Hz, 2 channel(s)" in bad.stderr


# ---------------------------------------------------------------- PSK31 carrier search

def psk31_burst(text, lead=16):
    """A steady carrier (ones) for `lead` symbols, then the text's Varicode stream."""
    enc = t.VaricodeEncoder()
    enc.push_preamble(8)
    for b in text:
        enc.push_byte(b)
    enc.push_postamble(16)
    return np.concatenate([np.ones(lead, np.uint8), enc.drain_bits()])


def test_psk31_bursts_found_and_read(rng):
    fs, sps, base = 8000.0, 256, 400.0
    texts = {(20, 9): b"CQ CQ de X1ABC", (150, 30): b"tnx fer call 73"}
    n = 400 * sps
    iq = noise(rng, n, 0.05)
    for (row, b), text in texts.items():
        burst = t.Bpsk31Mod(fs, base + b * 31.25, 0.5).modulate_bits(psk31_burst(text))
        iq[row * sps:row * sps + burst.size] += burst
    found = t.psk31_sync(iq, fs, base, 1500.0, max_cand=20)
    assert list(found[0]) == ["time_sym", "freq_bin", "carrier_hz", "score", "soft_bits"]
    starts = {(c["time_sym"], c["freq_bin"]): c for c in found}
    for (row, b), text in texts.items():
        c = starts[(row, b)]
        assert c["carrier_hz"] == base + b * 31.25 and c["soft_bits"].size == 400 - row
        dec = t.VaricodeDecoder()
        dec.push_bits((c["soft_bits"] > 0).astype(np.uint8))
        assert text in dec.pop_bytes()


def test_psk31_order_and_limits():
    # 25 identical carriers in one bin score exactly alike: discovery order (by row) decides.
    fs, sps = 1000.0, 32
    burst = t.Bpsk31Mod(fs, 250.0, 1.0).modulate_bits(np.ones(8, np.uint8))
    iq = np.zeros(25 * 20 * sps, np.complex64)
    for i in range(25):
        iq[(20 * i + 3) * sps:(20 * i + 3) * sps + burst.size] = burst
    found = t.psk31_sync(iq, fs, 250.0, 250.0, max_cand=2**64 - 1, n_bits=2**62)
    assert [c["time_sym"] for c in found] == [20 * i + 3 for i in range(25)]
    assert len({c["score"] for c in found}) == 1
    # However large n_bits, the soft bits stop where the buffer does.
    assert [c["soft_bits"].size for c in found] == [500 - (20 * i + 3) for i in range(25)]
    assert t.psk31_sync(iq, fs, 250.0, 250.0, max_cand=0) == []
    assert t.psk31_sync(iq[:sps - 1], fs, 250.0, 250.0) == []
    assert t.psk31_sync(iq, 10.0, 250.0, 250.0) == []
    with pytest.raises(MemoryError, match="psk31_sync: max_hz - base_hz is too wide"):
        t.psk31_sync(iq, fs, 0.0, 1e30)


# ---------------------------------------------------------------- candidate order and limits

def test_empty_buffer_returns_positions_in_search_order():
    # Every row lies past the end: all scores 0, LLRs 0 and not normalised; ties keep the
    # search order (k, then f) whatever the number of candidates.
    got = t.ft8_sync(np.zeros(0, np.complex64), 12000.0, 1000.0, 1100.0, 0, 3, 25)
    assert [(d["time_sym"], d["freq_bin"]) for d in got] == [(k, f) for k in range(4) for f in range(18)][:25]
    assert all(d["score"] == 0.0 and not d["llr"].any() for d in got)
    # max_hz <= base_hz still searches base bins 0 and 1; t_max <= t_min only one start.
    assert [(d["time_sym"], d["freq_bin"]) for d in t.ft8_sync(np.zeros(0, np.complex64), 12000.0, 1000.0, 900.0, 5, 2, 9)] == [(5, 0), (5, 1)]
    assert len(t.ft4_sync(np.zeros(0, np.complex64), 12000.0, 1000.0, 900.0, 0, 0, 9)) == 2


def test_fewer_positions_than_max_cand_and_huge_max_cand(rng):
    iq = noise(rng, 90 * 1920, 1.0)
    got = t.ft8_sync(iq, 12000.0, 1000.0, 1012.5, 0, 4, 2**63)
    assert len(got) == 5 * 4
    scores = [d["score"] for d in got]
    assert scores == sorted(scores, reverse=True)


@pytest.mark.parametrize("sync", [t.ft8_sync, t.ft4_sync])
def test_limits(sync):
    iq = np.zeros(1000, np.complex64)
    assert sync(iq, 12000.0, 1000.0, 1100.0, 0, 3, 0) == []
    with pytest.raises(ValueError, match=r"_sync: t_max - t_min = 4294967295 is out of range"):
        sync(iq, 12000.0, 1000.0, 1100.0, -2**31, 2**31 - 1, 5)
    with pytest.raises(MemoryError, match=r"_sync: max_hz - base_hz is too wide"):
        sync(iq, 12000.0, 0.0, 1e30, 0, 0, 5)
    with pytest.raises(MemoryError, match=r"_sync: (a|out of memory for a) waterfall of 21474835\d\d rows"):
        sync(iq, 12000.0, 0.0, 1e8, 0, 2**31 - 200, 5)
    with pytest.raises(TypeError, match="argument 't_min'"):
        sync(iq, 12000.0, 0.0, 100.0, 0.5, 1, 5)
