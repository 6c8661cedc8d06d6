"""Jaro, Jaro-Winkler, OSA, Hamming, best match and the candidate searches:
exact values, differential tests against the Python models, metric
properties, argument refusals and docstrings."""

from __future__ import annotations

import doctest
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


SHORT_PAIRS = pairs(1500, SEED)
# Beyond 64 code points the metrics take their general paths.
LONG_PAIRS = pairs(40, SEED + 1, max_len=150)

# ------------------------------------------------------------- exact values


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("martha", "marhta", 0.9444444444444445),
        ("", "", 1.0),
        ("a", "", 0.0),
        ("", "a", 0.0),
        ("ab", "ba", 0.0),
        ("abcxyz", "bcaxyz", 0.9444444444444445),
        ("MARTHA", "martha", 0.0),
        ("hello", "world", 0.4666666666666666),
        ("a", "ab", 0.8333333333333334),
    ],
)
def test_jaro_values(a, b, expected):
    assert mivo.jaro(a, b) == expected


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("martha", "marhta", 0.9611111111111111),
        ("", "", 1.0),
        ("hello", "world", 0.4666666666666666),
        ("dwayne", "duane", 0.8400000000000001),
        ("dixon", "dicksonx", 0.8133333333333332),
        ("abcdefgh", "abcdefgx", 0.95),
        ("a", "ab", 0.8500000000000001),
    ],
)
def test_jaro_winkler_values(a, b, expected):
    assert mivo.jaro_winkler(a, b) == expected


def test_jaro_winkler_below_threshold_is_unchanged():
    assert mivo.jaro_winkler("hello", "world") == mivo.jaro("hello", "world")


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("ca", "ac", 1),
        ("abcd", "acbd", 1),
        ("abcdef", "badcfe", 3),
        ("ca", "abc", 3),
        ("kitten", "sitting", 3),
        ("", "", 0),
        ("", "abc", 3),
        ("abc", "", 3),
        ("héllo", "hello", 1),
        ("😀🎉", "🎉😀", 1),
    ],
)
def test_osa_values(a, b, expected):
    assert mivo.osa_distance(a, b) == expected


def test_osa_transposition_beats_levenshtein():
    assert mivo.levenshtein("ca", "ac") == 2 and mivo.osa_distance("ca", "ac") == 1


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("karolin", "kathrin", 3),
        ("hello", "world!", None),
        ("", "", 0),
        ("héllo", "hello", 1),
        ("e\u0301", "e", None),
        ("😀", "😁", 1),
    ],
)
def test_hamming_values(a, b, expected):
    assert mivo.hamming(a, b) == expected


@pytest.mark.parametrize(
    "a, b, expected",
    [("hello", "hallo", 0.88), ("", "", 1.0), ("abc", "", 0.0), ("", "abc", 0.0)],
)
def test_best_match_values(a, b, expected):
    assert mivo.best_match(a, b) == expected


def test_find_best_match_last_of_equal_scores_wins():
    assert mivo.find_best_match("app", ["apple", "application", "apply"]) == {
        "index": 2,
        "score": 0.9066666666666667,
    }


def test_find_best_match_empty_list():
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
    [(0.0, [0, 1, 2, 3]), (1.0000001, []), (math.nan, []), (-math.inf, [0, 1, 2, 3]), (1, [])],
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
    for a, b in SHORT_PAIRS + LONG_PAIRS:
        assert ours(a, b) == theirs(a, b), (a, b)


@pytest.mark.parametrize("name", ["jaro", "jaro_winkler", "hamming", "best_match"])
def test_pairwise_equal_length_pairs(name):
    # Equal lengths exercise Hamming's counting branch and Jaro's widest windows.
    rng = random.Random(SEED + 2)
    ours, theirs = getattr(mivo, name), getattr(model, name)
    for _ in range(500):
        a = model.random_text(rng, 70)
        b = "".join(c if rng.random() < 0.7 else rng.choice(model.ALPHABETS["greek"]) for c in a)
        assert ours(a, b) == theirs(a, b), (a, b)


