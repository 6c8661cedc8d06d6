"""Text SimHash: exact fingerprints, the Python model with FNV-1a over random
Unicode text, distances, similarity, hash search and argument refusals."""

from __future__ import annotations

import random

import pytest

import mivo
from . import strings_models as model

MASK64 = (1 << 64) - 1


@pytest.mark.parametrize(
    "text, expected",
    [
        ("", 0),
        ("a", 0xAF63DC4C8601EC8C),
        ("A", 0xAF63DC4C8601EC8C),
        ("ab", 0xAF63DC4C8601E084),
        ("abc", 0xE71FA2190541574B),
        ("iPhone 14", 0x039A061927E20D7A),
        ("iPhone 15", 0x039A071927E2092E),
    ],
)
def test_simhash_values(text, expected):
    assert mivo.simhash(text) == expected
    assert mivo.simhash(text=text) == expected


def test_single_character_is_its_fnv_hash():
    assert mivo.simhash("a") == 12638187200555641996 == model.fnv1a64(b"a")
    assert mivo.simhash("ab") == model.fnv1a64(b"a") & model.fnv1a64(b"b")
    assert mivo.simhash("abc") == model.fnv1a64(b"abc")


def test_iphone_tokens():
    assert model.simhash_tokens("iphone 14") == ["iph", "pho", "hon", "one", "ne ", "e 1", " 14", "iphone", "14"]


def test_distance_and_similarity_values():
    h14, h15 = mivo.simhash("iPhone 14"), mivo.simhash("iPhone 15")
    assert mivo.simhash_distance(h14, h15) == 5
    assert mivo.simhash_distance(hash1=h14, hash2=h15) == 5
    assert mivo.simhash_similarity("iPhone 14", "iPhone 15") == 0.921875
    assert mivo.simhash_similarity("iPhone", "Galaxy") == 0.46875
    assert mivo.simhash_distance(0, MASK64) == 64
    assert mivo.simhash_similarity("", "") == 1.0


def test_find_similar_hashes_values():
    q = mivo.simhash("iPhone 14")
    cands = [mivo.simhash(t) for t in ["iPhone 14 Pro", "iPhone 13", "Galaxy S23"]]
    assert [mivo.simhash_distance(q, c) for c in cands] == [8, 3, 24]
    assert mivo.find_similar_hashes(q, cands, 10) == [0, 1]
    assert mivo.find_similar_hashes(q, cands, 8) == [0, 1]
    assert mivo.find_similar_hashes(q, cands, 7) == [1]
    assert mivo.find_similar_hashes(q, [], 5) == []
    assert mivo.find_similar_hashes(q, [q], 0) == [0]
    assert mivo.find_similar_hashes(q, (q, q ^ 1), 4294967295) == [0, 1]


def test_simhash_against_model():
    rng = random.Random(4242)
    for _ in range(800):
        text = model.random_text(rng, rng.choice([2, 3, 5, 40]))
        assert mivo.simhash(text) == model.simhash(text), repr(text)


def test_simhash_long_text_against_model():
    rng = random.Random(4243)
    for _ in range(5):
        text = " ".join(model.random_text(rng, 12) for _ in range(150))
        assert mivo.simhash(text) == model.simhash(text)


def test_similarity_and_search_against_model():
    rng = random.Random(4244)
    texts = [model.random_text(rng, 30) for _ in range(200)]
    hashes = [model.simhash(t) for t in texts]
    for i in range(0, 200, 2):
        d = bin(hashes[i] ^ hashes[i + 1]).count("1")
        assert mivo.simhash_distance(hashes[i], hashes[i + 1]) == d
        assert mivo.simhash_similarity(texts[i], texts[i + 1]) == d * -0.015625 + 1.0
    for max_distance in (0, 20, 28, 32, 40, 64):
        q = hashes[0]
        expected = [i for i, h in enumerate(hashes) if bin(h ^ q).count("1") <= max_distance]
        assert mivo.find_similar_hashes(q, hashes, max_distance) == expected


def test_similar_texts_are_close():
    a = "The quick brown fox jumps over the lazy dog near the river bank."
    b = "The quick brown fox jumped over the lazy dog near the river bank."
    c = "Completely unrelated sentence about quarterly revenue figures."
    assert mivo.simhash_distance(mivo.simhash(a), mivo.simhash(b)) < mivo.simhash_distance(
        mivo.simhash(a), mivo.simhash(c)
    )


def test_index_protocol_accepted():
    class Idx:
        def __index__(self):
            return 3

    assert mivo.simhash_distance(Idx(), 0) == 2
    assert mivo.find_similar_hashes(Idx(), [3, Idx()], Idx()) == [0, 1]


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: mivo.simhash_distance(-1, 0), OverflowError, None),
        (lambda: mivo.simhash_distance(0, 1 << 64), OverflowError, None),
        (lambda: mivo.simhash_distance(1.0, 0), TypeError, "argument 'hash1': "),
        (lambda: mivo.simhash(1), TypeError, "argument 'text': 'int' object cannot be cast as 'str'"),
        (lambda: mivo.simhash_similarity("a", None), TypeError, "argument 'b': 'NoneType' object cannot be cast as 'str'"),
        (
            lambda: mivo.find_similar_hashes(0, [0], -1),
            OverflowError,
            "out of range integral type conversion attempted",
        ),
        (
            lambda: mivo.find_similar_hashes(0, [0], 1 << 32),
            OverflowError,
            "out of range integral type conversion attempted",
        ),
        (lambda: mivo.find_similar_hashes(0, [0], 1 << 64), OverflowError, None),
        (lambda: mivo.find_similar_hashes(0, [-1], 1), OverflowError, None),
        (lambda: mivo.find_similar_hashes(-1, [0], 1), OverflowError, None),
        (
            lambda: mivo.find_similar_hashes(0, "12", 1),
            TypeError,
            "argument 'candidate_hashes': Can't extract `str` to `Vec`",
        ),
        (
            lambda: mivo.find_similar_hashes(0, {1, 2}, 1),
            TypeError,
            "argument 'candidate_hashes': 'set' object cannot be cast as 'Sequence'",
        ),
        (lambda: mivo.find_similar_hashes(0, [0], 1.5), TypeError, "argument 'max_distance': "),
        (
            lambda: mivo.find_similar_hashes(0, [0]),
            TypeError,
            "find_similar_hashes() missing 1 required positional argument: 'max_distance'",
        ),
    ],
)
def test_refusals(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    text = str(info.value)
    if error is OverflowError:
        assert not text.startswith("argument")
    if message is not None:
        assert text.startswith(message) if message.endswith(": ") else text == message
