"""cdist and extract against mivo's one-pair functions: every scorer, dtype,
worker count and cutoff on text of every storage width and of lengths around
the lanes and words of the kernels; extract's order against a sorted brute
force; the inputs they take and the ones they refuse."""

from __future__ import annotations

import _thread
import random
import threading

import mivo_collections as mc
import numpy as np
import pytest

import mivo

from .models import raises

RNG = random.Random(20240922)
SCORERS = ["levenshtein", "normalized_levenshtein", "jaro", "jaro_winkler", "osa_distance", "best_match"]
DISTANCES = {"levenshtein", "osa_distance"}
DTYPES = [None, np.bool_, np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint16, np.uint32, np.uint64,
          np.float32, np.float64]
CUTOFFS = {"distance": [None, 0, 3, 40, 2**70], "similarity": [None, 0.5, 0.91]}  # 2**70: no cutoff
# Storage widths of str: ASCII and Latin-1 (1 byte), BMP (2), astral (4).
ALPHABETS = ["abcde ", "aàbçé\u00ff", "aα\u0161日β", "a😀\U00020061é"]
# Lengths around the lanes (8, 16, 32, 64 bits), the long lanes (words of 64
# up to 512) and beyond them.
LENGTHS = [0, 1, 2, 7, 8, 9, 16, 17, 32, 33, 63, 64, 65, 127, 128, 129, 500, 513]


def text(chars, length):
    return "".join(RNG.choice(chars) for _ in range(length))


def edited(s):
    """s with a character inserted and, where it is long enough, one replaced and two neighbours swapped."""
    out = list(s)
    out.insert(RNG.randrange(len(out) + 1), RNG.choice("xyé日😀"))
    if len(out) > 2:
        out[RNG.randrange(len(out))] = RNG.choice("abc")
        p = RNG.randrange(1, len(out))
        out[p - 1], out[p] = out[p], out[p - 1]
    return "".join(out)


QUERIES = [text(a, n) for a in ALPHABETS for n in LENGTHS[::2]] + ["martha", "dwayne", "abcdefgh"]
CHOICES = ([text(a, n) for a in ALPHABETS for n in LENGTHS] + [edited(q) for q in QUERIES]
           + [text("abcde", 5) for _ in range(70)] + ["marhta", "duane", "abcdefgx", "", "martha"])


def oracle(scorer, queries=QUERIES, choices=CHOICES):
    f = getattr(mivo, scorer)
    return np.array([[f(q, c) for c in choices] for q in queries], np.int64 if scorer in DISTANCES else np.float64)


ORACLES = {s: oracle(s) for s in SCORERS}


def expected(scorer, dtype, cutoff):
    want = ORACLES[scorer].copy()
    if cutoff is not None and scorer in DISTANCES:
        want = np.minimum(want, min(cutoff + 1, 2**62))
    elif cutoff is not None:
        want[want < cutoff] = 0.0
    return want.astype(dtype or (np.int32 if scorer in DISTANCES else np.float64))


@pytest.mark.parametrize("scorer", SCORERS)
def test_cdist_equals_the_one_pair_functions(scorer):
    """Bit for bit, for every dtype (as NumPy's astype converts), worker count
    and cutoff."""
    kind = "distance" if scorer in DISTANCES else "similarity"
    for dtype in DTYPES:
        for cutoff in CUTOFFS[kind]:
            want = expected(scorer, dtype, cutoff)
            for workers in (1, 2, -1):
                got = mc.cdist(QUERIES, CHOICES, getattr(mivo, scorer), dtype=dtype, score_cutoff=cutoff,
                               workers=workers)
                assert (got.dtype, got.shape) == (want.dtype, want.shape)
                assert got.tobytes() == want.tobytes(), (dtype, cutoff, workers)


def few_letters(letters):
    queries = [text(letters, RNG.randint(0, 70)) for _ in range(30)] + [text(letters, 100), text(letters, 300)]
    return queries, [text(letters, RNG.randint(0, 130)) for _ in range(120)] + [edited(q) for q in queries]


WIDE = "".join(chr(0x4E00 + k) for k in range(3000))
HUGE = "".join(chr(0x4E00 + k % 20000) for k in range(20000))


