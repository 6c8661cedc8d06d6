"""Type information for the mivo_collections extension module: mivo's
functions over many items at once."""

from typing import Literal, overload

import numpy as np
import numpy.typing as npt

from mivo import Profile

__all__ = [
    "encode_batch",
    "bands_batch",
]

__version__: str

_Matrix = npt.NDArray[np.float32] | npt.NDArray[np.float64]

@overload
def encode_batch(
    X: _Matrix, profile: Profile = ..., *, output: Literal["codes"] = "codes", workers: int = 1
) -> npt.NDArray[np.uint8]: ...
@overload
def encode_batch(
    X: _Matrix, profile: Profile = ..., *, output: Literal["identifiers"], workers: int = 1
) -> list[str]: ...
def bands_batch(X: _Matrix, num_bands: int = 16, *, workers: int = 1) -> list[list[str]]: ...
