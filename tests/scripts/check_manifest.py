#!/usr/bin/env python3
"""Checks QERN's OpenUtau resampler manifest.

    check_manifest.py SOURCE_MANIFEST [INSTALLED_MANIFEST]
    check_manifest.py --self-test SOURCE_MANIFEST

Parses the manifest with a YAML parser and checks it against the shape that
OpenUtau deserialises a resampler manifest into (snake_case keys): a boolean
expression_filter and a map of expression descriptors keyed by their
abbreviation. Then checks that the flags declared are QERN's own, with the
ranges and defaults of its flag parser, under the abbreviations of OpenUtau's
default expressions for g, H and P, as OpenUtau sends them:

- a Numerical expression goes out as its `flag` letter and the integer value,
  also at its default unless `skip_output_if_default` is true;
- an Options expression goes out as the text of the chosen option, at its
  default too; OpenUtau ignores `flag` and `skip_output_if_default` there, so
  the manifest leaves them out, and the default option must be empty.

With a second path, checks that the build put an identical copy beside the
executable. --self-test checks that broken variants of the manifest are
refused.
"""
import sys

try:
    import yaml
except ImportError:
    sys.exit("check_manifest.py needs PyYAML (Debian: apt-get install python3-yaml)")

# Fields of an expression descriptor, and the YAML types they take.
DESCRIPTOR_FIELDS = {
    "name": str,
    "abbr": str,
    "type": str,
    "min": (int, float),
    "max": (int, float),
    "default_value": (int, float),
    "is_flag": bool,
    "flag": str,
    "options": list,
    "skip_output_if_default": bool,
}
REQUIRED_FIELDS = ["name", "abbr", "type", "min", "max", "default_value", "is_flag"]
# What OpenUtau reads of an Options expression instead of flag and
# skip_output_if_default (which it ignores there).
OPTIONS_IGNORED_FIELDS = ["flag", "skip_output_if_default"]
EXPRESSION_TYPES = {"Numerical", "Options", "Curve"}

# OpenUtau's default project expressions (abbreviation: flag letter, or None
# when the expression is not a resampler flag).
OPENUTAU_DEFAULTS = {
    "vel": None, "vol": None, "atk": None, "dec": None,
    "gen": "g", "genc": None, "bre": "B", "brec": None,
    "lpf": "H", "norm": "P", "mod": None, "mod+": None,
    "alt": None, "dir": None, "shft": None, "shfc": None,
    "tenc": None, "voic": None, "clr": None, "eng": None,
    "dyn": None, "pitd": None,
}

# QERN's flags: letter -> (type, min, max, default, required key or None).
QERN_FLAGS = {
    "g": ("Numerical", -100, 100, 0, "gen"),
    "H": ("Numerical", 0, 100, 0, "lpf"),
    "P": ("Numerical", 0, 100, 86, "norm"),
    "t": ("Numerical", None, None, 0, None),
    "R": ("Options", 0, 1, 0, None),
}
# QERN's own flags (not OpenUtau's defaults) send nothing at their default.
SKIPPED_AT_DEFAULT = {"t"}