@pytest.mark.parametrize("queries, choices", [
    few_letters("ab"), few_letters("aAb"), few_letters("0😀"),
    ([WIDE, HUGE], [WIDE[::7], WIDE[100:800], "a" + HUGE[5:600], "abc", ""]),
], ids=["ab", "aAb", "0😀", "long queries"])
def test_few_letters_and_long_queries(queries, choices):
    """Few letters, many repeats: Jaro's greedy matching and transpositions,
    OSA's swapped pairs. Queries past 64 values take the multi-word prepared
    query, past the budgets of the prepared masks (20,000 distinct
    characters) or of the Jaro position table (3,000) the plain paths."""
    for scorer in SCORERS:
        assert np.array_equal(mc.cdist(queries, choices, scorer), oracle(scorer, queries, choices)), scorer
        for query in queries[-2:]:
            assert mc.extract(query, choices, scorer, limit=7) == brute_force_extract(query, choices, scorer, 7, None)


def test_cdist_tiles_of_many_choices():
    """More choices than one tile holds, and more distinct characters than
    one tile's alphabet: the later tiles' columns are as right as the first."""
    choices = [text("abcdefg", RNG.choice([3, 5, 12])) for _ in range(17000)]
    choices += [chr(0x4E00 + k) + chr(0x4E00 + 3 * k % 5000) for k in range(5000)]
    queries = ["abc", "gfedcba", "\u4e00\u4e03"]
    for scorer in ("levenshtein", "jaro_winkler"):
        assert np.array_equal(mc.cdist(queries, choices, scorer, workers=2), oracle(scorer, queries, choices))


@pytest.mark.parametrize("dtype", ["u1", int, np.dtype("float32"), "?"])
def test_cdist_dtype_as_numpy_reads_it(dtype):
    got = mc.cdist(QUERIES, CHOICES, dtype=dtype)
    assert got.dtype == np.dtype(dtype) and got.tobytes() == ORACLES["levenshtein"].astype(dtype).tobytes()


@pytest.mark.parametrize("scorer,dtype", [("levenshtein", np.int32), ("jaro", np.float64)])
def test_cdist_empty_lists(scorer, dtype):
    for queries, choices in [([], CHOICES), (QUERIES, []), ([], [])]:
        got = mc.cdist(queries, choices, scorer)
        assert (got.shape, got.dtype) == ((len(queries), len(choices)), dtype)


def test_cdist_takes_any_iterable_of_str():
    pd = pytest.importorskip("pandas")
    queries, choices = QUERIES[:6], CHOICES[:40]
    want = ORACLES["jaro_winkler"][:6, :40]
    for q, c in [(tuple(queries), np.array(choices)), (iter(queries), pd.Series(choices)),
                 (dict.fromkeys(queries), (c for c in choices)), (np.array(queries, dtype=object), choices)]:
        assert np.array_equal(mc.cdist(q, c, "jaro_winkler"), want)


def test_cdist_holds_the_strings_it_reads():
    """Another thread replaces every item by an equal new str while the lock
    is released: the old ones are freed unless cdist holds them, and the
    result stays the same."""
    choices = [text("abcdef", RNG.randint(2, 60)) for _ in range(20000)]
    queries = choices[:1500]
    want = mc.cdist(queries, choices, "osa_distance")
    stop = threading.Event()

    def churn():
        while not stop.wait(0.001):
            choices[:] = [(s + "x")[:-1] for s in choices]
            queries[:] = [(s + "x")[:-1] for s in queries]
            junk = ["#" * len(s) for s in choices]  # takes the memory of the old ones
            del junk

    thread = threading.Thread(target=churn)
    thread.start()
    try:
        for workers in (1, 2):
            assert np.array_equal(mc.cdist(queries, choices, "osa_distance", workers=workers), want)
    finally:
        stop.set()
        thread.join()


