"""Scalar float32 models of the analog modulators and demodulators.

Each step is one float32 operation in the library's order. Sine, cosine and
exp are the correctly rounded float32 values (Python's double result rounded
once); fma rounds once (ref.fp32).
"""

import math

import numpy as np

from ref.fp32 import fma32, sincos32

f32 = np.float32
TWO_PI = f32(6.2831855)
PI = f32(3.1415927)
HALF_PI = f32(1.5707964)
QUARTER_PI = f32(0.7853982)
EPS = f32(1.1920929e-07)
ONE, ZERO = f32(1.0), f32(0.0)


def fmaf(a, b, c):
    return f32(fma32(a, b, c))


def sincosf(x):
    return tuple(map(f32, sincos32(x)))


def expf(x):
    try:
        return f32(math.exp(float(x)))
    except OverflowError:
        return f32(np.inf)


def clamp(x, lo, hi):
    """Two comparisons, so NaN passes through."""
    return lo if x < lo else (hi if x > hi else x)


def floor_at(x, lo):
    return x if x > lo else lo  # NaN takes the floor


class Oscillator:
    def __init__(self, f_hz, fs):
        w = (f32(f_hz) * TWO_PI) / f32(fs)
        self.sin, self.cos = sincosf(w)
        self.re, self.im, self.count = ONE, ZERO, 0

    def turn(self, c, s):
        """Rotate the phasor by (c, s); renormalise on every 1024th turn."""
        re = fmaf(self.re, c, (-self.im) * s)
        im = fmaf(self.im, c, self.re * s)
        self.count = (self.count + 1) & 0xFFFFFFFF
        if self.count % 1024 == 0:
            g = ONE / np.sqrt((im * im) + (re * re))
            re, im = re * g, im * g
        self.re, self.im = re, im
        return re, im

    def advance(self):
        return self.turn(self.cos, self.sin)


class Lowpass:
    """Two identical fused transposed-form sections in cascade."""

    def __init__(self, bw, fs):
        w0 = ((f32(bw) * f32(0.9)) * TWO_PI) / f32(fs)
        s, c = sincosf(w0)
        alpha = s / f32(1.4142135)
        k = ONE / (alpha + ONE)
        self.b0 = (f32(0.5) * (ONE - c)) * k
        self.b1 = (ONE - c) * k
        self.b2 = self.b0
        self.a1 = (c * f32(-2.0)) * k
        self.a2 = (ONE - alpha) * k
        self.state = [[ZERO, ZERO], [ZERO, ZERO]]

    def step(self, x):
        for st in self.state:
            y = fmaf(x, self.b0, st[0])
            st[0] = fmaf(x, self.b1, st[1]) - self.a1 * y
            st[1] = x * self.b2 - self.a2 * y
            x = y
        return x


class DcBlocker:
    def __init__(self, fs):
        self.r = clamp(((f32(-2.0) / f32(fs)) * TWO_PI) + ONE, ZERO, f32(0.9999))
        self.x1 = self.y1 = ZERO

    def step(self, x):
        y = (self.r * self.y1) + (x - self.x1)
        self.x1, self.y1 = x, y
        return y


def phase_difference(xr, xi, pr, pi):
    re = (pi * xi) + (pr * xr)
    im = (xi * pr) - (xr * pi)
    if abs(im) > abs(re):
        t = abs(re) / (abs(im) + EPS)
        a = HALF_PI - poly(t)
    else:
        t = abs(im) / (abs(re) + EPS)
        a = poly(t)
    if re < 0:
        a = PI - a
    if im < 0:
        a = -a
    return a


def poly(t):
    u = t * t
    return (((u * f32(0.0663)) + f32(-0.2447)) * u + QUARTER_PI) * t


def _run(fn, n, dtype):
    out = np.empty(n, dtype)
    with np.errstate(all="ignore"):
        for k in range(n):
            out[k] = fn(k)
    return out


def _c(re, im):
    return complex(float(re), float(im))


# ---------------------------------------------------------------- modulators


class AmDsbMod:
    def __init__(self, fs, rf_hz, carrier_level, modulation_index):
        self.carrier = Oscillator(rf_hz, fs)
        self.level, self.index = f32(carrier_level), f32(modulation_index)
        self.gain, self.clamp = ONE, False

    def process(self, audio):
        def one(k):
            m = f32(audio[k]) * self.index
            o_re, o_im = self.carrier.advance()
            e = m + self.level
            if self.clamp:
                e = clamp(e, f32(-1.0), ONE)
            e = e * self.gain
            return _c(e * o_re, e * o_im)
        return _run(one, len(audio), np.complex64)


class CwKeyedMod:
    def __init__(self, sample_rate, tone_hz, rise_ms, fall_ms):
        fs = f32(sample_rate)
        self.carrier = Oscillator(tone_hz, fs)
        self.a_rise = expf(f32(-1.0) / ((floor_at(f32(rise_ms), f32(0.1)) * f32(0.001)) * fs))
        self.a_fall = expf(f32(-1.0) / ((floor_at(f32(fall_ms), f32(0.1)) * f32(0.001)) * fs))
        self.envelope, self.gain = ZERO, ONE

    def process(self, audio):
        b_rise, b_fall = ONE - self.a_rise, ONE - self.a_fall

        def one(k):
            t = clamp(f32(audio[k]), ZERO, ONE)
            if t < self.envelope or t != t:
                a, b = self.a_fall, b_fall
            else:
                a, b = self.a_rise, b_rise
            o_re, o_im = self.carrier.advance()
            self.envelope = (b * t) + (a * self.envelope)
            e = self.gain * self.envelope
            return _c(e * o_re - o_im * ZERO, o_re * ZERO + e * o_im)
        return _run(one, len(audio), np.complex64)


