import random

import pytest

import mivo

from . import strings_models as model


@pytest.mark.parametrize(
    "a,b,expected",
    [("", "", 0), ("", "héllo", 5), ("kitten", "sitting", 3), ("sitting", "kitten", 3), ("A", "a", 1),
     ("\u00e9", "e\u0301", 2), ("\U0001F600", "", 1), ("\U0001F600", "\U0001F601", 1)],
)
def test_levenshtein_values(a, b, expected):
    assert mivo.levenshtein(a, b) == expected


@pytest.mark.parametrize(
    "a,b,expected",
    [("", "", 1.0), ("", "abc", 0.0), ("hello", "hallo", 0.8), ("abc", "abd", 0.6666666666666667), ("abc", "xyz", 0.0)],
)
def test_normalized_levenshtein_values(a, b, expected):
    assert mivo.normalized_levenshtein(a, b) == expected


# ASCII text runs on its bytes, other text on decoded scalar values; past 128
# of them the rows leave the stack.
@pytest.mark.parametrize("groups", [("ascii",), ("latin", "combining"), ("cjk",), ("astral",), tuple(model.ALPHABETS)])
def test_levenshtein_matches_plain_dp(groups):
    rng = random.Random(20261206)
    chars = "".join(model.ALPHABETS[g] for g in groups)
    for i in range(150):
        max_len = 200 if i % 10 == 0 else 30
        a, b = ("".join(rng.choice(chars) for _ in range(rng.randint(0, max_len))) for _ in range(2))
        assert mivo.levenshtein(a, b) == model.levenshtein(a, b), (a, b)
        assert mivo.normalized_levenshtein(a, b) == model.normalized_levenshtein(a, b)


# The metrics run on the str objects' own arrays of 1-, 2- or 4-byte code
# points: pairs of every two widths, lengths around the 64-bit words of the
# bit vectors and the SIMD widths of Hamming, long shared prefixes and
# suffixes, and a few long pairs.
WIDTHS = {"latin-1": "abcé\u00ff", "ucs-2": "aé\u0161\u65e5\u0100", "ucs-4": "a\u0161\U0001F600\U00020061"}


@pytest.mark.parametrize("wa", list(WIDTHS))
@pytest.mark.parametrize("wb", list(WIDTHS))
def test_distances_across_storage_widths(wa, wb):
    rng = random.Random(f"{wa}/{wb}")
    lengths = [0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 129]
    for m in lengths:
        n = rng.choice(lengths)
        a = "".join(rng.choice(WIDTHS[wa]) for _ in range(m))
        b = "".join(rng.choice(WIDTHS[wb]) for _ in range(n))
        shared = "".join(rng.choice(WIDTHS[wa]) for _ in range(rng.choice([0, 70])))
        for x, y in ((a, b), (shared + a + shared, shared + b + shared), (a, a[::-1])):
            assert mivo.levenshtein(x, y) == model.levenshtein(x, y), (x, y)
            assert mivo.normalized_levenshtein(x, y) == model.normalized_levenshtein(x, y), (x, y)
            assert mivo.osa_distance(x, y) == model.osa_distance(x, y), (x, y)
            y_same = (y * (len(x) // max(len(y), 1) + 1))[: len(x)] if y else x
            assert mivo.hamming(x, y_same) == model.hamming(x, y_same), (x, y_same)


@pytest.mark.parametrize("alphabet", ["01", "abcdefghij", "àéîõüß", "日本語中文漢字", "😀🎉👍🏽𝐀"])
def test_long_pairs_against_model(alphabet):
    # Few pairs: the model's full table is slow at these lengths.
    rng = random.Random(alphabet)
    a = "".join(rng.choice(alphabet) for _ in range(400))
    b = list(a)
    for _ in range(60):
        k = rng.randrange(len(b))
        op = rng.random()
        if op < 0.3:
            del b[k]
        elif op < 0.6:
            b.insert(k, rng.choice(alphabet))
        elif op < 0.8:
            b[k : k + 2] = b[k : k + 2][::-1]
        else:
            b[k] = rng.choice(alphabet)
    b = "".join(b)
    assert mivo.levenshtein(a, b) == model.levenshtein(a, b)
    assert mivo.osa_distance(a, b) == model.osa_distance(a, b)
