"""From measured optical quantities back to the particles: every set of parameters inside given bounds whose misfit is
consistent with the measurements' uncertainties, each with its covariance."""

import collections
import itertools
import math
import numbers
import warnings

import numpy as np

from ._description import LENGTH_UNITS
from .distributions import lognormal_jacobian
from .particles import core_shell_jacobian, sphere_jacobian

Solution = collections.namedtuple("Solution", ("parameters", "standard_deviations", "covariance", "chi_square",
                                               "degrees_of_freedom", "p_value", "on_bound", "predicted"))
Solution.__doc__ = """One solution of a retrieval: a local minimum of the misfit.

Attributes
----------
parameters : dict
    The unknowns' values by name, in their units.
standard_deviations : dict
    Their standard deviations, the square roots of the covariance's diagonal; inf for a parameter the
    measurements do not determine there.
covariance : ndarray
    The parameters' covariance (J^T C^-1 J)^-1, J the derivatives of the measured quantities with respect to the
    unknowns at the solution and C the measurements' covariance, in the order of `Retrieval.names`. A first-order
    estimate: it describes the solution's uncertainty where the quantities are close to linear over it.
chi_square : float
    The misfit, the sum of the squared differences between the measured and the computed quantities, each over
    its standard deviation.
degrees_of_freedom : int
    Measurements less unknowns.
p_value : float
    The probability of a misfit at least as large if the solution were the truth and the uncertainties right:
    the chi-square distribution's upper tail with max(degrees_of_freedom, 1) degrees of freedom.
on_bound : dict
    The unknowns held at a bound of their range, by name: ``'lower'`` or ``'upper'``; empty inside the range.
    The misfit may fall further beyond the bound, and the covariance ignores the bound.
predicted : dict
    The computed quantities at the solution, by the measurements' keys."""

Retrieval = collections.namedtuple("Retrieval", ("solutions", "rejected", "names", "threshold", "complete",
                                                 "evaluations"))
Retrieval.__doc__ = """What a retrieval found.

Attributes
----------
solutions : tuple of Solution
    Every solution whose misfit is consistent with the uncertainties (chi-square at most `threshold`), best
    first; empty when none is.
rejected : tuple of Solution
    Local minima found whose misfit is not consistent with the uncertainties, best first.
names : tuple of str
    The unknowns, in the order of the covariance matrices.
threshold : float
    The largest consistent chi-square, the quantile of `confidence` of the chi-square distribution with
    max(measurements - unknowns, 1) degrees of freedom.
complete : bool
    False where the search stopped at max_evaluations before it had bounded every cell: solutions may be missing
    (a RuntimeWarning says so too).
evaluations : int
    Sets of parameters computed, each at every measured wavelength."""

_PARTICLE_QUANTITIES = ("Qext", "Qsca", "Qabs", "Qback", "Qpr", "g", "albedo", "Cext", "Csca", "Cabs", "Cback", "Cpr")
_BULK_QUANTITIES = ("Cext", "Csca", "Cabs", "Cback", "Cpr", "g", "albedo", "lidar_ratio")
_COEFFICIENTS = {"extinction": "Cext", "scattering": "Csca", "absorption": "Cabs", "backscatter": "Cback"}
_COMPLEX = {"m_core", "m_shell", "m"}

# First-grid nodes per axis by the number of unknowns, and for populations.
_FIRST_GRID = {1: 65, 2: 33, 3: 13, 4: 7}
_FIRST_GRID_POPULATION = {1: 33, 2: 17, 3: 5, 4: 4}
# Cells are halved until the residuals, in standard deviations, stray from
# linear by at most _LINEAR on them, at most _DEPTH times (populations, each
# node a lognormal integral per wavelength, _DEPTH_POPULATION times).
_LINEAR = 0.5
_DEPTH = 12
_DEPTH_POPULATION = 4
_SEARCH_RTOL = 1e-3


