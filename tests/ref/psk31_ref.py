"""Scalar float32 models of the PSK31 modulators, demodulators and Viterbi decoder.

Values are Python floats that always hold a float32 value. A sum, difference,
product, quotient or square root of two float32 values computed in double and
rounded once to float32 is the correctly rounded float32 result (double has
more than twice float32's precision plus two bits), so r32(a * b) is one
float32 multiply; fused multiply-adds, sine and cosine come from ref.fp32.
"""

import math

import numpy as np

from ref.fp32 import fma32 as fmaf, r32, sincos32 as sincosf


PI = r32(3.1415927)
TWO_PI = r32(6.2831855)
UNREACHABLE = r32(1.7014117e38)
MIN_TRACK_POWER = r32(1e-6)
ROTATION = [(1.0, 0.0), (0.0, -1.0), (0.0, 1.0), (-1.0, 0.0)]  # by 2 * c0 + c1


def sps_of(fs):
    q = r32(r32(fs) / 31.25)
    if not q > 0.0:
        return 0
    if q >= 2.0**64:
        return 2**64 - 1
    return int(math.floor(q + 0.5))  # exact: q is below 2**64 and has no bits below 2**-149


def make_hann(n):
    if n == 0:
        return []
    if n == 1:
        return [1.0]
    last = r32(float(n - 1))
    return [r32(0.5 - r32(0.5 * r32(math.cos(r32(r32(r32(float(i)) * PI) / last))))) for i in range(n)]


class Oscillator:
    """Phasor advanced with two fmas before each use, renormalised every 1024th advance."""

    def __init__(self, step_re, step_im):
        self.c, self.s = step_re, step_im
        self.reset()

    def reset(self):
        self.re, self.im, self.count = 1.0, 0.0, 0

    def advance(self):
        re = fmaf(self.re, self.c, -r32(self.im * self.s))
        im = fmaf(self.im, self.c, r32(self.re * self.s))
        self.count = (self.count + 1) & 0xFFFFFFFF
        if self.count % 1024 == 0:
            g = r32(1.0 / r32(math.sqrt(r32(r32(im * im) + r32(re * re)))))
            re, im = r32(re * g), r32(im * g)
        self.re, self.im = re, im
        return re, im


def mix(samples, fs, rf_hz):
    """Carrier mixing of the modulators: restarts at 1+0j in every call."""
    if rf_hz == 0.0:
        return samples
    s, c = sincosf(r32(r32(rf_hz * TWO_PI) / fs))
    osc = Oscillator(c, s)
    out = []
    for xr, xi in samples:
        pr, pi = osc.advance()
        out.append((fmaf(xr, pr, -r32(xi * pi)), fmaf(xi, pr, r32(xr * pi))))
    return out


def to_c64(samples):
    return np.array(samples, np.float32).reshape(-1, 2).view(np.complex64).ravel()


def cmul(a, b):
    return r32(r32(a[0] * b[0]) - r32(a[1] * b[1])), r32(r32(a[0] * b[1]) + r32(a[1] * b[0]))


class Bpsk31Mod:
    def __init__(self, fs, rf_hz, gain):
        self.fs, self.rf, self.gain = r32(fs), r32(rf_hz), r32(gain)
        self.sps = sps_of(fs)
        self.ramp = make_hann(self.sps)
        self.amp = 1.0

    def modulate_bits(self, bits):
        out = []
        for b in bits:
            o = self.amp
            t = -o if b == 0 else o
            self.amp = t
            d = r32(t - o)
            out += [(r32(r32(r32(v * d) + o) * self.gain), 0.0) for v in self.ramp]
        return to_c64(mix(out, self.fs, self.rf))


class Qpsk31Mod:
    def __init__(self, fs, rf_hz, gain):
        self.fs, self.rf, self.gain = r32(fs), r32(rf_hz), r32(gain)
        self.sps = sps_of(fs)
        self.ramp = make_hann(self.sps)
        self.phase, self.state = (1.0, 0.0), 0

    def modulate_bits(self, bits):
        out = []
        for b in bits:
            u, s = int(b) & 1, self.state
            c0 = u ^ (s & 1) ^ ((s >> 2) & 1)
            c1 = u ^ (s & 1) ^ ((s >> 1) & 1)
            self.state = (s >> 1) | (u << 3)
            h = self.phase
            e = cmul(h, ROTATION[2 * c0 + c1])
            self.phase = e
            dr, di = r32(e[0] - h[0]), r32(e[1] - h[1])
            out += [(r32(r32(r32(v * dr) + h[0]) * self.gain), r32(r32(r32(v * di) + h[1]) * self.gain))
                    for v in self.ramp]
        return to_c64(mix(out, self.fs, self.rf))


