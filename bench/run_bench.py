#!/usr/bin/env python3
"""The measurements of scripts/bench.sh (which builds BUILD_DIR first).

    bench/run_bench.py BUILD_DIR [REPETITIONS]
"""
import math
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import wave

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = pathlib.Path(sys.argv[1]).resolve()
REPS = int(sys.argv[2]) if len(sys.argv) > 2 else 15
QERN = BUILD / "qern"
IO_ONLY = BUILD / "qern-io-only"
PREP = BUILD / "qern-prep"
B64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"


def dense_bend(points):
    """A vibrato of +-80 cents and 5.5 Hz with a slow rise, one point per 1/96 beat at 120 bpm."""
    out = []
    for i in range(points):
        t = i * 60.0 / 120.0 / 96.0
        cents = int(round(80 * math.sin(2 * math.pi * 5.5 * t) + 40 * math.sin(2 * math.pi * 0.7 * t)))
        v = cents & 0xFFF
        out.append(B64[v >> 6] + B64[v & 63])
    return "".join(out)


# name, flags, length in ms, modulation, and tempo and bend (or None, or "mid": the
# note from the middle of the file)
CASES = [
    ("no flags", "", 1200, 0, None),
    ("g-20", "g-20", 1200, 0, None),
    ("g+20", "g20", 1200, 0, None),
    ("g-100", "g-100", 1200, 0, None),
    ("g+100", "g100", 1200, 0, None),
    ("H50", "H50", 1200, 0, None),
    ("P0", "P0", 1200, 0, None),
    ("modulation 100", "", 1200, 100, None),
    ("dense pitch bend", "", 1200, 0, ("!120", dense_bend(240))),
    ("5-second note", "", 5000, 0, None),
    # As a song sings a multi-syllable recording: the note uses the quarter of
    # the file from 30 % of its length on (left blank and a negative right
    # blank in ms, as oto.ini gives them).
    ("note from mid-file", "", 1200, 0, "mid"),
]


def voice_files():
    shared = ROOT.parent / "shared" / "voices"
    if shared.is_dir():
        files = sorted(shared.rglob("*.wav")) + sorted(shared.rglob("*.WAV"))
        if files:
            return files, str(shared)
    demo = pathlib.Path(tempfile.mkdtemp(prefix="qern-bench-demo-"))
    subprocess.run([str(BUILD / "qern_demo_voice"), str(demo / "voice.wav")], check=True,
                   stdout=subprocess.DEVNULL)
    return sorted(demo.rglob("*.wav")), "the demo voice"


def audio_seconds(path):
    with wave.open(str(path)) as w:
        return w.getnframes() / w.getframerate()


