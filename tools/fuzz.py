#!/usr/bin/env python3
"""Long fuzzing runs over every registered class and function.

    PYTHONPATH=build/dev python3 tools/fuzz.py --seed 1 --calls 1000000
    PYTHONPATH=build/dev python3 tools/fuzz.py --seeds 100-199 --calls 50000

Each seed is reproducible on its own; a failure prints the seed and the call.
--log FILE writes every call before it is made, to find a call that never returns.
"""

import argparse
import pathlib
import resource
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

import fuzzlib  # noqa: E402
import tarsk_sdr  # noqa: E402


def seeds(text):
    if "-" in text:
        lo, hi = text.split("-")
        return range(int(lo), int(hi) + 1)
    return [int(text)]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    group = ap.add_mutually_exclusive_group()
    group.add_argument("--seed", type=int, default=None)
    group.add_argument("--seeds", type=seeds, default=None, help="inclusive range, e.g. 0-99")
    ap.add_argument("--calls", type=int, default=100_000, help="calls per seed")
    ap.add_argument("--sweep", action="store_true", help="first every parameter with every odd value")
    ap.add_argument("--log", type=pathlib.Path, help="write each call here before making it")
    opts = ap.parse_args()
    run = opts.seeds or [opts.seed if opts.seed is not None else int(time.time())]
    log = opts.log.open("w") if opts.log else None
    total = 0
    start = time.perf_counter()
    for seed in run:
        fuzzer = fuzzlib.Fuzzer(tarsk_sdr, seed)
        fuzzer.log = log
        try:
            if opts.sweep:
                fuzzer.sweep()
            fuzzer.run(fuzzer.calls + opts.calls)
        except fuzzlib.FuzzFailure as failure:
            print(f"FAILED {failure}", file=sys.stderr)
            return 1
        total += fuzzer.calls
        rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024
        print(f"seed {seed}: {fuzzer.calls} calls, {total} in all, "
              f"{time.perf_counter() - start:.1f} s, max RSS {rss} MiB", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
