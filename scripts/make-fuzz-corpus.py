#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are small and deterministic; rerun after changing an input format.
Files named crash-* or regress-* (reproducers of faults found and fixed) are
kept; every other file in the folders is rewritten.
"""
import math
import os
import random
import struct
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus")
rng = random.Random(19)


def wav(channels, bits, rate, data, fmt_extra=b"", between=b"", data_size=None, tag=1):
    fmt = struct.pack("<hhiihh", tag, channels, rate, rate * channels * bits // 8,
                      channels * bits // 8, bits) + fmt_extra
    size = len(data) if data_size is None else data_size
    body = b"WAVE" + b"fmt " + struct.pack("<i", len(fmt)) + fmt + between
    body += b"data" + struct.pack("<I", size & 0xFFFFFFFF) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def encode(values, bits):
    """Integer samples (already on the scale of `bits`) as PCM bytes."""
    out = bytearray()
    for v in values:
        if bits == 8:
            out.append((v + 128) & 0xFF)
        elif bits == 16:
            out += struct.pack("<h", v)
        elif bits == 24:
            out += struct.pack("<i", v)[:3]
        else:
            out += struct.pack("<i", v)
    return bytes(out)


def full_scale(bits):
    return (1 << (bits - 1)) - 1


def signal(kind, n, bits, rate=44100):
    top = full_scale(bits)
    if kind == "silence":
        return [0] * n
    if kind == "dc":
        return [top // 2] * n
    if kind == "square":
        period = 200
        return [top if (i % period) < period // 2 else -top - 1 for i in range(n)]
    if kind == "clicks":
        return [top if i % 441 == 0 else 0 for i in range(n)]
    if kind == "noise":
        return [rng.randint(-top - 1, top) for _ in range(n)]
    if kind == "voice":  # a vowel-like tone at 220 Hz with harmonics
        scale = top / 3.0
        return [int(scale * (math.sin(2 * math.pi * 220 * i / rate) +
                             0.5 * math.sin(4 * math.pi * 220 * i / rate) +
                             0.25 * math.sin(6 * math.pi * 220 * i / rate))) for i in range(n)]
    if kind == "sweep":
        scale = top / 2.0
        return [int(scale * math.sin(2 * math.pi * (80 + 600 * i / n) * i / rate)) for i in range(n)]
    raise ValueError(kind)


def interleave(values, channels):
    if channels == 1:
        return values
    out = []
    for v in values:
        out += [v, -v // 2]
    return out


def audio_case(kind, n, bits, channels, rate):
    return encode(interleave(signal(kind, n, bits, rate), channels), bits)


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def clear(target):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if not name.startswith(("crash-", "regress-")):
            os.remove(os.path.join(folder, name))


BITS = [8, 16, 24, 32]
# The analysis and synthesis targets run with -max_len=2048 (scripts/fuzz.sh).
MAX_AUDIO_BYTES = 1900
RATES = [44100, 48000, 22050, 8000]


def wav_reader_seeds():
    t = "wav_reader"
    clear(t)
    for bits in BITS:
        for channels in (1, 2):
            write(t, f"pcm{bits}_{channels}ch", wav(channels, bits, 44100,
                                                    audio_case("voice", 64, bits, channels, 44100)))
    voice = audio_case("voice", 100, 16, 1, 44100)
    write(t, "list_chunk", wav(1, 16, 44100, voice, between=b"LIST" + struct.pack("<i", 8) + b"INFOdata"))
    write(t, "fmt18", wav(1, 16, 44100, voice, fmt_extra=b"\0\0"))
    write(t, "fmt14", wav(1, 16, 44100, voice)[:16] + struct.pack("<i", 14) + wav(1, 16, 44100, voice)[20:])
    write(t, "truncated", wav(1, 16, 44100, voice, data_size=len(voice) + 1000))
    write(t, "huge_size", wav(2, 32, 44100, voice, data_size=0x7FFFFFF0))
    write(t, "negative_size", wav(1, 16, 44100, voice, data_size=0x80000000))
    write(t, "no_data", wav(1, 16, 44100, b"")[:-8])
    write(t, "data_first", b"RIFF\0\0\0\0WAVEdata\4\0\0\0abcdfmt ")
    write(t, "one_sample", wav(1, 16, 44100, b"\x01\x02"))
    write(t, "half_frame", wav(2, 24, 44100, b"\x01\x02\x03\x04"))
    floats = [math.sin(i / 7.0) * 0.8 for i in range(64)]
    write(t, "float32", wav(1, 32, 44100, b"".join(struct.pack("<f", v) for v in floats), tag=3))
    write(t, "float64_stereo", wav(2, 64, 48000, b"".join(struct.pack("<dd", v, -v) for v in floats), tag=3))
    write(t, "float_nan_inf", wav(1, 32, 44100, struct.pack("<6f", float("nan"), float("inf"), -float("inf"),
                                                                  3.4e38, -1e-45, 1.0), tag=3))
    write(t, "float16", wav(1, 16, 44100, voice, tag=3))
    guid_tail = bytes([0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71])
    def extensible(channels, bits, sub, data):
        ext = struct.pack("<hhI", 22, bits, 4 if channels == 1 else 3) + struct.pack("<h", sub) + guid_tail
        return wav(channels, bits, 44100, data, fmt_extra=ext, tag=-2)
    write(t, "extensible_pcm24", extensible(2, 24, 1, audio_case("voice", 64, 24, 2, 44100)))
    write(t, "extensible_float", extensible(1, 32, 3, b"".join(struct.pack("<f", v) for v in floats)))
    write(t, "extensible_bad_guid", extensible(1, 16, 1, voice)[:60] + b"\1" + extensible(1, 16, 1, voice)[61:])


def pmk(entries, mean=None, version=19, count=None):
    voiced = [p for _, p in entries if p >= 50]
    if mean is None:
        mean = sum(voiced) / len(voiced) if voiced else 0.0
    n = len(entries) if count is None else count
    out = struct.pack("<hdi", version, mean, n)
    for pos, per in entries:
        out += struct.pack("<ii", pos, per)
    return out


def marks_every(period, total, start=None):
    pos = period if start is None else start
    out = []
    while pos < total:
        out.append((pos, period))
        pos += period
    return out


def pmk_reader_seeds():
    # Two bytes choose the input length (see pmk_reader_fuzz.cpp), then the file.
    t = "pmk_reader"
    clear(t)
    lengths = {0: 1, 3: 4096, 6: 44100}
    for sel, n in lengths.items():
        sel_bytes = struct.pack("<H", sel)
        write(t, f"len{n}_voiced", sel_bytes + pmk(marks_every(200, n)))
        write(t, f"len{n}_unvoiced", sel_bytes + pmk(marks_every(49, n)))
    sel = struct.pack("<H", 3)
    write(t, "empty", sel + pmk([]))
    write(t, "short_count", sel + pmk(marks_every(100, 2000), count=50))
    write(t, "negative_count", sel + pmk([], count=-1))
    write(t, "huge_count", sel + pmk([], count=0x7FFFFFFF))
    write(t, "period512", sel + pmk([(100, 512)]))
    write(t, "period48", sel + pmk([(100, 48)]))
    write(t, "far_positions", sel + pmk([(-100000, 200), (5000, 200), (2**31 - 1, 200)]))
    write(t, "nan_mean", sel + pmk(marks_every(200, 4096), mean=float("nan")))
    write(t, "truncated_header", sel + pmk([])[:9])
    write(t, "exact_length", struct.pack("<H", 0x8000 | 999) + pmk(marks_every(100, 1000)))


def text_seeds(t, texts):
    clear(t)
    for i, text in enumerate(texts):
        write(t, f"seed{i:02d}", text if isinstance(text, bytes) else text.encode("utf-8"))


def bend_string(points):
    b64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
    out = ""
    for c in points:
        v = c & 0xFFF
        out += b64[v >> 6] + b64[v & 63]
    return out


def parser_seeds():
    text_seeds("pitch_bend", [
        "", "AA", "Bk", "//", "gA", "AB#3#AC", "#2#AB", "AB#0#CD", "ABC", "A*", "A#3#",
        "#4194304#", "#4194305#", "#2147483647#AA", "AA#99999999999999999999#",
        bend_string([int(80 * math.sin(i / 7.0)) for i in range(120)]) + "#40#" + bend_string([-300, 2047, -2048]),
    ])
    rate_t = lambda rate, t: struct.pack("<Ii", rate, t)
    names = [(44100, 0, "A4"), (44100, 0, "69"), (44100, 0, "C#4"), (44100, 0, "Db4"),
             (44100, 10, "C4"), (48000, -5, "G#3"), (44100, 0, b"C\x81\xf24"), (44100, 0, b"E\x81\xf33"),
             (44100, 0, "C-1"), (44100, 0, "H4"), (44100, 0, "4"), (1, 0, "C9"),
             (2**31 - 1, -2**31, "B9"), (44100, 2**31 - 1, "127"), (44100, 0, "G99999999999")]
    clear("note_name")
    for i, (rate, t, name) in enumerate(names):
        data = name if isinstance(name, bytes) else name.encode()
        write("note_name", f"seed{i:02d}", rate_t(rate, t) + data)
    text_seeds("flags", [
        "", "P150", "g-200", "g-5g10", "H300", "R", "BRE", "t10", "t-5", "g99999999999999999999",
        "1e400", "-1e-400", "  +12.5e3x", "H-2147483648P-2147483649", "B50Y0H20g-3Mt2R",
    ])


def analysis_seeds():
    # One byte: bits (0..3 for 8/16/24/32) and channels (bit 2); one byte: the
    # rate (index into RATES); then the PCM data. See analysis_fuzz.cpp.
    t = "analysis"
    clear(t)
    for kind, n in (("voice", 1400), ("sweep", 1400), ("noise", 1000), ("clicks", 1000),
                    ("dc", 800), ("square", 1000), ("silence", 600)):
        for bi, bits in enumerate(BITS):
            for channels in (1, 2):
                if kind not in ("voice", "square") and (bits, channels) not in ((16, 1), (24, 2)):
                    continue
                n = min(n, MAX_AUDIO_BYTES // (bits // 8 * channels))
                head = bytes([bi | (4 if channels == 2 else 0), 0])
                write(t, f"{kind}_{bits}_{channels}ch", head + audio_case(kind, n, bits, channels, 44100))
    for bi, bits in enumerate(BITS):
        write(t, f"one_sample_{bits}", bytes([bi, 1]) + encode([full_scale(bits)], bits))
    write(t, "voice_8k", bytes([1, 3]) + audio_case("voice", 900, 16, 1, 8000))
    fvoice = [v / 32768.0 for v in signal("voice", 400, 16)]
    write(t, "float32_voice", bytes([8, 0]) + b"".join(struct.pack("<f", v) for v in fvoice))
    write(t, "float64_stereo_voice", bytes([8 | 4 | 1, 1]) + b"".join(struct.pack("<dd", v, v) for v in fvoice[:110]))
    write(t, "float_extremes", bytes([8, 0]) + b"".join(struct.pack("<f", v) for v in
                                                       [float("nan"), float("inf"), -3e38, 1.0, -1.0] * 60))
    return t


def synthesis_seeds():
    # See synthesis_fuzz.cpp for the layout: a parameter block, then audio as
    # in the analysis corpus.
    t = "synthesis"
    clear(t)
    def params(mode=0, note=57, velocity=100, g=0, H=0, P=86, t_=0, left=0, length=300,
               consonant=50, right=0, volume=100, modulation=0, tempo=120, bend=b""):
        block = struct.pack("<BBhbbBbhhhhBbBB", mode, note, velocity, g, H, P, t_, left * 32, length * 32,
                            consonant * 32, right * 32, volume, modulation, tempo, len(bend))
        return block + bend
    voice16 = bytes([1, 0]) + audio_case("voice", 900, 16, 1, 44100)
    bend = bend_string([int(60 * math.sin(i / 5.0)) for i in range(40)]).encode()
    write(t, "plain", params() + voice16)
    write(t, "bend", params(bend=bend, modulation=50) + voice16)
    write(t, "flags", params(g=-60, H=80, P=100, t_=-20, volume=200) + voice16)
    write(t, "g_up", params(g=100, note=80, velocity=0) + voice16)
    write(t, "long_note", params(length=1000, consonant=120, right=-20) + voice16)
    write(t, "left_past_end", params(left=100, length=400) + voice16)
    write(t, "zero_length", params(length=0, consonant=0) + voice16)
    write(t, "low_note", params(note=0, velocity=-300) + voice16)
    write(t, "high_note", params(note=127, velocity=300, modulation=-100) + voice16)
    for kind in ("noise", "clicks", "dc", "square", "silence"):
        write(t, kind, params() + bytes([2, 0]) + audio_case(kind, 600, 24, 1, 44100))
    write(t, "stereo8", params() + bytes([4, 2]) + audio_case("voice", 900, 8, 2, 22050))
    write(t, "one_sample", params() + bytes([3, 0]) + encode([full_scale(32)], 32))
    fvoice = [v / 32768.0 for v in signal("voice", 400, 16)]
    write(t, "float32", params() + bytes([8, 0]) + b"".join(struct.pack("<f", v * 4) for v in fvoice))
    cache = pmk(marks_every(200, 900))
    write(t, "cache_marks", params(mode=1) + struct.pack("<H", len(cache)) + cache + voice16)
    hostile = pmk([(-2000, 60), (100, 511), (4100, 49)], mean=float("inf"))
    write(t, "cache_hostile", params(mode=1, modulation=100) + struct.pack("<H", len(hostile)) + hostile + voice16)
    extreme = pmk([(-2**31, 200), (-5000, 511), (450, 49), (900, 300), (2**31 - 600, 511), (2**31 - 1, 49)])
    write(t, "cache_extreme_positions", params(mode=1, g=100, left=5, length=600) + struct.pack("<H", len(extreme)) +
          extreme + voice16)
    unsorted = pmk([(800, 200), (100, 100), (100, 100), (50000, 300), (-100, 60)])
    write(t, "cache_unsorted", params(mode=1, g=-100, velocity=0, length=400, consonant=100) +
          struct.pack("<H", len(unsorted)) + unsorted + voice16)
    return t


def run_seeds():
    # Three control bytes (input file, output choice, cache state and time
    # order), then the arguments from the note name on, each ended by a zero
    # byte. See run_fuzz.cpp.
    t = "run"
    clear(t)
    def run(inp, out, cold, *args):
        return bytes([inp, out, cold]) + b"".join(a.encode() + b"\0" for a in args)
    bend = bend_string([int(50 * math.sin(i / 4.0)) for i in range(30)])
    write(t, "banner", run(0, 0, 0, "A4"))
    write(t, "four", run(0, 0, 1, "A4", "100"))
    write(t, "nul", run(0, 1, 1, "A4", "100"))
    write(t, "NUL_warm", run(1, 2, 0, "C4", "100", ""))
    write(t, "full", run(0, 0, 1, "A4", "100", "g-10H20P90t5", "50", "400", "80", "-300", "90", "30",
                         "!120", bend))
    write(t, "old_bend", run(2, 0, 0, "69", "50", "", "0", "300", "100", "0", "100", "0", bend))
    write(t, "bad_note", run(0, 0, 0, "H4", "100"))
    write(t, "negative_length", run(0, 0, 0, "A4", "100", "", "0", "-5"))
    write(t, "bad_input", run(5, 0, 0, "A4", "100", "", "0", "300"))
    write(t, "missing_folder", run(0, 3, 0, "A4", "100", "", "0", "300"))
    write(t, "stereo24", run(3, 0, 1, "D#5", "0", "R", "10", "500", "20", "10"))
    write(t, "one_sample", run(4, 0, 1, "A4", "100", "", "0", "100"))
    write(t, "stale_warm", run(0, 0, 4, "A4", "100", "", "0", "300"))
    write(t, "stale_other_take", run(0, 0, 20, "A4", "100", "", "0", "300"))
    write(t, "newer_other_take_nul", run(1, 1, 28, "A4", "100"))
    write(t, "same_time_warm", run(2, 0, 8, "C4", "100", "", "0", "200"))
    write(t, "newer_damaged_nul", run(0, 1, 14, "A4", "100"))
    write(t, "output_is_input", run(0, 6, 0, "A4", "100", "", "0", "300"))
    write(t, "output_is_cache", run(1, 7, 1, "A4", "100"))
    write(t, "output_dot_input", run(3, 8, 12, "A4", "100"))
    write(t, "extra_args", run(0, 0, 0, "A4", "100", "", "0", "100", "0", "0", "100", "0", "!0", "AA", "x", "y"))
    return t


if __name__ == "__main__":
    wav_reader_seeds()
    pmk_reader_seeds()
    parser_seeds()
    analysis_seeds()
    synthesis_seeds()
    run_seeds()
    print("seed corpora written to", os.path.normpath(ROOT), file=sys.stderr)
