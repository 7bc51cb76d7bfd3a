#!/usr/bin/env bash
# Compares the analysis of every reference case with its expected results:
# the T0 tracks before and after correction, the pitch marks and the .pmk
# bytes. Usage: scripts/check-golden-analysis.sh [BUILD_DIR] [GOLDEN_DIR]
# (defaults: build, ../shared/golden beside the clone, else /work/shared/golden).
# With a qern that runs analysis-only calls ("nul"), its .pmk is compared too.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
golden="${2:-}"
if [[ -z "$golden" ]]; then
    for g in "$root/../shared/golden" /work/shared/golden; do
        [[ -d "$g" ]] && { golden="$g"; break; }
    done
fi
[[ -d "$golden" ]] || { echo "no golden data found"; exit 2; }
analyze="$build/qern-analyze"
[[ -x "$analyze" ]] || { echo "missing $analyze (build the qern-analyze target)"; exit 2; }
qern="$build/qern"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

# First differing lines of two text files, with line numbers.
show_diff() {
    diff <(nl -ba -w1 -s' ' "$1") <(nl -ba -w1 -s' ' "$2") | head -n "${3:-8}"
}

for case_dir in "$golden"/*/; do
    name="$(basename "$case_dir")"
    [[ -d "$case_dir/debug" ]] || continue
    input="$(awk '{print $1}' "$case_dir/args.txt")"
    input_path="$golden/$input"
    out="$work/$name"
    mkdir -p "$out"
    if ! "$analyze" "$input_path" "$out" >/dev/null 2>"$out/stderr.txt"; then
        echo "FAIL $name: qern-analyze failed: $(cat "$out/stderr.txt")"
        failures=$((failures + 1))
        continue
    fi
    ok=1
    for f in t0_raw.txt t0.txt marks.txt; do
        if ! cmp -s "$case_dir/debug/$f" "$out/$f"; then
            ok=0
            echo "DIFF $name/$f ($(diff "$case_dir/debug/$f" "$out/$f" | grep -c '^[<>]') differing lines; < expected, > ours):"
            show_diff "$case_dir/debug/$f" "$out/$f"
        fi
    done
    if [[ -f "$case_dir/in_wav.pmk" ]] && ! cmp -s "$case_dir/in_wav.pmk" "$out/in_wav.pmk"; then
        ok=0
        echo "DIFF $name/in_wav.pmk: $(cmp "$case_dir/in_wav.pmk" "$out/in_wav.pmk" 2>&1 | head -1)"
    fi
    # The whole program, analysis only, on a copy of the input.
    if [[ -x "$qern" && -f "$case_dir/in_wav.pmk" ]]; then
        mkdir -p "$out/run"
        cp "$input_path" "$out/run/in.wav"
        (cd "$out/run" && "$qern" in.wav nul C4 100 >"$out/run/stdout.txt" 2>&1)
        if [[ ! -f "$out/run/in_wav.pmk" ]]; then
            echo "NOTE $name: qern wrote no .pmk (driver not ready?)"
        elif ! cmp -s "$case_dir/in_wav.pmk" "$out/run/in_wav.pmk"; then
            ok=0
            echo "DIFF $name: qern's in_wav.pmk: $(cmp "$case_dir/in_wav.pmk" "$out/run/in_wav.pmk" 2>&1 | head -1)"
        fi
    fi
    if [[ $ok == 1 ]]; then
        echo "OK   $name ($(grep -o '[0-9]* marks' "$out/stderr.txt"))"
    else
        failures=$((failures + 1))
    fi
done
echo "$failures case(s) with differences"
[[ $failures == 0 ]]
