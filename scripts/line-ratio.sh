#!/usr/bin/env bash
# Prints the size of the tests against the code they test: non-blank lines that are not only a
# comment, in C++ (.cpp, .h), QML (.qml) and shell (.sh) files tracked by git under src/ and
# tests/. Comments are "//" and "#" line comments and "/* ... */" blocks.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
    git ls-files -- "$@" | xargs -r awk '
        FNR == 1 { block = 0 }
        {
            line = $0
            if (block) {
                if (sub(/.*\*\//, "", line)) block = 0; else next
            }
            while (match(line, /\/\*/)) {
                rest = substr(line, RSTART + 2)
                if (match(rest, /\*\//)) line = substr(line, 1, RSTART - 1) substr(rest, RSTART + 2)
                else { line = substr(line, 1, RSTART - 1); block = 1 }
            }
            gsub(/^[ \t]+|[ \t]+$/, "", line)
            if (line == "" || line ~ /^\/\// || (FILENAME ~ /\.sh$/ && line ~ /^#/)) next
            n++
        }
        END { print n + 0 }'
}

code=$(count 'src/*.cpp' 'src/*.h' 'src/*.qml')
tests=$(count 'tests/*.cpp' 'tests/*.h' 'tests/*.qml' 'tests/*.sh')
simulator=$(count 'simulator/*.cpp' 'simulator/*.h')
awk -v c="$code" -v t="$tests" -v s="$simulator" 'BEGIN {
    printf "Lines of code (non-blank, non-comment): src %d, tests %d, ratio tests/src %.2f\n", c, t, t / c
    printf "(the simulator, a program beside the tests, is not counted: %d lines)\n", s }'
