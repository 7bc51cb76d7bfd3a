#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for a bounded time on its seed corpus. Fails when any target
# finds a crash, a leak, a timeout or a sanitizer report.
#
#   scripts/fuzz.sh [seconds-per-target] [target ...]
#
# With FUZZ_RUNS=N in the environment each target runs N inputs instead
# (for the long campaigns; the time limit then does not apply).
#
# New inputs found go to a scratch corpus (build-fuzz/corpus/<target>), never
# into the repository's seeds; a failing input is left in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQERN_FUZZ=ON -DQERN_BUILD_TESTS=OFF -DQERN_BUILD_TOOLS=OFF -DQERN_WERROR=ON >/dev/null
cmake --build build-fuzz -j "$jobs"

# Per target: the longest input tried and the time one input may take.
declare -A max_len=([flags]=256 [note_name]=256 [pitch_bend]=4096 [wav_reader]=65536
                    [pmk_reader]=65536 [analysis]=2048 [synthesis]=2048 [run]=1024)
declare -A timeout=([flags]=5 [note_name]=5 [pitch_bend]=10 [wav_reader]=10
                    [pmk_reader]=10 [analysis]=30 [synthesis]=30 [run]=30)

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in fuzz/*_fuzz.cpp; do t=$(basename "$f" _fuzz.cpp); targets+=("$t"); done
fi

mkdir -p build-fuzz/findings
failed=()
for t in "${targets[@]}"; do
    work=build-fuzz/corpus/$t
    mkdir -p "$work"
    if [ -n "${FUZZ_RUNS:-}" ]; then limit="-runs=$FUZZ_RUNS"; else limit="-max_total_time=$seconds"; fi
    echo "== $t: $limit"
    log=build-fuzz/findings/$t.log
    if ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
       UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
       "build-fuzz/fuzz/${t}_fuzz" $limit -timeout="${timeout[$t]:-30}" \
           -rss_limit_mb=2560 -max_len="${max_len[$t]:-4096}" -close_fd_mask=3 \
           -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$t-" \
           "$work" "fuzz/corpus/$t" >"$log" 2>&1; then
        grep -E '^Done [0-9]+ runs' "$log" || true
    else
        echo "!! $t failed; last lines of $log:"
        tail -n 40 "$log"
        failed+=("$t")
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz targets with findings: ${failed[*]}"
    exit 1
fi
echo "all ${#targets[@]} fuzz targets ran clean"
