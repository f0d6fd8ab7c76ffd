"""Throughput of the PSK31 modems against the plain NumPy way of doing the same
job, on about 1,000,000 samples at 48 kHz with a 1500 Hz carrier, each block's
time per sample against the serial floor of its carrier recursion, and the
symbol rate of the QPSK31 Viterbi decoder (Qpsk31Demod.flush).

Times are CPU time of this thread (the best of several runs), so a machine
shared with other work still gives the cost of the work itself.

Run: PYTHONPATH=<build dir> python3 bench/bench_psk31.py [--chain-cycles N]
"""

import argparse
import math
import os
import sys
import time

import numpy as np

import tarsk_sdr as t

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cycles import clock_hz, describe  # noqa: E402

FS, RF, GAIN = 48000.0, 1500.0, 1.0
SPS = 1536
N_SYM = 651  # 999,936 samples
N = N_SYM * SPS


def best_time(fn, repeat=7):
    fn()  # warm caches and page in the output
    best = float("inf")
    for _ in range(repeat):
        t0 = time.thread_time()
        fn()
        best = min(best, time.thread_time() - t0)
    return best


# ---------------------------------------------------------------- the NumPy way

RAMP = (0.5 - 0.5 * np.cos(np.pi * np.arange(SPS) / (SPS - 1))).astype(np.float32)
# Precomputed: NumPy pays only for the carrier's exp and the products, as our blocks pay for
# their recursion. Sums are NumPy's own (no BLAS threads, whose time this thread would not see).
PHASE = (np.float32(RF) * np.float32(2 * np.pi) / np.float32(FS)) * np.arange(1, N + 1)


def shaped(levels):
    """Ramps from each symbol's previous level to its own, one row per symbol."""
    old = np.concatenate([[1.0], levels[:-1]]).astype(np.complex64)
    return (old[:, None] + RAMP[None, :] * (levels - old)[:, None]).ravel()


def bpsk_mod_np(bits):
    levels = np.cumprod(np.where(bits == 0, -1.0, 1.0)).astype(np.float32)
    return (shaped(levels) * GAIN * np.exp(1j * PHASE)).astype(np.complex64)


def qpsk_mod_np(bits):
    u = np.concatenate([np.zeros(4, np.uint8), bits & 1])
    c0 = u[4:] ^ u[2:-2] ^ u[:-4]
    c1 = u[4:] ^ u[1:-3] ^ u[:-4]
    quarter = np.array([0, 3, 1, 2])[2 * c0 + c1]  # rotation as a power of j
    levels = (1j ** (np.cumsum(quarter) % 4)).astype(np.complex64)
    return (shaped(levels) * GAIN * np.exp(1j * PHASE)).astype(np.complex64)


def bpsk_demod_np(iq):
    out = np.empty(N_SYM, np.float32)
    r = 0.0
    x = (iq * np.exp(-1j * PHASE)).reshape(N_SYM, SPS)
    a = (x * RAMP).sum(axis=1)
    c = np.float32((RAMP * (1 - RAMP)).sum())
    k_gain = GAIN / np.float32((RAMP * RAMP).sum())
    prev = 1 + 0j
    for k in range(N_SYM):
        z = (complex(a[k]) - prev * c) * k_gain * complex(math.cos(r), -math.sin(r))
        d = z * prev.conjugate()
        out[k] = d.real
        p = abs(d)
        if p * p > 1e-6:
            r += 0.1 * (d.imag if d.real >= 0 else -d.imag) / p
            r = r - 2 * math.pi if r > math.pi else r + 2 * math.pi if r < -math.pi else r
        prev = z
    return out


def qpsk_demod_np(iq):
    out = np.empty(2 * N_SYM, np.float32)
    r = 0.0
    x = (iq * np.exp(-1j * PHASE)).reshape(N_SYM, SPS)
    a = (x * RAMP).sum(axis=1)
    c = np.float32((RAMP * (1 - RAMP)).sum())
    k_gain = GAIN / np.float32((RAMP * RAMP).sum())
    prev = 1 + 0j
    for k in range(N_SYM):
        z = (complex(a[k]) - prev * c) * k_gain * complex(math.cos(r), -math.sin(r))
        out[2 * k], out[2 * k + 1] = z.real, z.imag
        d = (1 if z.real >= 0 else -1) if abs(z.real) >= abs(z.imag) else (1j if z.imag >= 0 else -1j)
        p = abs(z)
        if p * p > 1e-6:
            r += 0.1 * (z * complex(d).conjugate()).imag / p
            r = r - 2 * math.pi if r > math.pi else r + 2 * math.pi if r < -math.pi else r
        prev = z
    return out


