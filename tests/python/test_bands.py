"""LSH bands: the 128-bit SimHash of the raw values cut into base32hex bands."""
import numpy as np
import pytest

import mivo

from .models import SEED_SIMHASH, b32, normalize_model, unb32

V = np.random.default_rng(768).standard_normal(768).astype(np.float32)


def raises(call, exc):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    return str(info.value)


@pytest.mark.parametrize("bands,chars", [(1, 26), (2, 13), (4, 7), (8, 4), (16, 2)])
def test_band_lengths(bands, chars):
    texts = mivo.embedding_to_bands(V, bands)
    assert type(texts) is list and len(texts) == bands
    assert all(type(t) is str and len(t) == chars for t in texts)


def test_default_is_four_bands():
    assert [len(t) for t in mivo.embedding_to_bands(V)] == [7, 7, 7, 7]


def hash_bytes(values, bands, seed=None):
    return b"".join(unb32(t) for t in mivo.embedding_to_bands(values, bands, seed))


def test_bands_are_consecutive_slices_of_one_hash():
    whole = hash_bytes(V, 1)
    assert len(whole) == 16
    for bands in (2, 4, 8, 16):
        texts = mivo.embedding_to_bands(V, bands)
        width = 16 // bands
        assert texts == [b32(whole[i * width:(i + 1) * width]) for i in range(bands)]
    assert mivo.embedding_to_bands(V, 16) == [b32(bytes([x])) for x in whole]


@pytest.mark.parametrize("bands", [0, 3, 5, 6, 7, 9, 15, 17, 32, 255])
def test_other_band_counts_give_empty_list(bands):
    assert mivo.embedding_to_bands(V, bands) == []


@pytest.mark.parametrize("bands", [256, 1000, -1])
def test_band_count_out_of_range(bands):
    assert "argument" not in raises(lambda: mivo.embedding_to_bands(V, bands), OverflowError)


def test_zero_hash():
    assert mivo.embedding_to_bands([]) == ["0000000"] * 4
    assert mivo.embedding_to_bands(np.zeros(768, np.float32)) == ["0000000"] * 4
    assert mivo.embedding_to_bands([0.0, -0.0], 1) == ["0" * 26]


def test_seed_default():
    default = mivo.embedding_to_bands(V)
    assert mivo.embedding_to_bands(V, seed=None) == default
    assert mivo.embedding_to_bands(V, 4, None) == default
    assert mivo.embedding_to_bands(V, 4, SEED_SIMHASH) == default
    assert mivo.embedding_to_bands(V, 4, 0x4D49564F53494D48) == default
    assert mivo.embedding_to_bands(V, 4, 0) != default
    assert mivo.embedding_to_bands(V, 4, SEED_SIMHASH + 1) != default
    assert len(mivo.embedding_to_bands(V, 4, 2**64 - 1)) == 4


def test_bands_match_mini128_of_the_normalised_values():
    # encode() hashes the unit-length vector; hashing those same f32 values
    # here gives the Mini128 payload exactly.
    unit = normalize_model(V)
    payload = unb32(mivo.encode(V, mivo.Profile.Mini128))[2:]
    assert hash_bytes(unit.tolist(), 1) == hash_bytes(unit, 1) == payload


def test_array_and_list_agree():
    assert mivo.embedding_to_bands(V) == mivo.embedding_to_bands(V.tolist())
    assert mivo.embedding_to_bands(V) == mivo.embedding_to_bands(tuple(V.tolist()))
    assert mivo.embedding_to_bands(V) == mivo.embedding_to_bands(V.astype(np.float64))


def test_values_are_narrowed_to_f32():
    rng = np.random.default_rng(3)
    wide = rng.standard_normal(200).tolist()  # not representable in f32
    narrow = np.array(wide, np.float32).tolist()
    assert mivo.embedding_to_bands(wide, 1) == mivo.embedding_to_bands(narrow, 1)


def test_float_protocol_elements():
    class Two:
        def __float__(self):
            return 2.0

    class Idx:
        def __index__(self):
            return 2

    assert mivo.embedding_to_bands([2, 2.0, True], 1) == mivo.embedding_to_bands([2.0, 2.0, 1.0], 1)
    assert mivo.embedding_to_bands([Two(), Idx()], 1) == mivo.embedding_to_bands([2.0, 2.0], 1)


def test_short_and_unchecked_embeddings_accepted():
    assert len(mivo.embedding_to_bands([0.5, -1.0, 2.0, 3.0, 4.0])) == 4
    assert len(mivo.embedding_to_bands([float("nan"), float("inf"), 1.0])) == 4
    assert len(mivo.embedding_to_bands(np.ones(5000, np.float32), 2)) == 2


def test_longer_embeddings_extend_the_hyperplanes():
    # Appending zeros adds 0 * g terms, which leave a non-zero sum unchanged.
    short = V[:100].tolist()
    assert mivo.embedding_to_bands(short, 1) == mivo.embedding_to_bands(short + [0.0] * 50, 1)


