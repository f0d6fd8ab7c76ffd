"""Cost of one method call through the binding layer, next to a NumPy ufunc call.

Both calls take a tiny array, so what is measured is the per-call overhead:
argument matching, the array checks, the receiver's borrow and the return.
Target: the ratio stays at or below 0.3.
"""

import threading
import time
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
    print(f"two objects, one thread each          {two_threads_speedup():7.2f}x the throughput of one thread")


def two_threads_speedup(n=2_000_000, rounds=5):
    """Long inputs run with the interpreter lock released: two objects in two threads use two cores."""
    iq = (np.arange(n) % 7 - 3).astype(np.complex64)
    mods = [t.FmQuadratureDemod(48000.0, 5000.0, 3000.0) for _ in range(2)]

    def work(mod):
        for _ in range(rounds):
            mod.process(iq)

    start = time.perf_counter()
    for mod in mods:
        work(mod)
    serial = time.perf_counter() - start
    threads = [threading.Thread(target=work, args=(mod,)) for mod in mods]
    start = time.perf_counter()
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    return serial / (time.perf_counter() - start)


if __name__ == "__main__":
    main()
