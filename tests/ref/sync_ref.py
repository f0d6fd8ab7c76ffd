"""Float32 reference of the waterfall and of the FT8/FT4 candidate scoring and LLRs.

Every operation is one float32 operation in the library's order; fused
multiply-adds are emulated exactly in float64 with round-to-odd.
"""

import math

import numpy as np

f32 = np.float32
TWO_PI = f32(6.2831855)

FT8 = dict(block=1920, bin_hz=f32(6.25), symbols=79, extra=9, tones=8,
           costas=[(s + j, t) for s in (0, 36, 72) for j, t in enumerate((3, 1, 4, 0, 6, 5, 2))],
           data=[7 + m if m < 29 else 14 + m for m in range(58)],
           value_of=(0, 1, 3, 2, 6, 4, 5, 7))
FT4_COSTAS = ((0, 1, 3, 2), (1, 0, 2, 3), (2, 3, 1, 0), (3, 2, 0, 1))
FT4 = dict(block=576, bin_hz=f32(20.833334), symbols=105, extra=5, tones=4,
           costas=[(s + j, t) for s, tones in zip((1, 34, 67, 100), FT4_COSTAS) for j, t in enumerate(tones)],
           data=[m + 5 if m < 29 else (m + 9 if m < 58 else m + 13) for m in range(87)],
           value_of=(0, 1, 3, 2))


def fma32(a, b, c):
    """a * b + c rounded once to float32 (arrays of float32)."""
    p = a.astype(np.float64) * b.astype(np.float64)  # exact
    c64 = c.astype(np.float64)
    s = p + c64
    # TwoSum: s + e == p + c exactly; then round to odd so the float32 rounding is single.
    bb = s - p
    e = (p - (s - bb)) + (c64 - bb)
    odd = (s.view(np.int64) & 1) == 1
    toward = np.nextafter(s, np.where(e > 0, np.inf, -np.inf))
    s = np.where((e != 0) & ~odd, toward, s)
    return s.astype(f32)


def waterfall(x, block, rows, bins, fs, base_hz, bin_hz, start):
    fs, base_hz, bin_hz = f32(fs), f32(base_hz), f32(bin_hz)
    x = np.asarray(x, np.complex64)
    out = np.zeros((rows, bins), f32)
    phi = ((np.arange(bins, dtype=f32) * bin_hz + base_hz) * -TWO_PI) / fs
    c = np.array([f32(math.cos(float(v))) for v in phi], f32)
    s = np.array([f32(math.sin(float(v))) for v in phi], f32)
    starts = [start + r * block for r in range(rows)]
    live = [r for r in range(rows) if starts[r] < x.size]
    if not live or bins == 0:
        return out
    n = np.array([min(block, x.size - starts[r]) for r in live])
    pr, pi = np.ones(bins, f32), np.zeros(bins, f32)
    xr = np.zeros((len(live), bins), f32)
    xi = np.zeros((len(live), bins), f32)
    pad = np.concatenate([x, np.zeros(block, np.complex64)])
    for k in range(block):
        v = pad[[starts[r] + k for r in live]]
        a, b = v.real.astype(f32)[:, None], v.imag.astype(f32)[:, None]
        on = (k < n)[:, None]
        xr = np.where(on, xr + (a * pr - b * pi), xr)
        xi = np.where(on, xi + (b * pr + a * pi), xi)
        pr, pi = fma32(pr, c, -(s * pi)), fma32(pi, c, s * pr)
    power = (xr * xr + xi * xi) + f32(1e-12)
    out[live] = np.log(power.astype(np.float64)).astype(f32)
    return out


def _fmax(a, b):
    return b if math.isnan(a) else (a if math.isnan(b) or a >= b else b)


def ft_sync_all(mode, iq, fs, base_hz, max_hz, t_min, t_max):
    """Every grid position as (time_sym, freq_bin, score, llr), best first, ties in search order."""
    rng = max(f32(max_hz) - f32(base_hz), f32(0))
    bins = int(np.ceil(rng / mode["bin_hz"])) + mode["extra"]
    rows = max(t_max - t_min + mode["symbols"], 1)
    first = max(t_min, 0)
    w = waterfall(iq, mode["block"], rows, bins, fs, base_hz, mode["bin_hz"], first * mode["block"])
    ninf = f32(-np.inf)

    def at(r, b):
        return w[r, b] if 0 <= r < rows and 0 <= b < bins else ninf

    found = []
    for k in range(max(t_max - t_min, 0) + 1):
        for f in range(bins - mode["tones"] + 1):
            score = f32(0)
            for pos, tone in mode["costas"]:
                r, b = k + pos, f + tone
                if r >= rows or b >= bins:
                    continue
                m = _fmax(_fmax(at(r, b - 1), at(r, b + 1)), _fmax(at(r - 1, b), at(r + 1, b)))
                d = f32(w[r, b] - m)
                score = f32(score + (d if d > 0 else f32(0)))
            found.append((first + k, f, score, llr(mode, w, k, f)))
    found.sort(key=lambda c: -c[2])  # stable: ties keep search order
    return found


def llr(mode, w, k, f):
    bits = 3 if mode["tones"] == 8 else 2
    out = np.zeros(174, f32)
    for m, pos in enumerate(mode["data"]):
        r = k + pos
        if r >= w.shape[0]:
            continue
        p = [w[r, f + t] for t in range(mode["tones"])]
        for i in range(bits):
            mask = 1 << (bits - 1 - i)
            zero = max(p[t] for t in range(mode["tones"]) if not mode["value_of"][t] & mask)
            one = max(p[t] for t in range(mode["tones"]) if mode["value_of"][t] & mask)
            out[bits * m + i] = f32(zero - one)
    s = f32(0)
    for v in out:
        s = f32(s + v * v)
    mean = f32(s / f32(174))
    if mean > f32(1e-10):
        out = out * np.sqrt(f32(24) / mean)
    return out
