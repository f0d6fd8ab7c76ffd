"""Varicode encoder and decoder."""

import os
import pathlib

import numpy as np
import pytest

import tarsk_sdr as t
from ref import varicode_ref as ref


def load_table():
    table = {}
    for line in (pathlib.Path(__file__).parent / "data" / "varicode.txt").read_text().splitlines():
        if line and not line.startswith("#"):
            value, code, length = line.split()
            assert len(code) == int(length)
            table[int(value)] = [int(c) for c in code]
    assert sorted(table) == list(range(128))
    return table


TABLE = load_table()
NUL_WORD = [1, 0, 1, 0, 1, 0, 1, 0, 1, 1]


def bits(*values):
    return np.array(values, dtype=np.uint8)


def encode(data, preamble=0, postamble=2):
    e = t.VaricodeEncoder()
    e.push_preamble(preamble)
    for b in data:
        e.push_byte(b)
    e.push_postamble(postamble)
    return e.drain_bits()


def decode(stream, chunks=()):
    d = t.VaricodeDecoder()
    start = 0
    for cut in list(chunks) + [len(stream)]:
        d.push_bits(stream[start:cut].copy())
        start = cut
    return d.pop_bytes()


class TestEncoder:
    def test_every_code_word_matches_the_published_table(self):
        for value, word in TABLE.items():
            e = t.VaricodeEncoder()
            e.push_byte(value)
            assert e.drain_bits().tolist() == word, value

    def test_bytes_above_127_send_the_nul_word(self):
        for value in (128, 200, 255):
            e = t.VaricodeEncoder()
            e.push_byte(value)
            assert e.drain_bits().tolist() == NUL_WORD

    def test_separators_between_characters_only(self):
        e = t.VaricodeEncoder()
        e.push_byte(0x65)
        assert e.drain_bits().tolist() == [1, 1]
        e.push_byte(0x65)
        assert e.drain_bits().tolist() == [0, 0, 1, 1]  # draining does not restart the stream

    def test_preamble_character_postamble(self):
        e = t.VaricodeEncoder()
        e.push_preamble(4)
        e.push_byte(0x20)
        e.push_postamble(3)
        assert e.drain_bits().tolist() == [0, 0, 0, 0, 1, 0, 0, 1, 1, 1]

    def test_postamble_keeps_the_boundary_flag(self):
        e = t.VaricodeEncoder()
        e.push_postamble(2)
        assert e.drain_bits().tolist() == [1, 1]
        e.push_byte(0x20)
        e.push_postamble(1)
        e.push_byte(0x20)
        assert e.drain_bits().tolist() == [1, 0, 0, 1, 0, 0, 1]

    def test_empty_preamble_on_a_fresh_encoder_only_sets_the_flag(self):
        e = t.VaricodeEncoder()
        e.push_preamble(0)
        assert e.is_empty()
        e.push_byte(0x20)
        assert e.drain_bits().tolist() == [1]

    @pytest.mark.parametrize("n", [0, 1])
    def test_short_preamble_still_ends_the_open_character(self, n):
        # "e", preamble, "e" must not run together into 1111 ("n") or 11011 ("l").
        e = t.VaricodeEncoder()
        e.push_byte(0x65)
        e.push_preamble(n)
        e.push_byte(0x65)
        stream = e.drain_bits()
        assert stream.tolist() == [1, 1, 0, 0, 1, 1]
        assert decode(np.append(stream, bits(0, 0))) == b"ee"

    def test_random_operations_match_the_model_and_decode_back(self, rng):
        e, model = t.VaricodeEncoder(), ref.Encoder(TABLE)
        sent, stream = bytearray(), []
        for op, arg in zip(rng.integers(0, 3, 3000), rng.integers(0, 256, 3000)):
            if op == 0:
                e.push_byte(int(arg))
                model.push_byte(int(arg))
                sent.append(arg if arg < 128 else 0)
            else:
                e.push_preamble(int(arg) % 4)
                model.push_preamble(int(arg) % 4)
            if arg % 97 == 0:  # draining at any point does not restart the stream
                chunk = model.drain()
                assert e.drain_bits().tolist() == chunk
                stream += chunk
        e.push_postamble(5)
        model.push_postamble(5)
        chunk = model.drain()
        assert e.drain_bits().tolist() == chunk
        assert decode(np.array(stream + chunk, np.uint8)) == bytes(sent)

    def test_drain_and_is_empty(self):
        e = t.VaricodeEncoder()
        assert e.is_empty() is True
        out = e.drain_bits()
        assert out.dtype == np.uint8 and out.shape == (0,)
        e.push_preamble(3)
        assert e.is_empty() is False
        assert e.drain_bits().tolist() == [0, 0, 0]
        assert e.is_empty() is True

    def test_a_burst_buffer_is_given_back(self):
        statm = pathlib.Path("/proc/self/statm")
        if not statm.exists() or "asan" in os.environ.get("LD_PRELOAD", "") + os.environ.get(
                "ASAN_OPTIONS", ""):
            pytest.skip("needs resident-memory figures from a plain allocator")

        def resident():
            return int(statm.read_text().split()[1]) * os.sysconf("SC_PAGE_SIZE")

        e = t.VaricodeEncoder()
        before = resident()
        e.push_preamble(64 << 20)
        assert e.drain_bits().size == 64 << 20
        e.push_byte(0x65)
        assert e.drain_bits().tolist() == [1, 1]  # a small drain after the burst
        assert resident() - before < 16 << 20

    def test_long_streams_grow_without_bound(self):
        e = t.VaricodeEncoder()
        for _ in range(1000):
            e.push_preamble(997)
            e.push_byte(0)
        out = e.drain_bits()
        assert out.size == 1000 * (997 + 10)
        assert out.sum() == 1000 * sum(NUL_WORD)