def viterbi_np(soft):
    """16 states as arrays, one Python step per symbol."""
    rot = np.array([1, -1j, 1j, -1])
    j = np.arange(16)
    c0, c1 = (j & 1) ^ ((j >> 2) & 1), (j & 1) ^ ((j >> 1) & 1)
    idx = np.concatenate([2 * c0 + c1, (2 * c0 + c1) ^ 3])
    nxt = np.concatenate([j >> 1, (j >> 1) | 8])
    src = np.concatenate([j, j])
    metric = np.full(16, np.inf)
    metric[0] = 0
    ref = np.ones(16, complex)
    z = soft[0::2] + 1j * soft[1::2]
    surv = np.zeros((z.size, 16), np.uint8)
    for k in range(z.size):
        p = ref[src] * rot[idx]
        m = metric[src] + np.abs(z[k] - p) ** 2
        order = np.lexsort((src, m))  # smallest metric first, ties to the lower predecessor
        first = np.unique(nxt[order], return_index=True)[1]
        win = order[first]
        metric, ref, surv[k] = m[win], p[win], src[win]
    state, bits = int(np.argmin(metric)), np.empty(z.size, np.uint8)
    for k in range(z.size - 1, -1, -1):
        bits[k] = state >> 3
        state = surv[k, state]
    return bits


def main():
    ap = argparse.ArgumentParser()
    # One carrier step is a multiply (im * sin w) feeding a fused multiply-add
    # (re * cos w - that product); the other component runs alongside. So the
    # recursion costs mul latency + fma latency per sample: 3 + 4 = 7 cycles on
    # recent AMD cores, 4 + 4 = 8 on recent Intel ones. Everything else per
    # sample (the ramp, the mixing product, the integrator's adds) is off that
    # chain, so this is each block's floor.
    ap.add_argument("--chain-cycles", type=float, default=7.0)
    args = ap.parse_args()

    rng = np.random.default_rng(1)
    bits = rng.integers(0, 2, N_SYM, dtype=np.uint8)
    rows = []

    def row(name, ours, numpy_way, n=N):
        a, b = best_time(ours), best_time(numpy_way, repeat=3)
        rows.append((name, n / a, n / b, b / a))

    bmod, qmod = t.Bpsk31Mod(FS, RF, GAIN), t.Qpsk31Mod(FS, RF, GAIN)
    row("Bpsk31Mod", lambda: bmod.modulate_bits(bits), lambda: bpsk_mod_np(bits))
    row("Qpsk31Mod", lambda: qmod.modulate_bits(bits), lambda: qpsk_mod_np(bits))

    biq = t.Bpsk31Mod(FS, RF, GAIN).modulate_bits(bits)
    qiq = t.Qpsk31Mod(FS, RF, GAIN).modulate_bits(bits)
    bdem, qdem = t.Bpsk31Demod(FS, RF, GAIN), t.Qpsk31Demod(FS, RF, GAIN)
    assert np.array_equal(bdem.process(biq) > 0, bpsk_demod_np(biq) > 0)

    def qpsk_demod():
        qdem.process(qiq)
        qdem.reset()  # keep the buffer from growing over the runs
    row("Bpsk31Demod", lambda: bdem.process(biq), lambda: bpsk_demod_np(biq))
    row("Qpsk31Demod", qpsk_demod, lambda: qpsk_demod_np(qiq))

    # The decoder: one symbol per sample at fs 31.25, random soft values.
    n_sym = 1_000_000
    soft = rng.normal(0, 1, 2 * n_sym).astype(np.float32).view(np.complex64)
    dec = t.Qpsk31Demod(31.25, 0.0, 1.0)
    small = dec.process(soft[:4000])
    assert np.array_equal(dec.flush(), viterbi_np(small))

    def fill():
        dec.process(soft)
        dec.reset()

    def fill_and_flush():
        dec.process(soft)
        dec.flush()
    flush_rate = n_sym / (best_time(fill_and_flush) - best_time(fill))
    numpy_rate = small.size / 2 / best_time(lambda: viterbi_np(small), repeat=1)

    print(f"{'block':<14}{'tarsk_sdr Msa/s':>17}{'NumPy Msa/s':>14}{'ratio':>9}")
    for name, ours, theirs, ratio in rows:
        print(f"{name:<14}{ours / 1e6:>17.1f}{theirs / 1e6:>14.2f}{ratio:>8.0f}x")
    print(f"{'flush':<14}{flush_rate / 1e6:>13.1f} Msym/s{numpy_rate / 1e6:>10.3f} Msym/s"
          f"{flush_rate / numpy_rate:>6.0f}x  (16 states, 2 branches each)")

    hz = clock_hz()
    print()
    print(f"{describe()}; kernel path: {os.environ.get('TARSK_ISA', 'widest this CPU runs')}")
    if hz:
        print(f"carrier recursion floor: {args.chain_cycles:g} cycles/sample")
        for name, ours, _, _ in rows:
            c = hz / ours
            print(f"{name:<14}{c:5.2f} cycles/sample = {c / args.chain_cycles:4.2f} x the floor")
        print(f"{'flush':<14}{hz / flush_rate:5.1f} cycles/symbol")
    else:
        for name, ours, _, _ in rows:
            print(f"{name:<14}{1e9 / ours:6.2f} ns/sample")
        print(f"{'flush':<14}{1e9 / flush_rate:6.2f} ns/symbol")


if __name__ == "__main__":
    main()
