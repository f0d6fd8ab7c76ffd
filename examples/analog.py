"""Analog round trips: a two-tone message through AM, SSB, FM and PM, and a keyed
carrier through CW, each modulated and demodulated again; prints what comes back.

Run: PYTHONPATH=<build dir> python3 examples/analog.py
"""

import math

import numpy as np

import tarsk_sdr as t

FS = 48000.0
TONES = ((700.0, 0.5), (1300.0, 0.25))  # hertz, amplitude


def level(x: np.ndarray, f: float) -> float:
    """Amplitude of the real tone at f hertz in x (whole seconds of signal)."""
    n = np.arange(len(x))
    return 2 * abs(np.dot(x.astype(np.float64), np.exp(-2j * np.pi * f * n / FS))) / len(x)


def report(name: str, audio: np.ndarray, scale=lambda f: 1.0) -> None:
    """Prints each tone's recovered level, in message units, against what was sent."""
    settled = audio[len(audio) // 4:]
    settled = settled[: int(FS) * (len(settled) // int(FS))]
    parts = [f"{f:.0f} Hz {a:.3f} -> {level(settled, f) / scale(f):.3f}" for f, a in TONES]
    print(f"{name:<4}" + "   ".join(parts))


def main() -> None:
    n = np.arange(int(2 * FS))
    message = sum(a * np.sin(2 * np.pi * f * n / FS) for f, a in TONES).astype(np.float32)

    # AM: full carrier at 0 Hz, 80 % modulation; the envelope detector returns index * message.
    iq = t.AmDsbMod(FS, 0.0, 1.0, 0.8).process(message)
    report("AM", t.AmEnvelopeDemod(FS, 4000.0).process(iq), lambda f: 0.8)

    # SSB: the audio band centred on 1000 Hz, 1000 Hz either side; a tone at f
    # leaves at rf + 1000 - f (upper sideband), so the beat oscillator sits at
    # rf + 1000. The modulator halves the amplitude.
    rf = 5000.0
    iq = t.SsbPhasingMod(FS, 1000.0, 1000.0, rf, True).process(message)
    report("SSB", t.SsbProductDemod(FS, rf + 1000.0, 4000.0).process(iq), lambda f: 0.5)

    # FM: 3 kHz deviation. The detector gives radians per sample over the
    # deviation, and its fast arctangent reads small steps at about pi/4 of their size.
    dev = 3000.0
    iq = t.FmPhaseAccumMod(FS, dev, 0.0).process(message)
    report("FM", t.FmQuadratureDemod(FS, dev, 4000.0).process(iq), lambda f: (math.pi / 4) * 2 * math.pi / FS)

    # PM: 1 radian per unit. The detector does not integrate: it returns the
    # phase step, so a tone comes back scaled by its frequency.
    iq = t.PmDirectPhaseMod(FS, 1.0, 0.0).process(message)
    report("PM", t.PmQuadratureDemod(FS, 1.0, 4000.0).process(iq),
           lambda f: (math.pi / 4) * 2 * math.pi * f / FS)

    # CW: a keyed 700 Hz carrier with 4 ms edges, back through the envelope detector.
    keys = "1110111010100011101110100010"  # "-.-. --." (on and off in 40 ms elements)
    element = int(0.040 * FS)
    keying = np.repeat(np.array([int(k) for k in keys], np.float32), element)
    iq = t.CwKeyedMod(FS, 700.0, 4.0, 4.0).process(keying)
    env = t.CwEnvelopeDemod(FS, 700.0, 100.0).process(iq)
    back = "".join("1" if v > 0.5 else "0" for v in env[element // 2 :: element])
    print(f"CW  sent {keys}\n    back {back}")


if __name__ == "__main__":
    main()
