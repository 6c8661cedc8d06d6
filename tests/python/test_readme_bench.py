"""The README's benchmark tables and pictures against the benchmarks that make them.

A table belongs to the script bench/<name>.py its section names last before
it, and each row names only what that script measures: the functions of the
first cell's code are used in it, each argument's last name and numbers on
one line with a call; the case's sizes (the first cell's numbers, else those
of the columns the row fills, "short" for the short case) and quoted queries
within a few lines of a use of the function; the names in the other cells'
code and the values of a "d" column anywhere in it.
"""

from __future__ import annotations

import pathlib
import re

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = (ROOT / "README.md").read_text(encoding="utf-8")
NUMBER = re.compile(r"(?<![\w.])\d[\d,_]*(?:\.\d+)?(?!\w)")
NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
CALL = re.compile(r"^([A-Za-z_][\w.]*)\s*(?:\((.*)\))?$")


def tables(text: str):
    """(script, header cells, row cells, line number) of every row of every
    benchmark table."""
    script = None
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("#"):
            script = None  # a new section: its tables name their own script
        for name in re.findall(r"bench/[\w./-]+\.py", line):
            script = name
        if line.startswith("|") and i + 1 < len(lines) and re.match(r"^\|[\s:|-]+\|$", lines[i + 1]):
            header = cells(line)
            i += 2
            while i < len(lines) and lines[i].startswith("|"):
                if script:
                    yield script, header, cells(lines[i]), i + 1
                i += 1
            continue
        i += 1


def cells(line: str) -> list[str]:
    return [c.strip() for c in line.strip().strip("|").split("|")]


def numbers(text: str) -> set[str]:
    return {n.replace(",", "").replace("_", "") for n in NUMBER.findall(text)}


def code_numbers(source: str) -> set[str]:
    """Numbers written in the script, 100_000 as 100000."""
    return numbers(re.sub(r"(?<=\d)_(?=\d)", "", source))


WINDOW = 12  # lines around a use of the function where its sizes must be written


def wanted(header: list[str], row: list[str]) -> list[tuple[str, str, str]]:
    """What the script must contain for this row: (kind, what, function) with
    kind "use" (the function used as an attribute, mivo.levenshtein), "call"
    (a regular expression on one line), "near" (a number within WINDOW lines
    of a use of the function) or "text" (a regular expression anywhere)."""
    out: list[tuple[str, str, str]] = []
    first = row[0]
    funcs = []
    for span in re.findall(r"`([^`]+)`", first):
        call = CALL.match(span.strip())
        if not call:
            out += [("text", rf"\b{re.escape(n)}\b", "") for n in NAME.findall(span)]
            continue
        func = call.group(1).split(".")[-1]
        funcs.append(func)
        out.append(("use", func, func))
        # Each alternative of the arguments (a / b): its last name and its
        # numbers on one line with a call of the function.
        for alt in (a.strip() for a in (call.group(2) or "").split("/") if a.strip()):
            for arg in NAME.findall(alt.split(".")[-1]) + sorted(numbers(alt)):
                if arg not in ("v", "list"):  # the names that stand for the input
                    out.append(("call", rf"\b{re.escape(func)}\([^\n]*\b{re.escape(arg)}\b", func))
    # Names in the other cells' code (peers, baselines): process.extractOne as extractOne.
    others = " ".join(re.findall(r"`([^`]+)`", " ".join(row[1:])))
    out += [("text", rf"\b{re.escape(n)}\b", "") for n in NAME.findall(re.sub(r"\b\w+\.(?=\w)", "", others))]
    # Sizes: those the first cell names, else those of the columns the row
    # fills ("1,000 chars"); a cell marked "short" stands for the script's
    # short case instead.
    sizes = sorted(numbers(re.sub(r"`[^`]*`|'[^']*'", "", first)))
    named = bool(sizes)
    for head, cell in zip(header[1:], row[1:]):
        size = re.fullmatch(r"([\d,]+) (chars|words|values|rows|items|vectors)", head)
        if size and cell and not named:
            sizes.append("short" if re.search(r"\bshort\b", cell) else size.group(1).replace(",", ""))
        if head == "d" and cell:
            out += [("text", rf"(?<![\w.]){n}(?![\w.])", "") for n in sorted(numbers(cell))]
    quoted = re.findall(r"'([^']+)'", re.sub(r"`[^`]*`", "", first))
    out += [("near", n, func) for n in sizes + quoted for func in funcs[:1]]
    return out


