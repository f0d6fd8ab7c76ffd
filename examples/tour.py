"""A short tour of tarsk_sdr: each section runs one family of the library end to end."""

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


def main() -> None:
    text = b"CQ CQ de TARSK pse k\r\n"
    back = varicode_round_trip(text)
    print(f"Varicode: {text!r} -> {back!r}")
    assert back == text


if __name__ == "__main__":
    main()
