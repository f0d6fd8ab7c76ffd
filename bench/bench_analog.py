"""Throughput of the analog modulators and demodulators against the NumPy/SciPy
way of doing the same thing, on 1,000,000-sample arrays, and each block's time
against the serial dependency chain it cannot avoid.

Every block keeps a recursion whose every step must round exactly as written
(a carrier phasor, a low-pass section, a smoother or a DC blocker), so the
latency of that chain, not the arithmetic throughput, bounds it.

Run: PYTHONPATH=<build dir> python3 bench/bench_analog.py [--fma 4 --mul 3 --add 3] [--repeat N]
"""

import argparse
import os
import sys

# Idle BLAS worker threads spin for a while after each call and take the
# sibling hardware thread's floating-point pipes; nothing here needs them.
for var in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(var, "1")

import numpy as np  # noqa: E402
from scipy import signal  # noqa: E402

import tarsk_sdr as t  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cycles import best_time, clock_hz, describe  # noqa: E402

N = 1_000_000
FS = 48000.0


def lowpass_sos(bw, fs):
    """The blocks' low-pass pair as second-order sections (same design, in doubles)."""
    w0 = 2 * np.pi * bw * 0.9 / fs
    alpha = np.sin(w0) / np.sqrt(2)
    c = np.cos(w0)
    k = 1 / (1 + alpha)
    sec = [(1 - c) / 2 * k, (1 - c) * k, (1 - c) / 2 * k, 1.0, -2 * c * k, (1 - alpha) * k]
    return np.array([sec, sec])


