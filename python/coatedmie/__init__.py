"""Light scattering and absorption by coated spheres.

A homogeneous core inside a concentric homogeneous shell, in a non-absorbing
medium. Each layer is a size parameter (2 pi r n_medium / wavelength of its
outer surface) and a complex refractive index relative to the medium. The
layers may be given in either order: the larger size parameter is the shell
(on a tie the first layer is a shell of zero thickness). Imaginary parts may be
written in either sign convention (n + ik or n - ik); one negative imaginary
part puts both indices in the negative convention, and both conventions give
the same results. Efficiencies are cross-sections divided by pi r_outer^2, or
by the core's pi r_core^2 when the shell index is exactly 1 + 0j.

Every argument describing the layers may be a number or an array: arrays
broadcast against each other as NumPy's ufuncs do, and each particle's values
are bit for bit those of the call for that particle alone, which are those of
the coatedmie program for the same input. Scalars in give Python numbers out.

The engine runs with the GIL released, so calls from several Python threads
run side by side. Array calls share the particles out over `threads` threads
(default: one per core the process may use; 1 computes in the calling
thread); the results do not depend on the number of threads.

Input the computation refuses: a size parameter that is not greater than 0 or
below 1e-30, an index of modulus below 1e-4, a value that is not finite,
|index| * size parameter above 1e7 for a layer, or a larger size parameter
above 99621.09443326859 (more series terms than the tables hold). With
invalid="raise" (the default) such a particle raises ValueError, naming its
flat index in an array, before anything is computed; with invalid="nan" it
gets N = 0 and NaN values, and the other particles are computed.

Example:
    >>> import coatedmie
    >>> r = coatedmie.efficiencies(5, 1.5 + 0.01j, 3, 2.0 + 0.5j)
    >>> r.N, round(r.Kext, 6), round(r.g, 6)
    (20, 3.135894, 0.707214)
    >>> coatedmie.efficiencies([1, 5, 20], 1.5 + 0.01j, [0.6, 3, 12], 2.0 + 0.5j).N
    array([11, 20, 43])
    >>> I1, I2 = coatedmie.intensities(5, 1.5 + 0.01j, 3, 2.0 + 0.5j, [0, 90, 180])
    >>> S11, S12, S33, S34 = coatedmie.mueller(5, 1.5 + 0.01j, 3, 2.0 + 0.5j, [0, 90, 180])
    >>> chi = coatedmie.legendre_moments(5, 1.5 + 0.01j, 3, 2.0 + 0.5j)
    >>> len(chi), round(chi[0], 12), round(chi[1], 6)
    (41, 1.0, 0.707214)
"""

import operator

import numpy as np

from ._engine import (Efficiencies, __version__, amplitudes, efficiencies, intensities, legendre_moments,
                      mueller, phase_function)
from .distributions import BulkOptics, ConvergenceWarning, LognormalOptics, distribution, lognormal
from .lookup import lookup_table
from .units import CoreShell, core_shell

__all__ = ["BulkOptics", "ConvergenceWarning", "CoreShell", "Efficiencies", "LognormalOptics", "amplitudes",
           "angle_grid", "core_shell", "distribution", "efficiencies", "intensities", "legendre_moments", "lognormal",
           "lookup_table", "mueller", "phase_function"]


def angle_grid(count, start, end):
    """The program's angle grid in degrees: (i - 1) * step + start for
    i = 1..count, step = (end - start) / (count - 1), the product and the sum
    each rounded once; [start] for count 1, empty for count <= 0."""
    count = operator.index(count)
    if count <= 0:
        return np.empty(0)
    start = float(start)
    step = (float(end) - start) / (count - 1) if count > 1 else 0.0
    return np.arange(count, dtype=np.float64) * step + start
