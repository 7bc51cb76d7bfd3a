#!/usr/bin/env bash
# Load test: a song-sized batch of notes over a handful of voice samples,
# run by several processes at once from cold caches, must all succeed and
# give byte for byte the notes of a serial run; and a write that fails (a
# full or read-only folder) must leave neither a partial output nor a
# partial cache.
#
#   scripts/load-test.sh [QERN_BINARY] [PROCESSES] [NOTES_PER_PROCESS]
#
# Defaults: build/qern, 4 processes, 100 notes each. Needs python3 (for the
# voice samples) and, for the full-folder case, root to mount a small tmpfs
# (without it a file-size limit stands in for the full disk).
#
# A note is the same whether its own run analysed the voice or reused the
# cache: the serial batch is rendered twice, analysing every note (R flag)
# and reusing the caches, and the two must agree; every parallel note must
# equal its serial rendering byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
qern=$(realpath "${1:-build/qern}")
processes=${2:-4}
per_process=${3:-100}
notes=$((processes * per_process))
work=$(mktemp -d /tmp/qern-load.XXXXXX)
mounted=""
cleanup() {
    if [ -n "$mounted" ]; then umount "$mounted" 2>/dev/null || true; fi
    if [ -n "${QERN_LOAD_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir -p "$work/bin" "$work/voices" "$work/serial-analysed" "$work/serial-reused" "$work/parallel" "$work/jobs"
# The log goes beside the program: a copy of its own keeps it in $work.
cp "$qern" "$work/bin/qern"

# Five voices: different pitches, lengths and formats, one with a LIST chunk.
python3 - "$work/voices" <<'EOF'
import math, struct, sys
folder = sys.argv[1]
def voice(f0, seconds, rate, seed):
    n = int(seconds * rate)
    out = []
    for i in range(n):
        t = i / rate
        f = f0 * (1 + 0.01 * math.sin(2 * math.pi * 5.5 * t))
        phase = 2 * math.pi * f * t
        env = min(1.0, t / 0.05, (seconds - t) / 0.05)
        v = sum(math.sin(k * phase + seed * k) / k for k in range(1, 8))
        out.append(0.3 * env * v)
    return out
def pcm(values, bits, channels):
    top = (1 << (bits - 1)) - 1
    b = bytearray()
    for v in values:
        for c in range(channels):
            x = int(v * top * (1.0 if c == 0 else 0.8))
            if bits == 8: b.append((x + 128) & 0xFF)
            elif bits == 16: b += struct.pack("<h", x)
            elif bits == 24: b += struct.pack("<i", x)[:3]
            else: b += struct.pack("<i", x)
    return bytes(b)
def wav(path, values, bits, channels, rate, extra=b""):
    data = pcm(values, bits, channels)
    fmt = struct.pack("<hhiihh", 1, channels, rate, rate * channels * bits // 8, channels * bits // 8, bits)
    body = b"WAVEfmt " + struct.pack("<i", 16) + fmt + extra + b"data" + struct.pack("<I", len(data)) + data
    open(path, "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
wav(f"{folder}/a.wav", voice(196, 1.2, 44100, 0.1), 16, 1, 44100)
wav(f"{folder}/i.wav", voice(262, 0.9, 48000, 0.7), 24, 2, 48000)
wav(f"{folder}/u.wav", voice(147, 1.0, 22050, 1.3), 8, 1, 22050)
wav(f"{folder}/e.WAV", voice(330, 0.8, 44100, 2.1), 32, 1, 44100)
wav(f"{folder}/o.wav", voice(220, 1.1, 44100, 0.4), 16, 2, 44100,
    extra=b"LIST" + struct.pack("<i", 10) + b"INFOIART\0\0")
EOF
voices=(a.wav i.wav u.wav e.WAV o.wav)
names=(C4 D4 E4 F4 G4 A4 B4 C5 A3 G3 "D#4" Bb3)
flag_sets=("" "g-20" "H30P90" "g15t-5" "P100" "B50Y0")
bends=("" "AAABACADAEAFAGAHAIAJ#5#AJAIAH" "/+/9/8/7/6#10#/6/7/8" "AA#20#BABBBCBD")

# One job file per note: the voice, the flags (R is added to them for the
# analysing rendering), and the other arguments from the note name on.
for ((i = 0; i < notes; i++)); do
    v=${voices[i % 5]}
    name=${names[(i / 5) % 12]}
    flags=${flag_sets[i % 6]}
    length=$((200 + (i * 37) % 700))
    bend=${bends[i % 4]}
    printf '%s\n%s\n%s\n' "$v" "$flags" "$name 100 10 $length 60 -50 90 $((i % 3 * 20)) !120 $bend" \
        >"$work/jobs/$(printf %04d "$i")"
done

run_note() {  # run_note OUTPUT_FOLDER JOB_FILE EXTRA_FLAG
    local out=$1 job=$2 extra=$3 v flags args
    { read -r v; read -r flags; read -r -a args; } <"$job"
    # A failed run copies its log to standard error: kept beside the output.
    "$work/bin/qern" "$work/voices/$v" "$out/$(basename "$job").wav" "${args[0]}" "${args[1]}" \
        "$flags$extra" "${args[@]:2}" \
        >/dev/null 2>"$out/$(basename "$job").err" && rm -f "$out/$(basename "$job").err"
}
export -f run_note
export work

clear_caches() { rm -f "$work"/voices/*.pmk; }

start=$(date +%s)
# Serial, analysing every note: the R flag makes each run analyse again.
clear_caches
for job in "$work"/jobs/*; do run_note "$work/serial-analysed" "$job" R ||
    fail "serial analysed $(basename "$job"): $(head -c 300 "$work/serial-analysed/$(basename "$job").err")"; done
cp -r "$work/voices" "$work/serial-caches"
# Serial, reusing the caches the runs above left.
for job in "$work"/jobs/*; do run_note "$work/serial-reused" "$job" "" ||
    fail "serial reused $(basename "$job"): $(head -c 300 "$work/serial-reused/$(basename "$job").err")"; done
serial_time=$(($(date +%s) - start))

# Parallel from cold caches: several processes meet on each voice's cache.
clear_caches
start=$(date +%s)
if ! ls "$work"/jobs/* | xargs -P "$processes" -n 1 bash -c 'run_note "$work/parallel" "$0" ""'; then
    fail "a parallel run failed"
fi
parallel_time=$(($(date +%s) - start))

cold_warm_equal=0 parallel_equal=0
for job in "$work"/jobs/*; do
    n=$(basename "$job").wav
    if cmp -s "$work/serial-analysed/$n" "$work/serial-reused/$n"; then
        cold_warm_equal=$((cold_warm_equal + 1))
    else
        fail "serial note $n differs between the analysing and the reusing run"
    fi
    if [ ! -f "$work/parallel/$n" ]; then
        fail "no parallel output $n: $(head -c 300 "$work/parallel/${n%.wav}.err" 2>/dev/null)"
    elif cmp -s "$work/parallel/$n" "$work/serial-reused/$n"; then
        parallel_equal=$((parallel_equal + 1))
    else
        fail "parallel output $n differs from its serial rendering"
    fi
done
for v in "${voices[@]}"; do
    c=${v%.*}_${v##*.}.pmk
    cmp -s "$work/voices/$c" "$work/serial-caches/$c" || fail "cache $c differs from the serial one"
done
leftovers=$(find "$work" -name '*.tmp' -o -name '*.log' | wc -l)
[ "$leftovers" -eq 0 ] || fail "$leftovers temporary or log files left"
echo "load: $notes notes, $processes processes: serial $((2 * notes)) runs in ${serial_time}s, parallel ${parallel_time}s;" \
     "serial notes analysing = reusing: $cold_warm_equal/$notes; parallel notes equal to the serial ones: $parallel_equal/$notes"

# A write that fails leaves no partial file. The folder is a small tmpfs
# (full: filled up; read-only: remounted), or, where nothing can be
# mounted (or with QERN_LOAD_NO_MOUNT set), a file-size limit on the process.
check_clean() {  # check_clean CASE FOLDER FILE MESSAGE
    local case=$1 folder=$2 file=$3 message=$4
    [ ! -e "$file" ] || fail "$case: $file was left"
    [ -z "$(find "$folder" -name '*.tmp')" ] || fail "$case: a temporary file was left"
    grep -q "$message" "$work/bin/qern.log" 2>/dev/null || fail "$case: log lacks \"$message\""
    rm -f "$work/bin/qern.log"
}
full="$work/full"
mkdir -p "$full"
job=$work/jobs/0000
if [ -z "${QERN_LOAD_NO_MOUNT:-}" ] && mount -t tmpfs -o size=192k tmpfs "$full" 2>/dev/null; then
    mounted=$full
    # The output: 3 s of 16-bit audio do not fit into what is left.
    head -c 100000 /dev/zero >"$full/filler"
    "$work/bin/qern" "$work/voices/a.wav" "$full/out.wav" A4 100 "" 0 3000 >/dev/null 2>&1 &&
        fail "full folder: the output run reported success"
    check_clean "full folder, output" "$full" "$full/out.wav" "ファイルの書き出しに失敗"
    # The cache: the voice fits, its cache does not.
    rm -f "$full/filler"
    cp "$work/voices/a.wav" "$full/a.wav"
    free=$(( $(stat -f -c '%a' "$full") * $(stat -f -c '%S' "$full") ))
    head -c "$free" /dev/zero >"$full/filler" 2>/dev/null || true
    "$work/bin/qern" "$full/a.wav" nul A4 100 >/dev/null 2>&1 && fail "full folder: the analysis reported success"
    check_clean "full folder, cache" "$full" "$full/a_wav.pmk" "パラメータ記録処理に失敗"
    # Space again: the next run analyses and succeeds.
    rm -f "$full/filler"
    "$work/bin/qern" "$full/a.wav" "$full/out.wav" A4 100 "" 0 300 >/dev/null 2>&1 || fail "run after freeing space failed"
    cmp -s "$full/a_wav.pmk" "$work/serial-caches/a_wav.pmk" || fail "cache after freeing space differs"
    rm -f "$full/out.wav" "$full/a_wav.pmk"
    # Read-only: neither the output nor the cache can be written.
    mount -o remount,ro "$full"
    "$work/bin/qern" "$full/a.wav" "$full/out.wav" A4 100 >/dev/null 2>&1 && fail "read-only folder: run reported success"
    check_clean "read-only folder" "$full" "$full/a_wav.pmk" "パラメータ記録処理に失敗"
    cp "$work/serial-caches/a_wav.pmk" "$work/a_wav.pmk"
    mount -o remount,rw "$full"
    cp "$work/a_wav.pmk" "$full/a_wav.pmk"
    mount -o remount,ro "$full"
    "$work/bin/qern" "$full/a.wav" "$full/out.wav" A4 100 >/dev/null 2>&1 && fail "read-only folder: output run reported success"
    check_clean "read-only folder, output" "$full" "$full/out.wav" "ファイルの書き出しに失敗"
    umount "$full"
    mounted=""
    echo "write failures: full and read-only tmpfs folders leave no partial output and no partial cache"
else
    # 8 KiB per file: the output and the cache are larger. SIGXFSZ ignored,
    # a write past the limit fails with EFBIG instead of killing the run.
    ( trap '' XFSZ; ulimit -f 8; "$work/bin/qern" "$work/voices/a.wav" "$full/out.wav" A4 100 "" 0 1000 >/dev/null 2>&1 ) &&
        fail "file-size limit: the output run reported success"
    check_clean "file-size limit, output" "$full" "$full/out.wav" "ファイルの書き出しに失敗"
    cp "$work/voices/a.wav" "$full/a.wav"
    ( trap '' XFSZ; ulimit -f 1; "$work/bin/qern" "$full/a.wav" nul A4 100 >/dev/null 2>&1 ) &&
        fail "file-size limit: the analysis reported success"
    check_clean "file-size limit, cache" "$full" "$full/a_wav.pmk" "パラメータ記録処理に失敗"
    echo "write failures (file-size limit): no partial output and no partial cache"
fi

if [ "$failures" -ne 0 ]; then
    echo "load test: $failures failures"
    exit 1
fi
echo "load test passed"
