#!/usr/bin/env bash
# CI: the kernels' machine code and their results across compilers, CPU
# targets and architectures.
#   1. g++ build (module, header units, digest program) with warnings as
#      errors; check_isa.py on its module and per-target objects.
#   2. The digest program on every kernel path this CPU runs (TARSK_ISA).
#   3. clang++ build of the kernels with warnings as errors: same checks, same digests.
#   4. aarch64 cross build, digests under qemu-user: the same digests again.
# Steps 3 and 4 install their tools with apt-get when missing; without apt
# (or without root) they are skipped with a loud notice, not failed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

jobs=$(nproc 2>/dev/null || echo 2)
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
arch=$(uname -m)

skip() { printf '\n*** SKIPPED: %s ***\n\n' "$*" >&2; }

build() {  # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S "$root" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DTARSK_DIGESTS=ON -DTARSK_WERROR=ON \
    "$@" >"$dir.log" 2>&1 || { cat "$dir.log" >&2; return 1; }
  cmake --build "$dir" -j "$jobs" >>"$dir.log" 2>&1 || { cat "$dir.log" >&2; return 1; }
}

# Installs the Debian packages named, once; false if that cannot be done.
apt_ready=""
have_or_install() {  # have_or_install COMMAND PACKAGE...
  local cmd=$1; shift
  command -v "$cmd" >/dev/null 2>&1 && return 0
  if ! command -v apt-get >/dev/null 2>&1 || [ "$(id -u)" != 0 ]; then return 1; fi
  if [ -z "$apt_ready" ]; then
    apt-get update -qq >/dev/null 2>&1 || return 1
    apt_ready=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>&1 || return 1
  command -v "$cmd" >/dev/null 2>&1
}

paths=("")
if [ "$arch" = x86_64 ]; then paths=("" baseline avx2); fi

# digests_agree NAME COMMAND...: runs the digest program on every path and
# compares with the reference of step 2.
digests_agree() {
  local name=$1; shift
  local isa
  for isa in "${paths[@]}"; do
    TARSK_ISA=$isa "$@" >"$work/got.txt"
    if ! diff -u "$work/reference.txt" "$work/got.txt" >&2; then
      echo "digests differ: $name, TARSK_ISA=${isa:-unset}" >&2
      return 1
    fi
  done
  echo "digests agree: $name (${#paths[@]} kernel path(s))"
}

echo "== g++: module, header units and digest program, warnings as errors"
build "$work/gcc" -DPython_EXECUTABLE="$(command -v python3)"
if [ "$arch" = x86_64 ]; then python3 "$root/.ci/check_isa.py" "$work/gcc"; fi
"$work/gcc/tarsk_digests" >"$work/reference.txt"
cat "$work/reference.txt"
digests_agree "g++ $arch" "$work/gcc/tarsk_digests"

echo "== clang++: kernels, header units and digest program, warnings as errors"
if have_or_install clang++ clang; then
  build "$work/clang" -DCMAKE_CXX_COMPILER=clang++ -DTARSK_PYTHON=OFF
  if [ "$arch" = x86_64 ]; then python3 "$root/.ci/check_isa.py" "$work/clang"; fi
  digests_agree "clang++ $arch" "$work/clang/tarsk_digests"
else
  skip "clang++ is missing and could not be installed (needs apt-get as root)"
fi

echo "== aarch64: cross build, digests under qemu-user"
if [ "$arch" = aarch64 ]; then
  skip "already on aarch64: step 2 covered it"
elif have_or_install aarch64-linux-gnu-g++ g++-aarch64-linux-gnu && have_or_install qemu-aarch64 qemu-user; then
  build "$work/aarch64" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
    -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++ -DTARSK_PYTHON=OFF
  paths=("")
  digests_agree "g++ aarch64 under qemu-user" qemu-aarch64 -L /usr/aarch64-linux-gnu "$work/aarch64/tarsk_digests"
else
  skip "aarch64 cross compiler or qemu-user is missing and could not be installed (needs apt-get as root)"
fi