class TestDecoder:
    def test_single_character(self):
        assert decode(bits(1, 0, 1, 1, 0, 0)) == b"a"

    def test_zeros_alone_decode_to_nothing(self):
        assert decode(np.zeros(101, np.uint8)) == b""
        d = t.VaricodeDecoder()
        assert d.pop_bytes() == b""

    def test_round_trip_of_all_byte_values(self):
        data = bytes(range(128))
        assert decode(encode(data, preamble=32, postamble=32)) == data

    def test_high_bytes_decode_as_nul(self):
        data = bytes(range(256))
        assert decode(encode(data)) == bytes(range(128)) + bytes(128)

    def test_last_character_needs_two_closing_zeros(self):
        d = t.VaricodeDecoder()
        d.push_bits(bits(1, 0, 1, 1))
        assert d.pop_bytes() == b""
        d.push_bits(bits(0))
        assert d.pop_bytes() == b""
        d.push_bits(bits(0))
        assert d.pop_bytes() == b"a"

    def test_split_at_every_point_equals_one_call(self):
        stream = encode(b"Hello, World!\r\n", preamble=6)
        whole = decode(stream)
        assert whole == b"Hello, World!\r\n"
        for cut in range(1, len(stream)):
            assert decode(stream, [cut]) == whole

    def test_random_chunking(self, rng):
        data = bytes(rng.integers(0, 128, 300).tolist())
        stream = encode(data, preamble=32, postamble=32)
        cuts = np.sort(rng.choice(np.arange(1, len(stream)), 40, replace=False))
        assert decode(stream, cuts.tolist()) == data

    @pytest.mark.parametrize("preamble", [1, 3, 5, 31, 33])
    def test_odd_idle_run_before_a_character_is_not_part_of_it(self, preamble):
        # Every code word starts with 1, so a leftover idle zero cannot belong to the word.
        for value in (0x20, 0x61, 0x65, 0x41, 0x0A):
            assert decode(encode(bytes([value]), preamble=preamble)) == bytes([value])

    def test_lone_zero_before_a_ten_bit_word(self):
        assert decode(bits(0, *NUL_WORD, 0, 0)) == b"\x00"

    def test_nonzero_elements_count_as_ones_but_only_bit_zero_enters(self):
        # 3 is a one for both purposes; 2 is non-zero (no separator) but shifts in a 0.
        assert decode(bits(3, 0, 255, 1, 0, 0)) == b"a"
        assert decode(bits(1, 2, 1, 1, 0, 0)) == b"a"

    def test_unknown_words_are_dropped(self):
        # 1111111111111 has no entry; the stream recovers at the next separator.
        assert decode(bits(*[1] * 13, 0, 0, 1, 1, 0, 0)) == b"e"
        assert decode(bits(1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1, 0, 0)) == b" "

    def test_random_elements_match_the_model(self, rng):
        # Mostly 0/1, with some 2s and 3s: non-zero for the separator, low bit into the word.
        stream = rng.choice(np.array([0, 1, 2, 3], np.uint8), 100_000, p=[0.45, 0.45, 0.05, 0.05])
        want = ref.decode(TABLE, stream.tolist())
        assert len(want) > 5000
        d = t.VaricodeDecoder()
        for piece in np.array_split(stream, 20):
            d.push_bits(piece)
        assert d.pop_bytes() == want

    def test_partial_character_survives_pop(self):
        d = t.VaricodeDecoder()
        d.push_bits(bits(1, 1, 0, 0, 1, 0))
        assert d.pop_bytes() == b"e"
        d.push_bits(bits(1, 1, 0, 0))
        assert d.pop_bytes() == b"a"
        assert d.pop_bytes() == b""
