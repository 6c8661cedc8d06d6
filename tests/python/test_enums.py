import pytest

import mivo

VARIANTS = [
    (mivo.Profile, ["Mini128", "Morton10x10", "Hilbert10x10"]),
    (mivo.VectorPrecision, ["Full32", "Half16", "Quant8"]),
    (mivo.DimensionMode, ["Preserve", "Reduce", "Common"]),
]


@pytest.mark.parametrize("cls,names", VARIANTS)
def test_variants_repr_int_identity(cls, names):
    assert cls.__name__ == cls.__qualname__
    for number, name in enumerate(names):
        inst = getattr(cls, name)
        assert inst is getattr(cls, name)
        assert type(inst) is cls
        assert int(inst) == number
        assert repr(inst) == str(inst) == f"{cls.__name__}.{name}"
        assert inst == inst and hash(inst) == hash(inst)
        assert inst != number
        for other in names:
            if other != name:
                assert inst != getattr(cls, other)
    assert [a for a in vars(cls) if not a.startswith("__")] == names


@pytest.mark.parametrize("cls,_", VARIANTS)
def test_no_constructor_no_ordering(cls, _):
    with pytest.raises(TypeError):
        cls()
    first = next(v for k, v in vars(cls).items() if not k.startswith("__"))
    with pytest.raises(TypeError):
        first < first  # noqa: B015
    assert not hasattr(first, "__index__")
    with pytest.raises(TypeError):
        [0, 1, 2][first]


def test_enum_is_not_int_like():
    assert mivo.Profile.Mini128 != 0
    assert not isinstance(mivo.Profile.Mini128, int)


DOCS = {
    mivo.Profile: [
        "Encoding profile for embedding vectors.",
        "",
        "Profiles determine how embeddings are transformed into compact identifiers.",
        "",
        "Variants:",
        "    Mini128: 128-bit SimHash (default, fast cosine similarity via Hamming distance)",
        "    Morton10x10: Z-order curve encoding for database indexing",
        "    Hilbert10x10: Hilbert curve encoding for maximum locality preservation",
        "",
        "Example:",
        "    >>> import mivo",
        "    >>> profile = mivo.Profile.Mini128",
        "    >>> mivo_str = mivo.encode(embedding, profile)",
    ],
    mivo.VectorPrecision: [
        "Precision options for full vector encoding.",
        "",
        "Controls how many bits are used to represent each dimension value.",
        "Higher precision means more accurate reconstruction but larger output.",
        "",
        "Variants:",
        "    Full32: Full 32-bit float (lossless, 4 bytes per dimension)",
        "    Half16: 16-bit half-precision float (2 bytes per dimension)",
        "    Quant8: 8-bit quantized (1 byte per dimension, ~1% error)",
        "",
        "Example:",
        "    >>> import mivo",
        "    >>> prec = mivo.VectorPrecision.Full32  # Lossless",
        "    >>> prec = mivo.VectorPrecision.Half16  # Good balance",
        "    >>> prec = mivo.VectorPrecision.Quant8  # Smallest",
    ],
    mivo.DimensionMode: [
        "Dimension handling mode for full vector encoding.",
        "",
        "Controls whether to preserve original dimensions, reduce them,",
        "or project to a common space for cross-dimensional comparison.",
        "",
        "Variants:",
        "    Preserve: Keep all original dimensions (no projection)",
        "    Reduce: Reduce dimensions using random projection",
        "    Common: Project to common space for cross-dimensional comparison",
        "",
        "Example:",
        "    >>> import mivo",
        "    >>> mode = mivo.DimensionMode.Preserve  # Keep all dims",
        "    >>> mode = mivo.DimensionMode.Reduce    # Reduce for smaller output",
        "    >>> mode = mivo.DimensionMode.Common    # Cross-dimensional comparison",
    ],
}


@pytest.mark.parametrize("cls", list(DOCS))
def test_docstrings_exact(cls):
    assert cls.__doc__ == "\n".join(DOCS[cls])
    assert cls.__text_signature__ is None


@pytest.mark.parametrize("cls,names", VARIANTS)
def test_variants_cannot_be_replaced(cls, names):
    with pytest.raises(TypeError):
        setattr(cls, names[0], 1)
    assert int(getattr(cls, names[0])) == 0