@pytest.mark.parametrize("alphabet", ["ab", "abΣσ", "a😀\u0301"])
def test_small_alphabets_long_strings(alphabet):
    # Many repeats of few characters stress the greedy matching on both the
    # word-sized (up to 64) and the general path.
    rng = random.Random(SEED + 6)
    for _ in range(60):
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


@pytest.mark.parametrize("query", ["aplication", "zebbra", "Ωmega", "colour"])
def test_search_over_words_against_model(query):
    # Many candidates of many lengths: those that cannot reach the best score
    # so far (or the threshold) are passed over, which must not change results.
    words = dictionary_words(1500) + ["application", "zebra", "omega", "color", "colour"]
    assert mivo.find_best_match(query, words) == model.find_best_match(query, words)
    for threshold in (0.8, 0.9):
        assert mivo.find_matches_above_threshold(query, words, threshold) == model.find_matches_above_threshold(
            query, words, threshold
        )


def test_search_scores_equal_pairwise_best_match():
    rng = random.Random(SEED + 4)
    query = "ΟΔΟΣ straße"
    candidates = [model.random_text(rng, 14) for _ in range(300)] + [query.lower(), query]
    got = mivo.find_matches_above_threshold(query, candidates, 0.0)
    assert [r["score"] for r in got] == [mivo.best_match(query, c) for c in candidates]


# ------------------------------------------------------- metric properties


def test_symmetry():
    for a, b in SHORT_PAIRS + LONG_PAIRS:
        assert mivo.levenshtein(a, b) == mivo.levenshtein(b, a)
        assert mivo.jaro(a, b) == mivo.jaro(b, a)
        assert mivo.hamming(a, b) == mivo.hamming(b, a)
        assert mivo.osa_distance(a, b) == mivo.osa_distance(b, a)


def test_levenshtein_triangle_inequality():
    rng = random.Random(SEED + 5)
    for _ in range(400):
        a, b = model.related_pair(rng)
        c = model.random_text(rng)
        assert mivo.levenshtein(a, c) <= mivo.levenshtein(a, b) + mivo.levenshtein(b, c)


def test_osa_bounded_by_levenshtein():
    for a, b in SHORT_PAIRS:
        assert mivo.osa_distance(a, b) <= mivo.levenshtein(a, b)


@pytest.mark.parametrize("name", ["jaro", "jaro_winkler", "best_match", "normalized_levenshtein"])
def test_scores_within_unit_interval(name):
    fn = getattr(mivo, name)
    for a, b in SHORT_PAIRS + LONG_PAIRS:
        s = fn(a, b)
        assert 0.0 <= s <= 1.0
        assert (s == 1.0) == (a == b) or name != "normalized_levenshtein"


def test_identity_scores_one():
    for a, _ in SHORT_PAIRS[:200]:
        assert mivo.jaro(a, a) == mivo.jaro_winkler(a, a) == mivo.best_match(a, a) == 1.0
        assert mivo.osa_distance(a, a) == mivo.hamming(a, a) == 0


# ----------------------------------------------------------------- refusals


TWO_STRING_FUNCTIONS = ["jaro", "jaro_winkler", "hamming", "osa_distance", "best_match"]


@pytest.mark.parametrize("name", TWO_STRING_FUNCTIONS)
def test_two_string_functions_refuse_non_str(name):
    fn = getattr(mivo, name)
    with pytest.raises(TypeError, match=r"^argument 'a': 'int' object cannot be cast as 'str'$"):
        fn(1, "a")
    with pytest.raises(TypeError, match=r"^argument 'b': 'bytes' object cannot be cast as 'str'$"):
        fn("a", b"a")
    with pytest.raises(TypeError, match=rf"^{name}\(\) missing 1 required positional argument: 'b'$"):
        fn("a")
    with pytest.raises(TypeError, match=rf"^{name}\(\) takes 2 positional arguments but 3 were given$"):
        fn("a", "b", "c")
    with pytest.raises(UnicodeEncodeError):
        fn("\ud800", "a")
    assert fn(a="abc", b="abd") == fn("abc", "abd")