class _Model:
    """The quantities measured, as a function of the unknowns: values (points, measurements) and derivatives
    (points, measurements, unknowns), from one call of the Jacobian function at every point and wavelength."""

    def __init__(self, kind, measurements, known, unknown, length_unit, rtol, threads):
        self.kind, self.rtol, self.threads = kind, rtol, threads
        self.keys = list(measurements)
        self.wavelengths = sorted({wavelength for _, wavelength in self.keys})
        self.column = [self.wavelengths.index(wavelength) for _, wavelength in self.keys]
        self.quantities = [quantity for quantity, _ in self.keys]
        self.names = list(unknown)
        if kind == "core_shell":
            size = "coating_thickness" if "coating_thickness" in {**known, **unknown} else "d_shell"
            self.parts = ("m_core.real", "m_core.imag", "m_shell.real", "m_shell.imag", "d_core", size, "n_medium")
        elif kind == "sphere":
            self.parts = ("m.real", "m.imag", "diameter", "n_medium")
        else:
            self.parts = ("m_core.real", "m_core.imag", "m_shell.real", "m_shell.imag", "median_diameter", "gsd",
                          "core_fraction", "n_medium") + (("number_concentration",) if any(
                              q in _COEFFICIENTS for q in self.quantities) else ())
        allowed = set(self.parts) | {"core_shell": {"d_shell", "coating_thickness"}, "sphere": set(),
                                     "lognormal": {"number_concentration"}}[kind]
        self.known = {}
        for name, value in known.items():
            parts = [name + ".real", name + ".imag"] if name in _COMPLEX else [name]
            for part in parts:
                if part not in allowed:
                    raise ValueError(f"known {name!r} is not a parameter of {kind}; they are "
                                     f"{', '.join(self.parts)}")
                if part in unknown:
                    raise ValueError(f"{part!r} is both known and unknown")
                self.known[part] = self._per_wavelength(name, value, part)
        for name in unknown:
            if name not in allowed:
                raise ValueError(f"unknown {name!r} is not a parameter of {kind}; they are "
                                 f"{', '.join(self.parts)}")
        if "coating_thickness" in {**known, **unknown} and "d_shell" in {**known, **unknown}:
            raise ValueError("give d_shell or coating_thickness, not both")
        self.known.setdefault("n_medium", np.ones(len(self.wavelengths)))
        missing = [part for part in self.parts if part not in self.known and part not in unknown]
        if missing:
            raise ValueError(f"{', '.join(missing)} must be known or unknown")
        unit_needed = any(q in _COEFFICIENTS for q in self.quantities)
        if unit_needed and length_unit not in LENGTH_UNITS:
            raise ValueError(f"coefficients in Mm^-1 need length_unit, one of {', '.join(LENGTH_UNITS)}; found "
                             f"{length_unit!r}")
        self.per_megametre = 1e12 * LENGTH_UNITS[length_unit] ** 2 if unit_needed else None

    def _per_wavelength(self, name, value, part):
        """A known part's value at each measured wavelength: one value for all, or a mapping by wavelength."""
        def take(v):
            v = complex(v) if name in _COMPLEX else float(v)
            return getattr(v, part.rsplit(".", 1)[1]) if name in _COMPLEX else v
        if isinstance(value, collections.abc.Mapping):
            lacking = [w for w in self.wavelengths if w not in value]
            if lacking:
                raise ValueError(f"known {name!r} has no value at wavelength {lacking[0]!r}")
            return np.array([take(value[w]) for w in self.wavelengths])
        return np.full(len(self.wavelengths), take(value))

    def __call__(self, points):
        """Values and derivatives of the measured quantities at points (P, unknowns), NaN where the particles are
        refused."""
        points = np.asarray(points, dtype=np.float64)
        P, W = len(points), len(self.wavelengths)
        wavelength = np.broadcast_to(np.array(self.wavelengths), (P, W))
        part = {name: np.broadcast_to(points[:, k, None], (P, W)) for k, name in enumerate(self.names)}
        part.update({name: np.broadcast_to(value, (P, W)) for name, value in self.known.items()})

        def index(name):
            return part[name + ".real"] + 1j * part[name + ".imag"]
        # Each unknown's derivative as a sum of the function's parameters' ones.
        through = {name: [(name, 1.0)] for name in self.names}
        if self.kind == "core_shell":
            d_core = part["d_core"]
            if "coating_thickness" in self.parts:
                d_shell = d_core + 2 * part["coating_thickness"]
                through["coating_thickness"] = [("d_shell", 2.0)]
                through["d_core"] = [("d_core", 1.0), ("d_shell", 1.0)]
            else:
                d_shell = part["d_shell"]
            r = core_shell_jacobian(index("m_core"), index("m_shell"), wavelength, d_core, d_shell, part["n_medium"],
                                    threads=self.threads, invalid="nan")
        elif self.kind == "sphere":
            r = sphere_jacobian(index("m"), wavelength, part["diameter"], part["n_medium"], threads=self.threads,
                                invalid="nan")
        else:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", RuntimeWarning)
                r = lognormal_jacobian(index("m_core"), index("m_shell"), wavelength, part["median_diameter"],
                                       part["gsd"], part["core_fraction"], part["n_medium"], rtol=self.rtol,
                                       threads=self.threads, invalid="nan",
                                       converged={_COEFFICIENTS.get(q, q) for q in self.quantities})
        values = np.empty((P, len(self.keys)))
        derivatives = np.zeros((P, len(self.keys), len(self.names)))
        for j, (quantity, column) in enumerate(zip(self.quantities, self.column)):
            field = _COEFFICIENTS.get(quantity, quantity)
            factor = 1.0
            if quantity in _COEFFICIENTS:
                factor = self.per_megametre * part["number_concentration"][:, column] / (
                    4 * np.pi if quantity == "backscatter" else 1.0)
            values[:, j] = factor * getattr(r.values, field)[:, column]
            for k, name in enumerate(self.names):
                if name == "number_concentration":
                    derivatives[:, j, k] = values[:, j] / part["number_concentration"][:, column]
                    continue
                derivatives[:, j, k] = factor * sum(weight * getattr(r.derivatives[parameter], field)[:, column]
                                                    for parameter, weight in through[name])
        return values, derivatives


