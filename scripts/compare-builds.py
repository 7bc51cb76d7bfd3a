#!/usr/bin/env python3
"""Renders the same calls with two builds of qern and compares the outputs
sample by sample: for speed work, where the notes must not move.

    scripts/compare-builds.py OLD_QERN NEW_QERN [--voices DIR] [--quick]

Every WAV under DIR (default ../shared/voices beside the clone) is copied
into a scratch folder and rendered at two notes for each g from -100 to 100
in steps of 10 (--quick: -100, -20, 0, 20, 100), plainly and with
modulation, a pitch bend, H and P, each build from its own warm cache. The
caches must be the same bytes too. Prints the number of calls, of differing
outputs and the largest difference in LSB; exits 1 when anything differs.
"""
import argparse
import array
import pathlib
import shutil
import subprocess
import sys
import tempfile
import wave

ROOT = pathlib.Path(__file__).resolve().parent.parent
BEND = "AA#12#ABADAGAKAPAVAbAhAmArAvAyA0A1A1A0AyAvArAmAhAbAVAPAKAGADAB//#8#"


def samples(path):
    with wave.open(str(path)) as w:
        data = array.array("h", w.readframes(w.getnframes()))
    return data


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--voices", default=str(ROOT.parent / "shared" / "voices"))
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    args.old = str(pathlib.Path(args.old).resolve())
    args.new = str(pathlib.Path(args.new).resolve())
    voices = sorted(pathlib.Path(args.voices).rglob("*.wav")) + sorted(pathlib.Path(args.voices).rglob("*.WAV"))
    if not voices:
        sys.exit(f"no WAV files under {args.voices}")
    gs = [-100, -20, 0, 20, 100] if args.quick else list(range(-100, 101, 10))
    calls = moved = worst = 0
    work = pathlib.Path(tempfile.mkdtemp(prefix="qern-compare-"))
    try:
        for k, voice in enumerate(voices):
            folders = []
            for side, exe in (("old", args.old), ("new", args.new)):
                folder = work / side / str(k)
                folder.mkdir(parents=True)
                shutil.copy(voice, folder / "in.wav")
                subprocess.run([exe, "in.wav", "nul", "C4", "100"], cwd=folder, check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                folders.append(folder)
            if (folders[0] / "in_wav.pmk").read_bytes() != (folders[1] / "in_wav.pmk").read_bytes():
                print(f"cache differs: {voice}")
                moved += 1
            for g in gs:
                for n, note in enumerate(("A3", "E4")):
                    extra = [["0", "1200", "100", "0", "100", "0"],
                             ["20", "900", "150", "-700", "80", "100", "!120", BEND],
                             ["0", "2000", "60", "0", "100", "30"]][(g // 10 + n) % 3]
                    flags = f"g{g}" + ["", "H30", "P40"][(g // 10) % 3]
                    outs = []
                    for folder in folders:
                        cmd = [args.old if folder.parent.name == "old" else args.new, "in.wav", "out.wav",
                               note, "100", flags] + extra
                        result = subprocess.run(cmd, cwd=folder, stdout=subprocess.DEVNULL,
                                                stderr=subprocess.DEVNULL)
                        out = folder / "out.wav"
                        outs.append((result.returncode, samples(out) if out.exists() else None))
                        out.unlink(missing_ok=True)
                    calls += 1
                    (rc_a, a), (rc_b, b) = outs
                    if rc_a != rc_b or (a is None) != (b is None) or (a is not None and len(a) != len(b)):
                        print(f"differs in status or length: {voice.name} {note} {flags} {' '.join(extra)}")
                        moved += 1
                        continue
                    if a is not None and a != b:
                        diff = max(abs(x - y) for x, y in zip(a, b))
                        count = sum(1 for x, y in zip(a, b) if x != y)
                        print(f"{voice.name} {note} {flags}: {count} samples moved, at most {diff} LSB")
                        moved += 1
                        worst = max(worst, diff)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"compare-builds: {calls} calls over {len(voices)} voices, {moved} differ, largest difference {worst} LSB")
    sys.exit(1 if moved else 0)


if __name__ == "__main__":
    main()
