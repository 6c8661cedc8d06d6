"""Text SimHash against the Python model (FNV-1a, str.lower()) over random
Unicode text; distances, similarity, hash search, and the conversion and
refusal of their arguments."""

from __future__ import annotations

import random

import pytest

import mivo

from . import strings_models as model
from .models import raises


def test_distance_similarity_and_search_values():
    class Idx:
        def __index__(self):
            return 3

    assert mivo.simhash_distance(Idx(), 0) == 2
    assert mivo.find_similar_hashes(Idx(), [3, Idx()], Idx()) == [0, 1]
    assert mivo.simhash("") == 0 and mivo.simhash_distance(0, 2**64 - 1) == 64
    assert mivo.simhash_similarity("", "") == 1.0
    assert mivo.find_similar_hashes(1, [], 5) == []
    assert mivo.find_similar_hashes(1, (1, 1 ^ 2**63), 4294967295) == [0, 1]


def test_simhash_against_model():
    rng = random.Random(4242)
    texts = [model.random_text(rng, rng.choice([2, 3, 5, 40])) for _ in range(800)]
    texts += [" ".join(model.random_text(rng, 12) for _ in range(150)) for _ in range(5)]
    texts += ["a" * 300, "ab " * 300]  # more than 255 equal tokens
    texts += ["ΑΣ.Σ", "Α\u0301Σ\u0301", "ΑΣ\u00adΒ", "ὈΔΥΣΣΕΎΣ", "ΌΣΟΣ ΜΟΝΟΣ. ΣΑΣ", "İSTANBUL ıi Iİ", "ǅǄǆ ῼ",
              "A\rB\x1cC\u2028D"]
    for text in texts:
        assert mivo.simhash(text) == model.simhash(text), repr(text)


def test_similarity_and_search_against_model():
    rng = random.Random(4244)
    texts = [model.random_text(rng, 30) for _ in range(200)]
    hashes = [model.simhash(t) for t in texts]
    for i in range(0, 200, 2):
        d = bin(hashes[i] ^ hashes[i + 1]).count("1")
        assert mivo.simhash_distance(hashes[i], hashes[i + 1]) == d
        assert mivo.simhash_similarity(texts[i], texts[i + 1]) == d * -0.015625 + 1.0
    for max_distance in (0, 20, 28, 32, 40, 64):
        expected = [i for i, h in enumerate(hashes) if bin(h ^ hashes[0]).count("1") <= max_distance]
        assert mivo.find_similar_hashes(hashes[0], hashes, max_distance) == expected


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: mivo.simhash_distance(-1, 0), OverflowError, ""),
        (lambda: mivo.simhash_distance(1.0, 0), TypeError, "argument 'hash1': "),
        (lambda: mivo.find_similar_hashes(0, [0], 1 << 32), OverflowError,
         "out of range integral type conversion attempted"),
        (lambda: mivo.find_similar_hashes(0, [0], 1 << 64), OverflowError, "Python int too large to convert to C long"),
        (lambda: mivo.find_similar_hashes(0, [-1], 1), OverflowError, ""),
        (lambda: mivo.find_similar_hashes(0, "12", 1), TypeError,
         "argument 'candidate_hashes': Can't extract `str` to `Vec`"),
        (lambda: mivo.find_similar_hashes(0, [0], 1.5), TypeError, "argument 'max_distance': "),
    ],
)
def test_refusals(call, error, message):
    raises(call, error, message)
