"""The receive road's cost: one 15 s FT8 slot (12 kHz) searched over 100-3000 Hz
with t_min 0, t_max 14 and every candidate decoded with decode_soft; the same
for one 7.5 s FT4 slot; the waterfall against its multiply-add floor; the same
search written plainly in NumPy; and two threads searching two slots against one.

Run: PYTHONPATH=<build dir> python3 bench/bench_sync.py [--lane-ops-per-cycle N] [--ghz F]
"""

import argparse
import os
import sys
import threading
import time

import numpy as np

import tarsk_sdr as t

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    from cycles import clock_hz  # measured core clock, when the helper is there
except ImportError:
    def clock_hz():
        return None

FS = 12000.0
BASE, TOP = 100.0, 3000.0
MAX_CAND = 50
MODES = {
    # name: sync, mod, codec, symbols per frame, samples per symbol, spacing, slot samples, t_max
    "FT8": (t.ft8_sync, t.Ft8Mod, t.Ft8Codec, 79, 1920, 6.25, 180000, 14),
    "FT4": (t.ft4_sync, t.Ft4Mod, t.Ft4Codec, 105, 576, 62.5 / 3, 90000, 40),
}


def best_time(fn, repeat=7):
    fn()
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def nominal_ghz():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("cpu MHz"):
                    return float(line.split(":")[1]) / 1000.0
    except OSError:
        pass
    return None


def make_slot(mode, seed=3, snr_db=None):
    # FT4 symbols are 3.3 times shorter than FT8's: the same SNR in 2500 Hz gives 5 dB less per symbol.
    snr_db = snr_db if snr_db is not None else (-8.0 if mode == "FT8" else -3.0)
    sync, mod, codec, symbols, block, spacing, n, t_max = MODES[mode]
    rng = np.random.default_rng(seed)
    slot = ((rng.normal(size=n) + 1j * rng.normal(size=n)) / np.sqrt(2)).astype(np.complex64)
    gain = float(np.sqrt(10 ** (snr_db / 10) * 2500 / FS))
    for i, (near_hz, start) in enumerate(((400.0, 2), (1100.0, 5), (1900.0, 9), (2600.0, 12))):
        hz = BASE + round((near_hz - BASE) / spacing) * spacing  # on a search bin
        payload = t.ft8_pack_standard("CQ", f"X{i}ABC", "FN42")
        frame = mod(FS, hz, 0.0, gain).modulate(codec.encode(payload))
        slot[start * block:start * block + frame.size] += frame[:n - start * block]
    return slot


def search_and_decode(mode, slot):
    sync, _, codec, *_, t_max = MODES[mode]
    found = sync(slot, FS, BASE, TOP, 0, t_max, MAX_CAND)
    return {p for p in (codec.decode_soft(c["llr"]) for c in found) if p is not None}


# ---------------------------------------------------------------- the same search, plain NumPy

def numpy_search(mode, slot):
    """Waterfall by one matrix product per slot, Costas scores over the whole grid, LLRs of the best."""
    _, _, codec, symbols, block, spacing, _, t_max = MODES[mode]
    bins = int(np.ceil((TOP - BASE) / spacing)) + (9 if mode == "FT8" else 5)
    rows = t_max + symbols
    x = np.zeros(rows * block, np.complex64)
    m = min(x.size, slot.size)
    x[:m] = slot[:m]
    f = BASE + spacing * np.arange(bins)
    phasors = np.exp(-2j * np.pi * np.outer(np.arange(block), f) / FS).astype(np.complex64)
    w = np.log(np.abs(x.reshape(rows, block) @ phasors) ** 2 + np.float32(1e-12))
    if mode == "FT8":
        costas = [(s + j, tone) for s in (0, 36, 72) for j, tone in enumerate((3, 1, 4, 0, 6, 5, 2))]
        tones, data = 8, [7 + k if k < 29 else 14 + k for k in range(58)]
        sets = [((0, 1, 2, 3), (4, 5, 6, 7)), ((0, 1, 5, 6), (2, 3, 4, 7)), ((0, 3, 4, 5), (1, 2, 6, 7))]
    else:
        blocks = ((0, 1, 3, 2), (1, 0, 2, 3), (2, 3, 1, 0), (3, 2, 0, 1))
        costas = [(s + j, tone) for s, b in zip((1, 34, 67, 100), blocks) for j, tone in enumerate(b)]
        tones, data = 4, [k + 5 if k < 29 else (k + 9 if k < 58 else k + 13) for k in range(87)]
        sets = [((0, 1), (2, 3)), ((0, 3), (1, 2))]
    pad = np.full((rows + 2, bins + 2), -np.inf, np.float32)
    pad[1:-1, 1:-1] = w
    nk, nf = t_max + 1, bins - tones + 1
    score = np.zeros((nk, nf), np.float32)
    for pos, tone in costas:
        c = pad[1 + pos:1 + pos + nk, 1 + tone:1 + tone + nf]
        nb = np.maximum(np.maximum(pad[1 + pos:1 + pos + nk, tone:tone + nf], pad[1 + pos:1 + pos + nk, 2 + tone:2 + tone + nf]),
                        np.maximum(pad[pos:pos + nk, 1 + tone:1 + tone + nf], pad[2 + pos:2 + pos + nk, 1 + tone:1 + tone + nf]))
        score += np.maximum(c - nb, 0)
    order = np.argsort(-score, axis=None, kind="stable")[:MAX_CAND]
    out = set()
    for k, fb in zip(*np.unravel_index(order, score.shape)):
        p = w[k + np.array(data)][:, fb:fb + tones]
        llr = np.stack([p[:, list(z)].max(1) - p[:, list(o)].max(1) for z, o in sets], 1).ravel()
        llr = (llr * np.sqrt(24 / max(np.mean(llr * llr), 1e-10))).astype(np.float32)
        payload = codec.decode_soft(np.ascontiguousarray(llr))
        if payload is not None:
            out.add(payload)
    return out


