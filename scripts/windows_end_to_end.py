#!/usr/bin/env python3
"""End-to-end calls of the Windows qern.exe under wine.

Checks the behaviour that depends on Windows: the program path as Windows
passes it and the log beside the executable, the log in text mode (CRLF) and
in code page 932, its deletion on success, "nul"/"NUL" as the analysis-only
output, the backslash in cache names (C:\\voice\\a.wav), paths in Japanese and
Cyrillic, and that the .pmk and output files are byte-identical to those of
the Linux build for the same call.

Run by scripts/test-windows.sh, which sets up wine (WINEPREFIX etc.).
"""

import argparse
import math
import os
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import time

BANNER = ("QERN Ver0.19\n"
          "このプログラムは、「歌声合成ツール　ＵＴＡＵ」用に\n"
          "作られた歌声合成エンジンです。\n"
          "コマンドラインオプションの仕様は、resampler Ver10.42に準じます。\n")

BEND = "AA#12#ABADAGAKAPAVAbAhAmArAvAyA0A1A1A0AyAvArAmAhAbAVAPAKAGADAB//#8#"

# Calls on the generated voices: the arguments after input and output.
GENERATED_CALLS = [
    ["A4", "100", "", "80", "600", "150", "-600", "100", "0", "!120", BEND],
    ["C#5", "150", "g-40H20P100", "80", "900", "150", "-700", "90", "50", "!119.99999", BEND],
    ["E3", "60", "g60t-5", "80", "500", "150", "-500", "120", "100", BEND],
    ["D4", "80", "", "0", "900", "300", "0", "100", "0"],
    ["G#3", "100", "R", "10", "800", "100", "-300", "100", "0"],
]


class Failures:
    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.identical_files = 0
        self.near_files = 0

    def check(self, condition, what):
        if condition:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAILED: {what}")
        return condition


def cp932(text):
    return text.encode("cp932")


def crlf(text_bytes):
    return text_bytes.replace(b"\n", b"\r\n")


def windows_path(path):
    """The wine path of a Unix path (drive Z: is the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# ---------------------------------------------------------------- inputs

def write_wav(path, rate, channels, bits, frames):
    """frames: list of tuples of ints, one per channel."""
    width = bits // 8
    data = bytearray()
    for frame in frames:
        for value in frame:
            if bits == 8:
                data += struct.pack("<B", value + 128)
            else:
                data += (value & ((1 << bits) - 1)).to_bytes(width, "little")
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    header += b"fmt " + struct.pack("<IhhiiHh", 16, 1, channels, rate,
                                    rate * channels * width, channels * width, bits)
    header += b"data" + struct.pack("<I", len(data))
    with open(path, "wb") as f:
        f.write(header + data)


def sung_vowel(path):
    """One second of a vowel at 44.1 kHz, 16-bit mono, with vibrato."""
    rate = 44100
    frames = []
    phase = 0.0
    for n in range(rate):
        t = n / rate
        f0 = 220.0 * (1.0 + 0.01 * math.sin(2 * math.pi * 5.5 * t))
        phase += 2 * math.pi * f0 / rate
        fade = min(1.0, n / 2000.0, (rate - n) / 2000.0)
        v = sum(math.sin(k * phase) / k * (1.0 if k < 6 else 0.3) for k in range(1, 12))
        frames.append((int(9000 * fade * v),))
    write_wav(path, rate, 1, 16, frames)


def voiced_unvoiced(path):
    """Voiced, noise, voiced: 48 kHz stereo 24-bit."""
    rate = 48000
    frames = []
    seed = 12345
    phase = 0.0
    for n in range(int(rate * 0.9)):
        t = n / rate
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        noise = (seed / 0x7FFFFFFF) - 0.5
        if 0.3 <= t < 0.5:
            v = 0.4 * noise
        else:
            phase += 2 * math.pi * 146.8 / rate
            v = 0.5 * math.sin(phase) + 0.25 * math.sin(2 * phase) + 0.1 * math.sin(3 * phase)
        left = int(v * 2_000_000)
        right = int(v * 1_800_000 + noise * 1000)
        frames.append((left, right))
    write_wav(path, rate, 2, 24, frames)


# ---------------------------------------------------------------- running

class Runner:
    def __init__(self, linux, win32, win64, work):
        self.linux = os.path.abspath(linux)
        # A build given as "" is not run (a machine that cannot run 32-bit
        # programs has no 32-bit wine).
        self.windows = {name: os.path.abspath(exe)
                        for name, exe in (("win32", win32), ("win64", win64)) if exe}
        self.work = work

    def run(self, build, exe, args, cwd):
        """Runs one call; `exe` is the program's Unix path. Returns stdout bytes."""
        if build == "linux":
            command = [exe] + args
        else:
            command = ["wine", windows_path(exe)] + args
        result = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=600)
        return result.stdout, result.returncode


