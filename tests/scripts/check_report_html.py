#!/usr/bin/env python3
"""Checks the HTML report of qern-prep --report.

    check_report_html.py QERN_PREP

Makes a small voicebank in a temporary folder (two clean vowels, one with a
120 Hz hum under its lead-in and consonant, and an oto.ini with one line
that does not read), runs qern-prep on it with --report, with and without
--strict, and parses the page: it must be self-contained (no scripts,
styles, images or links from elsewhere), hold a summary by severity whose
counts match the terminal's, one table row per finding and one inline SVG
picture for each sample with findings, with the findings marked on it.
"""
import html.parser
import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import wave


def write_vowel(path, hz, hum=0.0, rate=44100):
    """150 ms silence, 100 ms hiss, 1000 ms of a vowel at hz, 50 ms silence; a hum under all."""
    frames = bytearray()
    phase = 0.0
    state = 7
    previous = 0.0
    for n in range(rate * 13 // 10):
        ms = n * 1000.0 / rate
        value = 0.0
        if 150.0 <= ms < 250.0:
            state = (state * 1664525 + 1013904223) % (1 << 32)
            noise = ((state >> 8) / 16777216.0 - 0.5) * 3000.0
            value, previous = noise - previous, noise
        elif 250.0 <= ms < 1250.0:
            envelope = min(1.0, (ms - 250.0) / 20.0, (1250.0 - ms) / 100.0)
            value = sum(math.sin(h * phase) / h for h in range(1, 7)) * 8000.0 * envelope
            phase = math.fmod(phase + 2.0 * math.pi * hz / rate, 2.0 * math.pi)
        value += hum * math.sin(2.0 * math.pi * 120.0 * n / rate)
        frames += struct.pack("<h", max(-32768, min(32767, round(value))))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


class Page(html.parser.HTMLParser):
    """Collects what the checks need while parsing."""

    def __init__(self):
        super().__init__()
        self.stack = []
        self.problems = []
        self.summary = {}          # severity class -> count
        self.rows = []             # (class, data-sample)
        self.sections = []         # [id, svg count, finding marks]
        self.summary_cell = None
        self.text = []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag not in ("br", "meta", "img", "link", "input", "hr"):
            self.stack.append((tag, a))
        for name, value in attrs:
            value = value or ""
            if name in ("src", "srcset", "data", "action", "background"):
                self.problems.append("external reference %s=%s" % (name, value))
            if name in ("href", "xlink:href") and not value.startswith("#"):
                self.problems.append("link away: %s" % value)
            if name == "xmlns" and value != "http://www.w3.org/2000/svg":
                self.problems.append("namespace %s" % value)
            if "url(" in value or "@import" in value:
                self.problems.append("url in attribute: %s" % value)
        if tag in ("link", "img", "iframe", "object", "embed"):
            self.problems.append("element <%s>" % tag)
        if tag == "script" and "src" in a:
            self.problems.append("script from elsewhere")
        if tag == "tr" and self.inside("tbody"):
            self.rows.append((a.get("class"), a.get("data-sample")))
        if tag == "tr" and self.inside_table("summary"):
            self.summary_cell = a.get("class")
        if tag == "section" and "sample" in (a.get("class") or "").split():
            self.sections.append([a.get("id"), 0, 0])
        if tag == "svg" and self.sections and self.inside_section():
            self.sections[-1][1] += 1
        if tag == "g" and a.get("class") == "finding" and self.sections:
            self.sections[-1][2] += 1

    def handle_endtag(self, tag):
        while self.stack:
            top, _ = self.stack.pop()
            if top == tag:
                break

    def handle_data(self, data):
        if self.stack and self.stack[-1][0] == "style" and ("url(" in data or "@import" in data):
            self.problems.append("style loads from elsewhere")
        if self.summary_cell and self.stack and self.stack[-1][0] == "td":
            self.summary[self.summary_cell] = int(data)
            self.summary_cell = None

    def inside(self, tag):
        return any(t == tag for t, _ in self.stack)

    def inside_table(self, cls):
        return any(t == "table" and a.get("class") == cls for t, a in self.stack)

    def inside_section(self):
        return any(t == "section" and "sample" in (a.get("class") or "").split() for t, a in self.stack)


def main():
    prep = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        bank = os.path.join(folder, "bank")
        os.mkdir(bank)
        write_vowel(os.path.join(bank, "a.wav"), 220.0)
        write_vowel(os.path.join(bank, "i.wav"), 230.0)
        write_vowel(os.path.join(bank, "ha.wav"), 220.0, hum=900.0)
        with open(os.path.join(bank, "oto.ini"), "w", encoding="utf-8") as oto:
            oto.write("a.wav=a,100,200,-900,150,50\ni.wav=i,100,200,-900,150,50\n"
                      "ha.wav=ha,100,200,-900,150,50\nno equals sign\n")
        report = os.path.join(folder, "report.html")

        run = subprocess.run([prep, bank, "-j", "2", "--report", report], capture_output=True, text=True)
        if run.returncode != 0:
            failures.append("exit status %d without --strict: %s" % (run.returncode, run.stderr))
        counts = re.search(r"(\d+) fail, (\d+) will sound wrong, (\d+) worth a look", run.stdout)
        if not counts or ("report: " + report) not in run.stdout:
            failures.append("terminal output without counts or path: %r" % run.stdout)
            counts = None
        strict = subprocess.run([prep, bank, "--report", report, "--strict"], capture_output=True, text=True)
        if strict.returncode != 1:
            failures.append("--strict with failing findings exits %d" % strict.returncode)
        usage = subprocess.run([prep, bank, "--strict"], capture_output=True, text=True)
        if usage.returncode != 2:
            failures.append("--strict without --report exits %d" % usage.returncode)

        with open(report, encoding="utf-8") as f:
            text = f.read()
        page = Page()
        page.feed(text)
        page.close()
        failures += page.problems
        if not text.startswith("<!DOCTYPE html>"):
            failures.append("no doctype")
        if counts:
            expected = {"fails": int(counts.group(1)), "wrong": int(counts.group(2)), "look": int(counts.group(3))}
            if page.summary != expected:
                failures.append("summary %s, terminal %s" % (page.summary, expected))
            if len(page.rows) != sum(expected.values()):
                failures.append("%d table rows for %d findings" % (len(page.rows), sum(expected.values())))
        if not any(c == "fails" and s == "oto.ini" for c, s in page.rows):
            failures.append("the unreadable oto.ini line is not in the table")
        samples = sorted({s for _, s in page.rows if s.endswith(".wav")})
        if samples != ["ha.wav"]:
            failures.append("samples with findings: %s" % samples)
        if len(page.sections) != len(samples):
            failures.append("%d picture sections for %d samples" % (len(page.sections), len(samples)))
        for section_id, svgs, marks in page.sections:
            if svgs != 1 or marks < 1:
                failures.append("section %s: %d svg, %d finding marks" % (section_id, svgs, marks))

    for f in failures:
        print("FAIL:", f)
    print("report checked: %d problems" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