def test_ctrl_c_stops_a_long_matrix():
    choices = [text("abcdefghij", 60) for _ in range(20000)]
    timer = threading.Timer(0.05, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        mc.cdist(choices[:4000], choices, dtype=np.uint8, workers=2)
    timer.join()


SCORER_REFUSAL = ("scorer must be one of mivo.levenshtein, mivo.normalized_levenshtein, mivo.jaro, mivo.jaro_winkler, "
                  "mivo.osa_distance and mivo.best_match, or its name as a str, ")


def brute_force_extract(query, choices, scorer, limit, cutoff):
    f = getattr(mivo, scorer)
    scored = [(c, f(query, c), i) for i, c in enumerate(choices)]
    if scorer in DISTANCES:
        kept = sorted((t for t in scored if cutoff is None or t[1] <= cutoff), key=lambda t: (t[1], t[2]))
    else:
        kept = sorted((t for t in scored if cutoff is None or t[1] >= cutoff), key=lambda t: (-t[1], t[2]))
    return kept if limit is None else kept[:limit]


@pytest.mark.parametrize("scorer", SCORERS)
def test_extract_order_and_ties(scorer):
    """Best first, ties by smaller index; duplicates make ties."""
    choices = CHOICES + CHOICES[-40:]
    cutoff = {"distance": [None, 2, 30], "similarity": [None, 0.7, 1.0]}["distance" if scorer in DISTANCES
                                                                          else "similarity"]
    for query in QUERIES[::3] + ["abcde", "martha", ""]:
        for limit in (None, 0, 1, 5, 10_000):
            for c in cutoff:
                got = mc.extract(query, choices, getattr(mivo, scorer), limit=limit, score_cutoff=c)
                want = brute_force_extract(query, choices, scorer, limit, c)
                assert got == want
                assert all(g[0] is choices[g[2]] for g in got)


def test_default_scorers_and_limit():
    choices = ["apple", "application", "apply", "banana", "ape", "maple", "grape"]
    assert mc.extract("app", choices) == brute_force_extract("app", choices, "best_match", 5, None)
    assert mc.cdist(["app"], choices).tolist() == [[mivo.levenshtein("app", c) for c in choices]]


@pytest.mark.parametrize(
    "call,exc,message",
    [
        (lambda: mc.cdist("abc", ["a"]), TypeError,
         "argument 'queries': expected an iterable of str, got a single str"),
        (lambda: mc.cdist(["a"], 3), TypeError, "argument 'choices': expected an iterable of str, got 'int'"),
        (lambda: mc.cdist(["a", "b", 7], ["a"]), TypeError, "argument 'queries': item 2 must be str, not 'int'"),
        (lambda: mc.extract("a", iter(["a", None])), TypeError,
         "argument 'choices': item 1 must be str, not 'NoneType'"),
        (lambda: mc.extract(1, ["a"]), TypeError, "argument 'query': 'int' object cannot be cast as 'str'"),
        (lambda: mc.cdist(["a"], ["\ud800"]), UnicodeEncodeError, None),
        (lambda: mc.cdist(["a"], ["a"], mivo.hamming), ValueError,
         SCORER_REFUSAL + "got <built-in function hamming>"),
        (lambda: mc.extract("a", ["a"], "Levenshtein"), ValueError, SCORER_REFUSAL + "got 'Levenshtein'"),
        (lambda: mc.cdist(["a"], ["a"], dtype=np.complex128), ValueError,
         "dtype must be bool, an integer type, float32 or float64 (native byte order), "
         "got dtype('complex128')"),
        (lambda: mc.cdist(["a"], ["a"], dtype=">i4"), ValueError,
         "dtype must be bool, an integer type, float32 or float64 (native byte order), got dtype('>i4')"),
        (lambda: mc.cdist(["a"], ["a"], dtype="no such type"), TypeError, "argument 'dtype': "),
        (lambda: mc.cdist(["a"], ["a"], score_cutoff=-1), ValueError,
         "score_cutoff of a distance must be an int from 0, got -1"),
        (lambda: mc.cdist(["a"], ["a"], score_cutoff=1.5), TypeError, "argument 'score_cutoff': "),
        (lambda: mc.cdist(["a"], ["a"], "jaro", score_cutoff=float("nan")), ValueError,
         "score_cutoff must be a number, got nan"),
        (lambda: mc.extract("a", ["a"], limit=-2), ValueError, "limit must be None or an int from 0, "
         "got -2"),
        (lambda: mc.cdist(["a"], ["a"], "jaro", None), TypeError, "cdist() takes from 2 to 3 positional arguments "
         "but 4 were given"),
    ],
)
def test_refusals(call, exc, message):
    raises(call, exc, message)
