"""Throughput of the linear modems against the plain NumPy way of doing the
same thing, on 1,000,000-sample arrays, and how close the modulators come to
the serial bound of their carrier recursion.

Run: PYTHONPATH=<build dir> python3 bench/bench_linear.py [--chain-cycles N]
"""

import argparse
import os
import sys

import numpy as np

import tarsk_sdr as t

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cycles import best_time, clock_hz, describe, per_item  # noqa: E402

N = 1_000_000
FS, RF, GAIN = 48000.0, 1000.0, 1.0
QAM_LEVELS = {
    16: [-3, -1, 3, 1],
    64: [-7, -5, -1, -3, 7, 5, 1, 3],
    256: [-15, -13, -9, -11, -1, -3, -7, -5, 15, 13, 9, 11, 1, 3, 7, 5],
}
QAM_SCALE = {16: 0.31622776, 64: 0.15430336, 256: 0.0766965}


def main():
    ap = argparse.ArgumentParser()
    # One carrier step is a multiply (im * sin w) feeding a fused multiply-add
    # (re * cos w - that product); the other component runs alongside. So the
    # recursion costs mul latency + fma latency per sample: 3 + 4 = 7 cycles on
    # recent AMD cores, 4 + 4 = 8 on recent Intel ones. Nothing else in the
    # loop depends on the previous sample, so this is the floor per sample.
    ap.add_argument("--chain-cycles", type=float, default=7.0)
    args = ap.parse_args()

    rng = np.random.default_rng(1)
    w = (np.float32(RF) * np.float32(6.2831855)) / np.float32(FS)
    phase = w * np.arange(1, N + 1)  # precomputed: NumPy only pays for exp and the products
    gray = {o: np.array([[(p ^ (p >> 1)) >> s & 1 for s in range(b - 1, -1, -1)] for p in range(1 << b)], np.uint8)
            for o, b in ((16, 2), (64, 3), (256, 4))}

    rows = []

    def row(name, ours, numpy_way):
        a, b = best_time(ours), best_time(numpy_way)
        rows.append((name, N / a, N / b, b / a))

    # ---- modulators
    bits1 = rng.integers(0, 2, N, dtype=np.uint8)
    bits2 = rng.integers(0, 2, 2 * N, dtype=np.uint8)
    bpsk = t.BpskMod(FS, RF, GAIN)
    row("BpskMod", lambda: bpsk.process(bits1),
        lambda: ((1 - 2 * (bits1 & 1).astype(np.float32)) * np.exp(1j * phase) * GAIN).astype(np.complex64))
    qpsk = t.QpskMod(FS, RF, GAIN)
    a = np.float32(0.70710677)

    def qpsk_np():
        lv = a * (1 - 2 * (bits2 & 1).astype(np.float32))
        return ((lv[0::2] + 1j * lv[1::2]) * np.exp(1j * phase) * GAIN).astype(np.complex64)
    row("QpskMod", lambda: qpsk.process(bits2), qpsk_np)

    for order, nb in ((16, 4), (64, 6), (256, 8)):
        bits = rng.integers(0, 2, nb * N, dtype=np.uint8)
        mod = t.QamMod(order, FS, RF, GAIN)
        levels = np.float32(QAM_SCALE[order]) * np.array(QAM_LEVELS[order], np.float32)
        weights = 1 << np.arange(nb // 2 - 1, -1, -1)

        def qam_np(bits=bits, levels=levels, weights=weights, nb=nb):
            g = (bits & 1).reshape(-1, 2, nb // 2) @ weights
            return ((levels[g[:, 0]] + 1j * levels[g[:, 1]]) * np.exp(1j * phase) * GAIN).astype(np.complex64)
        row(f"QamMod {order}", lambda mod=mod, bits=bits: mod.process(bits), qam_np)

    # ---- demodulators
    iq = (rng.normal(size=N) + 1j * rng.normal(size=N)).astype(np.complex64)
    bd, qd = t.BpskDemod(GAIN), t.QpskDemod(GAIN)
    row("BpskDemod", lambda: bd.process(iq), lambda: ((iq.real * np.float32(GAIN)) < 0).astype(np.uint8))
    row("QpskDemod", lambda: qd.process(iq), lambda: ((iq.view(np.float32) * np.float32(GAIN)) < 0).astype(np.uint8))
    for order in (16, 64, 256):
        dem = t.QamDemod(order, GAIN)
        th = np.float32(QAM_SCALE[order]) * np.arange(-(len(QAM_LEVELS[order]) - 2), len(QAM_LEVELS[order]) - 1, 2,
                                                     dtype=np.float32)

        def qam_dem_np(th=th, table=gray[order]):
            return table[np.searchsorted(th, iq.view(np.float32) * np.float32(GAIN))].ravel()
        row(f"QamDemod {order}", lambda dem=dem: dem.process(iq), qam_dem_np)

    # The sign deciders do one compare per float: they run at memory speed, as
    # NumPy's own sign test nearly does. Context: one plain copy of the input.
    buf = np.empty_like(iq)
    copy_rate = N / best_time(lambda: np.copyto(buf, iq))

    print(f"{'block':<14}{'tarsk_sdr Msa/s':>17}{'NumPy Msa/s':>14}{'ratio':>9}")
    for name, ours, theirs, ratio in rows:
        print(f"{name:<14}{ours / 1e6:>17.1f}{theirs / 1e6:>14.1f}{ratio:>8.1f}x")

    print(f"(copying the 1M-sample input array once: {copy_rate / 1e6:.0f} Msa/s)")

    # ---- serial bound of the carrier recursion, in cycles at the measured clock.
    # Measured apart, on 32768 samples (output in L2) and the best of many
    # calls: the 1M-sample timings above also pay for first-touching the new
    # output and are easily disturbed on a busy machine.
    small = 32768
    mods = [("BpskMod", t.BpskMod(FS, RF, GAIN), 1), ("QpskMod", t.QpskMod(FS, RF, GAIN), 2)]
    mods += [(f"QamMod {o}", t.QamMod(o, FS, RF, GAIN), nb) for o, nb in ((16, 4), (64, 6), (256, 8))]
    per_sample = {}
    for name, mod, per in mods:
        bits = rng.integers(0, 2, small * per, dtype=np.uint8)
        per_sample[name] = per_item(lambda mod=mod, bits=bits: mod.process(bits), small, repeat=300)
    print()
    print(f"{describe()}; kernel path: {os.environ.get('TARSK_ISA', 'widest this CPU runs')}")
    if clock_hz():
        print(f"carrier recursion floor: {args.chain_cycles:g} cycles/sample; {small} samples per call, best of 300")
        for name, tm in per_sample.items():
            print(f"{name:<14}{tm.cycles:5.2f} cycles/sample = {tm.cycles / args.chain_cycles:4.2f} x the floor")
    else:
        for name, tm in per_sample.items():
            print(f"{name:<14}{tm.ns:6.2f} ns/sample")

if __name__ == "__main__":
    main()
