"""The enum classes: variants, their numbers and reprs, what they refuse."""
import sys

import pytest

import mivo

VARIANTS = [
    (mivo.Profile, ["Mini128", "Morton10x10", "Hilbert10x10"]),
    (mivo.VectorPrecision, ["Full32", "Half16", "Quant8"]),
    (mivo.DimensionMode, ["Preserve", "Reduce", "Common"]),
]


@pytest.mark.parametrize("cls,names", VARIANTS)
def test_variants(cls, names):
    assert cls.__name__ == cls.__qualname__ and cls.__text_signature__ is None
    assert [a for a in vars(cls) if not a.startswith("__")] == names
    for number, name in enumerate(names):
        inst = getattr(cls, name)
        assert inst is getattr(cls, name) and type(inst) is cls and int(inst) == number
        assert repr(inst) == str(inst) == f"{cls.__name__}.{name}"
        assert inst == inst and hash(inst) == hash(inst)
        assert inst != number and not isinstance(inst, int) and not hasattr(inst, "__index__")
        assert all(inst != getattr(cls, other) for other in names if other != name)
    # No constructor, no ordering, no replacing the variants.
    first = getattr(cls, names[0])
    refused = [cls, lambda: first < first, lambda: [0, 1, 2][first]]
    if sys.version_info >= (3, 10):  # 3.9 has no immutable classes made at run time
        refused.append(lambda: setattr(cls, names[0], 1))
    for call in refused:
        with pytest.raises(TypeError):
            call()
    assert getattr(cls, names[0]) is first
