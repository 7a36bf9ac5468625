#!/usr/bin/env python3
"""Prints gcovr's figures per file for the product code and the emulation, then every
product line and branch that no test reaches, each with its reason from the exceptions
file. Exit code 1 when one has no reason (NEW) or a reason matches nothing (STALE).

usage: coverage-report.py COVERAGE.json SUMMARY.json EXCEPTIONS.txt
"""
import json
import re
import sys

EMULATION = "platform/emulation/"
# Product code that only the Windows build compiles: the host cannot measure it.
WINDOWS_ONLY = {
    "packaging/installer_actions.cpp": "Windows only, not measured (the MSI's custom action)",
    "platform/terminate_handler.cpp": "Windows only, not measured (the terminate handler)",
}


def is_product(name):
    """The service's own code, and what it shares with the Windows build under platform/
    (the handle owners): everything that ships but the emulation."""
    return name.startswith(("app/", "service/", "calibration/", "install/")) or (
        name.startswith("platform/") and not name.startswith(EMULATION))


def percent(covered, total):
    return f"{100.0 * covered / total:5.1f} %" if total else "    - "


def row(name, lines, lines_total, branches, branches_total):
    return (f"  {name:<44} {lines:>5}/{lines_total:<5} {percent(lines, lines_total)}"
            f"   {branches:>5}/{branches_total:<5} {percent(branches, branches_total)}")


def table(title, files, notes=None):
    print(f"\n{title:<46} {'lines':>19}   {'branches':>19}")
    sums = [0, 0, 0, 0]
    for f in files:
        figures = [f["line_covered"], f["line_total"], f["branch_covered"], f["branch_total"]]
        print(row(f["filename"], *figures))
        sums = [a + b for a, b in zip(sums, figures)]
    for name, note in (notes or {}).items():
        print(f"  {name:<44} {note}")
    print(row("total", *sums))


def read_exceptions(path):
    """(file, code) -> reason: a line "file: code" and the indented reason below it;
    '#' starts a comment line."""
    reasons, place = {}, None
    with open(path, encoding="utf-8") as text:
        for number, line in enumerate(text, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                place = None
                continue
            if line[0].isspace() and place:
                reasons[place] = (reasons[place] + " " + line.strip()).strip()
                continue
            match = re.match(r"^(\S+?): (\S.*)$", line)
            if not match:
                sys.exit(f"{path}:{number}: neither 'file: code' nor its indented reason: {line}")
            place = (match.group(1), match.group(2).strip())
            reasons[place] = ""
    return reasons


def untaken(coverage):
    """(file, line number, code, what) for each product line not run or with a branch
    not taken."""
    found = []
    for f in sorted(coverage["files"], key=lambda f: f["file"]):
        if not is_product(f["file"]):
            continue
        with open(f["file"], encoding="utf-8") as text:
            source = text.read().splitlines()
        for line in f["lines"]:
            if line["gcovr/noncode"] or line["gcovr/excluded"]:
                continue
            branches = line["branches"]
            missed = sum(1 for b in branches if b["count"] == 0)
            if line["count"] == 0:
                what = "line never run"
            elif missed:
                what = f"{missed} of {len(branches)} branches not taken"
            else:
                continue
            number = line["line_number"]
            found.append((f["file"], number, source[number - 1].strip(), what))
    return found


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[-1])
    with open(sys.argv[1], encoding="utf-8") as text:
        coverage = json.load(text)
    with open(sys.argv[2], encoding="utf-8") as text:
        summary = json.load(text)
    reasons = read_exceptions(sys.argv[3])

    files = sorted(summary["files"], key=lambda f: f["filename"])
    table("Product code", [f for f in files if is_product(f["filename"])], WINDOWS_ONLY)
    table("Emulation (platform/emulation/)", [f for f in files if f["filename"].startswith(EMULATION)])

    print("\nProduct lines and branches no test reaches, and why "
          "(scripts/coverage-exceptions.txt):")
    found = untaken(coverage)
    places = {(path, code) for path, _, code, _ in found}
    new = 0
    for path, number, code, what in found:
        reason = reasons.get((path, code))
        new += reason is None
        print(f"  {'NEW  ' if reason is None else ''}{path}:{number}  {what}: {code}")
        print(f"      {reason or 'no reason given: reach it with a test, or write why none can'}")
    if not found:
        print("  none")
    stale = [place for place in reasons if place not in places]
    for path, code in stale:
        print(f"  STALE {path}: {code}: reached now, or its code changed; update the exceptions file")
    if new or stale:
        print(f"\n{new} without a reason, {len(stale)} stale")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
