"""Draw the tour's FT8 slot as a waterfall, with each decoded frame marked and labelled.

Needs the optional extra: python3 -m pip install '.[examples]'
Run: python3 examples/waterfall.py [OUT.png]   (default docs/waterfall.png)
"""

import io
import os
import sys

import numpy as np

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.patches import Rectangle
    from PIL import Image  # installed with matplotlib
except ImportError:
    sys.exit("examples/waterfall.py needs matplotlib: python3 -m pip install '.[examples]'")

from tour import FS, SYMBOL, decode_slot, make_slot

BASE_HZ, MAX_HZ = 100.0, 3000.0


def log_power(slot: np.ndarray) -> np.ndarray:
    """Rows of one symbol, bins of 6.25 Hz from BASE_HZ to MAX_HZ: the grid ft8_sync searches."""
    rows = slot.size // SYMBOL
    spectra = np.fft.fft(slot[:rows * SYMBOL].reshape(rows, SYMBOL), axis=1)  # bin k at k * 6.25 Hz
    lo, hi = int(BASE_HZ / 6.25), int(MAX_HZ / 6.25) + 1
    return np.log10(np.abs(spectra[:, lo:hi]) ** 2 + 1e-12) * 10


def main() -> None:
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "docs", "waterfall.png")
    slot = make_slot(np.random.default_rng(7), snr_db=-10.0)
    db = log_power(slot)
    fig, ax = plt.subplots(figsize=(9, 4.2), dpi=80)
    sec = slot.size // SYMBOL * SYMBOL / FS
    ax.imshow(db, aspect="auto", origin="upper", cmap="magma", extent=(BASE_HZ, MAX_HZ + 6.25, sec, 0),
              vmin=np.percentile(db, 5), vmax=np.percentile(db, 99.7))
    for time_s, freq_hz, score, text in decode_slot(slot, BASE_HZ, MAX_HZ):
        ax.add_patch(Rectangle((freq_hz, time_s), 8 * 6.25, 79 * SYMBOL / FS, fill=False, ec="cyan", lw=1.2))
        ax.text(freq_hz + 60, time_s + 0.5, f"{text}\nscore {score:.0f}", color="white", fontsize=8, va="top")
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel("time (s)")
    ax.set_title("One FT8 slot at -10 dB SNR: frames found by ft8_sync and read by decode_soft", fontsize=10)
    fig.tight_layout()
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    buf = io.BytesIO()
    fig.savefig(buf, format="png")
    # A 64-colour palette keeps the picture small enough to live in the repository.
    Image.open(buf).convert("RGB").quantize(64).save(out, optimize=True)
    print(f"wrote {out}")


if __name__ == "__main__":
    main()
