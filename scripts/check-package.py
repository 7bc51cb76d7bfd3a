#!/usr/bin/env python3
"""Checks QERN's release archives as OpenUtau would see them.

    scripts/check-package.py ARCHIVE...

Each archive (qern-VERSION-windows-x86.zip, qern-VERSION-windows-x64.zip or
qern-VERSION-linux-x86_64.tar.gz) is unpacked into an empty folder standing
for OpenUtau's data folder. OpenUtau lists as a resampler every file under
Resamplers/ (searched recursively) that ends in .exe or .bat on Windows, and
every file with no extension or the extension .sh on macOS and Linux. Exactly
one must be listed, the engine, with its manifest (its name with .yaml, the
same bytes as openutau/qern.yaml) beside it. The archive holds nothing but
the engine, the manifest, the two tools in qern-tools/, the install note and
LICENSE; the programs are built for the archive's system and need no C++
runtime beside them; on Linux the engine runs and prints its banner.
"""
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MANIFEST = os.path.join(ROOT, "openutau", "qern.yaml")
NAME = re.compile(r"^qern-(\d+(?:\.\d+)+)-(windows-x86|windows-x64|linux-x86_64)\.(zip|tar\.gz)$")
PE_MACHINE = {"windows-x86": 0x014C, "windows-x64": 0x8664}
# DLLs that come with the compiler, not with Windows.
RUNTIME_DLL = re.compile(r"^(libstdc\+\+|libgcc_s|libwinpthread|libc\+\+)", re.I)


def pe_imports(data):
    """The DLL names of a PE file's import directory."""
    pe = int.from_bytes(data[0x3C:0x40], "little")
    sections = int.from_bytes(data[pe + 6:pe + 8], "little")
    optional_size = int.from_bytes(data[pe + 20:pe + 22], "little")
    optional = pe + 24
    magic = int.from_bytes(data[optional:optional + 2], "little")
    directories = optional + (96 if magic == 0x10B else 112)
    import_rva = int.from_bytes(data[directories + 8:directories + 12], "little")
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            h = table + 40 * i
            size = int.from_bytes(data[h + 8:h + 12], "little")
            start = int.from_bytes(data[h + 12:h + 16], "little")
            raw = int.from_bytes(data[h + 20:h + 24], "little")
            if start <= rva < start + max(size, 1):
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} outside the sections")

    names = []
    if import_rva == 0:
        return names
    at = offset(import_rva)
    while True:
        name_rva = int.from_bytes(data[at + 12:at + 16], "little")
        if name_rva == 0:
            return names
        name_at = offset(name_rva)
        names.append(data[name_at:data.index(b"\0", name_at)].decode("ascii", "replace"))
        at += 20


def listed_resamplers(data, windows):
    """The files OpenUtau's discovery takes from data/Resamplers."""
    found = []
    for folder, _, files in os.walk(os.path.join(data, "Resamplers")):
        for name in files:
            ext = os.path.splitext(name)[1]
            if (ext.lower() in (".exe", ".bat")) if windows else (ext in ("", ".sh")):
                found.append(os.path.join(folder, name))
    return sorted(found)


def unpack(archive, data):
    """Unpacks into `data`, refusing members that would land outside it."""
    if archive.endswith(".zip"):
        with zipfile.ZipFile(archive) as z:
            names = z.namelist()
            check_member_names(names)
            for info in z.infolist():
                z.extract(info, data)
                mode = info.external_attr >> 16
                if mode:
                    os.chmod(os.path.join(data, info.filename), mode & 0o777)
    else:
        with tarfile.open(archive) as t:
            names = t.getnames()
            check_member_names(names)
            for m in t.getmembers():
                if not (m.isfile() or m.isdir()):
                    raise ValueError(f"member {m.name} is neither a file nor a folder")
            t.extractall(data)
    return sorted(n.rstrip("/") for n in names)


def check_member_names(names):
    for n in names:
        if n.startswith("/") or ".." in n.split("/") or "\\" in n:
            raise ValueError(f"member {n!r} would land outside the folder")


