#!/usr/bin/env bash
# Installs what the board needs, builds it and shows it at work on this machine: a local
# point-of-sale simulator (server API and its own MQTT broker on 127.0.0.1) and the board against
# it. Closing the board's window or Ctrl-C stops all three. Arguments go to the board
# (e.g. --use-fullscreen). The board keeps its data in BUILD/run-board, apart from a real
# installation; README.md says how to run the board alone against a real server.
#   KM4_BUILD_DIR   build folder (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

build_dir=${KM4_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" --target km4App km4Simulator --parallel "$(nproc)"
build_dir=$(realpath "$build_dir")
run_dir=$build_dir/run-board
mkdir -p "$run_dir"
log=$run_dir/simulator.log

simulator_pid=""
board_pid=""
broker_pid=""
# shellcheck disable=SC2317 # called by the trap
stop_all() {
    trap - EXIT INT TERM
    for pid in $board_pid $simulator_pid; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in $board_pid $simulator_pid; do
        wait "$pid" 2>/dev/null || true
    done
    # The simulator stops its broker itself; this is for a simulator that could not.
    if [ -n "$broker_pid" ] && kill -0 "$broker_pid" 2>/dev/null; then
        kill "$broker_pid"
    fi
}
trap stop_all EXIT
trap 'exit 130' INT TERM

"$build_dir/simulator/km4Simulator" >"$log" 2>&1 &
simulator_pid=$!
for _ in $(seq 100); do
    grep -q -- '--host' "$log" && break
    if ! kill -0 "$simulator_pid" 2>/dev/null; then
        cat "$log" >&2
        exit 1
    fi
    sleep 0.1
done
cat "$log"
echo "The board's log: $run_dir/board.log"
timezone_host=$(sed -n 's/.*KM4_TIMEZONE_HOST=\([^ ]*\).*/\1/p' "$log")
board_args=$(sed -n 's/.* km4App \(--use-http .*\)$/\1/p' "$log")
broker_pid=$(sed -n 's/.*mosquitto pid \([0-9]*\).*/\1/p' "$log")
if [ -z "$board_args" ]; then
    echo "The simulator did not start; see $log" >&2
    exit 1
fi

# The board's network cache lies in the folder it starts from.
(
    cd "$run_dir"
    export XDG_DATA_HOME=$run_dir/data XDG_CACHE_HOME=$run_dir/cache KM4_TIMEZONE_HOST=$timezone_host
    # shellcheck disable=SC2086 # the simulator's options for the board, one word each
    exec "$build_dir/src/km4App/src/km4App" $board_args "$@" >"$run_dir/board.log" 2>&1
) &
board_pid=$!
status=0
wait "$board_pid" || status=$?
board_pid=""
exit "$status"
