"""Lowercasing and white-space trimming against Python's own str.lower() over
every code point, through the module's public functions.

Oracles: simhash of a single code point is the FNV-1a hash of its lowercase
form, which pins the mapping of every code point. levenshtein_with_opts(s,
s.lower(), case-insensitive) == 0 then says the module lowers s exactly to
s.lower() (which holds no capital sigma and lowers to itself), so strings built
around a capital sigma pin Cased and Case_Ignorable of every code point, in
both scanning directions.
"""

from __future__ import annotations

import functools
import importlib.util
import pathlib
import random
import unicodedata
import warnings

import numpy as np
import pytest

import mivo
from . import strings_models as model

ROOT = pathlib.Path(__file__).resolve().parents[2]
TABLES = ROOT / "src" / "strings" / "unicode_tables.inc"
GENERATOR = ROOT / "scripts" / "gen_unicode_tables.py"

CI = mivo.SimilarityOpts(case_sensitive=False)
TRIM = mivo.SimilarityOpts(trim_whitespace=True)
SIGMA = "\u03a3"


@functools.lru_cache(maxsize=None)
def generator():
    module_spec = importlib.util.spec_from_file_location("gen_unicode_tables", GENERATOR)
    gen = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(gen)
    return gen


@functools.lru_cache(maxsize=None)
def skipped_code_points() -> frozenset[int]:
    """Code points whose data differ between the module's tables and this
    Python's Unicode version (none when the versions agree)."""
    gen = generator()
    version, table = gen.read_tables(TABLES)
    if version == unicodedata.unidata_version:
        return frozenset()
    here = gen.code_point_records()
    differ = frozenset(c for c in range(len(table)) if table[c] != here[c])
    warnings.warn(
        f"tables are Unicode {version}, Python has {unicodedata.unidata_version}: "
        f"{len(differ)} code points with differing data skipped"
    )
    return differ


def code_points() -> list[int]:
    skip = skipped_code_points()
    return [c for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF and c not in skip]


def fnv1a64_of_code_points(cp: np.ndarray) -> np.ndarray:
    """FNV-1a 64 of the UTF-8 encoding of each single code point."""
    cp = cp.astype(np.uint64)
    n = np.select([cp < 0x80, cp < 0x800, cp < 0x10000], [1, 2, 3], 4)
    lead = np.select([n == 1, n == 2, n == 3], [cp, 0xC0 | (cp >> 6), 0xE0 | (cp >> 12)], 0xF0 | (cp >> 18))
    tail = [0x80 | ((cp >> (6 * k)) & 0x3F) for k in range(3)]  # last, second last, third last
    seq = [
        lead,
        np.select([n == 2, n == 3], [tail[0], tail[1]], tail[2]),
        np.select([n == 3], [tail[0]], tail[1]),
        tail[0],
    ]
    h = np.full(cp.shape, 0xCBF29CE484222325, dtype=np.uint64)
    prime = np.uint64(0x100000001B3)
    for k, byte in enumerate(seq):
        h = np.where(k < n, (h ^ byte.astype(np.uint64)) * prime, h)
    return h


def test_tables_version_matches_python_or_is_reported():
    skipped = skipped_code_points()
    assert isinstance(skipped, frozenset)
    if unicodedata.unidata_version == "14.0.0":
        assert not skipped


def test_generated_tables_are_reproducible():
    gen = generator()
    version, _ = gen.read_tables(TABLES)
    if version != unicodedata.unidata_version:
        pytest.skip(f"tables are Unicode {version}, this Python has {unicodedata.unidata_version}")
    assert gen.generate() == TABLES.read_text(encoding="utf-8")


def test_lowercase_mapping_of_every_code_point():
    cps = code_points()
    lowered = [chr(c).lower() for c in cps]
    single = np.array([ord(s) if len(s) == 1 else 0 for s in lowered], dtype=np.uint64)
    expected = fnv1a64_of_code_points(single)
    multi = [i for i, s in enumerate(lowered) if len(s) != 1]
    for i in multi:
        expected[i] = model.simhash_of_lowered(lowered[i])
    actual = np.fromiter((mivo.simhash(chr(c)) for c in cps), dtype=np.uint64, count=len(cps))
    wrong = [hex(cps[i]) for i in np.nonzero(actual != expected)[0][:20]]
    assert not wrong, f"lowercase differs from str.lower() at {wrong}"
    assert [cps[i] for i in multi] == [0x130]  # the only multi-character lowercase mapping


def sigma_groups(c: str) -> list[str]:
    return [
        "A" + c + SIGMA + " ",  # before the sigma, past c to a cased letter
        " " + c + SIGMA + " ",  # before the sigma, c alone
        "A" + SIGMA + c + "A ",  # after the sigma, past c to a cased letter
        "A" + SIGMA + c + " ",  # after the sigma, c alone
    ]


