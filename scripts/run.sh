#!/usr/bin/env bash
# Installs what the board needs, builds the program and starts it. Arguments are passed on to the
# program (e.g. --use-fullscreen, --host HOST, --use-http).
#   KM4_BUILD_DIR   build folder (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

build_dir=${KM4_BUILD_DIR:-build}

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" --target km4App --parallel "$(nproc)"
exec "$build_dir/src/km4App/src/km4App" "$@"