def check_binary(path, kind, errors):
    with open(path, "rb") as f:
        data = f.read()
    name = os.path.relpath(path)
    if kind.startswith("windows"):
        if data[:2] != b"MZ" or len(data) < 0x40:
            errors.append(f"{name}: not a Windows executable")
            return
        pe = int.from_bytes(data[0x3C:0x40], "little")
        machine = int.from_bytes(data[pe + 4:pe + 6], "little")
        if data[pe:pe + 4] != b"PE\0\0" or machine != PE_MACHINE[kind]:
            errors.append(f"{name}: machine {machine:#x}, expected {PE_MACHINE[kind]:#x}")
        for dll in pe_imports(data):
            if RUNTIME_DLL.match(dll):
                errors.append(f"{name}: needs {dll}")
    else:
        if data[:4] != b"\x7fELF" or data[4] != 2 or int.from_bytes(data[18:20], "little") != 62:
            errors.append(f"{name}: not an x86-64 ELF executable")
            return
        if not os.access(path, os.X_OK):
            errors.append(f"{name}: not executable")
        if shutil.which("readelf"):
            dynamic = subprocess.run(["readelf", "-d", path], capture_output=True, text=True).stdout
            for lib in re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic):
                if lib.startswith(("libstdc++", "libgcc_s", "libc++")):
                    errors.append(f"{name}: needs {lib}")


def check(archive):
    errors = []
    match = NAME.match(os.path.basename(archive))
    if not match:
        return [f"{archive}: not named qern-VERSION-(windows-x86|windows-x64|linux-x86_64).zip/.tar.gz"]
    kind = match.group(2)
    windows = kind.startswith("windows")
    if windows != (match.group(3) == "zip"):
        errors.append(f"{archive}: Windows archives are .zip, the Linux one .tar.gz")
    suffix = ".exe" if windows else ""
    with tempfile.TemporaryDirectory() as scratch:
        data = os.path.join(scratch, "OpenUtau")
        os.mkdir(data)
        members = unpack(archive, data)
        files = sorted(m for m in members if os.path.isfile(os.path.join(data, m)))
        expected = sorted(["LICENSE", "QERN-INSTALL.txt", "Resamplers/qern" + suffix,
                           "Resamplers/qern.yaml", "qern-tools/qern-prep" + suffix,
                           "qern-tools/qern-inspect" + suffix])
        if files != expected:
            errors.append(f"{archive}: holds {files}, expected {expected}")

        listed = [os.path.relpath(p, data).replace(os.sep, "/") for p in listed_resamplers(data, windows)]
        if listed != ["Resamplers/qern" + suffix]:
            errors.append(f"{archive}: OpenUtau would list {listed}, not just the engine")
        for engine in listed:
            manifest = os.path.join(data, os.path.splitext(engine)[0] + ".yaml")
            if not os.path.isfile(manifest):
                errors.append(f"{archive}: no manifest beside {engine}")
            elif open(manifest, "rb").read() != open(MANIFEST, "rb").read():
                errors.append(f"{archive}: {engine}'s manifest differs from openutau/qern.yaml")

        for program in ("Resamplers/qern", "qern-tools/qern-prep", "qern-tools/qern-inspect"):
            path = os.path.join(data, program + suffix)
            if os.path.isfile(path):
                check_binary(path, kind, errors)
        note = os.path.join(data, "QERN-INSTALL.txt")
        if os.path.isfile(note):
            text = open(note, "rb").read()
            if any(b > 0x7E or (b < 0x20 and b not in b"\r\n") for b in text):
                errors.append(f"{archive}: the install note is not plain ASCII")
            if b"Resamplers" not in text or b"qern.yaml" not in text:
                errors.append(f"{archive}: the install note does not say where the files go")
        licence = os.path.join(data, "LICENSE")
        if os.path.isfile(licence) and b"MIT License" not in open(licence, "rb").read():
            errors.append(f"{archive}: LICENSE is not the MIT licence")
        engine = os.path.join(data, "Resamplers", "qern")
        if kind == "linux-x86_64" and os.path.isfile(engine) and os.uname().machine == "x86_64":
            r = subprocess.run([engine], capture_output=True, cwd=scratch, timeout=60)
            if r.returncode != 0 or not r.stdout.startswith(b"QERN Ver"):
                errors.append(f"{archive}: the engine does not run (status {r.returncode})")
    return errors


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    failed = False
    for archive in argv[1:]:
        errors = check(archive)
        for e in errors:
            print(e, file=sys.stderr)
        print(f"{archive}: {'FAILED' if errors else 'ok'}")
        failed = failed or bool(errors)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
