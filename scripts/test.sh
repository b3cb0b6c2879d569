#!/usr/bin/env bash
# Installs what the board needs, builds it with every test and benchmark, and runs all tests.
# Exits non-zero when anything fails.
#   KM4_BUILD_DIR   build folder (default: build)
#   KM4_SANITIZE=ON build and test with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

build_dir=${KM4_BUILD_DIR:-build}
jobs=$(nproc)

cmake -S . -B "$build_dir" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKM4_WERROR=ON \
    -DKM4_SANITIZE="${KM4_SANITIZE:-OFF}"
cmake --build "$build_dir" --parallel "$jobs"
status=0
ctest --test-dir "$build_dir" --output-on-failure --parallel "$jobs" --no-tests=error || status=$?
./scripts/line-ratio.sh
exit "$status"
