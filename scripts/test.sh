#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test twice: once in an
# ordinary build and once under AddressSanitizer + UndefinedBehaviorSanitizer;
# then builds and checks the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
export LC_ALL=C.UTF-8
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

bash scripts/check-format.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZR_SANITIZE=ON
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs"

bash scripts/check-package.sh build
