#!/usr/bin/env bash
# The whole test suite against the module built with AddressSanitizer and
# UndefinedBehaviorSanitizer; any sanitizer report fails the run.
#   .ci/sanitize.sh [PYTHON]
# PYTHON (default python3) needs numpy and pytest; inside a virtual environment
# cmake and ninja are installed into it when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
python=${1:-python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if "$python" -c 'import sys; sys.exit(sys.prefix == sys.base_prefix)'; then
  for tool in cmake ninja; do
    [ -x "$(dirname "$python")/$tool" ] || "$python" -m pip install -q "$tool"
  done
  export PATH="$(dirname "$python"):$PATH"
fi

cxx=${CXX:-g++}
libasan=$("$cxx" -print-file-name=libasan.so)
libubsan=$("$cxx" -print-file-name=libubsan.so)
for lib in "$libasan" "$libubsan"; do
  [ -f "$lib" ] || { echo "sanitizer runtime $lib not found" >&2; exit 1; }
done

# -O1 -g for usable reports; library assertions catch out-of-range indexing
# that stays inside one allocation. Only the module is built: the other
# targets (header checks, tools) run nothing under the sanitizers.
san="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer"
echo "== sanitizer build"
cmake -S "$root" -B "$work/build" -G Ninja -DPython_EXECUTABLE="$(command -v "$python")" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -D_GLIBCXX_ASSERTIONS" \
  -DCMAKE_CXX_FLAGS="$san" -DCMAKE_MODULE_LINKER_FLAGS="$san" -DCMAKE_SHARED_LINKER_FLAGS="$san" \
  >"$work/configure.log" || { cat "$work/configure.log" >&2; exit 1; }
ninja -C "$work/build" tarsk_sdr >"$work/build.log" || { grep -v '^\[' "$work/build.log" | head -50 >&2; exit 1; }
"$cxx" -O2 -shared -fPIC -o "$work/throwing_new.so" "$root/.ci/throwing_new.cpp"

# Reports go to files, so that none is lost inside a test's subprocess or
# pytest's capture; allocation-failure warnings are expected and not reports.
# Sizes above 2 GiB fail at once: the sanitizer's allocator would otherwise
# reserve them lazily and let a runaway size fill the machine.
export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:abort_on_error=1:allocator_may_return_null=1:max_allocation_size_mb=2048:verify_asan_link_order=0:alloc_dealloc_mismatch=0:log_path=$work/report"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:log_path=$work/report"
export PYTHONMALLOC=malloc
preload="$work/throwing_new.so:$libasan:$libubsan"

check_reports() {
  local found=0
  for f in "$work"/report.*; do
    [ -e "$f" ] || continue
    if grep -qE 'ERROR: AddressSanitizer|runtime error:|SUMMARY: ' "$f"; then
      cat "$f" >&2
      found=1
    fi
  done
  return $found
}

# The setup must catch a plain heap overflow, or a clean run means nothing.
printf '#include <cstdio>\nint main(int c, char**) { int* p = new int[4]; p[c + 3] = 1; std::printf("%%d", p[0]); delete[] p; }\n' \
  > "$work/canary.cpp"
"$cxx" -fsanitize=address -g -o "$work/canary" "$work/canary.cpp"
if ASAN_OPTIONS="$ASAN_OPTIONS:abort_on_error=0" LD_PRELOAD="$preload" "$work/canary" >/dev/null 2>&1 \
    || check_reports 2>/dev/null; then
  echo "sanitizer canary was not caught" >&2
  exit 1
fi
rm -f "$work"/report.*

echo "== test suite under the sanitizers"
status=0
(cd "$work" && LD_PRELOAD="$preload" PYTHONPATH="$work/build" \
  "$python" -c 'import tarsk_sdr, sys; sys.exit(not tarsk_sdr.__file__.startswith(sys.argv[1]))' "$work/build") \
  || { echo "the sanitizer build is not the module under test" >&2; exit 1; }
(cd "$work" && LD_PRELOAD="$preload" PYTHONPATH="$work/build" \
  "$python" -m pytest -q -p no:cacheprovider ${PYTEST_ARGS:-} "$root/tests") || status=$?
check_reports || status=1
exit $status
