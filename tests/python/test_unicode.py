"""Lowercasing and white-space trimming against Python's own str.lower() over
every code point, and levenshtein_with_opts. The simhash of one code point is
the FNV-1a hash of its lowercase form; levenshtein_with_opts(s, s.lower(),
case-insensitive) == 0 says the module lowers s exactly as Python does, so
strings around a capital sigma pin Cased and Case_Ignorable of every code
point, in both scanning directions."""

from __future__ import annotations

import importlib.util
import pathlib
import random
import re
import unicodedata

import pytest

import mivo

from . import strings_models as model

ROOT = pathlib.Path(__file__).resolve().parents[2]
TABLES = ROOT / "src" / "strings" / "unicode_tables.inc"
TABLES_VERSION = re.search(r'kUcdVersion\[\] = "([^"]+)"', TABLES.read_text(encoding="utf-8")).group(1)
pytestmark = pytest.mark.skipif(
    TABLES_VERSION != unicodedata.unidata_version,
    reason=f"tables are Unicode {TABLES_VERSION}, this Python has {unicodedata.unidata_version}",
)

CI = mivo.SimilarityOpts(case_sensitive=False)
TRIM = mivo.SimilarityOpts(trim_whitespace=True)
SIGMA = "\u03a3"
CODE_POINTS = [c for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF]


def test_generated_tables_are_reproducible():
    source = importlib.util.spec_from_file_location("gen_unicode_tables", ROOT / "scripts" / "gen_unicode_tables.py")
    generator = importlib.util.module_from_spec(source)
    source.loader.exec_module(generator)
    assert generator.generate() == TABLES.read_text(encoding="utf-8")


def test_lowercase_mapping_of_every_code_point():
    # The hash of a one-token text is the token's FNV-1a hash; a longer
    # lowercase form (U+0130) gives one token per code point.
    lowered = ((c, chr(c).lower()) for c in CODE_POINTS)
    wrong = [hex(c) for c, low in lowered
             if mivo.simhash(chr(c)) != (model.fnv1a64(low.encode()) if len(low) == 1 else model.simhash(low))]
    assert not wrong, f"lowercase differs from str.lower() at {wrong[:20]}"


def sigma_groups(c: str) -> list[str]:
    return [
        "A" + c + SIGMA + " ",  # before the sigma, past c to a cased letter
        " " + c + SIGMA + " ",  # before the sigma, c alone
        "A" + SIGMA + c + "A ",  # after the sigma, past c to a cased letter
        "A" + SIGMA + c + " ",  # after the sigma, c alone
    ]


def lowers_like_python(text: str) -> bool:
    expected = text.lower()
    return (mivo.levenshtein_with_opts(text, expected, CI) == 0
            and mivo.levenshtein_with_opts(text, "", CI) == len(expected))


def test_final_sigma_context_of_every_code_point():
    chunk = 1024
    failures = []
    for start in range(0, len(CODE_POINTS), chunk):
        part = [chr(c) for c in CODE_POINTS[start : start + chunk]]
        if not lowers_like_python("".join(g for c in part for g in sigma_groups(c))):
            failures += [hex(ord(c)) for c in part if not all(lowers_like_python(g) for g in sigma_groups(c))]
    assert not failures, f"Final_Sigma differs from str.lower() around {failures[:20]}"


def test_white_space_set_over_every_code_point():
    trimmed = [c for c in CODE_POINTS if mivo.levenshtein_with_opts(chr(c) + "x", "x", TRIM) == 0]
    assert trimmed == sorted(ord(ch) for ch in model.WHITE_SPACE)
    for ch in model.WHITE_SPACE:  # at both ends, runs of them, inner ones kept
        assert mivo.levenshtein_with_opts(ch * 2 + "a" + ch + "b" + ch, "a" + ch + "b", TRIM) == 0


@pytest.mark.parametrize("case_sensitive", [True, False])
@pytest.mark.parametrize("trim", [True, False])
def test_levenshtein_with_opts_against_model(case_sensitive, trim):
    # Trimming comes first: a sigma before trailing white space is final.
    rng = random.Random(80)
    ws = "".join(sorted(model.WHITE_SPACE))
    opts = mivo.SimilarityOpts(case_sensitive, trim)
    for _ in range(200):
        a, b = model.related_pair(rng)
        if rng.random() < 0.5:
            a = rng.choice(ws) + a + rng.choice(ws + "\u200b")
        pa, pb = (a.strip(ws), b.strip(ws)) if trim else (a, b)
        if not case_sensitive:
            pa, pb = pa.lower(), pb.lower()
        assert mivo.levenshtein_with_opts(a, b, opts) == model.levenshtein(pa, pb), (a, b)
