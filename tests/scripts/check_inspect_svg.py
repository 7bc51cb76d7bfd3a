#!/usr/bin/env python3
"""Checks the picture of qern-inspect against the cache of the resampler.

    check_inspect_svg.py QERN QERN_INSPECT

Makes a voice-like WAV file in a temporary folder, has QERN analyse it (an
analysis-only run, output "nul") and qern-inspect draw it with oto regions,
then parses the SVG with an XML parser (it must be well-formed, an SVG root
with a size) and compares its pitch marks with the entries of the .pmk file.
Also checks that a missing input fails with a message.
"""
import math
import os
import struct
import subprocess
import sys
import tempfile
import wave
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"


def write_voice(path, rate=44100, count=36000):
    """A tone gliding from 190 to 240 Hz after a noisy start, 16-bit mono."""
    frames = bytearray()
    phase = 0.0
    state = 1
    for n in range(count):
        t = n / count
        state = (state * 1103515245 + 12345) % (1 << 31)
        if t < 0.15:
            value = (state / (1 << 31) - 0.5) * 2000.0
        else:
            value = sum(math.sin(h * phase) / h for h in range(1, 7)) * 6000.0 * min(1.0, (1.0 - t) * 6.0)
            phase = math.fmod(phase + 2.0 * math.pi * (190.0 + 50.0 * t) / rate, 2.0 * math.pi)
        frames += struct.pack("<h", max(-32768, min(32767, round(value))))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


def read_pmk(path):
    with open(path, "rb") as f:
        data = f.read()
    version, mean, count = struct.unpack_from("<hdi", data, 0)
    assert version == 19, version
    assert len(data) == 14 + 8 * count, (len(data), count)
    return mean, [struct.unpack_from("<ii", data, 14 + 8 * k) for k in range(count)]


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    qern, inspect = argv[1], argv[2]
    errors = []
    with tempfile.TemporaryDirectory() as folder:
        voice = os.path.join(folder, "voice.wav")
        write_voice(voice)
        subprocess.run([qern, voice, "nul", "C4", "100"], check=True, cwd=folder, capture_output=True)
        mean, entries = read_pmk(os.path.join(folder, "voice_wav.pmk"))

        picture = os.path.join(folder, "voice.svg")
        run = subprocess.run([inspect, voice, "voice.wav=- a,20,60,-500,45,15", "-o", picture],
                             cwd=folder, capture_output=True)
        if run.returncode != 0:
            return print(f"qern-inspect failed: {run.stderr!r}", file=sys.stderr) or 1
        root = ET.parse(picture).getroot()  # raises on a document that is not well-formed
        if root.tag != SVG + "svg":
            errors.append(f"root element {root.tag}")
        if not root.get("width") or not root.get("height") or not root.get("viewBox"):
            errors.append("the svg element has no size")
        marks = [(int(e.get("data-position")), int(e.get("data-period")))
                 for e in root.iter(SVG + "line") if "mark" in (e.get("class") or "").split()]
        if marks != entries:
            errors.append(f"{len(marks)} marks drawn, {len(entries)} in the cache, or they differ")
        if sum(1 for _, period in entries if period >= 50) < 100:
            errors.append("the test voice should have voiced marks")
        ids = {e.get("id") for e in root.iter() if e.get("id")}
        for needed in ("waveform", "pitch-marks", "t0-track", "oto-offset", "oto-consonant",
                       "oto-cutoff", "oto-preutterance", "oto-overlap"):
            if needed not in ids:
                errors.append(f"no element {needed}")
        if f"mean period {mean:.1f}" not in ET.tostring(root, encoding="unicode"):
            errors.append("the mean period of the cache is not shown")

        # By default the picture goes beside the sample; a missing sample fails.
        os.remove(picture)
        subprocess.run([inspect, voice], cwd=folder, check=True, capture_output=True)
        if not os.path.exists(picture):
            errors.append("no picture beside the sample by default")
        run = subprocess.run([inspect, os.path.join(folder, "none.wav")], cwd=folder, capture_output=True)
        if run.returncode != 1 or b"none.wav" not in run.stderr:
            errors.append(f"a missing input gave status {run.returncode} and {run.stderr!r}")
    for e in errors:
        print(e, file=sys.stderr)
    if not errors:
        print(f"ok: {len(entries)} marks")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
