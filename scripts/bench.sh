#!/usr/bin/env bash
# Builds QERN in Release (build-bench/) and measures the three speed targets
# in one run, printing one table of ratios with their spread:
#   1. warm notes, whole process, each paired against qern-io-only (the same
#      input read and an output of the same length written, nothing between);
#   2. cold analysis on one core: seconds of audio per CPU second;
#   3. qern-prep -j 2 against -j 1, and the peak memory of a warm note
#      against qern-io-only.
# Voices: ../shared/voices beside the clone, else the demo voice.
#
#   scripts/bench.sh [REPETITIONS]      (default 15 pairs per case and voice)
#
# Times are CPU seconds (user + system) of each process, so that other work
# on the machine disturbs them less than wall time; qern-prep -j 2 against
# -j 1 is a wall-time ratio. Runs are interleaved in pairs; the table gives
# the median of the per-pair ratios and the 10th to 90th percentile.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQERN_BUILD_TESTS=OFF -DQERN_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j "$jobs" --target qern qern-prep qern-io-only qern_demo_voice qern_bench >/dev/null
exec python3 bench/run_bench.py build-bench "${1:-15}"