def test_negation_flips_every_bit():
    a = int.from_bytes(hash_bytes(V, 1), "big")
    b = int.from_bytes(hash_bytes(-V, 1), "big")
    assert a ^ b == 2**128 - 1


@pytest.mark.parametrize(
    "kwargs,exc,message",
    [
        ({"embedding": "abc"}, TypeError, "argument 'embedding': Can't extract `str` to `Vec`"),
        ({"embedding": {1.0}}, TypeError, "argument 'embedding': 'set' object cannot be cast as 'Sequence'"),
        ({"embedding": {1: 1.0}}, TypeError, "argument 'embedding': 'dict' object cannot be cast as 'Sequence'"),
        ({"embedding": 1.0}, TypeError, "argument 'embedding': 'float' object cannot be cast as 'Sequence'"),
        ({"embedding": (x for x in [1.0])}, TypeError,
         "argument 'embedding': 'generator' object cannot be cast as 'Sequence'"),
        ({"embedding": None}, TypeError, "argument 'embedding': 'NoneType' object cannot be cast as 'Sequence'"),
        ({"embedding": ["a"]}, TypeError, "argument 'embedding': must be real number, not str"),
        ({"embedding": [1.0, None]}, TypeError, "argument 'embedding': must be real number, not NoneType"),
        ({"embedding": [1.0], "num_bands": None}, TypeError, "argument 'num_bands': "),
        ({"embedding": [1.0], "num_bands": 4.0}, TypeError, "argument 'num_bands': "),
        ({"embedding": [1.0], "num_bands": "4"}, TypeError, "argument 'num_bands': "),
        ({"embedding": [1.0], "seed": "x"}, TypeError, "argument 'seed': "),
        ({"embedding": [1.0], "seed": 1.5}, TypeError, "argument 'seed': "),
        ({"embedding": [1.0], "seed": -1}, OverflowError, ""),
        ({"embedding": [1.0], "seed": 2**64}, OverflowError, ""),
        ({"embedding": [1.0], "num_bands": 256}, OverflowError, ""),
    ],
    ids=lambda x: repr(x)[:40] if isinstance(x, dict) else None,
)
def test_conversion_errors(kwargs, exc, message):
    text = raises(lambda: mivo.embedding_to_bands(**kwargs), exc)
    assert text.startswith(message)
    if message.endswith(": "):
        assert len(text) > len(message)  # followed by the interpreter's message
    if exc is OverflowError:
        assert "argument" not in text


def test_arguments_converted_in_order():
    # The embedding fails first, then num_bands, then seed.
    assert raises(lambda: mivo.embedding_to_bands("x", None, "y"), TypeError).startswith("argument 'embedding': ")
    assert raises(lambda: mivo.embedding_to_bands([1.0], None, "y"), TypeError).startswith("argument 'num_bands': ")
    # An empty result still converts the seed.
    assert raises(lambda: mivo.embedding_to_bands([1.0], 3, "y"), TypeError).startswith("argument 'seed': ")


def test_error_raised_while_iterating_propagates():
    class Broken:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            if i == 1:
                raise KeyError("boom")
            if i > 1:
                raise IndexError
            return 1.0

    with pytest.raises(KeyError):
        mivo.embedding_to_bands(Broken())


def test_read_only_array_unchanged():
    a = V.copy()
    a.flags.writeable = False
    assert mivo.embedding_to_bands(a) == mivo.embedding_to_bands(V)
    assert a.tobytes() == V.tobytes()


def test_strided_array_is_fine_here():
    # The sequence conversion reads elements one by one; no contiguity rule.
    base = np.repeat(V, 2)
    assert mivo.embedding_to_bands(base[::2]) == mivo.embedding_to_bands(V)


def test_docstring_sections():
    doc = mivo.embedding_to_bands.__doc__
    assert doc.startswith("Generate LSH bands from an embedding for database querying\n\n")
    for text in [
        "Args:\n",
        "    embedding (list[float]): Embedding vector as list of floats\n",
        "    num_bands (int): Number of bands (1, 2, 4, 8, or 16). Default: 4\n",
        "    seed (int, optional): Seed for SimHash generation. Default: 0x4d49564f53494d48\n",
        "Returns:\n    list[str]: List of base32hex band strings",
        "Band Sizes:\n",
        "32 bits = 4 bytes = 7 base32hex chars",
        "Database Usage:\n",
        "WHERE band0 = ? OR band1 = ? OR band2 = ? OR band3 = ?",
    ]:
        assert text in doc, text
    sizes = doc.split("Band Sizes:\n")[1].split("\n\n")[0]
    for bits, chars in [(128, 26), (64, 13), (32, 7), (16, 4), (8, 2)]:
        assert f"{bits} bits = {chars} base32hex chars" in sizes
