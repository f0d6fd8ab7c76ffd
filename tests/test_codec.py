"""FT8/FT4 codec: CRC-14, LDPC (174,91) encoding with Gray-coded tones, and
decoding from tones and from LLRs."""

import pathlib

import numpy as np
import pytest

import tarsk_sdr as t

CODECS = {"ft8": (t.Ft8Codec, 58, 3), "ft4": (t.Ft4Codec, 87, 2)}
GRAY = {"ft8": [0, 1, 3, 2, 5, 6, 4, 7], "ft4": [0, 1, 3, 2]}


def read_vectors():
    blocks, cur = [], None
    for line in (pathlib.Path(__file__).parent / "data" / "ft_vectors.txt").read_text().splitlines():
        if not line or line.startswith("#"):
            continue
        key, value = line.split(": ", 1)
        if key == "call":
            cur = {"call": value}
            blocks.append(cur)
        elif key == "payload":
            cur["payload"] = bytes.fromhex(value)
        else:
            cur[key] = np.array([int(c) for c in value], np.uint8)
    return blocks


VECTORS = read_vectors()


def random_payload(rng):
    p = bytearray(rng.integers(0, 256, 10, dtype=np.uint8).tobytes())
    p[9] &= 0xF8
    return bytes(p)


def codeword_bits(mode, tones):
    """The 174 codeword bits behind a tone vector, through the inverse Gray map."""
    _, _, bits = CODECS[mode]
    inverse = np.argsort(GRAY[mode])
    values = inverse[tones]
    return ((values[:, None] >> np.arange(bits - 1, -1, -1)) & 1).reshape(-1)


def llrs(bits, magnitude=4.0):
    return np.where(bits == 0, magnitude, -magnitude).astype(np.float32)


@pytest.fixture(params=sorted(CODECS))
def mode(request):
    return request.param


# ---------------------------------------------------------------- reference vectors


def test_vectors_were_read():
    assert len(VECTORS) == 8 and all(len(v["ft8_tones"]) == 58 and len(v["ft4_tones"]) == 87 for v in VECTORS)


@pytest.mark.parametrize("vector", VECTORS, ids=[v["call"] for v in VECTORS])
def test_reference_vectors_both_ways(vector, mode):
    codec = CODECS[mode][0]
    want = vector[f"{mode}_tones"]
    got = codec.encode(vector["payload"])
    assert got.dtype == np.uint8 and got.shape == want.shape
    np.testing.assert_array_equal(got, want)
    assert codec.decode_hard(want) == vector["payload"]
    assert codec.decode_soft(llrs(codeword_bits(mode, want))) == vector["payload"]


def test_message_text_survives_the_codec():
    payload = t.ft8_pack_standard("CQ", "X1ABC", "FN42")
    for codec, _, _ in CODECS.values():
        assert t.ft8_unpack(codec.decode_hard(codec.encode(payload)))["call_de"] == "X1ABC"


# ---------------------------------------------------------------- encoding rules


def test_trailing_payload_bits_are_ignored_and_cleared(mode, rng):
    codec = CODECS[mode][0]
    p = random_payload(rng)
    dirty = p[:9] + bytes([p[9] | 0x07])
    np.testing.assert_array_equal(codec.encode(dirty), codec.encode(p))
    assert codec.decode_hard(codec.encode(dirty)) == p


def test_zero_payload_and_scrambling():
    np.testing.assert_array_equal(t.Ft8Codec.encode(bytes(10)), np.zeros(58, np.uint8))
    assert t.Ft4Codec.encode(bytes(10)).any()  # scrambled before coding


def test_static_on_class_and_instance(mode):
    codec = CODECS[mode][0]
    p = bytes(range(9)) + b"\x08"
    np.testing.assert_array_equal(codec().encode(p), codec.encode(p))
    assert codec().decode_hard(codec.encode(p)) == codec.decode_hard(codec.encode(p)) == p
    assert codec.__text_signature__ == "()"
    assert codec.encode.__text_signature__ == "(payload)"
    assert codec.decode_hard.__text_signature__ == "(tones)"
    assert codec.decode_soft.__text_signature__ == "(llr)"


# ---------------------------------------------------------------- argument errors