class _Front:
    """Mixer, ramp-matched integrator, symbol timing and phase correction."""

    def __init__(self, fs, rf_hz, gain):
        fs, rf_hz = r32(fs), r32(rf_hz)
        self.sps = sps_of(fs)
        self.ramp = make_hann(self.sps)
        self.mixing = rf_hz != 0.0
        s, c = sincosf(r32(r32(rf_hz * -TWO_PI) / fs)) if self.mixing else (0.0, 1.0)
        self.osc = Oscillator(c, s)
        self.gain = r32(gain)
        energy = 0.0
        for v in self.ramp:
            energy = r32(energy + r32(v * v))
        self.energy = energy
        self.reset()

    def reset(self):
        self.pos, self.acc, self.prev, self.r = 0, (0.0, 0.0), (1.0, 0.0), 0.0
        if self.mixing:
            self.osc.reset()

    def symbols(self, iq):
        """Yields each completed symbol, derotated by the current phase correction."""
        for x in np.asarray(iq, np.complex64):
            xr, xi = float(x.real), float(x.imag)
            if self.mixing:
                xr, xi = cmul((xr, xi), self.osc.advance())
            v = self.ramp[self.pos]
            u = r32(1.0 - v)
            self.acc = (r32(self.acc[0] + r32(v * r32(xr - r32(u * self.prev[0])))),
                        r32(self.acc[1] + r32(v * r32(xi - r32(u * self.prev[1])))))
            self.pos += 1
            if self.pos == self.sps:
                k = r32(self.gain / self.energy)
                y = (r32(self.acc[0] * k), r32(self.acc[1] * k))
                self.pos, self.acc = 0, (0.0, 0.0)
                s, c = sincosf(self.r)
                yield (r32(r32(y[0] * c) + r32(y[1] * s)), r32(r32(y[1] * c) - r32(y[0] * s)))

    def track(self, e):
        r = r32(self.r + r32(r32(0.1) * e))
        if r > PI:
            r = r32(r - TWO_PI)
        if r < -PI:
            r = r32(r + TWO_PI)
        self.r = r


class Bpsk31Demod(_Front):
    def process(self, iq):
        out = []
        for zr, zi in self.symbols(iq):
            pr, pi = self.prev
            s = r32(r32(zr * pr) + r32(zi * pi))
            q = r32(r32(zi * pr) - r32(zr * pi))
            p = r32(r32(s * s) + r32(q * q))
            e = r32((-q if not s >= 0.0 else q) / r32(math.sqrt(p))) if p > MIN_TRACK_POWER else 0.0
            self.track(e)
            self.prev = (zr, zi)
            out.append(s)
        return np.array(out, np.float32)


class Qpsk31Demod(_Front):
    def process(self, iq):
        out = []
        for zr, zi in self.symbols(iq):
            if abs(zr) >= abs(zi):
                d = (1.0 if zr >= 0.0 else -1.0, 0.0)
            else:
                d = (0.0, 1.0 if zi >= 0.0 else -1.0)
            p = r32(r32(zr * zr) + r32(zi * zi))
            e = r32(r32(r32(zi * d[0]) - r32(zr * d[1])) / r32(math.sqrt(p))) if p > MIN_TRACK_POWER else 0.0
            self.track(e)
            self.prev = (zr, zi)
            out += [zr, zi]
        return np.array(out, np.float32)


def viterbi(dibits):
    """The decoder as a plain trellis walk: metrics and reference phasors per state."""
    n = len(dibits) // 2
    metric = [0.0] + [UNREACHABLE] * 15
    ref = [(1.0, 0.0)] * 16
    survivors = []
    for t in range(n):
        zr, zi = float(dibits[2 * t]), float(dibits[2 * t + 1])
        new_metric, new_ref, surv = [UNREACHABLE] * 16, [(0.0, 0.0)] * 16, [0] * 16
        for j in range(16):
            if not metric[j] < UNREACHABLE:
                continue
            c0, c1 = (j & 1) ^ ((j >> 2) & 1), (j & 1) ^ ((j >> 1) & 1)
            for u in (0, 1):
                idx = (2 * c0 + c1) ^ (3 * u)
                g = (j >> 1) | (8 * u)
                p = cmul(ref[j], ROTATION[idx])
                d2 = r32(r32(r32(zi - p[1]) ** 2) + r32(r32(zr - p[0]) ** 2))
                m = r32(metric[j] + d2)
                if new_metric[g] > m:
                    new_metric[g], new_ref[g], surv[g] = m, p, j
        metric, ref = new_metric, new_ref
        survivors.append(surv)
    state = min(range(16), key=lambda s: (metric[s], s))
    bits = []
    for t in range(n - 1, -1, -1):
        bits.append(state >> 3)
        state = survivors[t][state]
    return np.array(bits[::-1], np.uint8)
