"""Stubs of the compiled part of coatedmie: the engine over size parameters."""

from typing import Any, Literal, NamedTuple

import numpy as np
from numpy.typing import ArrayLike, NDArray

__version__: str

_Invalid = Literal["raise", "nan"]

class Efficiencies(NamedTuple):
    N: Any
    Kext: Any
    Ksca: Any
    Kabs: Any
    Kback: Any
    Kpr: Any
    g: Any
    albedo: Any

def efficiencies(alpha1: ArrayLike, index1: ArrayLike, alpha2: ArrayLike, index2: ArrayLike, *,
                 threads: int | None = None, invalid: _Invalid = "raise") -> Efficiencies: ...
def intensities(alpha1: ArrayLike, index1: ArrayLike, alpha2: ArrayLike, index2: ArrayLike, angles: ArrayLike, *,
                threads: int | None = None,
                invalid: _Invalid = "raise") -> tuple[NDArray[np.float64], NDArray[np.float64]]: ...
def amplitudes(alpha1: ArrayLike, index1: ArrayLike, alpha2: ArrayLike, index2: ArrayLike, angles: ArrayLike, *,
               threads: int | None = None,
               invalid: _Invalid = "raise") -> tuple[NDArray[np.complex128], NDArray[np.complex128]]: ...
def mueller(alpha1: ArrayLike, index1: ArrayLike, alpha2: ArrayLike, index2: ArrayLike, angles: ArrayLike, *,
            threads: int | None = None, invalid: _Invalid = "raise") -> tuple[NDArray[np.float64], NDArray[np.float64],
                                                                             NDArray[np.float64], NDArray[np.float64]]: ...
def phase_function(alpha1: ArrayLike, index1: ArrayLike, alpha2: ArrayLike, index2: ArrayLike, angles: ArrayLike, *,
                   threads: int | None = None, invalid: _Invalid = "raise") -> NDArray[np.float64]: ...
def legendre_moments(alpha1: ArrayLike, index1: ArrayLike, alpha2: ArrayLike, index2: ArrayLike,
                     count: int | None = None, *, threads: int | None = None,
                     invalid: _Invalid = "raise") -> NDArray[np.float64]: ...

def vector_path() -> str: ...
def set_vector_path(name: Literal["portable", "avx2", "avx512"]) -> None: ...

# Private: for the package's own modules.
_limits: dict[str, float]
def _scattering(alpha1: ArrayLike, index1: ArrayLike, alpha2: ArrayLike, index2: ArrayLike, angles: ArrayLike, *,
                threads: int | None = None, invalid: _Invalid = "raise") -> tuple[NDArray[Any], ...]: ...
def _refused(alpha1: ArrayLike, index1: ArrayLike, alpha2: ArrayLike, index2: ArrayLike) -> NDArray[np.bool_]: ...
def _input_problem(alpha1: float, index1: complex, alpha2: float,
                   index2: complex) -> tuple[str, int, float] | None: ...
def _stop_array_calls() -> None: ...
def _derivatives(alpha1: ArrayLike, index1: ArrayLike, alpha2: ArrayLike, index2: ArrayLike, *,
                 threads: int | None = None, invalid: _Invalid = "raise") -> tuple[Efficiencies, NDArray[np.float64]]: ...
def _safeguards(alpha1: ArrayLike, index1: ArrayLike, alpha2: ArrayLike, index2: ArrayLike) -> NDArray[np.uint8]: ...
