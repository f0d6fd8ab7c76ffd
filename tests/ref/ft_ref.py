"""Float32 models of the FT8/FT4 frame layout, the tone modulator and the
tone detector, plus a max-log LLR computer used by the noise tests.

The modulator model runs the library's recursion one sample at a time (fused
multiply-adds rounded once, ref.fp32); the detector model is
vectorised, with the per-symbol sums taken by np.add.accumulate, which adds
strictly in order.
"""

import math

import numpy as np

from ref.fp32 import fma32, sincos32

f32 = np.float32
TWO_PI = f32(6.2831855)


def fmaf(a, b, c):
    return f32(fma32(a, b, c))


def sincosf(x):
    return tuple(map(f32, sincos32(x)))


class Mode:
    def __init__(self, name, symbols, sps, spacing, offsets, costas, data_positions, gray):
        self.name, self.symbols, self.sps = name, symbols, sps
        self.spacing = f32(spacing)
        self.offsets = np.array(offsets, np.float32)
        self.costas = costas  # {position: tone} of every non-data symbol
        self.data_positions = data_positions
        self.gray = gray  # codeword bits -> tone
        self.bits = {8: 3, 4: 2}[len(gray)]
        self.n_data = len(data_positions)
        self.frame = symbols * sps


def _ft8():
    costas = {}
    for start in (0, 36, 72):
        for j, tone in enumerate((3, 1, 4, 0, 6, 5, 2)):
            costas[start + j] = tone
    data = list(range(7, 36)) + list(range(43, 72))
    return Mode("ft8", 79, 1920, 6.25, [0, 6.25, 12.5, 18.75, 25, 31.25, 37.5, 43.75], costas, data,
                [0, 1, 3, 2, 5, 6, 4, 7])


def _ft4():
    costas = {0: 0, 104: 0}
    blocks = ((0, 1, 3, 2), (1, 0, 2, 3), (2, 3, 1, 0), (3, 2, 0, 1))
    for start, block in zip((1, 34, 67, 100), blocks):
        for j, tone in enumerate(block):
            costas[start + j] = tone
    data = list(range(5, 34)) + list(range(38, 67)) + list(range(71, 100))
    return Mode("ft4", 105, 576, 20.833334, [0, 20.833334, 41.666668, 62.5], costas, data, [0, 1, 3, 2])


FT8 = _ft8()
FT4 = _ft4()


def frame_tones(mode, data):
    out = [0] * mode.symbols
    for p, tone in mode.costas.items():
        out[p] = tone
    for p, tone in zip(mode.data_positions, data):
        out[p] = int(tone)
    return out


def _renormalise(re, im):
    g = f32(1.0) / np.sqrt((re * re) + (im * im))
    return re * g, im * g


def modulate(mode, tones, fs, base_hz, rf_hz, gain, n):
    """The first n samples of the frame."""
    fs, base_hz, rf_hz, gain = f32(fs), f32(base_hz), f32(rf_hz), f32(gain)
    symbols = frame_tones(mode, tones)
    out = np.zeros(n, np.complex64)
    re, im = f32(1.0), f32(0.0)
    qr, qi = f32(1.0), f32(0.0)
    shift = not (rf_hz == 0)
    if shift:
        q_sn, q_cs = sincosf((rf_hz * TWO_PI) / fs)
    with np.errstate(all="ignore"):
        for k in range(n):
            if k % mode.sps == 0:
                f = f32(symbols[k // mode.sps]) * mode.spacing + base_hz
                sn, cs = sincosf((f * TWO_PI) / fs)
            re, im = fmaf(re, cs, -(im * sn)), fmaf(im, cs, re * sn)
            x, y = re * gain, im * gain
            if (k + 1) % 1024 == 0:
                re, im = _renormalise(re, im)
            if shift:
                qr, qi = fmaf(qr, q_cs, -(qi * q_sn)), fmaf(qi, q_cs, qr * q_sn)
                if (k + 1) % 1024 == 0:
                    qr, qi = _renormalise(qr, qi)
                x, y = fmaf(x, qr, -(y * qi)), fmaf(y, qr, x * qi)
            out[k] = complex(x, y)
    return out


def symbol_powers(mode, iq, fs, base_hz):
    """(symbols, tones) float32 powers of the detector, summed in sample order."""
    fs, base_hz = f32(fs), f32(base_hz)
    n_tones = len(mode.offsets)
    c = np.empty(n_tones, np.float32)
    s = np.empty(n_tones, np.float32)
    for t in range(n_tones):
        s[t], c[t] = sincosf(((mode.offsets[t] + base_hz) * -TWO_PI) / fs)
    pr = np.empty((mode.sps, n_tones), np.float32)
    pi = np.empty((mode.sps, n_tones), np.float32)
    re, im = np.ones(n_tones, np.float32), np.zeros(n_tones, np.float32)
    for n in range(mode.sps):
        pr[n], pi[n] = re, im
        re, im = (np.array([fmaf(re[t], c[t], -(im[t] * s[t])) for t in range(n_tones)], np.float32),
                  np.array([fmaf(im[t], c[t], re[t] * s[t]) for t in range(n_tones)], np.float32))
    x = np.asarray(iq[: mode.frame]).reshape(mode.symbols, mode.sps, 1)
    a, b = x.real.astype(np.float32), x.imag.astype(np.float32)
    with np.errstate(all="ignore"):
        prod_re = (a * pr) - (b * pi)
        prod_im = (b * pr) + (a * pi)
        sr = np.add.accumulate(prod_re, axis=1, dtype=np.float32)[:, -1]
        si = np.add.accumulate(prod_im, axis=1, dtype=np.float32)[:, -1]
        return (si * si) + (sr * sr)


def decide(powers):
    """Strictly greater wins: the lowest tone among equals, 0 when all are NaN."""
    out = np.zeros(len(powers), np.uint8)
    for k, row in enumerate(powers):
        best = f32(-1.0)
        for t, p in enumerate(row):
            if p > best:
                best, out[k] = p, t
    return out


def demodulate(mode, iq, fs, base_hz):
    return decide(symbol_powers(mode, iq, fs, base_hz))[mode.data_positions]


def max_log_llrs(mode, powers):
    """174 LLRs from per-symbol tone powers: for each codeword bit, the largest log
    power among tones whose Gray-coded bit is 0 minus the largest where it is 1,
    scaled to a mean square of 24 (the order the synchroniser uses)."""
    logp = np.log(powers[mode.data_positions].astype(np.float64) + 1e-12)
    gray = np.array(mode.gray)
    llr = np.empty((mode.n_data, mode.bits))
    for b in range(mode.bits):
        bit_of_tone = np.empty(len(gray), int)
        bit_of_tone[gray] = (np.arange(len(gray)) >> (mode.bits - 1 - b)) & 1
        llr[:, b] = logp[:, bit_of_tone == 0].max(axis=1) - logp[:, bit_of_tone == 1].max(axis=1)
    llr = llr.reshape(-1)
    ms = np.mean(llr * llr)
    if ms > 1e-10:
        llr *= math.sqrt(24.0 / ms)
    return llr.astype(np.float32)
