"""Jaro, Jaro-Winkler, OSA, Hamming, best match and the candidate searches:
exact values, differential tests against the Python models, metric
properties and the candidate list conversion."""

from __future__ import annotations

import math
import pathlib
import random

import pytest

import mivo
from . import strings_models as model

SEED = 20240611


def pairs(count: int, seed: int, max_len: int = 12) -> list[tuple[str, str]]:
    rng = random.Random(seed)
    out = []
    for _ in range(count):
        if rng.random() < 0.5:
            out.append(model.related_pair(rng, max_len))
        else:
            out.append((model.random_text(rng, max_len), model.random_text(rng, max_len)))
    return out


def equal_length_pairs(count: int, seed: int) -> list[tuple[str, str]]:
    # Equal lengths exercise Hamming's counting branch and Jaro's widest windows.
    rng = random.Random(seed)
    texts = [model.random_text(rng, 70) for _ in range(count)]
    return [(a, "".join(c if rng.random() < 0.7 else rng.choice(model.ALPHABETS["greek"]) for c in a)) for a in texts]


# Beyond 64 code points the metrics take their general paths.
PAIRS = pairs(800, SEED) + pairs(40, SEED + 1, max_len=150) + equal_length_pairs(250, SEED + 2)

# ------------------------------------------------------------- exact values


@pytest.mark.parametrize(
    "a, b, jaro, jaro_winkler",
    [
        ("martha", "marhta", 0.9444444444444445, 0.9611111111111111),
        ("", "", 1.0, 1.0),
        ("a", "", 0.0, 0.0),
        ("", "a", 0.0, 0.0),
        ("ab", "ba", 0.0, 0.0),
        ("abcxyz", "bcaxyz", 0.9444444444444445, 0.9444444444444445),
        ("MARTHA", "martha", 0.0, 0.0),
        ("hello", "world", 0.4666666666666666, 0.4666666666666666),
        ("a", "ab", 0.8333333333333334, 0.8500000000000001),
        ("dwayne", "duane", None, 0.8400000000000001),
        ("dixon", "dicksonx", None, 0.8133333333333332),
        ("abcdefgh", "abcdefgx", None, 0.95),
    ],
)
def test_jaro_values(a, b, jaro, jaro_winkler):
    assert jaro is None or mivo.jaro(a, b) == jaro
    assert mivo.jaro_winkler(a, b) == jaro_winkler


@pytest.mark.parametrize(
    "a, b, osa, hamming",
    [
        ("ca", "ac", 1, 2),
        ("abcd", "acbd", 1, 2),
        ("abcdef", "badcfe", 3, 6),
        ("ca", "abc", 3, None),
        ("kitten", "sitting", 3, None),
        ("karolin", "kathrin", 3, 3),
        ("", "", 0, 0),
        ("abc", "", 3, None),
        ("héllo", "hello", 1, 1),
        ("e\u0301", "e", 1, None),
        ("😀🎉", "🎉😀", 1, 2),
    ],
)
def test_osa_and_hamming_values(a, b, osa, hamming):
    assert mivo.osa_distance(a, b) == osa
    assert mivo.hamming(a, b) == hamming


@pytest.mark.parametrize("a, b, expected", [("hello", "hallo", 0.88), ("", "", 1.0), ("abc", "", 0.0), ("", "abc", 0.0)])
def test_best_match_values(a, b, expected):
    assert mivo.best_match(a, b) == expected


def test_find_best_match_last_of_equal_scores_wins():
    assert mivo.find_best_match("app", ["apple", "application", "apply"]) == {"index": 2, "score": 0.9066666666666667}
    assert mivo.find_best_match("x", []) == {"index": 0, "score": 0.0}


def test_find_matches_above_threshold_keeps_equal_scores():
    got = mivo.find_matches_above_threshold("app", ["apple", "application", "apply", "banana"], 0.5)
    assert got == [
        {"index": 0, "score": 0.9066666666666667},
        {"index": 1, "score": 0.8303030303030302},
        {"index": 2, "score": 0.9066666666666667},
        {"index": 3, "score": 0.5},
    ]


@pytest.mark.parametrize(
    "threshold, expected_indices",
    [(0.0, [0, 1, 2, 3]), (1.0000001, []), (math.nan, []), (-math.inf, [0, 1, 2, 3]), (True, [])],
)
def test_find_matches_threshold_bounds(threshold, expected_indices):
    got = mivo.find_matches_above_threshold("app", ["apple", "application", "apply", "banana"], threshold)
    assert [r["index"] for r in got] == expected_indices


def test_records_list_index_then_score():
    assert list(mivo.find_best_match("a", ["a"])) == ["index", "score"]
    (record,) = mivo.find_matches_above_threshold("a", ["a"], 0.5)
    assert list(record) == ["index", "score"]
    assert type(record["index"]) is int and type(record["score"]) is float


# ------------------------------------------------------- differential tests


@pytest.mark.parametrize("name", ["jaro", "jaro_winkler", "osa_distance", "hamming", "best_match"])
def test_pairwise_against_model(name):
    ours, theirs = getattr(mivo, name), getattr(model, name)
    for a, b in PAIRS:
        assert ours(a, b) == theirs(a, b), (a, b)