def _checked(measurements, unknown):
    if not isinstance(measurements, collections.abc.Mapping) or not measurements:
        raise ValueError("measurements must be a non-empty mapping of (quantity, wavelength) to (value, standard "
                         "deviation)")
    for key, pair in measurements.items():
        if not (isinstance(key, tuple) and len(key) == 2 and isinstance(key[0], str) and
                isinstance(key[1], numbers.Real) and math.isfinite(key[1]) and key[1] > 0):
            raise ValueError(f"measurement {key!r}: a key is (quantity, wavelength), the wavelength finite and "
                             "greater than 0")
        value, sigma = pair
        if not (math.isfinite(value) and math.isfinite(sigma) and sigma > 0):
            raise ValueError(f"measurement {key!r}: the value must be finite and the standard deviation finite and "
                             f"greater than 0, found ({value!r}, {sigma!r})")
    if not isinstance(unknown, collections.abc.Mapping) or not unknown:
        raise ValueError("unknown must be a non-empty mapping of parameter to (lower, upper) bound")
    for name, (low, high) in unknown.items():
        if not (math.isfinite(low) and math.isfinite(high) and low < high):
            raise ValueError(f"unknown {name!r}: bounds must be finite with lower < upper, found ({low!r}, {high!r})")


class _Misfit:
    """Residuals (computed - measured) / sigma and their derivatives over the unit box of the unknowns, each point
    computed once."""

    def __init__(self, model, measured, sigma, low, high):
        self.model, self.measured, self.sigma, self.low, self.width = model, measured, sigma, low, high - low
        self.evaluations = 0

    def physical(self, t):
        return self.low + self.width * np.asarray(t)

    def __call__(self, t):
        t = np.atleast_2d(t)
        self.evaluations += len(t)
        values, derivatives = self.model(self.physical(t))
        residuals = (values - self.measured) / self.sigma
        return residuals, derivatives * self.width / self.sigma[:, None], values, derivatives


