"""The whole receive road of tarsk_sdr.

FT8: a few messages are packed, encoded and modulated at different start times
and frequencies into one noisy 15 s slot; ft8_sync finds them in the slot's
waterfall and decode_soft reads them back. PSK31: a text is sent as BPSK31 into
a wide noisy buffer; psk31_sync finds the carrier and the Varicode decoder
reads the text from its soft bits.
"""

import numpy as np

import tarsk_sdr as t

FS = 12000.0  # FT8's own rate: a symbol is 1920 samples, a frame 151680
SLOT = int(15 * FS)
SYMBOL = 1920

# (call_to, call_de, extra), tone-0 frequency in Hz, start in symbols (0.16 s)
MESSAGES = [
    (("CQ", "X1ABC", "FN42"), 612.5, 3),
    (("X1ABC", "Y2DEF", "-12"), 1207.0, 6),
    (("Y2DEF", "X1ABC", "R-09"), 1950.0, 1),
    (("CQ", "Z3GHI", "JO62"), 2481.25, 10),
]


def make_slot(rng, snr_db: float) -> np.ndarray:
    """One FT8 slot: the frames of MESSAGES in complex white noise of unit power."""
    slot = ((rng.normal(size=SLOT) + 1j * rng.normal(size=SLOT)) / np.sqrt(2)).astype(np.complex64)
    # SNR as FT8 users quote it: signal power against the noise in 2500 Hz.
    gain = float(np.sqrt(10 ** (snr_db / 10) * 2500 / FS))
    for fields, hz, start in MESSAGES:
        tones = t.Ft8Codec.encode(t.ft8_pack_standard(*fields))
        frame = t.Ft8Mod(FS, hz, 0.0, gain).modulate(tones)
        slot[start * SYMBOL:start * SYMBOL + frame.size] += frame
    return slot


def text_of(message: dict) -> str:
    if message["type"] in ("standard", "nonstd"):
        return " ".join(m for m in (message["call_to"], message["call_de"], message["extra"]) if m)
    return str(message.get("text", message))


def decode_slot(slot: np.ndarray, base_hz: float = 100.0, max_hz: float = 3000.0, max_cand: int = 60):
    """(time_s, freq_hz, score, text) once per message, strongest candidate first."""
    seen, found = set(), []
    for c in t.ft8_sync(slot, FS, base_hz, max_hz, 0, 14, max_cand):
        payload = t.Ft8Codec.decode_soft(c["llr"])
        if payload is None or payload in seen:
            continue  # the same frame is often found again one bin or symbol away
        seen.add(payload)
        found.append((c["time_sym"] * SYMBOL / FS, base_hz + c["freq_bin"] * 6.25, c["score"],
                      text_of(t.ft8_unpack(payload))))
    return found


def psk31_round_trip(rng, text: bytes) -> bytes:
    fs, carrier = 8000.0, 1062.5  # 256 samples per symbol; the carrier on a 31.25 Hz bin
    enc = t.VaricodeEncoder()
    enc.push_preamble(16)
    for b in text:
        enc.push_byte(b)
    enc.push_postamble(32)
    # A steady carrier (ones) before the stream lets the search see it before the first character.
    bits = np.concatenate([np.ones(24, np.uint8), enc.drain_bits()])
    burst = t.Bpsk31Mod(fs, carrier, 0.5).modulate_bits(bits)
    start = 37 * 256  # a symbol boundary
    n = 3 * burst.size  # the carrier must stand out from its bin's median: on air under half the time
    iq = ((rng.normal(size=n) + 1j * rng.normal(size=n)) * 0.1).astype(np.complex64)
    iq[start:start + burst.size] += burst
    found = t.psk31_sync(iq, fs, 500.0, 2500.0)
    # The strongest carrier; its postamble is found as a run of its own, so read from its first run.
    best = min((c for c in found if c["freq_bin"] == found[0]["freq_bin"]), key=lambda c: c["time_sym"])
    print(f"PSK31: carrier at {best['carrier_hz']:.2f} Hz from symbol {best['time_sym']} "
          f"(score {best['score']:.1f}), {best['soft_bits'].size} soft bits")
    bits = (best["soft_bits"] > 0).astype(np.uint8)
    # The text ends at the first long run of ones (the postamble) after the leading carrier;
    # past the burst there is only noise.
    lead = int(np.argmin(bits))
    runs = np.flatnonzero(np.convolve(bits[lead:], np.ones(16, np.uint8), "valid") == 16)
    end = lead + int(runs[0]) + 16 if runs.size else bits.size
    dec = t.VaricodeDecoder()
    dec.push_bits(bits[:end])
    return dec.pop_bytes()


def main() -> None:
    rng = np.random.default_rng(7)
    slot = make_slot(rng, snr_db=-10.0)
    print(f"FT8 slot: {len(MESSAGES)} frames in {SLOT} samples of noise")
    for time_s, freq_hz, score, text in decode_slot(slot):
        print(f"  {time_s:5.2f} s {freq_hz:8.2f} Hz  score {score:6.1f}  {text}")

    text = b"CQ CQ de X1ABC X1ABC pse k"
    back = psk31_round_trip(rng, text)
    print(f"PSK31 read back: {back!r}")
    assert back == text


if __name__ == "__main__":
    main()