def read(path):
    with open(path, "rb") as f:
        return f.read()


def samples_of(wav):
    if len(wav) < 44:
        return []
    n = (len(wav) - 44) // 2
    return struct.unpack(f"<{n}h", wav[44:44 + 2 * n])


def compare_files(f, label, linux_file, windows_file, slack_lsb):
    """Byte-identical, or for WAVs (slack_lsb > 0) equal headers and samples
    within slack_lsb. Reports the largest difference."""
    a_exists, b_exists = os.path.exists(linux_file), os.path.exists(windows_file)
    if not f.check(a_exists == b_exists, f"{label}: exists on Linux {a_exists}, on Windows {b_exists}"):
        return
    if not a_exists:
        return
    a, b = read(linux_file), read(windows_file)
    if a == b:
        f.check(True, label)
        f.identical_files += 1
        return
    if slack_lsb > 0 and len(a) == len(b) and a[:44] == b[:44]:
        sa, sb = samples_of(a), samples_of(b)
        differing = [abs(x - y) for x, y in zip(sa, sb) if x != y]
        worst = max(differing)
        print(f"note: {label}: {len(differing)} of {len(sa)} samples differ, by at most {worst} LSB")
        if f.check(worst <= slack_lsb, f"{label}: samples differ by up to {worst} LSB"):
            f.near_files += 1
        return
    first = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    f.check(False, f"{label}: files differ (sizes {len(a)} and {len(b)}, first at byte {first})")


def text_of_stdout(build, stdout):
    """The console text as UTF-8 without the processing time's value."""
    if build != "linux":
        if b"\n" in stdout.replace(b"\r\n", b""):
            return None  # a bare LF: not written in text mode
        stdout = stdout.replace(b"\r\n", b"\n")
        text = stdout.decode("cp932", errors="replace")
    else:
        text = stdout.decode("utf-8", errors="replace")
    lines = [("処理時間=…msec" if line.startswith("処理時間=") else line) for line in text.split("\n")]
    return "\n".join(lines)


# ---------------------------------------------------------------- checks

def check_same_files(f, runner, name, input_wav, args, slack_lsb, output_name="out.wav",
                     builds=None, expect_output=True):
    """Runs one call in the Linux build and the Windows builds, each in its
    own folder with its own copy of the input, and compares every file."""
    base = os.path.splitext(os.path.basename(input_wav))[0]
    if builds is None:
        builds = tuple(runner.windows)
    results = {}
    for build in ("linux",) + tuple(builds):
        folder = os.path.join(runner.work, "same", name, build)
        os.makedirs(folder, exist_ok=True)
        local_input = os.path.join(folder, os.path.basename(input_wav))
        shutil.copyfile(input_wav, local_input)
        exe = runner.linux if build == "linux" else runner.windows[build]
        in_arg = local_input if build == "linux" else windows_path(local_input)
        out_arg = output_name
        if output_name not in ("nul", "NUL"):
            out_arg = os.path.join(folder, output_name)
            if build != "linux":
                out_arg = windows_path(out_arg)
        log = os.path.splitext(exe)[0] + ".log"
        if os.path.exists(log):
            os.remove(log)
        stdout, _ = runner.run(build, exe, [in_arg, out_arg] + args, folder)
        log_text = None
        if os.path.exists(log):
            raw = read(log)
            log_text = raw.decode("utf-8") if build == "linux" else raw.replace(b"\r\n", b"\n").decode("cp932")
            os.remove(log)
        results[build] = (folder, text_of_stdout(build, stdout), log_text)
    linux_folder, linux_stdout, linux_log = results["linux"]
    if expect_output:
        expected = base + "_wav.pmk" if output_name in ("nul", "NUL") else output_name
        f.check(os.path.exists(os.path.join(linux_folder, expected)),
                f"{name}: the Linux build made no {expected} (log: {linux_log!r})")
    for build in builds:
        folder, stdout, log_text = results[build]
        label = f"{name} [{build}]"
        compare_files(f, f"{label} .pmk", os.path.join(linux_folder, base + "_wav.pmk"),
                      os.path.join(folder, base + "_wav.pmk"), 0)
        if output_name not in ("nul", "NUL"):
            compare_files(f, f"{label} output", os.path.join(linux_folder, output_name),
                          os.path.join(folder, output_name), slack_lsb)
        f.check(stdout == linux_stdout, f"{label}: console text differs: {stdout!r} vs {linux_stdout!r}")
        if log_text is not None and linux_log is not None:
            # The Linux log names Unix paths; compare the messages only.
            f.check(len(log_text.splitlines()) == len(linux_log.splitlines()),
                    f"{label}: log differs: {log_text!r} vs {linux_log!r}")
        else:
            f.check(log_text is None and linux_log is None,
                    f"{label}: log on Windows {log_text!r}, on Linux {linux_log!r}")