def main():
    ap = argparse.ArgumentParser()
    # Latencies in cycles of the operations on the chains; the defaults are
    # recent AMD cores (Intel: 4, 4, 4).
    ap.add_argument("--fma", type=float, default=4.0)
    ap.add_argument("--mul", type=float, default=3.0)
    ap.add_argument("--add", type=float, default=3.0)
    # One block sine-cosine (core/fmath.hpp) per sample in the FM and PM
    # modulators: about 8 cycles per value on an AVX-512 core, and it competes
    # with the chain for the same floating-point pipes, so the two add up.
    ap.add_argument("--sincos", type=float, default=8.0, help="cycles per block sine-cosine value")
    ap.add_argument("--repeat", type=int, default=15, help="timed calls per block; the best counts")
    args = ap.parse_args()

    # The chains: carrier phasor (one product feeding one fma), low-pass
    # section (fma, product, difference), smoother and DC blocker (product, sum).
    osc = args.mul + args.fma
    section = args.fma + args.mul + args.add
    one_pole = args.mul + args.add
    floors = {
        "AmDsbMod": (osc, "carrier"),
        "CwKeyedMod": (max(osc, one_pole + 1), "smoother + rise/fall blend"),
        "SsbPhasingMod": (section, "low-pass section"),
        # Plus one sine-cosine per sample, off the chain but not hidden by it.
        "FmPhaseAccumMod": (osc, "phase and carrier phasors; + sincos"),
        "PmDirectPhaseMod": (osc, "carrier; + sincos"),
        "AmEnvelopeDemod": (section, "low-pass section"),
        "CwEnvelopeDemod": (one_pole, "smoother"),
        "SsbProductDemod": (section, "low-pass section"),
        "FmQuadratureDemod": (section, "low-pass section"),
        "PmQuadratureDemod": (section, "low-pass section"),
    }

    rng = np.random.default_rng(1)
    n = np.arange(N)
    w_rf = 2 * np.pi * 1000.0 / FS
    phase = w_rf * (n + 1)  # precomputed: NumPy pays only for exp and the products
    audio = (0.5 * np.sin(2 * np.pi * 400 * n / FS) + 0.1 * rng.normal(size=N)).astype(np.float32)
    keying = np.repeat(rng.integers(0, 2, N // 480 + 1), 480)[:N].astype(np.float32)
    noise = 0.01 * (rng.normal(size=N) + 1j * rng.normal(size=N))
    am_iq = ((1 + 0.5 * np.sin(2 * np.pi * 400 * n / FS)) + noise).astype(np.complex64)
    fm_iq = (np.exp(1j * np.cumsum(0.3 * np.sin(2 * np.pi * 400 * n / FS))) + noise).astype(np.complex64)
    cw_iq = (np.repeat(rng.integers(0, 2, N // 480 + 1), 480)[:N] * np.exp(1j * 0.1 * n) + noise).astype(np.complex64)
    sos = lowpass_sos(3000.0, FS)
    r = 1 - 4 * np.pi / FS

    rows = []

    def row(name, ours, numpy_way):
        a, b = best_time(ours, args.repeat), best_time(numpy_way, 3)
        rows.append((name, N / a, N / b))

    # ---- modulators
    am = t.AmDsbMod(FS, 1000.0, 1.0, 0.8)
    row("AmDsbMod", lambda: am.process(audio),
        lambda: ((1.0 + 0.8 * audio) * np.exp(1j * phase)).astype(np.complex64))

    cw = t.CwKeyedMod(FS, 1000.0, 5.0, 5.0)
    a_cw = np.exp(-1 / (5e-3 * FS))
    row("CwKeyedMod", lambda: cw.process(keying),
        lambda: (signal.lfilter([1 - a_cw], [1, -a_cw], np.clip(keying, 0, 1)) * np.exp(1j * phase)).astype(np.complex64))

    ssb = t.SsbPhasingMod(FS, 1500.0, 1700.0, 1000.0, True)
    phase_if = 2 * np.pi * 1700.0 / FS * (n + 1)
    sos_ssb = lowpass_sos(1500.0, FS)
    row("SsbPhasingMod", lambda: ssb.process(audio),
        lambda: (signal.sosfilt(sos_ssb, audio * np.exp(1j * phase_if)) * np.exp(1j * phase)).astype(np.complex64))

    fm = t.FmPhaseAccumMod(FS, 5000.0, 1000.0)
    k_fm = 2 * np.pi * 5000.0 / FS
    row("FmPhaseAccumMod", lambda: fm.process(audio),
        lambda: np.exp(1j * (np.cumsum(audio * k_fm) + phase)).astype(np.complex64))

    pm = t.PmDirectPhaseMod(FS, 2.0, 1000.0)
    row("PmDirectPhaseMod", lambda: pm.process(audio),
        lambda: np.exp(1j * (2.0 * audio + phase)).astype(np.complex64))

    # ---- demodulators
    amd = t.AmEnvelopeDemod(FS, 3000.0)
    row("AmEnvelopeDemod", lambda: amd.process(am_iq),
        lambda: signal.lfilter([1, -1], [1, -r], np.sqrt(np.maximum(
            signal.sosfilt(sos, am_iq.real**2 + am_iq.imag**2), 0))).astype(np.float32))

    cwd = t.CwEnvelopeDemod(FS, 700.0, 50.0)
    a_env = np.exp(-2 * np.pi * 50.0 / FS)
    row("CwEnvelopeDemod", lambda: cwd.process(cw_iq),
        lambda: signal.lfilter([1 - a_env], [1, -a_env], np.abs(cw_iq)).astype(np.float32))

    ssbd = t.SsbProductDemod(FS, 1000.0, 2500.0)
    sos_ssbd = lowpass_sos(2500.0, FS)
    row("SsbProductDemod", lambda: ssbd.process(fm_iq),
        lambda: signal.lfilter([1, -1], [1, -r], signal.sosfilt(
            sos_ssbd, (fm_iq * np.exp(-1j * phase)).real)).astype(np.float32))

    for name, obj, scale in (("FmQuadratureDemod", t.FmQuadratureDemod(FS, 2000.0, 3000.0), 1 / 2000.0),
                             ("PmQuadratureDemod", t.PmQuadratureDemod(FS, 1.5, 3000.0), 1.5)):
        row(name, lambda obj=obj: obj.process(fm_iq),
            lambda scale=scale: signal.sosfilt(sos, np.angle(fm_iq[1:] * np.conj(fm_iq[:-1])) * scale)
            .astype(np.float32))

    print(f"{'block':<19}{'tarsk_sdr Msa/s':>17}{'NumPy/SciPy Msa/s':>19}{'ratio':>9}")
    for name, ours, theirs in rows:
        print(f"{name:<19}{ours / 1e6:>17.1f}{theirs / 1e6:>19.1f}{ours / theirs:>8.1f}x")

    hz = clock_hz()
    print()
    print(f"serial floors (fma {args.fma:g}, mul {args.mul:g}, add {args.add:g} cycles); {describe()}")
    for name, ours, _ in rows:
        ns = 1e9 / ours
        cycles, chain = floors[name]
        if hz:
            got = ns * 1e-9 * hz
            extra = ""
            if "sincos" in chain:
                extra = f"; {got / (cycles + args.sincos):4.2f} x chain + sincos"
            print(f"{name:<19}{ns:6.2f} ns/sample = {got:5.1f} cycles = {got / cycles:4.2f} x floor "
                  f"({cycles:g}: {chain}{extra})")
        else:
            print(f"{name:<19}{ns:6.2f} ns/sample (floor {cycles:g} cycles: {chain})")


if __name__ == "__main__":
    main()