def lowers_like_python(text: str) -> bool:
    expected = text.lower()
    assert expected.lower() == expected and SIGMA not in expected
    return (
        mivo.levenshtein_with_opts(text, expected, CI) == 0
        and mivo.levenshtein_with_opts(text, "", CI) == len(expected)
    )


def test_final_sigma_context_of_every_code_point():
    cps = code_points()
    chunk = 1024
    failures = []
    for start in range(0, len(cps), chunk):
        part = cps[start : start + chunk]
        text = "".join(g for c in part for g in sigma_groups(chr(c)))
        if not lowers_like_python(text):
            failures += [hex(c) for c in part if not all(lowers_like_python(g) for g in sigma_groups(chr(c)))]
    assert not failures, f"Final_Sigma differs from str.lower() around {failures[:20]}"


@pytest.mark.parametrize(
    "text",
    ["ΟΔΟΣ", "Σ", "ΣΣ", "ΑΣΣ", "ΑΣ.Σ", "Α'Σ'", "Α\u0301Σ\u0301", "Α\u0345Σ", "ΑΣ\u0345", "\u02b0Σ", "Σ\u02b0", "1Σ",
     "ΑΣ1", "ΑΣ\u00adΒ", "ὈΔΥΣΣΕΎΣ", "ΌΣΟΣ ΜΟΝΟΣ. ΣΑΣ", "İSTANBUL ıi Iİ", "STRASSE straße ẞ", "𐐀𐐁 𝐀", "ǅǄǆ ῼ"],
)
def test_lowercase_whole_strings(text):
    assert lowers_like_python(text)
    assert mivo.simhash(text) == model.simhash(text)


def test_lowercase_random_strings():
    rng = random.Random(77)
    for _ in range(1000):
        text = model.random_text(rng, 24)
        assert lowers_like_python(text), text
    assert lowers_like_python("".join(model.random_text(rng, 40) for _ in range(2000)))


@pytest.mark.parametrize(
    "a, b, opts, expected",
    [
        ("  HELLO  ", "hello", mivo.SimilarityOpts(case_sensitive=False, trim_whitespace=True), 0),
        ("  HELLO  ", "hello", mivo.SimilarityOpts(trim_whitespace=True), 5),
        ("  HELLO  ", "hello", mivo.SimilarityOpts(case_sensitive=False), 4),
        ("  HELLO  ", "hello", mivo.SimilarityOpts(), 9),
        ("STRASSE", "straße", mivo.SimilarityOpts(case_sensitive=False), 2),
        ("\u0130", "i", mivo.SimilarityOpts(case_sensitive=False), 1),
        ("ΟΔΟΣ", "οδοσ", mivo.SimilarityOpts(case_sensitive=False), 1),
        ("ΟΔΟΣ", "οδος", mivo.SimilarityOpts(case_sensitive=False), 0),
        # Trimming comes first: the sigma is final once the space is gone.
        (" ΑΣ ", "ας", mivo.SimilarityOpts(case_sensitive=False, trim_whitespace=True), 0),
    ],
)
def test_levenshtein_with_opts_values(a, b, opts, expected):
    assert mivo.levenshtein_with_opts(a, b, opts) == expected


def test_levenshtein_with_opts_against_model():
    rng = random.Random(80)
    ws = "".join(sorted(model.WHITE_SPACE))

    def strip(s):
        return s.strip(ws)

    for case_sensitive in (True, False):
        for trim in (True, False):
            opts = mivo.SimilarityOpts(case_sensitive, trim)
            for _ in range(200):
                a, b = model.related_pair(rng)
                if rng.random() < 0.5:
                    a = rng.choice(ws) + a + rng.choice(ws + "\u200b")
                pa, pb = (strip(a), strip(b)) if trim else (a, b)
                if not case_sensitive:
                    pa, pb = pa.lower(), pb.lower()
                assert mivo.levenshtein_with_opts(a, b, opts) == model.levenshtein(pa, pb), (a, b)


def test_white_space_set_over_every_code_point():
    skip = skipped_code_points()
    trimmed = [
        c
        for c in range(0x110000)
        if not 0xD800 <= c <= 0xDFFF and c not in skip and mivo.levenshtein_with_opts(chr(c) + "x", "x", TRIM) == 0
    ]
    assert trimmed == sorted(ord(ch) for ch in model.WHITE_SPACE)
    assert len(trimmed) == 25
    for ch in model.WHITE_SPACE:  # at both ends, runs of them, inner ones kept
        assert mivo.levenshtein_with_opts(ch * 2 + "a" + ch + "b" + ch, "a" + ch + "b", TRIM) == 0


def test_levenshtein_with_opts_refuses_other_options():
    with pytest.raises(TypeError, match=r"^argument 'opts': 'dict' object cannot be cast as 'SimilarityOpts'$"):
        mivo.levenshtein_with_opts("a", "b", {"case_sensitive": False})
