"""Type information for the mivo_collections extension module: mivo's
functions over many items at once."""

from collections.abc import Callable, Iterable
from typing import Any, Literal, overload

import numpy as np
import numpy.typing as npt

from mivo import Profile

__all__ = [
    "encode_batch",
    "bands_batch",
    "cdist",
    "extract",
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

# One of mivo's string functions, or its name.
_Scorer = (
    Callable[[str, str], float]
    | Literal["levenshtein", "normalized_levenshtein", "jaro", "jaro_winkler", "osa_distance", "best_match"]
)

def cdist(
    queries: Iterable[str],
    choices: Iterable[str],
    scorer: _Scorer = ...,
    *,
    dtype: npt.DTypeLike | None = None,
    score_cutoff: float | None = None,
    workers: int = 1,
) -> npt.NDArray[Any]: ...
def extract(
    query: str,
    choices: Iterable[str],
    scorer: _Scorer = ...,
    *,
    limit: int | None = 5,
    score_cutoff: float | None = None,
) -> list[tuple[str, float, int]]: ...