def _cell_bounds(r, j, width, model_error):
    """A lower bound of chi-square over each cell, and how far the residuals may stray from linear in it, from the
    residuals r (cells, corners, measurements) and their derivatives j (cells, corners, measurements, unknowns) at
    its corners; width (cells,) in unit-box lengths.

    The bound rests on one premise: inside the cell, each derivative stays within the range of its values at the
    corners widened on either side by that range. Then a residual differs from the multilinear interpolation of
    its corner values, which lies between their least and greatest, by at most 3/4 of the sum over the axes of
    that range times the cell's width (in 1D a function whose derivative varies by D over a width w strays from its
    chord by at most D w / 4); and from its value at the nearest corner, within half a width on every axis, by at
    most half the width times the largest derivative allowed. Each residual's magnitude is bounded below by the
    better of the two, and chi-square by the sum of their squares. NaN corners (refused particles) are left out."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        spread = np.nanmax(j, axis=1) - np.nanmin(j, axis=1)
        steepest = np.nanmax(np.abs(j), axis=1) + spread
        nonlinear = 0.75 * np.sum(spread, axis=-1) * width[:, None] + model_error
        change = 0.5 * np.sum(steepest, axis=-1) * width[:, None] + model_error
        lowest, highest = np.nanmin(r, axis=1), np.nanmax(r, axis=1)
        by_interpolation = np.maximum(np.maximum(lowest - nonlinear, -highest - nonlinear), 0.0)
        by_slope = np.maximum(np.nanmin(np.abs(r), axis=1) - change, 0.0)
        lower = np.sum(np.maximum(by_interpolation, by_slope) ** 2, axis=-1)
    return np.where(np.isnan(lower), np.inf, lower), np.where(np.isnan(nonlinear), np.inf, nonlinear)


_CORNERS = {}


def _corners(unknowns):
    if unknowns not in _CORNERS:
        _CORNERS[unknowns] = np.array(list(itertools.product((0, 1), repeat=unknowns)), dtype=np.int64)
    return _CORNERS[unknowns]


class _Search:
    """The cells of the unit box that may hold a point of chi-square at most the threshold. Cells are (origin,
    size) on an integer lattice of step 1 / scale; each node is computed once."""

    def __init__(self, misfit, unknowns, first_grid, depth):
        self.misfit, self.unknowns = misfit, unknowns
        self.scale = (first_grid - 1) << depth
        self.nodes, self.residuals, self.slopes = {}, [], []
        grid = np.array(list(itertools.product(range(first_grid - 1), repeat=unknowns)), dtype=np.int64)
        self.origins, self.sizes = grid << depth, np.full(len(grid), 1 << depth, dtype=np.int64)

    def corner_rows(self, origins, sizes):
        """Rows of the cells' corners in the node arrays, computing the nodes not yet computed."""
        keys = (origins[:, None, :] + sizes[:, None, None] * _corners(self.unknowns)[None, :, :])
        flat = list(map(tuple, keys.reshape(-1, self.unknowns).tolist()))
        new = [key for key in dict.fromkeys(flat) if key not in self.nodes]
        if new:
            r, j, _, _ = self.misfit(np.array(new, dtype=np.float64) / self.scale)
            for key in new:
                self.nodes[key] = len(self.nodes)
            self.residuals.extend(r)
            self.slopes.extend(j)
        return np.array([self.nodes[key] for key in flat]).reshape(keys.shape[:-1])

    def run(self, threshold, model_error, max_evaluations):
        """Halve the cells that may hold a consistent point until the residuals are close to linear on them (or
        the lattice's last halving); the cells kept, and whether every cell was bounded."""
        origins, sizes = self.origins, self.sizes
        kept, complete = [], True
        while len(origins):
            rows = self.corner_rows(origins, sizes)
            R, J = np.array(self.residuals)[rows], np.array(self.slopes)[rows]
            lower, nonlinear = _cell_bounds(R, J, sizes / self.scale, model_error)
            possible = lower <= threshold
            final = possible & (((np.max(nonlinear, axis=-1) <= _LINEAR) & ~np.isnan(R).any(axis=(1, 2))) |
                                (sizes == 1))
            kept.append((origins[final], sizes[final]))
            split = possible & ~final
            if not split.any():
                break
            if len(self.nodes) + split.sum() * (3**self.unknowns - 2**self.unknowns) > max_evaluations:
                kept.append((origins[split], sizes[split]))
                complete = False
                break
            half = sizes[split] // 2
            origins = (origins[split][:, None, :] + half[:, None, None] * _corners(self.unknowns)[None]).reshape(
                -1, self.unknowns)
            sizes = np.repeat(half, len(_corners(self.unknowns)))
        self.kept = (np.concatenate([o for o, _ in kept]), np.concatenate([s for _, s in kept]))
        return complete

    def seeds(self, threshold):
        """Starting points for the refinement, best first: in each kept cell, the minimum of the residuals'
        linear model at its best corner, within the cell, where its misfit is a local minimum among the cells
        the cell touches, or where it lies inside the cell with a consistent misfit (neighbouring cells may
        each hold a solution)."""
        origins, sizes = self.kept
        if not len(origins):
            return []
        rows = self.corner_rows(origins, sizes)
        R, J = np.array(self.residuals)[rows], np.array(self.slopes)[rows]
        chi_square = np.sum(R ** 2, axis=-1)
        chi_square = np.where(np.isnan(chi_square), np.inf, chi_square)
        best = np.argmin(chi_square, axis=1)
        cells = np.arange(len(rows))
        r, j = np.nan_to_num(R[cells, best]), np.nan_to_num(J[cells, best])
        corner = (origins + sizes[:, None] * _corners(self.unknowns)[best]) / self.scale
        step = -np.einsum("cum,cm->cu", np.linalg.pinv(j), r)
        low, high = origins / self.scale, (origins + sizes[:, None]) / self.scale
        unclipped = corner + step
        point = np.clip(unclipped, low, high)
        inside = np.all(point == unclipped, axis=-1)
        score = np.sum((r + np.einsum("cmu,cu->cm", j, point - corner)) ** 2, axis=-1)
        score = np.where(np.isfinite(chi_square[cells, best]), score, np.inf)
        local = np.ones(len(origins), dtype=bool)
        for start in range(0, len(origins), 512):
            block = slice(start, start + 512)
            touching = np.all((low[block, None, :] <= high[None, :, :]) & (low[None, :, :] <= high[block, None, :]),
                              axis=-1)
            local[block] = ~np.any(touching & (score[None, :] < score[block, None]), axis=1)
        chosen = np.flatnonzero((local | (inside & (score <= threshold))) & np.isfinite(score))
        chosen = chosen[np.argsort(score[chosen], kind="stable")]
        return [np.array(seed) for seed in dict.fromkeys(map(tuple, point[chosen].tolist()))]

    def best_node(self):
        """The node of least chi-square, for a closest fit where no cell may hold a consistent one."""
        chi_square = np.sum(np.array(self.residuals) ** 2, axis=-1)
        if not np.isfinite(chi_square).any():
            return []
        key = list(self.nodes)[int(np.nanargmin(chi_square))]
        return [np.array(key, dtype=np.float64) / self.scale]


