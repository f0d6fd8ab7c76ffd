"""Checks the machine code of an x86-64 build for the two ways a per-target
kernel copy can leak out of its path.

  check_isa.py BUILD_DIR

1. Module: a fused multiply-add called as a library function (fmaf/fma) is
   slow and may only appear on the baseline path, in isa_base functions; and
   no function outside the per-target namespaces may contain AVX or AVX-512
   instructions, or a baseline CPU could run them. Functions of internal
   linkage (static, unnamed namespace) compiled in a wider target's object
   are that object's own copy, called only from there: they may.
2. Objects of the wider targets: no weak (COMDAT) function outside the
   per-target namespaces may contain AVX or AVX-512 instructions: the linker
   keeps one copy of such a function for every caller, and it may keep the
   wide one.

Needs objdump and nm (binutils). Exit status 1 with a list on failure.
"""

import glob
import os
import re
import subprocess
import sys

FUNC = re.compile(r"^[0-9a-f]+ <(.+)>:$")
INSN = re.compile(r"^\s+[0-9a-f]+:\s+(\S+)\s*(.*)$")
FMA_CALL = re.compile(r"<(fmaf|fma)(@plt)?>")
# VEX/EVEX instructions all start with v (vzeroupper included); AVX-512 mask
# instructions start with k; and any use of a ymm, zmm or mask register.
AVX_MNEMONIC = re.compile(r"^(v[a-z]|k(mov|and|or|xor|not|shift|test|unpck|add)[a-z]*$)")
AVX_REGISTER = re.compile(r"%(ymm|zmm)\d+|%k[0-7]\b")
WIDE = ("isa_avx2::", "isa_avx512::")


def functions(path):
    """{demangled name: [(mnemonic, operands), ...]} from objdump -d -C."""
    out = subprocess.run(["objdump", "-d", "-C", "--no-show-raw-insn", path],
                         check=True, capture_output=True, text=True).stdout
    funcs, cur = {}, None
    for line in out.splitlines():
        m = FUNC.match(line)
        if m:
            cur = funcs.setdefault(m.group(1), [])
            continue
        m = INSN.match(line)
        if m and cur is not None:
            cur.append((m.group(1), m.group(2)))
    return funcs


def uses_avx(insns):
    return any(AVX_MNEMONIC.match(op) or AVX_REGISTER.search(args) for op, args in insns)


def check_module(path, own_copies):
    bad = []
    for name, insns in functions(path).items():
        if name.endswith("@plt") or name.startswith("."):
            continue
        if "isa_base::" not in name and any(FMA_CALL.search(args) for op, args in insns if op.startswith("call")):
            bad.append(f"{os.path.basename(path)}: {name}: calls fmaf/fma outside the baseline path")
        if not any(w in name for w in WIDE) and name not in own_copies and uses_avx(insns):
            bad.append(f"{os.path.basename(path)}: {name}: AVX instructions outside the per-target namespaces")
    return bad


def symbols(path, kinds):
    out = subprocess.run(["nm", "-C", "--defined-only", path], check=True, capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] in kinds:
            names.add(parts[2])
    return names


def weak_functions(path):
    return symbols(path, ("W", "V", "u", "i"))


def check_objects(paths):
    bad = []
    for path in paths:
        weak = weak_functions(path)
        for name, insns in functions(path).items():
            if name in weak and not any(w in name for w in WIDE) and uses_avx(insns):
                bad.append(f"{path}: {name}: weak function with AVX instructions outside the per-target namespaces")
    return bad


def main():
    build = sys.argv[1]
    modules = glob.glob(os.path.join(build, "tarsk_sdr*.so"))
    objects = [p for isa in ("avx2", "avx512")
               for p in glob.glob(os.path.join(build, "CMakeFiles", f"tarsk_simd_{isa}.dir", "**", "*.o"),
                                  recursive=True)]
    if not objects:
        print(f"check_isa: no per-target objects under {build}", file=sys.stderr)
        return 1
    bad = check_objects(objects)
    own_copies = set().union(*(symbols(p, ("t",)) for p in objects))
    for m in modules:
        bad += check_module(m, own_copies)
    for b in bad:
        print(b, file=sys.stderr)
    what = f"{len(objects)} per-target objects" + (f" and {os.path.basename(modules[0])}" if modules else "")
    print(f"check_isa: {what}: {'FAILED' if bad else 'ok'}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
