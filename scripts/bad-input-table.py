#!/usr/bin/env python3
"""Runs the executable on each kind of bad input and prints, as a Markdown
table, what it logs, the English line it ends standard error with, and what
it leaves on disk (the README's table). Exits with status 1 when a failed run
does not end standard error with the copy of its log and one plain-ASCII
line "qern: ...", or a successful run prints one.

    scripts/bad-input-table.py [QERN_BINARY]     (default: build/qern)
"""
import math
import os
import resource
import signal
import shutil
import struct
import subprocess
import sys
import tempfile

qern = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/qern")


def wav(data, channels=1, bits=16, rate=44100, tag=1, size=None, fmt_first=True, with_data=True):
    fmt = struct.pack("<hhiihh", tag, channels, rate, rate * channels * bits // 8, channels * bits // 8, bits)
    fmt_chunk = b"fmt " + struct.pack("<i", 16) + fmt
    data_chunk = (b"data" + struct.pack("<I", (len(data) if size is None else size) & 0xFFFFFFFF) + data
                  if with_data else b"LIST" + struct.pack("<i", 4) + b"INFO")
    body = b"WAVE" + (fmt_chunk + data_chunk if fmt_first else data_chunk + fmt_chunk)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def voice(n=22050, rate=44100):
    return b"".join(struct.pack("<h", int(6000 * (math.sin(2 * math.pi * 220 * i / rate) +
                                                  0.5 * math.sin(4 * math.pi * 220 * i / rate))))
                    for i in range(n))


GOOD = wav(voice())
NOTE = ["A4", "100", "", "0", "300"]


def pmk(entries, count=None):
    n = len(entries) if count is None else count
    return struct.pack("<hdi", 19, 200.0, n) + b"".join(struct.pack("<ii", p, t) for p, t in entries)


# (what, files to create {name: bytes} or [(name, bytes)] in order, arguments
# after the program[, file-size limit[, names whose modification time is set
# an hour before in.wav's]]); None for the bytes of the cache makes it by an
# analysis-only run of the input as it is at that point.
CASES = [
    ("Input file missing", {}, ["missing.wav", "out.wav"] + NOTE),
    ("Input name not ending in .wav/.WAV", {"voice.Wav": GOOD}, ["voice.Wav", "out.wav"] + NOTE),
    ("Not a RIFF file", {"in.wav": b"ID3\x03" + bytes(100)}, ["in.wav", "out.wav"] + NOTE),
    ("RIFF but not WAVE", {"in.wav": b"RIFF\0\0\0\0AVI " + bytes(100)}, ["in.wav", "out.wav"] + NOTE),
    ("data chunk before fmt", {"in.wav": wav(voice(100), fmt_first=False)}, ["in.wav", "out.wav"] + NOTE),
    ("Compressed format (ADPCM, format tag 2)", {"in.wav": wav(voice(100), tag=2)}, ["in.wav", "out.wav"] + NOTE),
    ("16-bit float", {"in.wav": wav(voice(100), tag=3)}, ["in.wav", "out.wav"] + NOTE),
    ("Three channels", {"in.wav": wav(voice(99), channels=3)}, ["in.wav", "out.wav"] + NOTE),
    ("12 bits per sample", {"in.wav": wav(voice(100), bits=12)}, ["in.wav", "out.wav"] + NOTE),
    ("Sample rate 0", {"in.wav": wav(voice(100), rate=0)}, ["in.wav", "out.wav"] + NOTE),
    ("File ends before any data chunk", {"in.wav": wav(b"", with_data=False)}, ["in.wav", "out.wav"] + NOTE),
    ("Empty data chunk", {"in.wav": wav(b"")}, ["in.wav", "out.wav"] + NOTE),
    ("Data size 2 GiB or more (negative)", {"in.wav": wav(voice(1000), size=0x80000000)}, ["in.wav", "out.wav"] + NOTE),
    ("Data cut short (up to 1 MiB missing)", {"in.wav": wav(voice(), size=len(voice()) + 50000)},
     ["in.wav", "out.wav"] + NOTE),
    ("Data size far beyond the file (2 GB declared)", {"in.wav": wav(voice(), size=0x7FFFFFF0)},
     ["in.wav", "out.wav"] + NOTE),
    ("Input of 49 samples or fewer", {"in.wav": wav(voice(40))}, ["in.wav", "out.wav"] + NOTE),
    ("Invalid note name", {"in.wav": GOOD}, ["in.wav", "out.wav", "H4", "100"]),
    ("Negative left blank", {"in.wav": GOOD}, ["in.wav", "out.wav", "A4", "100", "", "-10", "300"]),
    ("Negative length", {"in.wav": GOOD}, ["in.wav", "out.wav", "A4", "100", "", "0", "-300"]),
    ("Invalid letter in the pitch-bend string", {"in.wav": GOOD},
     ["in.wav", "out.wav", "A4", "100", "", "0", "300", "0", "0", "100", "0", "!120", "AA*B"]),
    ("Pitch bend of more than 4194304 points", {"in.wav": GOOD},
     ["in.wav", "out.wav", "A4", "100", "", "0", "300", "0", "0", "100", "0", "!120", "AA#5000000#"]),
    ("Left blank beyond the end of the input", {"in.wav": GOOD},
     ["in.wav", "out.wav", "A4", "100", "", "2000", "300", "50"]),
    ("Cache whose count promises more entries than it holds", {"in.wav": GOOD, "in_wav.pmk": pmk([(300, 200)], 5)},
     ["in.wav", "out.wav"] + NOTE),
    ("Cache with a period out of range", {"in.wav": GOOD, "in_wav.pmk": pmk([(300, 600)])},
     ["in.wav", "out.wav"] + NOTE),
    ("Cache kept from a longer recording, the WAV trimmed after the analysis",
     [("in.wav", wav(voice(88200))), ("in_wav.pmk", None), ("in.wav", GOOD)], ["in.wav", "out.wav"] + NOTE),
    ("Cache from a longer recording, at least as new as the WAV (marks past the end of the input)",
     {"in.wav": GOOD, "in_wav.pmk": pmk([(p, 200) for p in range(300, 40000, 200)])},
     ["in.wav", "out.wav"] + NOTE, None, ["in.wav"]),
    ("The same damaged cache with the R flag", {"in.wav": GOOD, "in_wav.pmk": pmk([(300, 600)])},
     ["in.wav", "out.wav", "A4", "100", "R", "0", "300"]),
    ("Cache older than its WAV (the sample re-recorded after the analysis; the cache holds marks of another take)",
     {"in.wav": GOOD, "in_wav.pmk": pmk([(p, 210) for p in range(300, 21000, 210)])},
     ["in.wav", "out.wav"] + NOTE, None, ["in_wav.pmk"]),
    ("Output names the input (here ./in.wav for in.wav; any spelling, or a link)", {"in.wav": GOOD},
     ["in.wav", "./in.wav"] + NOTE),
    ("Output names the input's cache (cache present or not)", {"in.wav": GOOD, "in_wav.pmk": None},
     ["in.wav", "in_wav.pmk"] + NOTE),
    ("Output folder missing", {"in.wav": GOOD}, ["in.wav", "no/such/out.wav"] + NOTE),
    ("Disk full while writing the output (file-size limit 16 KiB; cache present)",
     {"in.wav": GOOD, "in_wav.pmk": None}, ["in.wav", "out.wav", "A4", "100", "", "0", "1000"], 16384),
    ("Disk full while writing the cache (file-size limit 512 bytes)", {"in.wav": GOOD},
     ["in.wav", "out.wav"] + NOTE, 512),
]


def snapshot(folder):
    out = {}
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            out[name] = f.read()
    return out


def listing(folder, before):
    after = snapshot(folder)
    new = sorted(set(after) - set(before))
    changed = sorted(n for n in after if n in before and after[n] != before[n])
    gone = sorted(set(before) - set(after))
    parts = [", ".join(new)] if new else []
    parts += [f"{n} replaced" for n in changed] + [f"{n} deleted" for n in gone]
    return "; ".join(parts) or "nothing new"


def run_case(what, files, args, limit=None, older=()):
    with tempfile.TemporaryDirectory() as d:
        shutil.copy(qern, os.path.join(d, "qern"))
        for name, data in (files.items() if isinstance(files, dict) else files):
            if data is None:  # made by an analysis-only run first
                subprocess.run([os.path.join(d, "qern"), "in.wav", "nul", "A4", "100"], cwd=d,
                               capture_output=True, check=True)
                continue
            with open(os.path.join(d, name), "wb") as f:
                f.write(data)
        wav_time = os.stat(os.path.join(d, "in.wav")).st_mtime if older else 0
        for name in older:
            os.utime(os.path.join(d, name), (wav_time - 3600, wav_time - 3600))
        before = snapshot(d)

        def limited():
            if limit:
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        r = subprocess.run([os.path.join(d, "qern")] + args, cwd=d, capture_output=True,
                           preexec_fn=limited)
        log_path = os.path.join(d, "qern.log")
        log = open(log_path, encoding="utf-8").read() if os.path.exists(log_path) else ""
        stderr = r.stderr.decode("utf-8", "replace")
        warning = [l for l in stderr.splitlines() if l.startswith("警告")]
        lines = [l for l in log.splitlines()]
        msg = "<br>".join(lines) if lines else "(none; log deleted)"
        if warning:
            msg += "<br>stderr: " + " ".join(warning)
        english = english_line(what, r.returncode, r.stderr, log)
        left = listing(d, before)
        return f"| {what} | {r.returncode} | {msg} | {english} | {left} |"


failures = []


def english_line(what, status, stderr, log):
    """The English line a failed run ends standard error with, checked."""
    last = stderr.decode("utf-8", "replace").splitlines()[-1:] or [""]
    if status == 0:
        if last[0].startswith("qern: "):
            failures.append(f"{what}: a successful run printed {last[0]!r}")
        return "—"
    raw = stderr.splitlines(keepends=True)
    line = raw[-1] if raw else b""
    if (not line.startswith(b"qern: ") or not line.endswith(b"\n") or
            any(b < 0x20 or b > 0x7E for b in line[:-1])):
        failures.append(f"{what}: standard error does not end with a plain-ASCII line 'qern: ...'")
    elif b"".join(raw[:-1]).decode("utf-8", "replace") != log:
        failures.append(f"{what}: standard error does not hold the copy of the log before its line")
    text = line.decode("ascii", "replace").rstrip("\n")
    return "`" + text.replace("|", "\\|") + "`"


print("| Bad input | Exit | Log (qern.log beside the program) | Last line of standard error | New files left on disk |")
print("|---|---|---|---|---|")
for case in CASES:
    print(run_case(*case))
for f in failures:
    print(f, file=sys.stderr)
sys.exit(1 if failures else 0)
