"""A short tour of tarsk_sdr: each section runs one family of the library end to end."""

import numpy as np

import tarsk_sdr as t


def varicode_round_trip(text: bytes) -> bytes:
    """Text to a PSK31 Varicode bit stream and back."""
    enc = t.VaricodeEncoder()
    enc.push_preamble(32)  # idle zeros before the first character
    for b in text:
        enc.push_byte(b)
    enc.push_postamble(32)  # closes the last character
    bits = enc.drain_bits()

    dec = t.VaricodeDecoder()
    dec.push_bits(bits)
    return dec.pop_bytes()


def qam_bit_errors(order: int, snr_db: float, n_bits: int = 60_000) -> int:
    """Bits through a QAM modulator, a noisy channel and the demodulator; returns the errors."""
    rng = np.random.default_rng(1)
    bits = rng.integers(0, 2, n_bits, dtype=np.uint8)
    iq = t.QamMod(order, 48000.0, 0.0, 1.0).process(bits)  # rf_hz 0: baseband symbols
    sigma = np.sqrt(10 ** (-snr_db / 10) / 2)  # unit average symbol energy
    noise = (rng.normal(0, sigma, iq.size) + 1j * rng.normal(0, sigma, iq.size)).astype(np.complex64)
    decided = t.QamDemod(order, 1.0).process(iq + noise)
    return int(np.count_nonzero(decided != bits))


def main() -> None:
    text = b"CQ CQ de TARSK pse k\r\n"
    back = varicode_round_trip(text)
    print(f"Varicode: {text!r} -> {back!r}")
    assert back == text

    for order, snr in ((16, 18.0), (64, 24.0), (256, 30.0)):
        errors = qam_bit_errors(order, snr)
        print(f"{order}-QAM at {snr:.0f} dB SNR: {errors} bit errors in 60000")

    payload = t.ft8_pack_standard("CQ", "X1ABC", "FN42")
    print(f"FT8 payload {payload.hex()} reads back as {t.ft8_unpack(payload)}")
    assert t.ft8_unpack(payload)["extra"] == "FN42"

    # The whole FT8 road: payload -> 58 tones -> a 12.64 s frame of IQ (plus noise) -> tones -> text.
    tones = t.Ft8Codec.encode(payload)
    iq = t.Ft8Mod(12000.0, 1000.0, 0.0, 1.0).modulate(tones)
    noise = np.random.default_rng(3).normal(scale=0.5, size=(iq.size, 2)).astype(np.float32)
    heard = t.Ft8Demod(12000.0, 1000.0).demodulate(iq + noise.view(np.complex64)[:, 0])
    message = t.ft8_unpack(t.Ft8Codec.decode_hard(heard))
    print(f"FT8 frame of {iq.size} samples decodes to {message}")
    assert message["call_de"] == "X1ABC"


if __name__ == "__main__":
    main()
