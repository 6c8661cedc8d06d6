import pytest

import mivo

VARIANTS = [
    (mivo.Profile, ["Mini128", "Morton10x10", "Hilbert10x10"]),
    (mivo.VectorPrecision, ["Full32", "Half16", "Quant8"]),
    (mivo.DimensionMode, ["Preserve", "Reduce", "Common"]),
]


@pytest.mark.parametrize("cls,names", VARIANTS)
def test_variants(cls, names):
    assert cls.__name__ == cls.__qualname__
    assert [a for a in vars(cls) if not a.startswith("__")] == names
    for number, name in enumerate(names):
        inst = getattr(cls, name)
        assert inst is getattr(cls, name) and type(inst) is cls
        assert int(inst) == number
        assert repr(inst) == str(inst) == f"{cls.__name__}.{name}"
        assert inst == inst and hash(inst) == hash(inst)
        assert inst != number and not isinstance(inst, int) and not hasattr(inst, "__index__")
        assert all(inst != getattr(cls, other) for other in names if other != name)
    # No constructor, no ordering, no replacing the variants.
    first = getattr(cls, names[0])
    for call in (cls, lambda: first < first, lambda: [0, 1, 2][first], lambda: setattr(cls, names[0], 1)):
        with pytest.raises(TypeError):
            call()
    assert getattr(cls, names[0]) is first


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
