"""Scalar float32 models of the linear modems: the carrier oscillator, the
BPSK/QPSK/QAM mappers and the hard deciders.

Every step is one float32 operation in the library's order; fused
multiply-adds round once (ref.fp32). The carrier step is the correctly
rounded sine and cosine: Python's double result rounded to float32.
"""

import numpy as np

from ref.fp32 import fma32, sincos32

f32 = np.float32
TWO_PI = f32(6.2831855)
QPSK_LEVEL = f32(0.70710677)

# Independent copies of the constellation tables (level by index, thresholds ascending).
QAM_LEVELS = {
    16: [-0.94868326, -0.31622776, 0.94868326, 0.31622776],
    64: [-1.0801235, -0.7715168, -0.15430336, -0.46291006, 1.0801235, 0.7715168, 0.15430336, 0.46291006],
    256: [-1.1504475, -0.9970545, -0.6902685, -0.8436615, -0.0766965, -0.2300895, -0.5368755, -0.38348252,
          1.1504475, 0.9970545, 0.6902685, 0.8436615, 0.0766965, 0.2300895, 0.5368755, 0.38348252],
}
QAM_THRESHOLDS = {
    16: [-0.6324555, 0.0, 0.6324555],
    64: [-0.9258201, -0.6172134, -0.3086067, 0.0, 0.3086067, 0.6172134, 0.9258201],
    256: [-1.073751, -0.920358, -0.76696503, -0.613572, -0.460179, -0.306786, -0.153393, 0.0,
          0.153393, 0.306786, 0.460179, 0.613572, 0.76696503, 0.920358, 1.073751],
}
QAM_BITS = {16: 4, 64: 6, 256: 8}


def fmaf(a, b, c):
    return f32(fma32(a, b, c))


def sincosf(x):
    return tuple(map(f32, sincos32(x)))


class Oscillator:
    """Recursive phasor: advanced with two fmas, renormalised every 1024th advance."""

    def __init__(self, f_hz, fs):
        with np.errstate(all="ignore"):
            w = (f32(f_hz) * TWO_PI) / f32(fs)
        self.step_im, self.step_re = sincosf(w)
        self.re = f32(1.0)
        self.im = f32(0.0)
        self.count = 0

    def advance(self):
        with np.errstate(all="ignore"):
            re = fmaf(self.re, self.step_re, -(self.im * self.step_im))
            im = fmaf(self.im, self.step_re, self.re * self.step_im)
            self.count = (self.count + 1) & 0xFFFFFFFF
            if self.count % 1024 == 0:
                m = np.sqrt((im * im) + (re * re))
                g = f32(1.0) / m
                re, im = re * g, im * g
        self.re, self.im = re, im
        return re, im


class LinearMod:
    """Waveform stage shared by the three modulators, fed with mapped symbols."""

    def __init__(self, fs, rf_hz, gain):
        self.osc = Oscillator(rf_hz, fs)
        self.gain = f32(gain)

    def waveform(self, symbols):
        out = np.empty(len(symbols), np.complex64)
        parts = out.view(np.float32)
        with np.errstate(all="ignore"):
            for k, (xr, xi) in enumerate(symbols):
                pr, pi = self.osc.advance()
                zr = fmaf(xr, pr, -(xi * pi))
                zi = fmaf(xi, pr, xr * pi)
                parts[2 * k] = zr * self.gain
                parts[2 * k + 1] = zi * self.gain
        return out


def bpsk_symbols(bits):
    return [(f32(-1.0) if b & 1 else f32(1.0), f32(0.0)) for b in np.asarray(bits)]


def qpsk_symbols(bits):
    bits = np.asarray(bits)
    lv = lambda b: -QPSK_LEVEL if b & 1 else QPSK_LEVEL  # noqa: E731
    return [(lv(bits[2 * k]), lv(bits[2 * k + 1])) for k in range(len(bits) // 2)]


def qam_symbols(bits, order):
    bits = np.asarray(bits)
    nb = QAM_BITS[order]
    half = nb // 2
    levels = [f32(v) for v in QAM_LEVELS[order]]
    out = []
    for k in range(len(bits) // nb):
        grp = [int(b) & 1 for b in bits[k * nb:(k + 1) * nb]]
        i = int("".join(map(str, grp[:half])), 2)
        q = int("".join(map(str, grp[half:])), 2)
        out.append((levels[i], levels[q]))
    return out


def qam_demod(iq, order, gain):
    """Counts thresholds strictly below each scaled coordinate, then Gray-codes the position."""
    th = np.array(QAM_THRESHOLDS[order], np.float32)
    half = QAM_BITS[order] // 2
    xy = (np.asarray(iq, np.complex64).view(np.float32) * f32(gain)).astype(np.float32)
    pos = (th[None, :] < xy[:, None]).sum(axis=1)
    gray = pos ^ (pos >> 1)
    shifts = np.arange(half - 1, -1, -1)
    return ((gray[:, None] >> shifts[None, :]) & 1).astype(np.uint8).ravel()