def _covariance(J):
    """(J^T J)^-1 for residuals already divided by their standard deviations; directions the measurements do not
    determine (singular values below 1e-10 of the largest) give inf."""
    U, S, Vt = np.linalg.svd(J, full_matrices=False)
    determined = S > S[0] * 1e-10 if S[0] > 0 else np.zeros_like(S, dtype=bool)
    covariance = (Vt[determined].T / S[determined] ** 2) @ Vt[determined]
    for v in Vt[~determined]:
        involved = np.abs(np.outer(v, v)) > 1e-12
        covariance = np.where(involved, np.inf, covariance)
    return covariance


def retrieve(measurements, known, unknown, *, model="core_shell", confidence=0.99, length_unit=None, grid=None,
             rtol=1e-4, max_evaluations=200_000, threads=None):
    """Every set of particle parameters within bounds that the measurements allow, each with its covariance.

    The measured quantities, each a value with a standard deviation (independent Gaussian errors), are compared
    with those computed for the particles (`core_shell`, `sphere`) or the population (`lognormal`) described by
    the known parameters and the unknown ones, through the misfit chi-square: the sum over the measurements of
    ((computed - measured) / standard deviation)^2. A solution is a local minimum of chi-square inside the bounds
    whose chi-square is at most `Retrieval.threshold`; every such solution is returned, none or several as the
    measurements allow.

    How it searches: the box of the unknowns is cut into the cells of a first grid (`grid` nodes per axis); at
    every node the quantities and their exact derivatives are computed. A cell is dropped when a lower bound of
    chi-square over it exceeds the threshold: each residual at any point of the cell is at least its smallest
    magnitude at the corners less the change its derivatives allow over half a cell, and at least its corner
    values' distance from zero less how far it may stray from their interpolation, the derivatives taken to stay
    within their range at the corners widened by that range. The other cells are halved along every axis, the new
    nodes computed, and so on, until the residuals are linear on them to half a standard deviation (or after 12
    halvings, 4 for populations). In each cell kept the residuals' linear model is minimised; from the cells whose
    model's misfit is a local minimum among the cells they touch, `scipy.optimize.least_squares` (trust region,
    within the bounds, exact Jacobian) finds the minimum.

    What is guaranteed: a cell with a node of chi-square at most the threshold is never dropped, so no region of
    consistent parameters that holds a node of the first grid is missed (in particular none that holds a whole cell
    of it, of width (upper - lower) / (grid - 1) on each axis). A smaller region is found where the derivatives
    inside each cell stay within the bound taken from its corners; that holds where the first grid is fine against
    the scale on which the derivatives change, such as resonances in size or index (for weakly absorbing particles
    much larger than the wavelength, give a finer `grid`). Two minima are reported as one only when each lies
    within the other's one-standard-deviation ellipsoid.

    Parameters
    ----------
    measurements : mapping
        ``{(quantity, wavelength): (value, standard deviation)}``. Quantities of a particle (models
        ``'core_shell'`` and ``'sphere'``): the fields of `CoreShell` (``'Qext'`` ... ``'albedo'``, cross-sections
        ``'Cext'`` ... ``'Cpr'`` in the square of the length unit). Of a population (``'lognormal'``): the fields
        of `BulkOptics` (mean cross-sections, ``'g'``, ``'albedo'``, ``'lidar_ratio'``) and the coefficients of
        `OpticalCoefficients` (``'extinction'``, ``'scattering'``, ``'absorption'`` in Mm^-1, ``'backscatter'`` in
        Mm^-1 sr^-1, which need ``number_concentration`` in particles per cm^3 and `length_unit`). Wavelengths in
        the length unit of the diameters.
    known : mapping
        The parameters held known, by name: a number for every wavelength or a mapping of wavelength to number (a
        refractive index that varies with the wavelength). Indices as complex numbers n + ik (``'m_core'``) or by
        part (``'m_core.real'``). ``'n_medium'`` defaults to 1.
    unknown : mapping
        The parameters to retrieve, by name, each with its bounds ``(lower, upper)``; one value for every
        wavelength. Parameters of ``'core_shell'``: ``'m_core.real'``, ``'m_core.imag'``, ``'m_shell.real'``,
        ``'m_shell.imag'``, ``'d_core'``, ``'d_shell'`` or ``'coating_thickness'`` ((d_shell - d_core) / 2),
        ``'n_medium'``. Of ``'sphere'``: ``'m.real'``, ``'m.imag'``, ``'diameter'``, ``'n_medium'``. Of
        ``'lognormal'``: the indices' parts, ``'median_diameter'``, ``'gsd'``, ``'core_fraction'``,
        ``'n_medium'`` and ``'number_concentration'``.
    model : {'core_shell', 'sphere', 'lognormal'}, optional
        One coated sphere (default), one homogeneous sphere, or a lognormal population as in `lognormal`.
    confidence : float, optional
        The probability, for the truth with the stated uncertainties, of a misfit at most the threshold; default
        0.99.
    length_unit : {'nm', 'um', 'µm', 'mm', 'cm', 'm'}, optional
        The length unit, for coefficients in Mm^-1.
    grid : int, optional
        Nodes per axis of the first grid, at least 2; default 65, 33, 13, 7 and 5 for one to five or more
        unknowns (33, 17, 5, 4 and 3 for populations).
    rtol : float, optional
        For populations, the relative tolerance of `lognormal`; its error counts in the bounds. Default 1e-4.
    max_evaluations : int, optional
        Most nodes the search computes; default 200000. Where it stops short, `Retrieval.complete` is False.
    threads : int or None, optional
        As in `core_shell`.

    Returns
    -------
    Retrieval
        The solutions, best first, and the minima rejected for their misfit.

    Raises
    ------
    ValueError
        Measurements, parameters or bounds that describe no retrieval.

    Warns
    -----
    RuntimeWarning
        Where the search stopped at max_evaluations.

    Examples
    --------
    A sphere of unknown diameter (in um) whose scattering efficiency was measured at one wavelength: two
    diameters from 0.5 to 2 um fit it, on either side of Qsca's first maximum:

    >>> from coatedmie import retrieve
    >>> r = retrieve({("Qsca", 0.55): (3.5, 0.05)}, {"m": 1.5}, {"diameter": (0.5, 2.0)}, model="sphere")
    >>> [round(s.parameters["diameter"], 3) for s in r.solutions]
    [0.554, 0.933]
    """
    from scipy.optimize import least_squares
    from scipy.stats import chi2

    if model not in ("core_shell", "sphere", "lognormal"):
        raise ValueError(f"model must be 'core_shell', 'sphere' or 'lognormal', found {model!r}")
    _checked(measurements, unknown)
    if not 0 < confidence < 1:
        raise ValueError(f"confidence must be between 0 and 1, found {confidence!r}")
    quantities = _BULK_QUANTITIES + tuple(_COEFFICIENTS) if model == "lognormal" else _PARTICLE_QUANTITIES
    for quantity, _ in measurements:
        if quantity not in quantities:
            raise ValueError(f"{quantity!r} is not a quantity of {model}; they are {', '.join(quantities)}")
    forward = _Model(model, measurements, dict(known), dict(unknown), length_unit, rtol, threads)
    names = tuple(unknown)
    n = len(names)
    first_grid = grid if grid is not None else (
        _FIRST_GRID_POPULATION if model == "lognormal" else _FIRST_GRID).get(n, 5 if model != "lognormal" else 3)
    if first_grid < 2:
        raise ValueError(f"grid must be at least 2, found {first_grid!r}")
    measured = np.array([value for value, _ in measurements.values()], dtype=np.float64)
    sigma = np.array([s for _, s in measurements.values()], dtype=np.float64)
    low = np.array([unknown[name][0] for name in names], dtype=np.float64)
    high = np.array([unknown[name][1] for name in names], dtype=np.float64)
    misfit = _Misfit(forward, measured, sigma, low, high)
    dof = len(measured) - n
    threshold = float(chi2.ppf(confidence, max(dof, 1)))
    # Populations: the search integrates to a coarser tolerance, whose error
    # (within twice it) the bounds allow for; the refinement to rtol.
    forward.rtol = max(rtol, _SEARCH_RTOL)
    model_error = 2 * forward.rtol * np.abs(measured) / sigma if model == "lognormal" else 0.0
    search = _Search(misfit, n, first_grid, _DEPTH_POPULATION if model == "lognormal" else _DEPTH)
    complete = search.run(threshold, model_error, max_evaluations)
    forward.rtol = rtol
    if not complete:
        warnings.warn(f"retrieve: the search stopped at max_evaluations={max_evaluations} before it had bounded "
                      "every cell; solutions may be missing", RuntimeWarning, stacklevel=2)

    found = []
    # Where no cell may hold a consistent point, the best node still gives the closest fit, among the rejected.
    for seed in search.seeds(threshold) or search.best_node():
        cache = {}

        def evaluate(t):
            key = tuple(t)
            if key not in cache:
                cache.clear()
                r, j, _, _ = misfit(t)
                cache[key] = (np.nan_to_num(r[0], nan=1e10), np.nan_to_num(j[0]))
            return cache[key]
        fit = least_squares(lambda t: evaluate(t)[0], np.array(seed), jac=lambda t: evaluate(t)[1],
                            bounds=(np.zeros(n), np.ones(n)), method="trf", x_scale="jac", xtol=1e-10, ftol=1e-12,
                            gtol=1e-10, max_nfev=100)
        t = np.array(fit.x)
        at_lower = (fit.active_mask < 0) | (t <= 1e-9)
        at_upper = (fit.active_mask > 0) | (t >= 1 - 1e-9)
        t = np.where(at_lower, 0.0, np.where(at_upper, 1.0, t))
        r, _, values, derivatives = misfit(t)
        if not np.all(np.isfinite(r)):
            continue
        chi_square = float(np.sum(r[0] ** 2))
        scaled = derivatives[0] / sigma[:, None]
        found.append((misfit.physical(t), _covariance(scaled), chi_square, values[0], at_lower, at_upper, scaled))

    # Best first; a minimum within one standard deviation of a better one, and
    # the better one within its, is that one. The squared distance in
    # standard deviations is |J d|^2, J the residuals' derivatives over sigma,
    # which holds where the covariance is singular too.
    found.sort(key=lambda s: s[2])
    distinct = []
    for s in found:
        if not any(max(np.sum((s[6] @ (s[0] - d[0])) ** 2), np.sum((d[6] @ (s[0] - d[0])) ** 2)) < 1
                   for d in distinct):
            distinct.append(s)

    def solution(p, covariance, chi_square, values, at_lower, at_upper, _):
        with np.errstate(invalid="ignore"):
            deviations = np.sqrt(np.diag(covariance))
        return Solution(
            parameters={name: float(v) for name, v in zip(names, p)},
            standard_deviations={name: float(v) for name, v in zip(names, deviations)},
            covariance=covariance, chi_square=chi_square, degrees_of_freedom=dof,
            p_value=float(chi2.sf(chi_square, max(dof, 1))),
            on_bound={name: "lower" if lo else "upper" for name, lo, hi in zip(names, at_lower, at_upper) if lo or hi},
            predicted={key: float(v) for key, v in zip(forward.keys, values)})
    solutions = tuple(solution(*s) for s in distinct if s[2] <= threshold)
    rejected = tuple(solution(*s) for s in distinct if s[2] > threshold)
    return Retrieval(solutions, rejected, names, threshold, complete, misfit.evaluations)