def is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def check(manifest):
    errors = []
    if not isinstance(manifest, dict):
        return ["the manifest is not a map"]
    unknown = set(manifest) - {"expression_filter", "expressions"}
    if unknown:
        errors.append(f"unknown top-level keys {sorted(unknown)}")
    if manifest.get("expression_filter") is not True:
        errors.append("expression_filter must be the boolean true")
    expressions = manifest.get("expressions")
    if not isinstance(expressions, dict) or not expressions:
        return errors + ["expressions must be a non-empty map"]

    by_flag = {}
    for key, d in expressions.items():
        where = f"expressions.{key}"
        if not isinstance(d, dict):
            errors.append(f"{where} is not a map")
            continue
        for field in d:
            if field not in DESCRIPTOR_FIELDS:
                errors.append(f"{where}: unknown field {field!r}")
            elif field in ("min", "max", "default_value"):
                if not is_number(d[field]):
                    errors.append(f"{where}.{field} must be a number, not {d[field]!r}")
            elif not isinstance(d[field], DESCRIPTOR_FIELDS[field]):
                errors.append(f"{where}.{field} has the wrong type: {d[field]!r}")
        kind = d.get("type")
        required = REQUIRED_FIELDS + (["options"] if kind == "Options" else ["flag"])
        missing = [f for f in required if f not in d]
        if kind == "Options":
            for field in OPTIONS_IGNORED_FIELDS:
                if field in d:
                    errors.append(f"{where}: OpenUtau ignores {field!r} for an Options expression "
                                  f"(it sends the option's text)")
        if missing:
            errors.append(f"{where}: missing {missing}")
            continue
        if d["abbr"] != key:
            errors.append(f"{where}: keyed by {key!r} but abbr is {d['abbr']!r}")
        if d["type"] not in EXPRESSION_TYPES:
            errors.append(f"{where}.type {d['type']!r} is not one of {sorted(EXPRESSION_TYPES)}")
        if not is_number(d["min"]) or not is_number(d["max"]) or not is_number(d["default_value"]):
            continue
        if not d["min"] <= d["default_value"] <= d["max"]:
            errors.append(f"{where}: default {d['default_value']} outside {d['min']}..{d['max']}")
        if d["type"] == "Options":
            options = d.get("options")
            if not isinstance(options, list) or not all(isinstance(o, str) for o in options):
                errors.append(f"{where}: an Options expression needs a list of texts in options")
            elif len(options) != d["max"] - d["min"] + 1 or d["min"] != 0:
                errors.append(f"{where}: options must cover the values {d['min']}..{d['max']}")
        # The letters the expression can send: its flag, or the texts of its options.
        if d["type"] == "Options":
            letters = [o for o in d.get("options") or [] if isinstance(o, str) and o != ""]
        else:
            letters = [d["flag"]]
        if d["is_flag"]:
            for letter in letters:
                if letter in by_flag:
                    errors.append(f"flag {letter!r} declared twice")
                by_flag[letter] = (key, d)
        if key in OPENUTAU_DEFAULTS and [OPENUTAU_DEFAULTS[key]] != letters:
            errors.append(f"{where}: OpenUtau's {key!r} is the flag "
                          f"{OPENUTAU_DEFAULTS[key]!r}, not {letters!r}")

    if set(by_flag) != set(QERN_FLAGS):
        errors.append(f"flags declared {sorted(by_flag)}, QERN's are {sorted(QERN_FLAGS)}")
    for letter, (kind, low, high, default, required_key) in QERN_FLAGS.items():
        if letter not in by_flag:
            continue
        key, d = by_flag[letter]
        if required_key is not None and key != required_key:
            errors.append(f"flag {letter} must be keyed {required_key!r} (OpenUtau's default), not {key!r}")
        if d["type"] != kind:
            errors.append(f"flag {letter}: type {d['type']}, expected {kind}")
        if low is not None and (d["min"], d["max"]) != (low, high):
            errors.append(f"flag {letter}: range {d['min']}..{d['max']}, expected {low}..{high}")
        if d["default_value"] != default:
            errors.append(f"flag {letter}: default {d['default_value']}, expected {default}")
        if kind == "Options" and isinstance(d.get("options"), list):
            if d["options"][int(d["default_value"])] != "":
                errors.append(f"flag {letter}: the default option must add no text to the flags "
                              f"(OpenUtau sends it also at the default)")
        if letter in SKIPPED_AT_DEFAULT and d.get("skip_output_if_default") is not True:
            errors.append(f"flag {letter}: its default must send nothing (skip_output_if_default: true)")
    return errors


def self_test(manifest):
    """Broken variants of a good manifest, each of which check() must refuse."""
    import copy

    def variant(change):
        m = copy.deepcopy(manifest)
        change(m["expressions"])
        return m

    variants = {
        "flag on an Options expression": lambda e: e["rean"].update(flag="R"),
        "skip_output_if_default on an Options expression":
            lambda e: e["rean"].update(skip_output_if_default=True),
        "default option with text": lambda e: e["rean"].update(options=["R", ""]),
        "no option sending R": lambda e: e["rean"].update(options=["", "X"]),
        "Options without options": lambda e: e["rean"].pop("options"),
        "Numerical without flag": lambda e: e["gen"].pop("flag"),
        "tune sent at its default": lambda e: e["tune"].pop("skip_output_if_default"),
        "gen sending H": lambda e: e["gen"].update(flag="H"),
        "norm default 100": lambda e: e["norm"].update(default_value=100),
    }
    errors = check(manifest)
    if errors:
        return [f"the manifest itself is refused: {errors}"]
    return [f"not refused: {name}" for name, change in variants.items() if not check(variant(change))]


def main(argv):
    if len(argv) == 3 and argv[1] == "--self-test":
        with open(argv[2], encoding="utf-8") as f:
            errors = self_test(yaml.safe_load(f))
        for e in errors:
            print(f"{argv[2]}: {e}", file=sys.stderr)
        print(f"{argv[2]}: self-test {'failed' if errors else 'ok'}")
        return 1 if errors else 0
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        raw = f.read()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        print(f"{argv[1]}: not UTF-8", file=sys.stderr)
        return 1
    if "\t" in text:
        print(f"{argv[1]}: holds a tab, which YAML does not allow for indentation", file=sys.stderr)
        return 1
    errors = check(yaml.safe_load(text))
    if len(argv) == 3:
        try:
            with open(argv[2], "rb") as f:
                if f.read() != raw:
                    errors.append(f"{argv[2]} differs from {argv[1]}")
        except OSError as e:
            errors.append(f"no manifest beside the executable: {e}")
    for e in errors:
        print(f"{argv[1]}: {e}", file=sys.stderr)
    if not errors:
        print(f"{argv[1]}: ok")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
