#!/usr/bin/env python3
"""Fails when library sources take transcendental maths from anywhere but
core/fmath.hpp (results would then depend on the platform's C library), or
use <complex> / std::complex (complex arithmetic is written out on Cf32).

Usage: check_sources.py [SRC_DIR]   (default: the repository's src/)
"""

import pathlib
import re
import sys

NAMES = ("sin|cos|tan|asin|acos|atan|atan2|sinh|cosh|tanh|asinh|acosh|atanh|sincos|"
         "exp|exp2|expm1|log|log2|log10|log1p|pow|cbrt|hypot|erf|erfc|tgamma|lgamma")
# A call (bare, ::- or std::-qualified, or a builtin), or a qualified name
# taken without a call (a function pointer).
CALL = re.compile(r"(?<![\w.>])(?:std\s*)?(?:::\s*)?(?:__builtin_)?(?:%s)[fl]?\s*\(|"
                  r"(?<![\w.>])(?:std\s*)?::\s*(?:%s)[fl]?\b" % (NAMES, NAMES))
COMPLEX = re.compile(r"#\s*include\s*<(?:complex|complex\.h|ccomplex|tgmath\.h|ctgmath)>|\bstd\s*::\s*complex\b|\b_Complex\b")
ALLOWED = {"core/fmath.hpp"}
SUFFIXES = {".hpp", ".cpp", ".h", ".cc", ".cxx", ".hh", ".inl", ".ipp"}
# Comments, then string and character literals, blanked to keep line numbers.
COMMENT = re.compile(r"//[^\n]*|/\*.*?\*/", re.S)
LITERAL = re.compile(r'"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'')


def blank(m):
    return re.sub(r"[^\n]", " ", m.group(0))


def check(src):
    problems = []
    for path in sorted(p for p in src.rglob("*") if p.suffix in SUFFIXES and p.is_file()):
        rel = path.relative_to(src).as_posix()
        if rel in ALLOWED:
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        code = COMMENT.sub(blank, LITERAL.sub(blank, text))
        includes = COMMENT.sub(blank, text)  # <complex> sits outside quotes
        for lineno, (line, raw) in enumerate(zip(code.splitlines(), includes.splitlines()), 1):
            if CALL.search(line):
                problems.append(f"{rel}:{lineno}: transcendental call outside core/fmath.hpp: {raw.strip()}")
            if COMPLEX.search(raw if raw.lstrip().startswith("#") else line):
                problems.append(f"{rel}:{lineno}: <complex>/std::complex (use Cf32): {raw.strip()}")
    return problems


def main():
    src = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent / "src"
    problems = check(src)
    for p in problems:
        print(p, file=sys.stderr)
    if problems:
        print("use tarsk::cr_sinf / cr_cosf / cr_sincosf / cr_expf / cr_logf (core/fmath.hpp)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
