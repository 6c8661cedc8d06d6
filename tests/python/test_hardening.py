"""Hostile arguments: Python code run by a conversion, lying sequences, odd keywords."""
import numpy as np
import pytest

import mivo


class ShrinksArray:
    """Frees the embedding's buffer while a later argument is converted."""

    def __init__(self, array, value):
        self.array, self.value = array, value

    def _shrink(self):
        self.array.resize(64, refcheck=False)
        self.array[:] = 1.0

    def __float__(self):
        self._shrink()
        return self.value

    def __index__(self):
        self._shrink()
        return self.value


@pytest.mark.parametrize(
    "call",
    [
        lambda v, s: mivo.encode_compressed(v, ShrinksArray(v, 0.5)),
        lambda v, s: mivo.encode_max_length(v, ShrinksArray(v, 10_000)),
        lambda v, s: mivo.encode_cross_dimensional(v, ShrinksArray(v, 16)),
    ],
)
def test_array_reshaped_by_a_later_conversion_is_read_as_it_is_then(call):
    big = np.ones(1 << 20, np.float32)
    text = call(big, None)
    # The data are viewed after every conversion: the identifier is that of
    # the 64 ones the array holds by then.
    assert mivo.decode_to_embedding(text) is not None
    assert mivo.get_metadata(text)["original_dims"] == 64


class LyingSequence:
    def __init__(self, items, claimed):
        self.items, self.claimed = items, claimed

    def __len__(self):
        return self.claimed

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.parametrize("claimed", [10**12, 2**62])
def test_sequence_length_is_only_a_claim(claimed):
    assert mivo.find_best_match("a", LyingSequence(["b", "a"], claimed)) == {"index": 1, "score": 1.0}
    assert mivo.find_similar_hashes(0, LyingSequence([0, 3], claimed), 1) == [0]
    assert mivo.embedding_to_bands(LyingSequence([0.0] * 3, claimed)) == ["0000000"] * 4


def test_keyword_that_cannot_be_encoded_is_unknown():
    with pytest.raises(TypeError) as info:
        mivo.levenshtein("a", "b", **{"\ud800": 1})
    assert str(info.value) == "levenshtein() got an unexpected keyword argument '\ud800'"


@pytest.mark.parametrize("value", [2**63, -(2**63) - 1, 2**64])
def test_max_distance_beyond_a_c_long_gives_the_interpreter_message(value):
    with pytest.raises(OverflowError, match="^Python int too large to convert to C long$"):
        mivo.find_similar_hashes(0, [0], value)


@pytest.mark.parametrize(
    "call",
    [
        lambda: mivo.embedding_to_bands([1.0], 4.0),
        lambda: mivo.encode_cross_dimensional(np.ones(64, np.float32), 16.0),
        lambda: mivo.find_similar_hashes(0, [0], 1.0),
    ],
)
def test_narrow_integers_refuse_floats(call):
    with pytest.raises(TypeError, match="'float' object cannot be interpreted as an integer"):
        call()
