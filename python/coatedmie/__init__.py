"""Light scattering and absorption by coated spheres: a homogeneous core inside a concentric homogeneous shell, in a
non-absorbing medium; and by homogeneous spheres.

Two ways in:

- In the units people think in: `core_shell` and `sphere` (efficiencies and cross-sections), `core_shell_scattering`
  and `sphere_scattering` (amplitude functions, Mueller matrix, phase function, differential cross-section at given
  angles) take the materials' refractive indices, the vacuum wavelength and diameters in one length unit, and the
  medium's index; `distribution` and `lognormal` average over populations, `optical_coefficients` turns those
  averages into coefficients in Mm^-1; `core_shell_jacobian`, `sphere_jacobian`, `distribution_jacobian` and
  `lognormal_jacobian` add the exact derivatives of each; `retrieve` finds every particle or population within
  bounds that fits measured quantities; `lookup_table` computes grids lazily with Dask; `read_index_table` reads
  tabulated refractive indices.
- In the engine's terms: `efficiencies`, `intensities`, `amplitudes`, `mueller`, `phase_function` and
  `legendre_moments` take each layer as a size parameter (2 pi r n_medium / wavelength of its outer surface) and a
  complex refractive index relative to the medium. The layers may be given in either order: the larger size
  parameter is the shell (on a tie the first layer is a shell of zero thickness). Imaginary parts may be written
  in either sign convention (n + ik or n - ik); one negative imaginary part puts both indices in the negative
  convention, and both conventions give the same results. Efficiencies are cross-sections divided by
  pi r_outer^2, or by the core's pi r_core^2 when the shell index is exactly 1 + 0j.

Every argument describing the particles may be a number or an array: arrays broadcast against each other as
NumPy's ufuncs do, and each particle's values are bit for bit those of the call for that particle alone, which are
those of the coatedmie program for the same input. Scalars in give Python numbers out.

The engine runs with the GIL released, so calls from several Python threads run side by side. Array calls share
the particles out over `threads` threads (default: one per core the process may use; 1 computes in the calling
thread); the results do not depend on the number of threads. Ctrl-C stops an array call within a particle's time
and raises KeyboardInterrupt, in whatever thread it runs.

Input the computation refuses: a size parameter that is not greater than 0 or below 1e-30, an index of modulus
below 1e-4 or with a negative real part, a value that is not finite, ``|index| * size parameter`` above 1e7 for a
layer, or a larger size parameter above 99621.09443326859 (more series terms than the tables hold). With invalid="raise" (the default) such a
particle raises ValueError, naming its flat index in an array and the arguments that make it so, before anything
is computed; with invalid="nan" it gets NaN values, and the other particles are computed. A result larger than the
machine's memory raises MemoryError before anything is allocated.

Examples
--------
>>> import coatedmie
>>> r = coatedmie.efficiencies(5, 1.5 + 0.01j, 3, 2.0 + 0.5j)
>>> r.N, round(r.Kext, 6), round(r.g, 6)
(20, 3.135894, 0.707214)
>>> round(coatedmie.sphere(1.333, 0.55, 10.0).Qext, 4)
2.111
"""

import operator

import numpy as np

from ._engine import (Efficiencies, __version__, amplitudes, efficiencies, intensities, legendre_moments,
                      mueller, phase_function, set_vector_path, vector_path)
from .distributions import (BulkOptics, ConvergenceWarning, LognormalOptics, OpticalCoefficients, distribution,
                            distribution_jacobian, lognormal, lognormal_jacobian, optical_coefficients)
from .index_tables import IndexTable, read_index_table
from .lookup import lookup_table
from .particles import (CoreShell, Jacobian, Scattering, core_shell, core_shell_jacobian, core_shell_scattering,
                        sphere, sphere_jacobian, sphere_scattering)
from .retrieval import Retrieval, Solution, retrieve

__all__ = ["BulkOptics", "ConvergenceWarning", "CoreShell", "Efficiencies", "IndexTable", "Jacobian",
           "LognormalOptics", "OpticalCoefficients", "Retrieval", "Scattering", "Solution", "amplitudes", "angle_grid",
           "core_shell", "core_shell_jacobian", "core_shell_scattering", "distribution", "distribution_jacobian",
           "efficiencies", "intensities", "legendre_moments", "lognormal", "lognormal_jacobian", "lookup_table",
           "mueller", "optical_coefficients", "phase_function", "read_index_table", "retrieve", "set_vector_path",
           "sphere", "sphere_jacobian", "sphere_scattering", "vector_path"]


def angle_grid(count, start, end):
    """The coatedmie program's grid of scattering angles, in degrees.

    (i - 1) * step + start for i = 1..count, step = (end - start) / (count - 1), the product and the sum each
    rounded once, as the program computes them.

    Parameters
    ----------
    count : int
        Number of angles; 1 gives [start], 0 or less an empty grid.
    start, end : float
        First and last angle, in degrees.

    Returns
    -------
    ndarray
        The angles in degrees, float64.

    Examples
    --------
    >>> import coatedmie
    >>> coatedmie.angle_grid(5, 0, 180)
    array([  0.,  45.,  90., 135., 180.])
    """
    count = operator.index(count)
    if count <= 0:
        return np.empty(0)
    start = float(start)
    step = (float(end) - start) / (count - 1) if count > 1 else 0.0
    return np.arange(count, dtype=np.float64) * step + start
