"""Decode the FT8 frames of a recording: python3 examples/ft8_wav.py FILE.wav

FILE.wav is one 15 s slot as the common FT8 programs save it: 12000 Hz, mono,
16-bit PCM. Prints one line per decoded message: start time, audio
frequency, score and the message.
"""

import sys
import wave

import numpy as np

import tarsk_sdr as t

FS = 12000
SYMBOL = 1920


def read_slot(path: str) -> np.ndarray:
    """The recording as complex64 samples (real audio: its image at negative frequencies is not searched)."""
    try:
        with wave.open(path, "rb") as w:
            rate, channels, width, n = w.getframerate(), w.getnchannels(), w.getsampwidth(), w.getnframes()
            if (rate, channels, width) != (FS, 1, 2):
                raise SystemExit(f"{path}: expected 12000 Hz mono 16-bit PCM, got {rate} Hz, "
                                 f"{channels} channel(s), {8 * width}-bit samples")
            pcm = np.frombuffer(w.readframes(n), "<i2")
    except (wave.Error, EOFError) as e:
        raise SystemExit(f"{path}: not a PCM WAV file" + (f" ({e})" if str(e) else ""))
    except OSError as e:
        raise SystemExit(f"{path}: {e.strerror or e}")
    return (pcm.astype(np.float32) / np.float32(32768)).astype(np.complex64)


def text_of(message: dict) -> str:
    if message["type"] in ("standard", "nonstd"):
        return " ".join(m for m in (message["call_to"], message["call_de"], message["extra"]) if m)
    if message["type"] == "free_text":
        return message["text"]
    return f"[{message['type']}]"


def main() -> None:
    if len(sys.argv) != 2:
        raise SystemExit("usage: python3 examples/ft8_wav.py FILE.wav")
    slot = read_slot(sys.argv[1])
    base_hz, seen = 100.0, set()
    # Frames start from 0 to 2.24 s into the slot (a late clock, a slow start).
    for c in t.ft8_sync(slot, float(FS), base_hz, 3000.0, 0, 14, 100):
        payload = t.Ft8Codec.decode_soft(c["llr"])
        if payload is None or payload in seen:
            continue
        seen.add(payload)
        print(f"{c['time_sym'] * SYMBOL / FS:5.2f} s {base_hz + c['freq_bin'] * 6.25:7.1f} Hz "
              f"{c['score']:6.1f}  {text_of(t.ft8_unpack(payload))}")


if __name__ == "__main__":
    main()
