#!/usr/bin/env python3
"""Renders every oto.ini line of every voice bank under a voices folder at a
few notes, the way a host calls the resampler, and counts the failures.

    scripts/render-voices.py [--build BUILD_DIR] [--voices VOICES_DIR]
                             [--keep OUT_DIR] [--notes C3,G#3,D4,A#4]
                             [--cold-warm]

VOICES_DIR defaults to ../shared/voices beside the clone, else
/work/shared/voices. The samples are copied into a scratch folder first, so
their .pmk caches never land beside the originals. A run fails when it exits
non-zero, leaves its error log, or writes no output or one of the wrong
length. With --keep, the outputs are kept there, one folder per bank.

With --cold-warm every call is made twice: first from a cold cache (the
sample's .pmk removed, so the run analyses), then again from the cache that
run left; the two outputs must be the same bytes, else the call fails.
"""
import argparse
import pathlib
import shutil
import subprocess
import sys
import tempfile
import wave

ROOT = pathlib.Path(__file__).resolve().parent.parent
BEND = "AA#12#ABADAGAKAPAVAbAhAmArAvAyA0A1A1A0AyAvArAmAhAbAVAPAKAGADAB//#8#"
# Velocity, flags and modulation, taken in turn.
STYLES = [("100", "g0B0H0P86", "0"), ("80", "g-20H10P86", "0"), ("140", "g25P100", "30"), ("100", "", "0")]


def read_oto(path):
    raw = path.read_bytes()
    for encoding in ("utf-8", "cp932"):
        try:
            text = raw.decode(encoding)
            break
        except UnicodeDecodeError:
            continue
    lines = []
    for line in text.splitlines():
        if "=" not in line:
            continue
        name, rest = line.split("=", 1)
        fields = rest.split(",")
        if len(fields) < 6:
            continue
        lines.append((name, fields[0], [float(f or 0) for f in fields[1:6]]))
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--voices", default="")
    parser.add_argument("--keep", default="")
    parser.add_argument("--notes", default="C3,G#3,D4,A#4")
    parser.add_argument("--note-ms", type=float, default=600.0)
    parser.add_argument("--cold-warm", action="store_true",
                        help="render each call from a cold and from a warm cache and compare the bytes")
    args = parser.parse_args()
    voices = pathlib.Path(args.voices) if args.voices else None
    if voices is None:
        for v in (ROOT.parent / "shared" / "voices", pathlib.Path("/work/shared/voices")):
            if v.is_dir():
                voices = v
                break
    qern = pathlib.Path(args.build) / "qern"
    notes = args.notes.split(",")

    runs = failures = missing = silent = identical = 0
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        shutil.copy(qern, work / "qern")
        for bank in sorted(p for p in voices.iterdir() if (p / "oto.ini").is_file()):
            scratch = work / bank.name
            scratch.mkdir()
            keep = pathlib.Path(args.keep) / bank.name if args.keep else None
            if keep:
                keep.mkdir(parents=True, exist_ok=True)
            for index, (name, alias, (offset, consonant, cutoff, pre, overlap)) in enumerate(read_oto(bank / "oto.ini")):
                if not (bank / name).is_file():
                    missing += 1
                    continue
                if not (scratch / name).is_file():
                    shutil.copy(bank / name, scratch / name)
                for k, note in enumerate(notes):
                    velocity, flags, modulation = STYLES[(index + k) % len(STYLES)]
                    length = args.note_ms + pre
                    out = scratch / "out.wav"
                    out.unlink(missing_ok=True)
                    call = [str(work / "qern"), str(scratch / name), str(out), note, velocity, flags,
                            f"{offset:g}", f"{length:g}", f"{consonant:g}", f"{cutoff:g}", "100", modulation,
                            "!120", BEND]
                    sample = str(scratch / name)
                    dot = sample.rfind(".")
                    cache = pathlib.Path(sample[:dot] + "_" + sample[dot + 1:] + ".pmk")  # a.wav -> a_wav.pmk
                    if args.cold_warm:
                        cache.unlink(missing_ok=True)
                    proc = subprocess.run(call, cwd=work, capture_output=True)
                    runs += 1
                    problem = ""
                    if args.cold_warm and proc.returncode == 0 and out.is_file():
                        cold = out.read_bytes()
                        out.unlink()
                        warm = subprocess.run(call, cwd=work, capture_output=True)
                        if warm.returncode != 0 or not out.is_file() or out.read_bytes() != cold:
                            problem = f"warm rendering differs from the cold one (exit {warm.returncode})"
                        else:
                            identical += 1
                    log = work / "qern.log"
                    if problem:
                        log.unlink(missing_ok=True)
                    elif proc.returncode != 0 or log.exists():
                        problem = f"exit {proc.returncode}, log {log.read_text() if log.exists() else '-'!r}"
                        log.unlink(missing_ok=True)
                    elif not out.is_file():
                        problem = "no output"
                    else:
                        with wave.open(str(out), "rb") as w:
                            rate, count = w.getframerate(), w.getnframes()
                            frames = w.readframes(count)
                        expected = int(length * rate / 1000) + 1024
                        if count != expected:
                            problem = f"{count} samples, expected {expected}"
                        elif not any(frames):
                            silent += 1
                        if keep:
                            shutil.copy(out, keep / f"{index:03d}_{alias.replace('/', '_')}_{note}.wav")
                    if problem:
                        failures += 1
                        print(f"FAIL {bank.name}/{name} [{alias}] {note}: {problem}")
    print(f"{runs} runs, {failures} failures, {silent} silent outputs, {missing} oto lines without their file")
    if args.cold_warm:
        print(f"cold and warm renderings byte-identical: {identical} of {runs}")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