def run(cmd, cwd):
    """CPU seconds (user + system) and wall seconds of one process."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit("failed: " + " ".join(map(str, cmd)))
    return usage.ru_utime + usage.ru_stime, wall


GNU_TIME = pathlib.Path("/usr/bin/time")


def peak_kib(cmd, cwd):
    """Peak RSS of one process in KiB, by GNU time, or None without it. (A
    child of this script reports the script's own peak as its ru_maxrss: the
    memory it was started from counts. GNU time starts the program from a
    process of its own size.)"""
    if not GNU_TIME.exists():
        return None
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.run([str(GNU_TIME), "-f", "%M", "-o", out.name] + cmd, cwd=cwd, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(out.read().split()[-1])


def spread(values):
    values = sorted(values)
    def pct(p):
        return values[min(len(values) - 1, int(round(p * (len(values) - 1))))]
    return statistics.median(values), pct(0.1), pct(0.9)


def main():
    files, where = voice_files()
    # Three voices of different kinds where there are banks: the first
    # file of each folder.
    by_folder = {}
    for f in files:
        by_folder.setdefault(f.parent, f)
    note_voices = list(by_folder.values())[:3]
    work = pathlib.Path(tempfile.mkdtemp(prefix="qern-bench-"))
    rows = []
    try:
        # 1. Warm notes.
        rss_ratios = []
        rss_ratios_g = []  # the note with the largest working memory
        for name, flags, length, modulation, bend in CASES:
            ratios, qern_ms, io_ms = [], [], []
            for k, voice in enumerate(note_voices):
                folder = work / f"v{k}"
                folder.mkdir(exist_ok=True)
                shutil.copy(voice, folder / "in.wav")
                left, right = "0", "0"
                if bend == "mid":
                    duration_ms = audio_seconds(voice) * 1000
                    left, right = "%.3f" % (0.3 * duration_ms), "%.3f" % (-0.25 * duration_ms)
                args = ["in.wav", "out.wav", "C4", "100", flags, left, str(length), "100", right, "100",
                        str(modulation)]
                if bend and bend != "mid":
                    args += list(bend)
                run([str(QERN), "in.wav", "nul", "C4", "100"], folder)  # the cache
                for _ in range(REPS):
                    q, _ = run([str(QERN)] + args, folder)
                    i, _ = run([str(IO_ONLY)] + args, folder)
                    ratios.append(q / i)
                    qern_ms.append(q * 1000)
                    io_ms.append(i * 1000)
                if name in ("no flags", "g+100"):
                    for _ in range(3):
                        q_kib = peak_kib([str(QERN)] + args, folder)
                        i_kib = peak_kib([str(IO_ONLY)] + args, folder)
                        if q_kib and i_kib:
                            (rss_ratios if name == "no flags" else rss_ratios_g).append(q_kib / i_kib)
            rows.append((f"1 warm note, {name}", "qern / io-only CPU", spread(ratios), "<= 1.3",
                         spread(ratios)[0] <= 1.3,
                         "%.1f / %.1f ms" % (statistics.median(qern_ms), statistics.median(io_ms))))

        # 2. Cold analysis, one core: qern-prep -j 1 over a copy of every voice.
        bank = work / "bank"
        for k, f in enumerate(files):
            target = bank / f"{k:03d}_{f.name}"
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(f, target)
        seconds = sum(audio_seconds(f) for f in files)
        speeds, walls1, walls2 = [], [], []
        for _ in range(max(3, REPS // 3)):
            cpu, wall1 = run([str(PREP), str(bank), "-j", "1", "--redo"], work)
            speeds.append(seconds / cpu)
            walls1.append(wall1)
            _, wall2 = run([str(PREP), str(bank), "-j", "2", "--redo"], work)
            walls2.append(wall2)
        rows.append(("2 cold analysis, 1 core", "audio s / CPU s", spread(speeds), ">= 150",
                     spread(speeds)[0] >= 150, "%d files, %.1f s of audio" % (len(files), seconds)))

        # 3. Parallel analysis and memory.
        speedups = [a / b for a, b in zip(walls1, walls2)]
        rows.append(("3 qern-prep -j 2 vs -j 1", "wall time ratio", spread(speedups), ">= 1.8",
                     spread(speedups)[0] >= 1.8, "%d processor threads" % (os.cpu_count() or 0)))
        if rss_ratios:
            rows.append(("3 warm note peak memory", "qern / io-only peak RSS", spread(rss_ratios), "<= 1.5",
                         spread(rss_ratios)[0] <= 1.5, "no flags, 1200 ms"))
            # The note with the most working memory: its sinc table, grains
            # and huge pages.
            rows.append(("3 warm note peak memory, g+100", "qern / io-only peak RSS", spread(rss_ratios_g),
                         "<= 1.5", spread(rss_ratios_g)[0] <= 1.5, "1200 ms"))
        else:
            print("peak memory not measured: it needs GNU time (/usr/bin/time, Debian package time)")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print(f"QERN speed targets: {REPS} interleaved pairs per case and voice, voices from {where}")
    print(f"| case | measure | median | p10-p90 | target | met | notes |")
    print(f"|---|---|---|---|---|---|---|")
    for case, measure, (median, low, high), target, met, note in rows:
        shown = "-" if met is None else ("yes" if met else "no")
        print(f"| {case} | {measure} | {median:.2f} | {low:.2f}-{high:.2f} | {target} | {shown} | {note} |")


if __name__ == "__main__":
    main()
