"""The string metrics and the candidate searches: known values, every metric
against the plain models of strings_models.py over random text of several
alphabets and lengths, and the conversion of the candidate lists."""

from __future__ import annotations

import itertools
import math
import random

import pytest

import mivo

from . import strings_models as model
from .models import raises

SEED = 20240611
METRICS = ["levenshtein", "normalized_levenshtein", "jaro", "jaro_winkler", "osa_distance", "hamming", "best_match"]


RNG = random.Random(SEED)


def text(chars, length):
    return "".join(RNG.choice(chars) for _ in range(length))


def random_pairs(count, max_len, groups=None):
    return [model.related_pair(RNG, max_len, groups) for _ in range(count)]


def equal_length_pairs(count):
    # Equal lengths exercise Hamming's counting and Jaro's widest windows.
    texts = [model.random_text(RNG, 70) for _ in range(count)]
    return [(a, "".join(c if RNG.random() < 0.7 else RNG.choice(model.ALPHABETS["greek"]) for c in a)) for a in texts]


def width_pairs():
    """The metrics run on the str objects' own arrays of 1-, 2- or 4-byte code
    points: pairs of every two widths, lengths around the 64-bit words of the
    bit vectors and the SIMD widths of Hamming, long shared prefixes and
    suffixes."""
    widths = ["abcé\u00ff", "aé\u0161\u65e5\u0100", "a\u0161\U0001F600\U00020061"]
    lengths = [0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 129]
    pairs = []
    for wa, wb, m in itertools.product(widths, widths, lengths):
        a, b, shared = text(wa, m), text(wb, RNG.choice(lengths)), text(wa, RNG.choice([0, 70]))
        pairs += [(a, b), (shared + a + shared, shared + b + shared), (a, a[::-1]), (a, text(wb, m))]
    return pairs


# Mixed alphabets, short and past 64 and 128 code points (the multi-word bit
# vectors, rows off the stack); one alphabet alone (ASCII text runs on its
# bytes, other text on decoded scalar values); many repeats of few characters
# (Jaro's greedy matching).
PAIRS = (random_pairs(800, 12) + random_pairs(40, 150) + equal_length_pairs(250) + width_pairs()
         + [p for g in ("ascii", "latin", "cjk", "astral") for p in random_pairs(30, 200, (g,))]
         + [(text(chars, RNG.randint(1, 140)), text(chars, RNG.randint(1, 140)))
            for chars in ["01", "abΣσ", "日本語中文漢字", "a😀\u0301"] for _ in range(30)])

# ------------------------------------------------------------- known values
# Textbook values beyond the docstring examples (run by test_frame.py); they
# pin the models as well.


@pytest.mark.parametrize(
    "name, a, b, expected",
    [
        ("osa_distance", "abcdef", "badcfe", 3),
        ("levenshtein", "\u00e9", "e\u0301", 2),
        ("osa_distance", "😀🎉", "🎉😀", 1),
        ("hamming", "", "héllo", None),
        ("jaro", "abcxyz", "bcaxyz", 0.9444444444444445),
        ("jaro_winkler", "dwayne", "duane", 0.8400000000000001),
        ("jaro_winkler", "dixon", "dicksonx", 0.8133333333333332),
        ("normalized_levenshtein", "abc", "", 0.0),
    ],
)
def test_known_values(name, a, b, expected):
    assert getattr(mivo, name)(a, b) == getattr(model, name)(a, b) == expected


def test_search_results():
    best = mivo.find_best_match("app", ("apple", "application", "apply"))
    assert list(best) == ["index", "score"] and type(best["index"]) is int and type(best["score"]) is float
    assert mivo.find_best_match("x", []) == {"index": 0, "score": 0.0}


@pytest.mark.parametrize(
    "threshold, expected_indices",
    [(0.0, [0, 1, 2, 3]), (1.0000001, []), (math.nan, []), (-math.inf, [0, 1, 2, 3]), (True, []), (1, [])],
)
def test_threshold_bounds_and_conversion(threshold, expected_indices):
    got = mivo.find_matches_above_threshold("app", ["apple", "application", "apply", "banana"], threshold)
    assert [r["index"] for r in got] == expected_indices


# ------------------------------------------------------- against the models


@pytest.mark.parametrize("name", METRICS)
def test_pairwise_against_model(name):
    ours, theirs = getattr(mivo, name), getattr(model, name)
    for a, b in PAIRS:
        assert ours(a, b) == theirs(a, b), (a, b)


@pytest.mark.parametrize("base", [0x100, 0x1F300])
def test_transpositions_across_the_words_of_long_patterns(base):
    # Distinct characters, neighbours swapped at the edges of the pattern's
    # 64-position words: each swap is one transposition, or two edits.
    a = [chr(base + c) for c in random.Random(base).sample(range(1000), 300)]
    b = list(a)
    for p in (0, 63, 127, 191, 255, 290):
        b[p], b[p + 1] = b[p + 1], b[p]
    a, b = "".join(a), "".join(b)
    assert (mivo.osa_distance(a, b), mivo.levenshtein(a, b)) == (6, 12)


def test_search_against_model():
    # Many candidates of many lengths: those that cannot reach the best score
    # so far (or the threshold) are passed over, which must not change results.
    rng = random.Random(SEED + 3)
    for _ in range(60):
        query = model.random_text(rng, rng.choice([4, 10, 90]))
        candidates = [model.related_pair(rng, 12)[rng.randint(0, 1)] for _ in range(rng.randint(0, 300))]
        if candidates and rng.random() < 0.5:
            candidates.append(query)  # an exact hit, possibly repeated
            candidates.insert(rng.randint(0, len(candidates)), query)
        threshold = rng.choice([0.0, 0.5, 0.7, 0.9, 1.0])
        assert mivo.find_best_match(query, candidates) == model.find_best_match(query, candidates)
        assert mivo.find_matches_above_threshold(query, candidates, threshold) == model.find_matches_above_threshold(
            query, candidates, threshold)


# ------------------------------------------------------- candidate lists


@pytest.mark.parametrize(
    "candidates, threshold, message",
    [
        ("abc", 0.5, "argument 'candidates': Can't extract `str` to `Vec`"),
        ({"x"}, 0.5, "argument 'candidates': 'set' object cannot be cast as 'Sequence'"),
        ((c for c in "ab"), 0.5, "argument 'candidates': 'generator' object cannot be cast as 'Sequence'"),
        (["a", 1], 0.5, "argument 'candidates': 'int' object cannot be cast as 'str'"),
        (["a"], "x", "argument 'threshold': must be real number, not str"),
        ("abc", "x", "argument 'candidates': Can't extract `str` to `Vec`"),  # the first failure wins
    ],
)
def test_argument_refusals(candidates, threshold, message):
    raises(lambda: mivo.find_matches_above_threshold("a", candidates, threshold), TypeError, message)
