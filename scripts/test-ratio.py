#!/usr/bin/env python3
"""Prints how big the test suite is next to the code it tests, per layer.

Counts non-blank lines that are not only comment (// lines and /* */
blocks) in C and C++ files. Code is everything outside tests/, bench/ and
fuzz/; each test folder tests/<layer> is set against its layer's code, and
the whole suite (every file under tests/, shared helpers included) against
all code.

  scripts/test-ratio.py            the table
  scripts/test-ratio.py --check    exits 1 when the whole suite is above 40 %
                                   or a layer above 45 % of its code
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOURCES = {".h", ".hpp", ".c", ".cc", ".cpp"}
NOT_CODE = {"tests", "bench", "fuzz", "build", "docs"}
# tests/<folder> -> the code it tests.
LAYERS = {
    "com": ["xelo/com"],
    "opc": ["xelo/opc"],
    "framework": ["xelo/framework", "xelo/platform"],
    "core": ["xelo/core"],
    "simulation": ["servers/simulation"],
    "qt": ["xelo/qt"],
    "gui": ["xelo/gui"],
    "dialogs": ["xelo/dialogs"],
    "design": ["xelo/design", "plugins"],
    "apps": ["apps"],
    "outofprocess": ["windows"],
}
WHOLE_LIMIT = 0.40
LAYER_LIMIT = 0.45


def counted_lines(path):
    """Lines with something besides comments and blanks."""
    text = path.read_text(encoding="utf-8", errors="replace")
    # Block comments go, keeping their line breaks; string literals that
    # hold "/*" are rare enough in this code base to be ignored.
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    count = 0
    for line in text.splitlines():
        stripped = line.strip()
        if stripped and not stripped.startswith("//"):
            count += 1
    return count


def files_under(folder):
    base = ROOT / folder
    if not base.exists():
        return []
    return [p for p in base.rglob("*") if p.is_file() and p.suffix in SOURCES and not p.name.startswith("moc_")]


def code_files():
    for top in ROOT.iterdir():
        if top.name.startswith(".") or top.name in NOT_CODE or top.name.startswith("build"):
            continue
        if top.is_file():
            if top.suffix in SOURCES:
                yield top
        else:
            yield from files_under(top.name)


def main():
    check = "--check" in sys.argv[1:]
    rows = []
    failed = []
    for layer, folders in LAYERS.items():
        tests = sum(counted_lines(p) for p in files_under(f"tests/{layer}"))
        code = sum(counted_lines(p) for folder in folders for p in files_under(folder))
        if tests == 0 and code == 0:
            continue
        ratio = tests / code if code else float("inf")
        rows.append((layer, tests, code, ratio))
        if ratio > LAYER_LIMIT:
            failed.append(f"{layer} {ratio:.1%} > {LAYER_LIMIT:.0%}")
    tests = sum(counted_lines(p) for p in files_under("tests"))
    code = sum(counted_lines(p) for p in code_files())
    whole = tests / code
    if whole > WHOLE_LIMIT:
        failed.append(f"whole suite {whole:.1%} > {WHOLE_LIMIT:.0%}")

    print(f"{'layer':<14}{'tests':>8}{'code':>8}{'ratio':>8}")
    for layer, t, c, r in rows:
        print(f"{layer:<14}{t:>8}{c:>8}{r:>8.1%}")
    print(f"{'whole suite':<14}{tests:>8}{code:>8}{whole:>8.1%}")
    if failed:
        print("above the targets: " + "; ".join(failed))
        return 1 if check else 0
    print("within the targets")
    return 0


if __name__ == "__main__":
    sys.exit(main())