def missing(source: str, checks: list[tuple[str, str, str]]) -> list[str]:
    lines = source.splitlines()
    out = []
    for kind, what, func in checks:
        uses = [i for i, line in enumerate(lines) if re.search(rf"\.{re.escape(func)}\b", line)] if func else []
        if kind == "use":
            ok = bool(uses)
        elif kind == "near":
            ok = any(what in code_numbers(block) or re.search(rf"\b{re.escape(what)}\b", block)
                     for block in ("\n".join(lines[max(0, i - WINDOW):i + WINDOW + 1]) for i in uses))
        else:
            ok = re.search(what, source) is not None
        if not ok:
            out.append(f"{kind} {what}" + (f" ({func})" if func and kind == "near" else ""))
    return out


ROWS = list(tables(README))


def test_the_readme_has_benchmark_tables_for_every_script_it_names():
    scripts = {s for s, _, _, _ in ROWS}
    assert {"bench/bench_strings.py", "bench/bench_embeddings.py"} <= scripts
    assert all((ROOT / s).is_file() for s in scripts), scripts


@pytest.mark.parametrize("script, header, row, line", ROWS, ids=[f"README:{r[3]}" for r in ROWS])
def test_every_case_in_a_readme_table_is_in_its_benchmark(script, header, row, line):
    absent = missing((ROOT / script).read_text(encoding="utf-8"), wanted(header, row))
    assert not absent, f"README.md line {line} ({row[0]}): {script} has no {absent}"


@pytest.mark.parametrize("row, absent_item", [
    ("| `levenshtein`, ASCII | 0.5 | |", None),
    ("| `find_best_match`, 10,000 words, 'zebbra' | `process.extractOne` | |", None),
    ("| `jaro`, ASCII | 0.5 | |", "jaro"),
    ("| `levenshtein`, ASCII | | 0.4 |", "5000"),
    ("| `find_best_match`, 20,000 words | | |", "20000"),
    ("| `find_best_match`, 10,000 words, 'zebra' | | |", "zebra"),
    ("| `encode(v, Profile.Mini128 / Hilbert10x10)` | | |", "Hilbert10x10"),
    ("| `encode(v, Profile.Mini128, 7)` | | |", "7"),
    ("| `levenshtein` | `process.extractTwo` | |", "extractTwo"),
])
def test_the_check_sees_a_missing_case(row, absent_item):
    source = "\n".join([
        "for n in (10, 100): mivo.levenshtein(a, b)",
        "mivo.find_best_match(q, c)  # 10_000 'zebbra'",
        *[""] * WINDOW,
        "mivo.encode(v, mivo.Profile.Mini128, 5000)  # not within the window of levenshtein",
        "rf_process.extractOne",
    ])
    absent = missing(source, wanted(["call", "10 chars", "5,000 chars"], cells(row)))
    assert (not absent) if absent_item is None else (absent and absent_item in absent[0]), absent


def test_every_picture_is_drawn_by_make_plots_and_shown_in_the_readme():
    drawn = {p.name for p in (ROOT / "docs").glob("*.png")}
    shown = set(re.findall(r"\]\(docs/([\w.-]+\.png)\)", README))
    assert shown <= drawn, f"README shows pictures that docs/ lacks: {shown - drawn}"
    assert drawn <= shown, f"pictures in docs/ that the README does not show: {drawn - shown}"
    plots = (ROOT / "docs" / "make_plots.py").read_text(encoding="utf-8")
    benches = {f"{p.stem}.png" for p in (ROOT / "bench").glob("bench_*.py")}
    assert all(name in plots or name in benches for name in drawn), drawn
