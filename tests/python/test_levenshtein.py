import random

import pytest

import mivo

from .models import random_text
from .strings_models import levenshtein as levenshtein_model


@pytest.mark.parametrize(
    "a,b,expected",
    [
        ("", "", 0),
        ("", "héllo", 5),
        ("kitten", "sitting", 3),
        ("sitting", "kitten", 3),
        ("A", "a", 1),
        ("\u00e9", "e\u0301", 2),
        ("\U0001F600", "", 1),
        ("\U0001F600", "\U0001F601", 1),
    ],
)
def test_levenshtein_values(a, b, expected):
    assert mivo.levenshtein(a, b) == expected


@pytest.mark.parametrize(
    "a,b,expected",
    [
        ("", "", 1.0),
        ("", "abc", 0.0),
        ("hello", "hallo", 0.8),
        ("abc", "abd", 0.6666666666666667),
        ("abc", "xyz", 0.0),
    ],
)
def test_normalized_levenshtein_values(a, b, expected):
    assert mivo.normalized_levenshtein(a, b) == expected


@pytest.mark.parametrize("alphabet", ["ascii", "latin", "combining", "cjk", "emoji", "mixed"])
def test_levenshtein_matches_plain_dp(alphabet):
    rng = random.Random(20261206)
    for _ in range(300):
        a = random_text(rng, alphabet, rng.randint(0, 30))
        b = random_text(rng, alphabet, rng.randint(0, 30))
        d = levenshtein_model(a, b)
        assert mivo.levenshtein(a, b) == d, (a, b)
        longest = max(len(a), len(b))
        expected = 1.0 if a == b or longest == 0 else 1.0 - d / longest
        assert mivo.normalized_levenshtein(a, b) == expected


def test_levenshtein_long_strings():
    rng = random.Random(7)
    a = random_text(rng, "mixed", 400)
    b = random_text(rng, "mixed", 350)
    assert mivo.levenshtein(a, b) == levenshtein_model(a, b)


def test_metric_properties():
    rng = random.Random(99)
    for _ in range(200):
        a, b, c = (random_text(rng, "mixed", rng.randint(0, 12)) for _ in range(3))
        ab = mivo.levenshtein(a, b)
        assert ab == mivo.levenshtein(b, a)
        assert mivo.levenshtein(a, c) <= ab + mivo.levenshtein(b, c)
        assert 0.0 <= mivo.normalized_levenshtein(a, b) <= 1.0
