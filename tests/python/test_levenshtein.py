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
