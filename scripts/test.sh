#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test twice: once in an
# ordinary build and once under AddressSanitizer + UndefinedBehaviorSanitizer.
# In the ordinary build the tests labelled "race" (processes, kills, locks,
# timers, deadlines) run three times in a row. A skipped test fails the run:
# everything a test needs comes with the repository or from bootstrap.sh.
# Last, the Debian package is built, linted and checked.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
export LC_ALL=C.UTF-8
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

bash scripts/check-format.sh

# ctest with the given arguments; fails when it fails or when any test did not run.
run_ctest() {
  local log
  log=$(mktemp)
  local status=0
  ctest --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log" || status=$?
  if grep -qE '\*\*\*Skipped|Not Run|tests did not run' "$log"; then
    echo "test.sh: a test was skipped or did not run; every test must run" >&2
    status=1
  fi
  rm -f "$log"
  return "$status"
}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
run_ctest --test-dir build -LE race
run_ctest --test-dir build -L race --repeat until-fail:3

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZR_SANITIZE=ON
cmake --build build-asan -j "$jobs"
run_ctest --test-dir build-asan

bash scripts/check-package.sh build