def check_windows_behaviour(f, runner, build, voice):
    exe_source = runner.windows[build]
    work = os.path.join(runner.work, "behaviour", build)
    tools = os.path.join(work, "ツール_Инструменты_表")
    os.makedirs(tools)
    exe = os.path.join(tools, "qern.exe")
    shutil.copyfile(exe_source, exe)
    log = os.path.join(tools, "qern.log")
    label = f"[{build}]"

    # Banner: fewer than four arguments; no log.
    stdout, status = runner.run(build, exe, ["a", "b", "c"], work)
    f.check(status == 0, f"{label} banner: exit status {status}")
    f.check(stdout == crlf(cp932(BANNER)), f"{label} banner bytes: {stdout!r}")
    f.check(not os.path.exists(log), f"{label} banner: a log was created")

    # A failure: the log beside the executable, in text mode and code page 932.
    missing = windows_path(os.path.join(work, "missing.wav"))
    stdout, status = runner.run(build, exe, [missing, "out.wav", "A4", "100"], work)
    if f.check(os.path.exists(log), f"{label} failure: no log beside the executable"):
        raw = read(log)
        f.check(b"\n" not in raw.replace(b"\r\n", b""), f"{label} log not in text mode: {raw!r}")
        expected = (f"エラー:ファイル{missing}を開けません\n"
                    "エラー:コマンドラインオプションの処理に失敗しました\n")
        f.check(raw.replace(b"\r\n", b"\n").endswith(cp932("エラー:コマンドラインオプションの処理に失敗しました\n")),
                f"{label} log text: {raw!r}")
        f.check(raw.startswith(cp932("エラー:ファイル" + missing + "を開けません")),
                f"{label} log text, first line: {raw!r} (expected to begin like {expected!r})")
        os.remove(log)

    # Started by cmd under a relative name from another folder: the log
    # still goes beside the executable.
    other = os.path.join(work, "other")
    os.makedirs(other)
    # (wine quotes an argument with spaces in a way cmd does not read, so
    # the folder name has none.)
    subprocess.run(["wine", "cmd", "/c", "..\\ツール_Инструменты_表\\qern", "missing.wav", "out.wav",
                    "A4", "100"], cwd=other, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                   timeout=600)
    f.check(os.path.exists(log), f"{label} relative start: no log beside the executable")
    f.check(not any(n.endswith(".log") for n in os.listdir(other)),
            f"{label} relative start: log in the working folder: {os.listdir(other)}")
    if os.path.exists(log):
        os.remove(log)

    # A voice folder and file named in Japanese and Cyrillic: success, the
    # cache and the output beside it, no log, the processing time printed.
    # (表 and ソ end in the byte of a backslash in code page 932; the names
    # are handled in UTF-16 and UTF-8, where no such byte occurs.)
    voices = os.path.join(work, "声 Голос")
    os.makedirs(voices)
    wav = os.path.join(voices, "あ Жук 表ソ.wav")
    shutil.copyfile(voice, wav)
    out = os.path.join(voices, "出力 Выход.wav")
    stdout, _ = runner.run(build, exe, [windows_path(wav), windows_path(out)] + GENERATED_CALLS[0], work)
    f.check(os.path.exists(os.path.join(voices, "あ Жук 表ソ_wav.pmk")), f"{label} Japanese/Cyrillic: no cache")
    f.check(os.path.exists(out), f"{label} Japanese/Cyrillic: no output file")
    f.check(not os.path.exists(log), f"{label} success: the log was not deleted")
    text = stdout.decode("cp932", errors="replace")
    f.check("処理時間=" in text and stdout.endswith(b"msec\r\n"),
            f"{label} processing time line: {stdout!r}")

    # "nul" and "NUL": analysis only.
    for name in ("nul", "NUL"):
        folder = os.path.join(work, "analysis-" + name)
        os.makedirs(folder)
        wav = os.path.join(folder, "a.wav")
        shutil.copyfile(voice, wav)
        stdout, _ = runner.run(build, exe, [windows_path(wav), name, "A4", "100"], folder)
        f.check(os.path.exists(os.path.join(folder, "a_wav.pmk")), f"{label} {name}: no cache")
        f.check(sorted(os.listdir(folder)) == ["a.wav", "a_wav.pmk"],
                f"{label} {name}: files left: {os.listdir(folder)}")
        f.check(not os.path.exists(log), f"{label} {name}: log left")
        f.check("処理時間".encode("cp932") not in stdout, f"{label} {name}: processing time printed")

    # C:\voice\a.wav: the cache is C:\voice\a_wav.pmk, and the old
    # C:\voice\a.wav.pmk is deleted.
    drive_c = os.path.join(os.environ["WINEPREFIX"], "drive_c")
    folder = os.path.join(drive_c, "voice")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copyfile(voice, os.path.join(folder, "a.wav"))
    with open(os.path.join(folder, "a.wav.pmk"), "wb") as old:
        old.write(b"\x13\x00old")
    runner.run(build, exe, ["C:\\voice\\a.wav", "C:\\voice\\out.wav"] + GENERATED_CALLS[1], work)
    f.check(os.path.exists(os.path.join(folder, "a_wav.pmk")), f"{label} C:\\voice\\a_wav.pmk missing")
    f.check(not os.path.exists(os.path.join(folder, "a.wav.pmk")), f"{label} C:\\voice\\a.wav.pmk not deleted")
    f.check(os.path.exists(os.path.join(folder, "out.wav")), f"{label} C:\\voice\\out.wav missing")
    shutil.rmtree(folder, ignore_errors=True)


