"""PSK31 over a noisy channel: one text sent with BPSK31 and with QPSK31 at a few
signal-to-noise ratios, and what each receiver read."""

import numpy as np

import tarsk_sdr as t

FS = 8000.0     # sample rate, Hz
RF = 1500.0     # audio carrier, Hz
SPS = 256       # samples per symbol at 8 kHz (8000 / 31.25)
TEXT = b"CQ CQ de X1ABC X1ABC: rig 5 W, antenna dipole, name Ann. pse k\r\n"


def channel(iq: np.ndarray, snr_db: float, rng: np.random.Generator) -> np.ndarray:
    """White noise at this Eb/N0 (one bit per symbol, unit-amplitude signal after the
    receiver's ramp-weighted integration, whose weights hold about 0.375 * SPS of energy)."""
    sigma = np.sqrt(0.375 * SPS / (2 * 10 ** (snr_db / 10)))
    noise = rng.normal(0, sigma, iq.size) + 1j * rng.normal(0, sigma, iq.size)
    return (iq + noise).astype(np.complex64)


def bpsk31_link(snr_db: float, rng: np.random.Generator) -> bytes:
    iq = t.Bpsk31Mod(FS, RF, 1.0).modulate_text(TEXT)
    soft = t.Bpsk31Demod(FS, RF, 1.0).process(channel(iq, snr_db, rng))
    dec = t.VaricodeDecoder()
    dec.push_bits((soft > 0).astype(np.uint8))  # the sign is the bit
    return dec.pop_bytes()


def qpsk31_link(snr_db: float, rng: np.random.Generator) -> bytes:
    iq = channel(t.Qpsk31Mod(FS, RF, 1.0).modulate_text(TEXT), snr_db, rng)
    rx = t.Qpsk31Demod(FS, RF, 1.0)
    for piece in np.array_split(iq, 37):  # as a sound card would deliver it
        rx.process(piece)
    dec = t.VaricodeDecoder()
    dec.push_bits(rx.flush())  # the Viterbi decoder gives bits directly
    return dec.pop_bytes()


def main() -> None:
    rng = np.random.default_rng(31)
    print(f"sent: {TEXT!r}")
    for snr_db in (10.0, 7.0, 5.0):
        print(f"Eb/N0 {snr_db:4.1f} dB  BPSK31 read: {bpsk31_link(snr_db, rng)!r}")
        print(f"{'':14} QPSK31 read: {qpsk31_link(snr_db, rng)!r}")


if __name__ == "__main__":
    main()
