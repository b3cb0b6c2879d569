#!/bin/sh
# Runs the hostile-write harness (tests/services/syncDB/tst_writefuzz) for a long time in an
# address+undefined sanitizer build and reports what the sanitizers found.
#
#   bench/fuzz/sanitized-pushes.sh [build-dir] [pushes] [answers] [seed]
#
# The build directory must have been configured with -DKM4_SANITIZE=ON; the harness is built if
# needed. Prints pushes, answers, seconds, the test's verdict and the number of sanitizer reports;
# while it runs, the log named first shows how far it got.
set -u
build=${1:-build-asan}
pushes=${2:-500000}
answers=${3:-2000}
seed=${4:-14}

cmake --build "$build" -j4 --target tst_writefuzz >/dev/null || exit 1
log=$(mktemp)
echo "log: $log"
start=$(date +%s)
# Debian's Qt is not built with the sanitizers: leaks inside it are not ours to judge.
ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:halt_on_error=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=0 \
KM4_FUZZ_PUSHES=$pushes KM4_FUZZ_ANSWERS=$answers KM4_FUZZ_SEED=$seed \
QT_QPA_PLATFORM=offscreen QTEST_FUNCTION_TIMEOUT=86400000 \
    "$build/tests/services/syncDB/tst_writefuzz" -maxwarnings 1 >"$log" 2>&1
status=$?
end=$(date +%s)
reports=$(grep -c -E '^==[0-9]+==ERROR: |runtime error: ' "$log")
echo "pushes $pushes, answers $answers, seed $seed: $((end - start)) s, exit $status," \
    "sanitizer reports $reports"
grep -E '^(FAIL|PASS|Totals)|^[0-9]+ (pushes|answers)$' "$log"
grep -E -A30 '^==[0-9]+==ERROR: |runtime error: ' "$log" | head -120
echo "full log: $log"