def shared_calls(shared):
    """(name, input, args) for the recorded calls and the real voices."""
    calls = []
    golden = os.path.join(shared, "golden")
    if os.path.isdir(golden):
        for case in sorted(os.listdir(golden)):
            args_file = os.path.join(golden, case, "args.txt")
            if not os.path.isfile(args_file):
                continue
            with open(args_file, encoding="utf-8") as a:
                words = shlex.split(a.read())
            calls.append(("golden-" + case, os.path.normpath(os.path.join(golden, words[0])),
                          words[1], words[2:]))
    voices = os.path.join(shared, "voices")
    if os.path.isdir(voices):
        for singer in sorted(os.listdir(voices)):
            folder = os.path.join(voices, singer)
            if not os.path.isdir(folder):
                continue
            wavs = sorted(n for n in os.listdir(folder) if n.lower().endswith(".wav"))
            for i, wav in enumerate(wavs[:2]):
                args = ["D#4", "100", "g-10H10", "120", "600", "200", "-400", "100", "20",
                        "!120", BEND] if i == 0 else ["A3", "70", "", "50", "400", "100", "0"]
                calls.append((f"voice-{singer}-{i}", os.path.join(folder, wav), "out.wav", args))
    return calls


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--linux", required=True)
    parser.add_argument("--win32", required=True, help='"" when it cannot run here')
    parser.add_argument("--win64", required=True)
    parser.add_argument("--shared", default=os.environ.get("QERN_SHARED", ""),
                        help="the shared/ folder with voices/ and golden/ (optional)")
    parser.add_argument("--slack-lsb", type=int, default=0,
                        help="tolerated sample difference between the builds' outputs")
    options = parser.parse_args()

    f = Failures()
    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="qern-windows-")
    try:
        runner = Runner(options.linux, options.win32, options.win64, work)
        vowel = os.path.join(work, "vowel.wav")
        vuv = os.path.join(work, "vuv.wav")
        sung_vowel(vowel)
        voiced_unvoiced(vuv)

        if "win32" not in runner.windows:
            print("note: the 32-bit build is not run here (no 32-bit wine on this machine)")
        for build in runner.windows:
            check_windows_behaviour(f, runner, build, vowel)

        for i, args in enumerate(GENERATED_CALLS):
            check_same_files(f, runner, f"vowel-{i}", vowel, args, options.slack_lsb)
            check_same_files(f, runner, f"vuv-{i}", vuv, args, options.slack_lsb)
        check_same_files(f, runner, "vuv-nul", vuv, ["D4", "100"], 0, output_name="nul")

        shared = options.shared
        if not shared:
            here = os.path.dirname(os.path.abspath(__file__))
            shared = os.path.join(here, "..", "..", "shared")
        if os.path.isdir(shared):
            for name, wav, output, args in shared_calls(shared):
                # The recorded calls include one that fails by design.
                expected = not os.path.exists(os.path.join(shared, "golden", name[len("golden-"):], "log.txt"))
                check_same_files(f, runner, name, wav, args, options.slack_lsb, output_name=output,
                                 expect_output=expected)
        else:
            print(f"note: no shared voices at {shared}; recorded calls skipped")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print(f"end-to-end calls took {time.monotonic() - started:.0f} s")
    print(f"{f.identical_files} .pmk and output files byte-identical to the Linux build's, "
          f"{f.near_files} within {options.slack_lsb} LSB")
    print(f"end-to-end: {f.passed} passed, {f.failed} failed")
    return 1 if f.failed else 0


if __name__ == "__main__":
    sys.exit(main())