@pytest.mark.parametrize("fn", ["find_best_match", "find_matches_above_threshold"])
@pytest.mark.parametrize(
    "candidates, error, message",
    [
        ("abc", TypeError, "argument 'candidates': Can't extract `str` to `Vec`"),
        ({"x"}, TypeError, "argument 'candidates': 'set' object cannot be cast as 'Sequence'"),
        ({"x": 1}, TypeError, "argument 'candidates': 'dict' object cannot be cast as 'Sequence'"),
        ((c for c in "ab"), TypeError, "argument 'candidates': 'generator' object cannot be cast as 'Sequence'"),
        (["a", 1], TypeError, "argument 'candidates': 'int' object cannot be cast as 'str'"),
        (5, TypeError, "argument 'candidates': 'int' object cannot be cast as 'Sequence'"),
    ],
)
def test_candidate_list_refusals(fn, candidates, error, message):
    args = ("a", candidates) if fn == "find_best_match" else ("a", candidates, 0.5)
    with pytest.raises(error) as info:
        getattr(mivo, fn)(*args)
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
    assert len(mivo.find_matches_above_threshold("a", ["a", "b"], True)) == 1
    with pytest.raises(TypeError, match=r"^argument 'threshold': must be real number, not str$"):
        mivo.find_matches_above_threshold("a", ["a"], "x")
    with pytest.raises(TypeError, match=r"^argument 'query': 'NoneType' object cannot be cast as 'str'$"):
        mivo.find_best_match(None, ["a"])


def test_conversion_order_first_failure_wins():
    with pytest.raises(TypeError, match=r"^argument 'candidates'"):
        mivo.find_matches_above_threshold("a", "abc", "x")


# --------------------------------------------------------------- docstrings

SUMMARIES = {
    "jaro": ("jaro(a, b)", "Compute the Jaro similarity between two strings."),
    "jaro_winkler": ("jaro_winkler(a, b)", "Compute the Jaro-Winkler similarity between two strings."),
    "hamming": ("hamming(a, b)", "Compute the Hamming distance between two strings."),
    "osa_distance": (
        "osa_distance(a, b)",
        "Compute the OSA (Optimal String Alignment) distance between two strings.",
    ),
    "best_match": ("best_match(a, b)", "Compute the best matching similarity between two strings."),
    "find_best_match": (
        "find_best_match(query, candidates)",
        "Find the best match for a query string in a list of candidates.",
    ),
    "find_matches_above_threshold": (
        "find_matches_above_threshold(query, candidates, threshold)",
        "Find all matches above a threshold score.",
    ),
    "levenshtein_with_opts": ("levenshtein_with_opts(a, b, opts)", "Compute Levenshtein distance with custom options."),
    "simhash": ("simhash(text)", "Compute the SimHash fingerprint of a string."),
    "simhash_distance": ("simhash_distance(hash1, hash2)", "Compute the Hamming distance between two SimHash values."),
    "simhash_similarity": (
        "simhash_similarity(a, b)",
        "Compute the normalized SimHash similarity between two strings.",
    ),
    "find_similar_hashes": (
        "find_similar_hashes(query_hash, candidate_hashes, max_distance)",
        "Find all hashes within a given distance threshold.",
    ),
    "SimilarityOpts": (
        "SimilarityOpts(case_sensitive=True, trim_whitespace=False, prefix_scale=0.1)",
        "Options for configuring string similarity algorithms.",
    ),
}


@pytest.mark.parametrize("name", sorted(SUMMARIES))
def test_docstring_layout(name):
    signature, summary = SUMMARIES[name]
    obj = getattr(mivo, name)
    assert name + obj.__text_signature__ == signature
    doc = obj.__doc__
    assert doc.split("\n\n")[0] == summary
    for section in ("Args:", "Returns:" if name != "SimilarityOpts" else "Args:", "Example:"):
        assert "\n" + section + "\n" in doc


@pytest.mark.parametrize("name", sorted(SUMMARIES))
def test_docstring_examples_run(name):
    obj = getattr(mivo, name)
    test = doctest.DocTestParser().get_doctest(obj.__doc__, {"mivo": mivo}, name, None, 0)
    assert test.examples, "no example"
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test, out=lambda s: None)
    assert runner.failures == 0, runner.summarize(verbose=False)
