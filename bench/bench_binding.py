"""Cost of one method call through the binding layer, next to a NumPy ufunc call.

Both calls take a tiny array, so what is measured is the per-call overhead:
argument matching, the array checks, the receiver's borrow and the return.
Target: the ratio stays at or below 0.3.
"""

import timeit

import numpy as np

import tarsk_sdr as t


def best_ns(stmt, number=200_000, repeat=15):
    return min(timeit.repeat(stmt, number=number, repeat=repeat)) / number * 1e9


def main() -> None:
    dec = t.VaricodeDecoder()
    bits = np.array([1, 0, 1, 1, 0, 0, 0, 0], np.uint8)
    one = np.ones(1, np.float32)
    push = dec.push_bits
    ufunc = np.negative

    ours = best_ns(lambda: push(bits))
    numpy_call = best_ns(lambda: ufunc(one))
    dec.pop_bytes()
    keyword = best_ns(lambda: push(bits=bits))
    enc = t.VaricodeEncoder()
    drain = best_ns(lambda: (enc.push_byte(0x65), enc.drain_bits()))
    process = t.BpskDemod(1.0).process
    iq = np.ones(8, np.complex64)
    demod = best_ns(lambda: process(iq))

    print(f"VaricodeDecoder.push_bits(8 bits)     {ours:7.1f} ns/call")
    print(f"  same, passed by keyword             {keyword:7.1f} ns/call")
    print(f"np.negative(1-element float32 array)  {numpy_call:7.1f} ns/call")
    print(f"push_byte + drain_bits (new array)    {drain:7.1f} ns/pair")
    print(f"BpskDemod.process(8 samples)          {demod:7.1f} ns/call")
    print(f"ratio push_bits / ufunc               {ours / numpy_call:7.2f}  (target <= 0.3)")


if __name__ == "__main__":
    main()