class SsbPhasingMod:
    def __init__(self, fs, audio_bw_hz, audio_if_hz, rf_hz, usb):
        self.lp_i, self.lp_q = Lowpass(audio_bw_hz, fs), Lowpass(audio_bw_hz, fs)
        self.audio, self.carrier = Oscillator(audio_if_hz, fs), Oscillator(rf_hz, fs)
        self.sign = ONE if usb else f32(-1.0)

    def process(self, audio):
        def one(k):
            x = f32(audio[k])
            a_re, a_im = self.audio.advance()
            i = self.lp_i.step(a_re * x)
            q = self.lp_q.step(x * a_im)
            c_re, c_im = self.carrier.advance()
            q = self.sign * q
            return _c(fmaf(i, c_re, (-q) * c_im), fmaf(q, c_re, i * c_im))
        return _run(one, len(audio), np.complex64)


class FmPhaseAccumMod:
    def __init__(self, sample_rate, deviation_hz, rf_hz):
        self.phase = Oscillator(0.0, 1.0)  # only its phasor and count are used
        self.fs, self.deviation = f32(sample_rate), f32(deviation_hz)
        self.carrier = Oscillator(rf_hz, sample_rate)
        self.gain = ONE

    def process(self, audio):
        k_rad = (self.deviation * TWO_PI) / self.fs

        def one(k):
            s, c = sincosf(f32(audio[k]) * k_rad)
            p_re, p_im = self.phase.turn(c, s)
            o_re, o_im = self.carrier.advance()
            a, b = self.gain * p_re, self.gain * p_im
            return _c(a * o_re - b * o_im, b * o_re + a * o_im)
        return _run(one, len(audio), np.complex64)


class PmDirectPhaseMod:
    def __init__(self, sample_rate, kp_rad_per_unit, rf_hz):
        self.kp = f32(kp_rad_per_unit)
        self.carrier = Oscillator(rf_hz, sample_rate)
        self.gain = ONE

    def process(self, audio):
        def one(k):
            s, c = sincosf(f32(audio[k]) * self.kp)
            a, b = c * self.gain, s * self.gain
            o_re, o_im = self.carrier.advance()
            return _c(a * o_re - b * o_im, b * o_re + a * o_im)
        return _run(one, len(audio), np.complex64)


# ---------------------------------------------------------------- demodulators


def _parts(iq):
    v = np.asarray(iq, np.complex64).view(np.float32)
    return v[0::2], v[1::2]


class AmEnvelopeDemod:
    def __init__(self, fs, audio_bw_hz, abs_approx=False):
        self.approx = abs_approx
        self.lp, self.dc = Lowpass(audio_bw_hz, fs), DcBlocker(fs)

    def process(self, iq):
        re, im = _parts(iq)

        def one(k):
            if self.approx:
                e = fmaf(f32(0.9482), abs(re[k]), f32(0.392) * abs(im[k]))
            else:
                e = fmaf(re[k], re[k], im[k] * im[k])
            v = self.lp.step(e)
            if not self.approx:
                v = np.sqrt(ZERO if v < 0 else v)  # a negative filtered power counts as zero
            return self.dc.step(v)
        return _run(one, len(re), np.float32)


class CwEnvelopeDemod:
    def __init__(self, sample_rate, tone_hz, env_bw_hz):
        self.a = expf((floor_at(f32(env_bw_hz), ONE) * -TWO_PI) / f32(sample_rate))
        self.envelope, self.gain = ZERO, ONE

    def process(self, iq):
        re, im = _parts(iq)
        b = ONE - self.a

        def one(k):
            m = np.sqrt((re[k] * re[k]) + (im[k] * im[k]))
            self.envelope = (m * b) + (self.envelope * self.a)
            return self.gain * self.envelope
        return _run(one, len(re), np.float32)


class SsbProductDemod:
    def __init__(self, fs, bfo_hz, audio_bw_hz):
        self.bfo = Oscillator(bfo_hz, fs)
        self.lp, self.dc = Lowpass(audio_bw_hz, fs), DcBlocker(fs)

    def process(self, iq):
        re, im = _parts(iq)

        def one(k):
            o_re, o_im = self.bfo.advance()
            return self.dc.step(self.lp.step(fmaf(re[k], o_re, im[k] * o_im)))
        return _run(one, len(re), np.float32)


class _Quadrature:
    def __init__(self, fs, factor, audio_bw_hz):
        self.factor = factor
        self.lp = Lowpass(audio_bw_hz, fs)
        self.prev = (ONE, ZERO)

    def process(self, iq):
        re, im = _parts(iq)

        def one(k):
            a = phase_difference(re[k], im[k], *self.prev)
            self.prev = (re[k], im[k])
            return self.lp.step(a * self.factor)
        return _run(one, len(re), np.float32)


class FmQuadratureDemod(_Quadrature):
    def __init__(self, fs, dev_hz, audio_bw_hz):
        super().__init__(fs, ONE / floor_at(f32(dev_hz), ONE), audio_bw_hz)


class PmQuadratureDemod(_Quadrature):
    def __init__(self, fs, k, audio_bw_hz):
        super().__init__(fs, f32(k), audio_bw_hz)
