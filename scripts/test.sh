#!/usr/bin/env bash
# Sets up the machine, builds with warnings as errors and runs the whole test
# suite and the fault suite (tests/faults, a few minutes, on /dev/shm when
# there is one); then builds again with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs the suite once more. Set MIRSALEX_SKIP_SANITIZE=1 to skip the second
# pass.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/setup.sh"

export QT_QPA_PLATFORM=offscreen

echo "== build (warnings as errors)"
BUILD_TYPE=Debug "$ROOT/scripts/build.sh" "$ROOT/build-test" -DMIRSALEX_WERROR=ON
echo "== tests"
ctest --test-dir "$ROOT/build-test" --output-on-failure -j2
echo "== fault suite (kills of runs, dry runs and restores, injected faults, two runs at once)"
"$ROOT/build-test/tests/mirsalex-faults" --bin "$ROOT/build-test/src"

if [[ "${MIRSALEX_SKIP_SANITIZE:-0}" != "1" ]]; then
  echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
  BUILD_TYPE=Debug "$ROOT/scripts/build.sh" "$ROOT/build-asan" -DMIRSALEX_WERROR=ON -DMIRSALEX_SANITIZE=ON \
    -DMIRSALEX_BUILD_BENCH=OFF
  echo "== tests under sanitizers"
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$ROOT/build-asan" --output-on-failure -j2
fi
