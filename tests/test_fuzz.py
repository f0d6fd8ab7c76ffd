"""Bad input over every registered callable, found through __all__ and the text
signatures: each call succeeds or raises a clean error, leaves no trace when it
fails, and leaks nothing. Longer runs: tools/fuzz.py --seed S --calls N."""

import gc
import mmap
import os
import pathlib

import numpy as np
import pytest

import tarsk_sdr as t

import fuzzlib

# About 50,000 calls in all, split over seeds so that a failure names a short run.
TOTAL_CALLS = int(os.environ.get("TARSK_FUZZ_CALLS", "50000"))
SEEDS = list(range(10))
TOPS, METHODS = fuzzlib.discover(t)


@pytest.mark.parametrize("seed", SEEDS)
def test_fuzz(seed):
    fuzzlib.Fuzzer(t, seed).run(TOTAL_CALLS // len(SEEDS))


def test_every_parameter_with_every_odd_value_of_its_kind():
    assert fuzzlib.Fuzzer(t, 11).sweep() > 1000


def test_every_class_is_reached_with_live_objects():
    # Values chosen by parameter name must build every class, or its methods go unfuzzed.
    names = {c.owner.__name__ for c in TOPS if c.kind == "new"}
    fuzzer = fuzzlib.Fuzzer(t, 1)
    for new in TOPS:
        if new.kind == "new":
            assert fuzzer.construct(new) is not None, f"no sane arguments build {new.owner.__name__}"
    assert set(METHODS) == names
    assert len(TOPS) == len(t.__all__)


def rss_bytes():
    return int(pathlib.Path("/proc/self/statm").read_text().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(not pathlib.Path("/proc/self/statm").exists(), reason="needs /proc")
def test_failed_calls_leak_nothing():
    fuzzer = fuzzlib.Fuzzer(t, 7)
    fuzzer.keep_failing = True
    fuzzer.run(3000)
    calls = fuzzer.failing[:600]
    assert len(calls) > 300

    def replay(times):
        with fuzzlib.memory_cap():
            for _ in range(times):
                for _, fn, args, kwargs in calls:
                    try:
                        fn(*args, **kwargs)
                    except (*fuzzlib.ALLOWED, fuzzlib.FuzzError):
                        pass

    watched = [v for _, _, args, kwargs in calls for v in list(args) + list(kwargs.values())
               if isinstance(v, np.ndarray) or (isinstance(v, (bytes, str)) and len(v) > 1)]
    replay(2)
    gc.collect()
    counts = [fuzzlib.sys.getrefcount(v) for v in watched]
    objects = len(gc.get_objects())
    rss = rss_bytes()
    replay(40)
    gc.collect()
    assert [fuzzlib.sys.getrefcount(v) for v in watched] == counts
    assert len(gc.get_objects()) - objects < 100
    # Native allocations are invisible to tracemalloc; the resident size is not.
    assert rss_bytes() - rss < 32 << 20


def streaming():
    """(class, process method) for every class with a one-array process method."""
    out = []
    for new in TOPS:
        for m in METHODS.get(getattr(new.owner, "__name__", ""), []):
            if m.attr == "process" and len(m.params) == 1 and fuzzlib.kind_of(m.params[0].name) == "array":
                out.append(pytest.param(new, m, id=new.owner.__name__))
    return out


def twins(new, seed):
    fuzzer = fuzzlib.Fuzzer(t, seed)
    pair = fuzzer.construct(new)
    assert pair is not None
    return pair


def concat(parts, dtype):
    return np.concatenate(parts) if parts else np.zeros(0, dtype)


@pytest.mark.parametrize("new, process", streaming())
def test_process_in_pieces_equals_process_at_once(new, process, rng):
    param = process.params[0].name
    dtype = fuzzlib.ARRAY_DTYPES[param]
    for seed in range(3):
        whole, pieces = twins(new, seed)
        # Mappers drop an incomplete symbol instead of carrying it: cut at whole symbols.
        step = 1
        if param == "bits":
            probe, _ = twins(new, seed)
            while step < 64 and probe.process(np.zeros(step, np.uint8)).size == 0:
                step += 1
        x = fuzzlib.Gen(seed).array(dtype, 3000, param)
        cuts = np.sort(rng.integers(0, len(x) // step + 1, 6)) * step
        bounds = [0, *cuts.tolist(), len(x)]
        parts = [pieces.process(x[i:j]) for i, j in zip(bounds[:-1], bounds[1:])]
        once = whole.process(x)
        if hasattr(whole, "flush"):
            once = np.concatenate([once, whole.flush()])
            parts.append(pieces.flush())
        assert fuzzlib.same(concat(parts, once.dtype), once), (new, bounds)


def test_varicode_round_trip(rng):
    for _ in range(20):
        data = bytes(rng.integers(0, 128, rng.integers(0, 40)).astype(np.uint8))
        e = t.VaricodeEncoder()
        e.push_preamble(int(rng.integers(0, 40)))
        for b in data:
            e.push_byte(b)
        e.push_postamble(2)
        stream = e.drain_bits()
        d = t.VaricodeDecoder()
        cuts = np.sort(rng.integers(0, stream.size + 1, 4))
        for i, j in zip([0, *cuts], [*cuts, stream.size]):
            d.push_bits(stream[i:j])
        assert d.pop_bytes() == data


def test_pack_unpack_round_trip(rng):
    letters = "ABCDEFGHIJKLMNOPRSTUVWXYZ"  # a Q-prefixed call would go hashed
    for _ in range(50):
        text = "".join(rng.choice(list(fuzzlib.TEXT_CHARS), rng.integers(1, 14))).strip()
        assert t.ft8_unpack(t.ft8_pack_free_text(text)) == {"type": "free_text", "text": text}
        data = bytes(rng.integers(0, 256, 9).astype(np.uint8) & np.array([0x7F] + [0xFF] * 8, np.uint8))
        assert t.ft8_unpack(t.ft8_pack_telemetry(data)) == {"type": "telemetry", "data": data}
        call = "".join(rng.choice(list(letters), 2)) + str(rng.integers(10)) + "".join(rng.choice(list(letters), 3))
        grid = rng.choice(list("ABCDEFGHIJKLMNOPQR"), 2).tolist() + [str(d) for d in rng.integers(0, 10, 2)]
        extra = "".join(grid)
        got = t.ft8_unpack(t.ft8_pack_standard("CQ", call, extra))
        assert got == {"type": "standard", "call_to": "CQ", "call_de": call, "extra": extra}


@pytest.mark.parametrize("codec, count", [("Ft8Codec", 58), ("Ft4Codec", 87)])
def test_codec_round_trip(codec, count, rng):
    if not hasattr(t, codec):
        pytest.skip(f"{codec} is not built yet")
    cls = getattr(t, codec)
    for _ in range(5):
        payload = bytearray(rng.integers(0, 256, 10).astype(np.uint8).tobytes())
        payload[9] &= 0xF8  # 77 bits
        tones = cls.encode(bytes(payload))
        assert tones.size == count
        assert cls.decode_hard(tones) == bytes(payload)


def huge_array(dtype, n):
    # Address space only: the pages are never backed unless read.
    size = n * np.dtype(dtype).itemsize
    buf = mmap.mmap(-1, size, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS | 0x4000, prot=mmap.PROT_READ)
    return np.frombuffer(buf, dtype)


def overcommit_checked():
    mode = pathlib.Path("/proc/sys/vm/overcommit_memory")
    return mode.exists() and mode.read_text().strip() != "1"


@pytest.mark.skipif(not overcommit_checked(), reason="needs Linux refusing hopeless allocations")
@pytest.mark.parametrize("new, process", streaming())
def test_hopeless_input_sizes_raise_memory_error(new, process):
    param = process.params[0].name
    dtype = fuzzlib.ARRAY_DTYPES[param]
    obj, twin = twins(new, 0)
    probe = obj.process(np.zeros(256, dtype))
    twin.process(np.zeros(256, dtype))
    if probe.nbytes < np.zeros(256, dtype).nbytes:
        pytest.skip("output is not proportional to the input")
    x = huge_array(dtype, 2**40)
    with pytest.raises(MemoryError):
        obj.process(x)
    del x
    y = fuzzlib.Gen(3).array(dtype, 100, param)
    assert fuzzlib.same(obj.process(y), twin.process(y))


class Careless:
    """A stand-in class with the faults the fuzzer exists to catch."""

    def __init__(self, gain):
        self.gain = float(gain)
        self.count = 0

    def process(self, iq):
        self.count += 1  # moves before the argument is checked
        if not isinstance(iq, np.ndarray) or iq.dtype != np.complex64 or iq.ndim != 1:
            raise TypeError("argument 'iq': not a complex64 vector")
        return np.full(iq.size, self.count, np.float32)


class Crashing:
    def process(self, iq):
        if isinstance(iq, np.ndarray) and not iq.flags.c_contiguous:
            raise KeyError("stride")  # stands for anything but a clean error
        return np.zeros(0, np.float32)


@pytest.mark.parametrize("cls", [Careless, Crashing])
def test_the_fuzzer_finds_planted_faults(cls):
    module = type("module", (), {"__all__": [cls.__name__], cls.__name__: cls})
    with pytest.raises(fuzzlib.FuzzFailure, match=r"^seed 3, call \d+: "):
        fuzzlib.Fuzzer(module, 3).run(20000)