def test_length_errors(mode):
    codec, n_tones, _ = CODECS[mode]
    name = codec.__name__
    for n in (9, 11, 0):
        with pytest.raises(ValueError, match=rf"^{name}\.encode: expected 10-byte payload, got {n}$"):
            codec.encode(bytes(n))
    for n in (n_tones - 1, n_tones + 1):
        with pytest.raises(ValueError, match=rf"^{name}\.decode_hard: expected {n_tones} tones, got {n}$"):
            codec.decode_hard(np.zeros(n, np.uint8))
    for n in (173, 175):
        with pytest.raises(ValueError, match=rf"^{name}\.decode_soft: expected 174 LLRs, got {n}$"):
            codec.decode_soft(np.zeros(n, np.float32))


def test_type_errors(mode):
    codec, n_tones, _ = CODECS[mode]
    for bad in (bytearray(10), list(range(10)), "0123456789"):
        with pytest.raises(TypeError, match="^argument 'payload': "):
            codec.encode(bad)
    with pytest.raises(TypeError, match="^argument 'llr': "):
        codec.decode_soft(np.zeros(174, np.float64))
    with pytest.raises(TypeError, match="^argument 'tones': "):
        codec.decode_hard(np.zeros(n_tones, np.int8))
    with pytest.raises(TypeError, match="not contiguous"):
        codec.decode_hard(np.zeros(2 * n_tones, np.uint8)[::2])


# ---------------------------------------------------------------- decoding edge cases


def test_high_tone_bits_are_masked(mode, rng):
    codec, _, bits = CODECS[mode]
    p = random_payload(rng)
    tones = codec.encode(p)
    high = rng.integers(1, 256 >> bits, tones.size).astype(np.uint8) << bits
    assert codec.decode_hard(tones | high) == p


def test_silence_is_not_a_message(mode):
    """The all-zero codeword passes every check with CRC 0, but it is what silence,
    a dead channel or clipped audio produce: it is refused."""
    codec, n_tones, _ = CODECS[mode]
    assert codec.decode_hard(np.zeros(n_tones, np.uint8)) is None
    assert codec.decode_soft(np.full(174, 4.0, np.float32)) is None
    assert codec.decode_soft(np.full(174, np.nan, np.float32)) is None  # every decision 0


def test_all_ones_word_and_zero_llrs(mode):
    codec = CODECS[mode][0]
    # Zero LLRs decide every bit 1: the 24 checks of weight 7 stay unsatisfied.
    assert codec.decode_soft(np.zeros(174, np.float32)) is None
    assert codec.decode_soft(np.full(174, -4.0, np.float32)) is None


def test_nan_llrs(mode, rng):
    codec, n_tones, _ = CODECS[mode]
    p = random_payload(rng)
    bits = codeword_bits(mode, codec.encode(p))
    x = llrs(bits)
    zero_bits = np.flatnonzero(bits == 0)
    x[zero_bits[:5]] = np.nan  # a NaN decides 0: still the codeword
    assert codec.decode_soft(x) == p
    x[np.flatnonzero(bits == 1)[:3]] = np.nan  # now wrong: no crash, and never a wrong payload
    assert codec.decode_soft(x) in (None, p)


def test_one_flipped_llr_is_corrected(mode, rng):
    codec = CODECS[mode][0]
    p = random_payload(rng)
    x = llrs(codeword_bits(mode, codec.encode(p)))
    for i in range(174):
        y = x.copy()
        y[i] = -y[i]
        assert codec.decode_soft(y) == p, i


# ---------------------------------------------------------------- random sweeps


def test_random_payloads_through_tones(mode, rng):
    codec, n_tones, _ = CODECS[mode]
    for _ in range(200):
        p = random_payload(rng)
        tones = codec.encode(p)
        assert tones.shape == (n_tones,) and tones.max() < (8 if mode == "ft8" else 4)
        assert codec.decode_hard(tones) == p


def test_random_payloads_through_damaged_llrs(mode, rng):
    codec = CODECS[mode][0]
    for _ in range(200):
        p = random_payload(rng)
        x = llrs(codeword_bits(mode, codec.encode(p)))
        hit = rng.choice(174, 9, replace=False)
        x[hit[:3]] *= -1.0     # wrong
        x[hit[3:6]] *= 0.05    # weak
        x[hit[6:]] = 0.0       # erased
        assert codec.decode_soft(x) == p
