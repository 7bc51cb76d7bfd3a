#!/usr/bin/env bash
# Installs what QERN needs, builds it, and renders a note from the built-in
# demo voice (a sung "sa", tools/demo_voice.h): first the analysis alone
# (output name "nul", which leaves the .pmk cache beside the voice), then a
# C4 note of 1.2 seconds with a pitch bend. Then qern-demo sings a short
# phrase on the same voice, running qern once per note as a host does.
# Results go to demo-out/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target qern qern_demo_voice qern-demo

out=demo-out
mkdir -p "$out"
build/qern_demo_voice "$out/voice.wav"
echo "demo voice: $out/voice.wav"

run() {
    echo "+ build/qern $*"
    if build/qern "$@"; then return 0; fi
    echo "QERN reported a failure (its log: build/qern.log)." >&2
    exit 1
}

# Analysis only: prepares demo-out/voice_wav.pmk.
run "$out/voice.wav" nul C4 100
# A note: input, output, note, velocity, flags, left blank, length,
# consonant, right blank (ms), volume, modulation, tempo, pitch bend.
run "$out/voice.wav" "$out/note.wav" C4 100 g-10 50 1200 100 -1300 100 0 '!120' \
    'AA#10#ABAEAJAQAZAkAxA/BMBXBfBjBjBfBXBMA/AxAkAZAQAJAEAB#40#'
echo "rendered note: $out/note.wav"

# A phrase: seven notes with glides, vibrato, different velocities, flags
# and volumes; qern-demo prints the path of the phrase.
build/qern-demo "$out/phrase" build/qern