def main():
    ap = argparse.ArgumentParser()
    # The waterfall's inner step, per bin and sample, is 4 multiplies and 4 adds
    # (X += x * p, written out). A core with two 256-bit multiply pipes and two
    # 256-bit add pipes, or one of each at 512 bits, does 32 such lane-operations a cycle.
    ap.add_argument("--lane-ops-per-cycle", type=float, default=32.0)
    ap.add_argument("--ghz", type=float, default=None, help="core clock (default: measured, else /proc/cpuinfo)")
    args = ap.parse_args()
    hz = args.ghz * 1e9 if args.ghz else (clock_hz() or (nominal_ghz() or 0) * 1e9)
    print(f"core clock {hz / 1e9:.2f} GHz, cpu target {os.environ.get('TARSK_ISA') or 'widest available'}")

    for mode in MODES:
        sync, _, _, symbols, block, spacing, n, t_max = MODES[mode]
        slot = make_slot(mode)
        decoded = search_and_decode(mode, slot)
        whole = best_time(lambda: search_and_decode(mode, slot), repeat=15)
        # The waterfall alone: the search keeping one candidate, less the same search over an
        # empty buffer (every row past its end: no transform, the same scoring).
        empty = np.zeros(0, np.complex64)
        search = best_time(lambda: sync(slot, FS, BASE, TOP, 0, t_max, 1), repeat=30)
        search -= best_time(lambda: sync(empty, FS, BASE, TOP, 0, t_max, 1), repeat=30)
        plain = best_time(lambda: numpy_search(mode, slot), repeat=3)
        bins = int(np.ceil((TOP - BASE) / spacing)) + (9 if mode == "FT8" else 5)
        rows = t_max + symbols
        bin_samples = bins * min(n, rows * block)
        floor = bin_samples * 8 / args.lane_ops_per_cycle / hz if hz else float("nan")
        print(f"{mode}: {len(decoded)} messages decoded; whole slot (search, {MAX_CAND} candidates, decodes) "
              f"{whole * 1e3:.2f} ms")
        print(f"  waterfall ({rows} rows x {bins} bins) "
              f"{search * 1e3:.2f} ms, multiply-add floor {floor * 1e3:.2f} ms: {search / floor:.2f}x the floor")
        print(f"  the same search plainly in NumPy: {plain * 1e3:.1f} ms, {plain / whole:.1f}x slower")

    # Two threads, each searching its own slots, against one thread doing all of them.
    slots = [make_slot("FT8", seed=s) for s in range(8)]

    def work(part):
        for s in part:
            search_and_decode("FT8", s)

    one = best_time(lambda: work(slots), repeat=3)

    def two():
        th = [threading.Thread(target=work, args=(slots[i::2],)) for i in range(2)]
        for x in th:
            x.start()
        for x in th:
            x.join()

    both = best_time(two, repeat=3)
    print(f"FT8 slots per second: one thread {len(slots) / one:.1f}, two threads {len(slots) / both:.1f} "
          f"({one / both:.2f}x)")


if __name__ == "__main__":
    main()
