#!/usr/bin/env bash
# Runs the executable under valgrind's memcheck on end-to-end runs from a
# cold cache (analysis and synthesis), a warm one, an analysis-only run and
# two failing runs. Fails on any leak, invalid access or use of an
# uninitialised value.
#
#   scripts/valgrind-check.sh [BUILD_DIR]    (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath "${1:-build}")
work=$(mktemp -d /tmp/qern-valgrind.XXXXXX)
trap 'rm -rf "$work"' EXIT

cp "$build/qern" "$work/qern"
"$build/qern_demo_voice" "$work/voice.wav" >/dev/null

failures=0
check() {  # check NAME EXPECTED_STATUS ARGS...
    local name=$1 expected=$2 status=0
    shift 2
    valgrind --tool=memcheck --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
        --suppressions="$root/scripts/valgrind.supp" --track-origins=yes --error-exitcode=99 --log-file="$work/$name.valgrind" \
        "$work/qern" "$@" >/dev/null 2>&1 || status=$?
    if [ "$status" -ne "$expected" ]; then
        echo "FAIL: $name: exit status $status (expected $expected)"
        cat "$work/$name.valgrind"
        failures=$((failures + 1))
    else
        echo "$name: $(grep -E 'ERROR SUMMARY' "$work/$name.valgrind" | sed 's/^==[0-9]*== //')"
    fi
}

bend="AAABACADAEAFAGAHAIAJ#5#AJAIAH/+/9/8/7/6#10#/6/7/8"
check cold-cache 0 "$work/voice.wav" "$work/out.wav" A4 100 "g-10H20P90" 10 600 80 -100 90 30 "!120" "$bend"
[ -f "$work/voice_wav.pmk" ] || { echo "FAIL: no cache after the cold run"; failures=$((failures + 1)); }
check warm-cache 0 "$work/voice.wav" "$work/out2.wav" C#4 50 "g20" 0 300 0 0 100 0 "$bend"
check analysis-only 0 "$work/voice.wav" nul G3 100 R
check bad-note 1 "$work/voice.wav" "$work/out3.wav" H4 100
check missing-input 1 "$work/missing.wav" "$work/out4.wav" A4 100

if [ "$failures" -ne 0 ]; then
    echo "valgrind: $failures failures"
    exit 1
fi
echo "valgrind: no leak and no invalid access"