@pytest.mark.parametrize("alphabet", ["ab", "abΣσ", "a😀\u0301"])
def test_small_alphabets_long_strings(alphabet):
    # Many repeats of few characters stress the greedy matching on both the
    # word-sized (up to 64) and the general path.
    rng = random.Random(SEED + 6)
    for _ in range(40):
        a = "".join(rng.choice(alphabet) for _ in range(rng.randint(1, 140)))
        b = "".join(rng.choice(alphabet) for _ in range(rng.randint(1, 140)))
        assert mivo.jaro(a, b) == model.jaro(a, b), (a, b)
        assert mivo.jaro_winkler(a, b) == model.jaro_winkler(a, b), (a, b)
        assert mivo.best_match(a, b) == model.best_match(a, b), (a, b)
    queries = ["".join(rng.choice(alphabet) for _ in range(n)) for n in (3, 30, 64, 65, 100)]
    candidates = ["".join(rng.choice(alphabet) for _ in range(rng.randint(0, 90))) for _ in range(40)]
    for q in queries:
        got = mivo.find_matches_above_threshold(q, candidates, 0.0)
        assert got == model.find_matches_above_threshold(q, candidates, 0.0)


def test_search_against_model():
    rng = random.Random(SEED + 3)
    for _ in range(60):
        query = model.random_text(rng, 10) if rng.random() < 0.9 else model.random_text(rng, 90)
        candidates = [model.related_pair(rng, 10)[rng.randint(0, 1)] for _ in range(rng.randint(0, 30))]
        if candidates and rng.random() < 0.5:
            candidates.append(query)  # an exact hit, possibly repeated
            candidates.insert(rng.randint(0, len(candidates)), query)
        threshold = rng.choice([0.0, 0.5, 0.7, 0.9, 1.0])
        assert mivo.find_best_match(query, candidates) == model.find_best_match(query, candidates)
        assert mivo.find_matches_above_threshold(query, candidates, threshold) == model.find_matches_above_threshold(
            query, candidates, threshold
        )


def dictionary_words(count: int) -> list[str]:
    path = pathlib.Path("/usr/share/dict/words")
    if not path.exists():
        pytest.skip("no word list")
    words = path.read_text(encoding="utf-8", errors="replace").split()
    return random.Random(SEED).sample(words, count)


@pytest.mark.parametrize("query", ["aplication", "Ωmega", "colour"])
def test_search_over_words_against_model(query):
    # Many candidates of many lengths: those that cannot reach the best score
    # so far (or the threshold) are passed over, which must not change results.
    words = dictionary_words(1500) + ["application", "zebra", "omega", "color", "colour"]
    assert mivo.find_best_match(query, words) == model.find_best_match(query, words)
    for threshold in (0.8, 0.9):
        assert mivo.find_matches_above_threshold(query, words, threshold) == model.find_matches_above_threshold(
            query, words, threshold
        )


# ------------------------------------------------------- metric properties


def test_symmetry_bounds_and_identity():
    for a, b in PAIRS:
        for name in ("levenshtein", "osa_distance", "hamming", "jaro"):
            assert getattr(mivo, name)(a, b) == getattr(mivo, name)(b, a), (name, a, b)
        for name in ("jaro", "jaro_winkler", "best_match", "normalized_levenshtein"):
            assert 0.0 <= getattr(mivo, name)(a, b) <= 1.0
        assert (mivo.normalized_levenshtein(a, b) == 1.0) == (a == b)
        assert mivo.jaro(a, a) == mivo.jaro_winkler(a, a) == mivo.best_match(a, a) == 1.0
        assert mivo.osa_distance(a, a) == mivo.hamming(a, a) == mivo.levenshtein(a, a) == 0


def test_levenshtein_triangle_inequality():
    rng = random.Random(SEED + 5)
    for _ in range(400):
        a, b = model.related_pair(rng)
        c = model.random_text(rng)
        assert mivo.levenshtein(a, c) <= mivo.levenshtein(a, b) + mivo.levenshtein(b, c)


# ----------------------------------------------------------------- refusals


@pytest.mark.parametrize(
    "candidates, message",
    [
        ("abc", "argument 'candidates': Can't extract `str` to `Vec`"),
        ({"x"}, "argument 'candidates': 'set' object cannot be cast as 'Sequence'"),
        ({"x": 1}, "argument 'candidates': 'dict' object cannot be cast as 'Sequence'"),
        ((c for c in "ab"), "argument 'candidates': 'generator' object cannot be cast as 'Sequence'"),
        (["a", 1], "argument 'candidates': 'int' object cannot be cast as 'str'"),
    ],
)
def test_candidate_list_refusals(candidates, message):
    with pytest.raises(TypeError) as info:
        mivo.find_matches_above_threshold("a", candidates, 0.5)
    assert str(info.value) == message


def test_candidate_sequences_accepted():
    assert mivo.find_best_match("app", ("apple", "application", "apply"))["index"] == 2
    assert mivo.find_best_match("b", range(0)) == {"index": 0, "score": 0.0}

    class Words:
        def __len__(self):
            raise RuntimeError("length unknown")  # ignored: nothing is reserved

        def __getitem__(self, i):
            if i >= 2:
                raise IndexError
            return ["bat", "b"][i]

    assert mivo.find_best_match("b", Words()) == {"index": 1, "score": 1.0}


def test_threshold_conversion():
    assert len(mivo.find_matches_above_threshold("a", ["a", "b"], 1)) == 1
    with pytest.raises(TypeError, match=r"^argument 'threshold': must be real number, not str$"):
        mivo.find_matches_above_threshold("a", ["a"], "x")
    with pytest.raises(TypeError, match=r"^argument 'candidates'"):  # the first failure wins
        mivo.find_matches_above_threshold("a", "abc", "x")
