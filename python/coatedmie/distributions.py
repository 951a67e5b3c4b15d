"""Bulk optical properties of populations of spheres: a size spectrum in bins, or a lognormal number distribution
integrated to a tolerance; and the optical coefficients of a population from its number concentration."""

import collections
import math
import operator
import warnings

import numpy as np

from ._description import LENGTH_UNITS, LIMITS, check_invalid, complex_, real, refusal, where
from .particles import CORE_SHELL_PARAMETERS, CoreShell, Jacobian, core_shell, core_shell_jacobian

_CROSS_SECTIONS = ("Cext", "Csca", "Cabs", "Cback", "Cpr")
_PARTICLE_FIELDS = _CROSS_SECTIONS + ("g",)
_Particles = collections.namedtuple("Particles", _PARTICLE_FIELDS)

LOGNORMAL_PARAMETERS = ("m_core.real", "m_core.imag", "m_shell.real", "m_shell.imag", "wavelength", "median_diameter",
                        "gsd", "core_fraction", "n_medium")
_LOGNORMAL_PARTICLE_PARAMETERS = ("m_core.real", "m_core.imag", "m_shell.real", "m_shell.imag", "wavelength",
                                  "n_medium")

BulkOptics = collections.namedtuple("BulkOptics", _CROSS_SECTIONS + ("g", "albedo", "lidar_ratio"))
BulkOptics.__doc__ = """Optical properties per particle of a population of spheres.

Python floats for one population, otherwise arrays.

Attributes
----------
Cext, Csca, Cabs, Cback, Cpr : float or ndarray
    Mean cross-sections over the particles, in the square of the length unit (Cback: 4 pi times the mean
    differential scattering cross-section at 180 degrees).
g : float or ndarray
    Asymmetry parameter of the population, each particle's g weighted by its Csca.
albedo : float or ndarray
    Single-scattering albedo Csca / Cext; exactly 1 when every particle's absorption is exactly 0.
lidar_ratio : float or ndarray
    Extinction-to-backscatter ratio 4 pi Cext / Cback, in steradians."""

LognormalOptics = collections.namedtuple("LognormalOptics", BulkOptics._fields + ("particles_evaluated",))
LognormalOptics.__doc__ = BulkOptics.__doc__.replace("Python floats", "Python numbers") + """
particles_evaluated : int or ndarray
    Spheres computed for the result."""

OpticalCoefficients = collections.namedtuple("OpticalCoefficients",
                                             ("extinction", "scattering", "absorption", "backscatter"))
OpticalCoefficients.__doc__ = """Optical coefficients of a population per unit length of path, in Mm^-1.

Python floats for one population, otherwise arrays.

Attributes
----------
extinction, scattering, absorption : float or ndarray
    Extinction, scattering and absorption coefficients, in Mm^-1 (inverse megametres, 1e-6 m^-1).
backscatter : float or ndarray
    Backscatter coefficient, the differential scattering coefficient at 180 degrees (lidar's beta), in
    Mm^-1 sr^-1; extinction / backscatter is the lidar ratio."""


class ConvergenceWarning(RuntimeWarning):
    """lognormal() returns a result that may miss its rtol."""


def _at(shape, k):
    return f"at flat index {k} of shape {shape}: " if shape else ""


def _bulk(number, particles, axis):
    """The population's BulkOptics values: sums along axis weighted by number."""
    # Only the ratios of the numbers matter: scaled to at most 1, numbers
    # near either end of the double range neither overflow nor underflow.
    number = number / np.max(number, axis=axis, keepdims=True)
    total = np.sum(number, axis=axis)
    sums = {field: np.sum(number * getattr(particles, field), axis=axis) for field in _CROSS_SECTIONS}
    Cext, Csca, Cabs, Cback, Cpr = (sums[field] / total for field in _CROSS_SECTIONS)
    with np.errstate(divide="ignore", invalid="ignore"):
        g = np.sum(number * particles.Csca * particles.g, axis=axis) / sums["Csca"]
        albedo = np.where(sums["Cabs"] == 0, 1.0, Csca / Cext)
        lidar_ratio = 4 * np.pi * Cext / Cback
    return [Cext, Csca, Cabs, Cback, Cpr, g, albedo, lidar_ratio]


def _bulk_derivative(number, particles, values, d_number, d_particles, axis):
    """The derivatives of the BulkOptics values of _bulk(number, particles, axis) for a change d_number of the
    numbers and d_particles of the particles' fields (None: no change)."""
    scale = np.max(number, axis=axis, keepdims=True)
    number = number / scale
    d_number = np.zeros_like(number) if d_number is None else d_number / scale
    if d_particles is None:
        d_particles = type(particles)(*(np.zeros_like(number) for _ in particles))
    Cext, Csca, Cabs, Cback, Cpr, g, albedo, lidar_ratio = values
    total, d_total = np.sum(number, axis=axis), np.sum(d_number, axis=axis)
    d_means = [(np.sum(d_number * getattr(particles, field) + number * getattr(d_particles, field), axis=axis) -
                mean * d_total) / total for field, mean in zip(_CROSS_SECTIONS, values)]
    dCext, dCsca, dCabs, dCback, dCpr = d_means
    # g = sum(number Csca g) / sum(number Csca)
    weighted = np.sum(number * particles.Csca, axis=axis)
    d_weighted = np.sum(d_number * particles.Csca + number * d_particles.Csca, axis=axis)
    d_product = np.sum(d_number * particles.Csca * particles.g +
                       number * (d_particles.Csca * particles.g + particles.Csca * d_particles.g), axis=axis)
    with np.errstate(divide="ignore", invalid="ignore"):
        dg = (d_product - g * d_weighted) / weighted
        d_albedo = (dCsca * Cext - Csca * dCext) / (Cext * Cext)
        d_lidar_ratio = 4 * np.pi * (dCext * Cback - Cext * dCback) / (Cback * Cback)
    return [dCext, dCsca, dCabs, dCback, dCpr, dg, d_albedo, d_lidar_ratio]


def _numbers(number, particle_arguments, axis):
    """The numbers as float64 and the broadcast shape, or ValueError for numbers that are no population."""
    number = real(number, "number")
    bad = ~(np.isfinite(number) & (number >= 0))
    if bad.any():
        k = int(np.flatnonzero(bad)[0])
        raise ValueError(f"number {_at(number.shape, k)}must be finite and at least 0, found {number.flat[k]!r}")
    shape = np.broadcast_shapes(*(np.shape(a) for a in particle_arguments), number.shape)
    largest = np.max(np.broadcast_to(number, shape), axis=axis)
    if np.any(largest == 0):
        k = int(np.flatnonzero(largest == 0)[0])
        raise ValueError(f"number {_at(np.shape(largest), k)}adds up to 0 along axis {axis}: no particles")
    return np.broadcast_to(number, shape), shape


def _bulk_record(values, record=None):
    record = record or BulkOptics
    if not np.shape(values[0]):
        return record(*(float(v) for v in values))
    return record(*values)


def distribution(m_core, m_shell, wavelength, d_core, d_shell, number, n_medium=1.0, *, axis=-1, threads=None,
                 invalid="raise"):
    """Optical properties per particle of coated spheres in size bins.

    All arguments broadcast as in NumPy; the bins are summed along `axis`, so that a wavelength column against a
    row of bins, ``distribution(m_core, m_shell, wavelength[:, None], d_core, d_shell, number)``, gives a spectrum.
    The mean cross-sections are sum(number C) / sum(number), g is weighted by number Csca, albedo and lidar ratio
    come from the means; only the ratios of the numbers matter.

    Parameters
    ----------
    m_core, m_shell, wavelength, d_core, d_shell : array_like
        The particles of each bin, as in `core_shell` (lengths in one unit).
    number : array_like
        Particles in each bin (a measured size spectrum, or a number concentration per bin): finite, at least 0,
        more than 0 in sum along `axis`.
    n_medium : float or array_like, optional
        Real refractive index of the surrounding medium; default 1.
    axis : int, tuple of int or None, optional
        The axis or axes of the bins (None: all); default the last.
    threads, invalid : optional
        As in `core_shell`; with ``invalid='nan'`` a refused particle makes its population's results NaN.

    Returns
    -------
    BulkOptics
        Cext, Csca, Cabs, Cback, Cpr (in the square of the length unit), g, albedo, lidar_ratio (sr), for each
        population. `optical_coefficients` turns them into coefficients per unit length of path.

    Raises
    ------
    ValueError
        A number that is negative or not finite, numbers that add up to 0, and the refusals of `core_shell`.
    TypeError, MemoryError, KeyboardInterrupt
        As in `core_shell`.

    Examples
    --------
    Soot cores of 0.2 of the diameter in sulphate (1.43), three bins of diameters in um at 0.55 um, in particles
    per cm^3; Cext in um^2, and the coefficients in Mm^-1:

    >>> from coatedmie import distribution, optical_coefficients
    >>> number = [1000, 100, 10]
    >>> r = distribution(1.75 + 0.44j, 1.43, 0.55, [0.02, 0.04, 0.08], [0.1, 0.2, 0.4], number)
    >>> round(r.Cext, 6), round(r.albedo, 3), round(r.lidar_ratio, 1)
    (0.00288, 0.961, 32.6)
    >>> b = optical_coefficients(r, sum(number), "um")
    >>> round(b.extinction, 3), round(b.absorption, 3)
    (3.197, 0.125)
    """
    check_invalid(invalid)
    number, shape = _numbers(number, (m_core, m_shell, wavelength, d_core, d_shell, n_medium), axis)
    particles = core_shell(m_core, m_shell, wavelength, d_core, d_shell, n_medium, threads=threads, invalid=invalid)
    particles = type(particles)(*(np.broadcast_to(value, shape) for value in particles))
    return _bulk_record(_bulk(number, particles, axis))


def distribution_jacobian(m_core, m_shell, wavelength, d_core, d_shell, number, n_medium=1.0, *, axis=-1,
                          threads=None, invalid="raise"):
    """Optical properties per particle of coated spheres in size bins, with their derivatives.

    The values are bit for bit those of `distribution`; the derivatives are the weighted sums of the particles'
    exact derivatives from `core_shell_jacobian`.

    Parameters
    ----------
    m_core, m_shell, wavelength, d_core, d_shell, number, n_medium, axis, threads, invalid
        As in `distribution`.

    Returns
    -------
    Jacobian
        ``values``: the `BulkOptics` of `distribution`. ``derivatives``: for each of ``'m_core.real'``,
        ``'m_core.imag'``, ``'m_shell.real'``, ``'m_shell.imag'``, ``'d_core'``, ``'d_shell'``, ``'wavelength'``
        and ``'n_medium'``, a `BulkOptics` of the derivatives of every field for the same change of that argument
        in every bin of the population (``'d_shell'``: every shell's diameter grown by the same length), in the
        field's unit per the parameter's unit.

    Raises
    ------
    ValueError, TypeError, MemoryError, KeyboardInterrupt
        As in `distribution`.

    Examples
    --------
    The population of `distribution`'s example: how its mean absorption cross-section (um^2) changes with the
    soot's imaginary index, and with a coating 1 um thicker on every particle (per um):

    >>> from coatedmie import distribution_jacobian
    >>> r = distribution_jacobian(1.75 + 0.44j, 1.43, 0.55, [0.02, 0.04, 0.08], [0.1, 0.2, 0.4], [1000, 100, 10])
    >>> round(r.values.Cabs, 7), round(r.derivatives["m_core.imag"].Cabs, 6), round(r.derivatives["d_shell"].Cabs, 5)
    (0.0001123, 0.000254, 0.00031)
    """
    check_invalid(invalid)
    number, shape = _numbers(number, (m_core, m_shell, wavelength, d_core, d_shell, n_medium), axis)
    jacobian = core_shell_jacobian(m_core, m_shell, wavelength, d_core, d_shell, n_medium, threads=threads,
                                   invalid=invalid)

    def broadcast(record):
        return type(record)(*(np.broadcast_to(value, shape) for value in record))
    particles = broadcast(jacobian.values)
    values = _bulk(number, particles, axis)
    derivatives = {name: _bulk_record(_bulk_derivative(number, particles, values, None, broadcast(derivative), axis))
                   for name, derivative in jacobian.derivatives.items()}
    return Jacobian(_bulk_record(values), derivatives)


def optical_coefficients(optics, number_concentration, length_unit):
    """Extinction, scattering, absorption and backscatter coefficients of a population, in Mm^-1.

    The coefficient of each process is the number concentration times the mean cross-section: with particles per
    cm^3 and cross-sections in um^2 that is Mm^-1 as it stands, with nm^2 a millionth of it.

    Parameters
    ----------
    optics : BulkOptics or LognormalOptics
        The mean cross-sections of the population, from `distribution` or `lognormal`.
    number_concentration : float or array_like
        Particles per cm^3 of the population (for `distribution`, the sum of the numbers of its bins when they are
        concentrations); broadcast against the fields of `optics`.
    length_unit : {'nm', 'um', 'µm', 'mm', 'cm', 'm'}
        The length unit of the wavelength and diameters that gave `optics`.

    Returns
    -------
    OpticalCoefficients
        extinction, scattering, absorption in Mm^-1, backscatter in Mm^-1 sr^-1.

    Raises
    ------
    ValueError
        An unknown length unit.

    Examples
    --------
    1000 soot particles per cm^3 coated with sulphate, of count median diameter 200 nm, at 550 nm:

    >>> from coatedmie import lognormal, optical_coefficients
    >>> b = optical_coefficients(lognormal(1.75 + 0.44j, 1.43, 550, 200, 1.6, 0.4), 1000, "nm")
    >>> round(b.extinction, 2), round(b.absorption, 2), round(b.extinction / b.backscatter, 1)
    (66.34, 10.25, 81.3)
    """
    if length_unit not in LENGTH_UNITS:
        raise ValueError(f"length_unit must be one of {', '.join(LENGTH_UNITS)}, found {length_unit!r}")
    # cm^-3 = 1e6 m^-3; Mm^-1 = 1e-6 m^-1.
    per_megametre = 1e12 * LENGTH_UNITS[length_unit] ** 2 * real(number_concentration, "number_concentration")
    values = [per_megametre * optics.Cext, per_megametre * optics.Csca, per_megametre * optics.Cabs,
              per_megametre * optics.Cback / (4 * np.pi)]
    if not np.shape(values[0]):
        return OpticalCoefficients(*(float(v) for v in values))
    return OpticalCoefficients(*values)


def _upper_normal_tail(z):
    """P(Z > z) for a standard normal Z."""
    return 0.5 * math.erfc(z / math.sqrt(2))


def _normal_quantile_above(p):
    """z with P(Z > z) = p, within [-40, 40]."""
    low, high = -40.0, 40.0
    for _ in range(100):
        middle = 0.5 * (low + high)
        low, high = (middle, high) if _upper_normal_tail(middle) > p else (low, middle)
    return high


def _ripple_spacing(index):
    """The spacing in size parameter of a sphere's successive resonances of one
    kind: arctan(sqrt(m^2 - 1)) / sqrt(m^2 - 1) for real index m > 1."""
    if index <= 1:
        return 1.0
    root = math.sqrt(index * index - 1)
    return math.atan(root) / root


def _largest_and_smallest_size_parameters(layers, core_fraction):
    """The range of outer size parameters the engine accepts for these layers: |m| x at most 1e7 for each layer,
    no more terms than its tables hold, and an outer size parameter of at least 1e-30 (a core below that is no
    core, as core_shell has it)."""
    largest = LIMITS["max_outer_size_parameter"]
    if core_fraction < 1:
        largest = min(largest, LIMITS["max_index_times_size"] / abs(layers["shell"]))
    if core_fraction > 0:
        largest = min(largest, LIMITS["max_index_times_size"] / (abs(layers["core"]) * core_fraction))
    return largest * (1 - 1e-9), LIMITS["min_size_parameter"] * (1 + 1e-9)


class _LognormalSum:
    """The trapezoid rule for one lognormal population over w = ln(d / median),
    in the variable v = w + a (e^w - 1) where a = x_median / x_turn: steps in v
    are steps in ln d for size parameters well below x_turn, and steps of
    x_turn times as much in size parameter well above it, where the
    resonance ripple is periodic in size parameter rather than in ln d. The
    particles at the points v computed so far, and the sums over them; with
    derivatives, the particles' derivatives too."""

    def __init__(self, particle, s, a, evaluate):
        self.particle, self.s, self.a, self.evaluate = particle, s, a, evaluate
        self.v, self.w = np.empty(0), np.empty(0)
        self.columns = {field: np.empty(0) for field in _PARTICLE_FIELDS}
        self.derivative_columns = {}

    def v_of(self, w):
        return w + self.a * math.expm1(w)

    def w_of(self, v):
        # w + a (e^w - 1) - v is increasing and convex in w: Newton's iteration
        # started above the root descends to it without overshooting.
        w = np.where(v >= 0, np.minimum(v, np.log1p(np.maximum(v, 0) / self.a)), 0.0)
        for _ in range(100):
            step = (w + self.a * np.expm1(w) - v) / (1 + self.a * np.exp(w))
            w = w - step
            if np.all(np.abs(step) <= 4e-16 * np.maximum(1.0, np.abs(w))):
                break
        return w

    def add(self, v):
        m_core, m_shell, wavelength, median, core_fraction, n_medium = self.particle
        w = self.w_of(v)
        d = median * np.exp(w)
        r = self.evaluate(m_core, m_shell, wavelength, core_fraction * d, d, n_medium)
        if isinstance(r, Jacobian):
            for name, derivative in r.derivatives.items():
                columns = self.derivative_columns.setdefault(name, {field: np.empty(0) for field in self.columns})
                for field, column in columns.items():
                    columns[field] = np.concatenate([column, getattr(derivative, field)])
            r = r.values
        self.v, self.w = np.concatenate([self.v, v]), np.concatenate([self.w, w])
        for field, column in self.columns.items():
            self.columns[field] = np.concatenate([column, getattr(r, field)])

    def weights(self, low, high):
        u = self.w / self.s
        # The standard normal density in u times du/dv, up to factors that cancel.
        weight = np.exp(-0.5 * u * u) / (1 + self.a * np.exp(self.w))
        weight[(self.v == low) | (self.v == high)] *= 0.5
        return weight, u

    def means(self, low, high):
        """BulkOptics values of the sum over the points from v = low to high,
        the points' u = w / s and their particles."""
        weight, u = self.weights(low, high)
        particles = _Particles(*self.columns.values())
        return [float(value) for value in _bulk(weight, particles, -1)], u, particles

    def derivatives(self, low, high, values):
        """The derivatives of the means over the points from v = low to high by
        LOGNORMAL_PARAMETERS: the same rule on the same particles, each
        particle's derivatives and the exact derivatives of the lognormal
        density at its diameter (d fixed, so w = ln(d / median) moves)."""
        _, _, _, median, core_fraction, _ = self.particle
        weight, u = self.weights(low, high)
        particles = _Particles(*self.columns.values())

        def of(name):
            return _Particles(*self.derivative_columns[name].values())
        d = median * np.exp(self.w)
        changes = {name: (None, of(name)) for name in _LOGNORMAL_PARTICLE_PARAMETERS}
        # d ln(density) / d median = u / (s median); / d gsd = u^2 / (s gsd).
        changes["median_diameter"] = (weight * u / (self.s * median), None)
        changes["gsd"] = (weight * u * u / (self.s * math.exp(self.s)), None)
        changes["core_fraction"] = (None, _Particles(*(d * column for column in of("d_core"))))
        return {name: [float(value) for value in _bulk_derivative(weight, particles, values, d_number, d_particles,
                                                                    -1)]
                for name, (d_number, d_particles) in ((name, changes[name]) for name in LOGNORMAL_PARAMETERS)}


def _range_needed(u, particles, means, s, share):
    """The range of u outside which each mean has less than share of itself,
    judged from the particles at the points u. Above the largest u each
    cross-section is taken to grow from its largest value on the last unit of
    u at its rate between the last two units, but at least like d^2 (large
    particles) and at most like d^8 (Csca g of small ones); below the smallest
    u not to exceed its largest value on the first unit."""
    low, high = u.min(), u.max()
    columns = [particles.Cext, particles.Csca, particles.Cabs, particles.Cback, particles.Cpr,
               np.abs(particles.Csca * particles.g)]
    totals = means[:5] + [abs(means[5]) * means[1]]
    needed_low, needed_high = low, high
    for column, total in zip(columns, totals):
        last = np.max(column[u >= high - 1])
        before = np.max(column[(u >= high - 2) & (u < high - 1)], initial=0.0)
        bottom = np.max(column[u <= low + 1])
        if not (total > 0 and last > 0 and bottom > 0):
            continue
        k = min(8.0, max(2.0, math.log(last / before) / s)) if before > 0 else 8.0
        # The part above U of A e^(k s (u - high)) times the normal density is
        # A e^(k^2 s^2 / 2 - k s high) P(Z > U - k s).
        log_allowed = math.log(share * total) - math.log(last) + k * s * high - 0.5 * (k * s) ** 2
        needed_high = max(needed_high, k * s + _normal_quantile_above(math.exp(min(log_allowed, 0.0))))
        needed_low = min(needed_low, -_normal_quantile_above(min(share * total / bottom, 1.0)))
    return needed_low, needed_high


def _noise_floors(means):
    """Changes no refinement removes: 1e-12 of Cext in each cross-section
    (Cabs and Cpr are differences of nearly equal numbers for weak absorbers
    and forward scatterers), 1e-12 in g and the albedo."""
    Cext, Cback, lidar_ratio = means[0], means[3], means[7]
    return [1e-12 * abs(Cext)] * 5 + [1e-12, 1e-12, 1e-12 * abs(lidar_ratio * Cext / Cback) if Cback else 0.0]


def _relative_changes(new, old):
    return [abs(a - b) / abs(a) if a != 0 else (0.0 if b == 0 else math.inf) for a, b in zip(new, old)]


def _agree(new, old, rtol, checked):
    """Whether every quantity checked agrees within rtol; the g of no scattering (NaN) agrees with itself."""
    return all(a == b or abs(a - b) <= rtol * abs(a) + floor or (a != a and b != b)
               for a, b, floor, check in zip(new, old, _noise_floors(new), checked) if check)


def _column(record):
    """The fields _bulk needs of one particle's CoreShell, as arrays of one."""
    return _Particles(*(np.array([getattr(record, field)]) for field in _PARTICLE_FIELDS))


def _lognormal_one(particle, rtol, max_particles, evaluate, checked):
    """BulkOptics values, the number of particles computed, what fell short
    of rtol (None when nothing did), and where evaluate gives the particles'
    derivatives, the values' derivatives by LOGNORMAL_PARAMETERS (else None)."""
    m_core, m_shell, wavelength, median, gsd, core_fraction, n_medium = particle
    particle = (m_core, m_shell, wavelength, median, core_fraction, n_medium)
    s = math.log(gsd)
    if s == 0:
        r = evaluate(m_core, m_shell, wavelength, core_fraction * median, median, n_medium)
        one = _column(r.values if isinstance(r, Jacobian) else r)
        values = [float(value) for value in _bulk(np.ones(1), one, -1)]
        if not isinstance(r, Jacobian):
            return values, 1, None, None
        # One size: the means change with the square of ln gsd, not with gsd.
        d = {name: np.array(r.derivatives[name]) for name in CORE_SHELL_PARAMETERS}
        changes = {**{name: d[name] for name in _LOGNORMAL_PARTICLE_PARAMETERS},
                   "median_diameter": d["d_shell"] + core_fraction * d["d_core"], "gsd": 0 * d["d_core"],
                   "core_fraction": median * d["d_core"]}
        return values, 1, None, {name: [float(value) for value in _bulk_derivative(
            np.ones(1), one, values, None, _column(CoreShell(*changes[name])), -1)] for name in LOGNORMAL_PARAMETERS}

    layers = {"shell": complex(m_shell.real / n_medium, m_shell.imag / n_medium),
              "core": complex(m_core.real / n_medium, m_core.imag / n_medium)}
    present = [layers["shell"]] * (core_fraction < 1) + [layers["core"]] * (core_fraction > 0)
    x_median = math.pi * n_medium * median / wavelength
    h = min(0.25, s / 2)
    x_turn = _ripple_spacing(max(m.real for m in present)) / (2 * h)
    integral = _LognormalSum(particle, s, x_median / x_turn, evaluate)
    largest, smallest = _largest_and_smallest_size_parameters(layers, core_fraction)
    v_ceiling, v_floor = integral.v_of(math.log(largest / x_median)), integral.v_of(math.log(smallest / x_median))

    def first_grid(u_low, u_high, h):
        """The indices j of the points v = j h from u_low to u_high, within the engine's sizes."""
        return (max(math.ceil(v_floor / h), math.floor(integral.v_of(s * u_low) / h)),
                min(math.floor(v_ceiling / h), math.ceil(integral.v_of(s * u_high) / h)))

    # A range of u whose left-out tails hold less than rtol / 10 of each mean,
    # on a first grid of at most a quarter of max_particles.
    t = _normal_quantile_above(rtol / 10)
    first, last = first_grid(-t, t + 2 * s, h)
    while last - first >= max_particles // 4:
        h *= 2
        first, last = first_grid(-t, t + 2 * s, h)
    note = None
    while True:
        done = set(np.round(integral.v / h).astype(np.int64).tolist())
        integral.add(np.array([j for j in range(first, last + 1) if j not in done], dtype=np.float64) * h)
        means, u, particles = integral.means(first * h, last * h)
        if not np.all(np.isfinite(means[:5])):
            return [math.nan] * 8, integral.v.size, None, None
        needed_low, needed_high = _range_needed(u, particles, means, s, rtol / 10)
        if needed_low >= u.min() and needed_high <= u.max():
            break
        wider = first_grid(needed_low - 0.05, needed_high + 0.05, h)
        wider = (min(wider[0], first), max(wider[1], last))
        if wider == (first, last) or wider[1] - wider[0] >= max_particles // 4:
            side = f"above d = {median * math.exp(s * u.max()):.4g}" if needed_high > u.max() else \
                f"below d = {median * math.exp(s * u.min()):.4g}"
            note = f"the tail {side}, beyond the particles the engine or max_particles allow, may hold more " \
                   f"than rtol / 10 of a mean"
            break
        first, last = wider

    # Halve the steps until three successive sums agree within rtol.
    estimates = [means]
    level = 0
    while not (level >= 2 and _agree(estimates[-1], estimates[-2], rtol, checked) and
               _agree(estimates[-1], estimates[-3], rtol, checked)):
        j = np.arange((first << (level + 1)) + 1, last << (level + 1), 2)
        if integral.v.size + j.size > max_particles:
            if level:
                changes = [change if check else 0.0 for change, check in zip(
                    _relative_changes(estimates[-1], estimates[-2]), checked)]
                worst = int(np.argmax(changes))
                shortfall = f"the last one changed {BulkOptics._fields[worst]} by {changes[worst]:.1e}"
            else:
                shortfall = "none fitted"
            note = (note + "; " if note else "") + \
                f"stopped at {integral.v.size} particles (max_particles={max_particles}) before successive " \
                f"refinements agreed within rtol={rtol:g}: {shortfall}"
            break
        level += 1
        integral.add(j * h / 2**level)
        estimates.append(integral.means(first * h, last * h)[0])
    derivatives = integral.derivatives(first * h, last * h, estimates[-1]) if integral.derivative_columns else None
    return estimates[-1], int(integral.v.size), note, derivatives


def _parameter_problem(m_core, m_shell, wavelength, median, gsd, core_fraction, n_medium):
    """The reason a lognormal population is refused, or None."""
    if not (math.isfinite(gsd) and gsd >= 1):
        return f"gsd must be finite and at least 1, found {gsd!r}"
    if not (math.isfinite(core_fraction) and 0 <= core_fraction <= 1):
        return f"core_fraction must be from 0 to 1, found {core_fraction!r}"
    # The median particle, for the refusals that do not depend on size.
    names = {"m_core": "m_core", "m_shell": "m_shell", "wavelength": "wavelength", "n_medium": "n_medium",
             "d_shell": "median_diameter", "d_core": "core_fraction * median_diameter"}
    d_core = core_fraction * median if math.isfinite(median) else 0.0
    return refusal(dict(m_core=m_core, m_shell=m_shell, wavelength=wavelength, d_core=d_core, d_shell=median,
                        n_medium=n_medium), names)


def lognormal(m_core, m_shell, wavelength, median_diameter, gsd, core_fraction, n_medium=1.0, *, rtol=1e-6,
              max_particles=200_000, threads=None, invalid="raise"):
    """Optical properties per particle of a lognormal population of coated spheres.

    The outer diameters d follow the lognormal number distribution

        dN / d ln d = exp(-(ln d - ln median_diameter)^2 / (2 ln(gsd)^2)) / (sqrt(2 pi) ln gsd)

    and every core has the diameter core_fraction d.

    The integral over ln d is a trapezoid rule in a variable whose steps are steps in ln d for small particles and
    steps in size parameter for large ones, where the resonance ripple of weak absorbers repeats, starting at half
    the ripple's spacing. It halves the steps until three successive sums agree within rtol relative in every
    returned quantity (give or take 1e-12 of Cext, or of 1 for g and the albedo, that rounding leaves): two sums
    alone can agree while both miss the same resonances. Each halving's new particles are one `core_shell` call.
    The range of ln d grows until what it leaves out holds less than rtol / 10 of each mean, judged from the
    cross-sections at its ends, taken to grow beyond them at least like d^2 and at most like d^8; sizes beyond the
    engine's (size parameter 99621, ``|m| x`` 1e7) stay out, and cores below its smallest size parameter are no cores,
    as in `core_shell`.

    The time grows with the size parameters the distribution reaches, and with weak absorption: the resonances of
    large weakly absorbing particles are far narrower than their spacing, and the backscatter converges slowly
    over them. Water drops with soot cores, of median diameter 0.6 um and gsd 1.8 at 0.55 um, take 4289 particles
    for rtol 1e-3, 47745 for 1e-4 and 611329 for 1e-6, beyond the default max_particles.

    Parameters
    ----------
    m_core, m_shell, wavelength : array_like
        The materials' indices n + ik and the vacuum wavelength, as in `core_shell`.
    median_diameter : float or array_like
        Count median diameter of the outer diameters, in the unit of the wavelength.
    gsd : float or array_like
        Geometric standard deviation, at least 1 (1 is a single size).
    core_fraction : float or array_like
        Core diameter over outer diameter, from 0 to 1.
    n_medium : float or array_like, optional
        Real refractive index of the surrounding medium; default 1.
    rtol : float, optional
        Relative tolerance, from 1e-12 to 0.1; default 1e-6.
    max_particles : int, optional
        Most particles computed per population, at least 100 (the first grid takes up to a quarter of them, its
        steps coarsened to fit); default 200000.
    threads, invalid : optional
        As in `core_shell`; with ``invalid='nan'`` a refused population gets NaN and particles_evaluated 0.

    Returns
    -------
    LognormalOptics
        The fields of `BulkOptics` and particles_evaluated; every argument may be an array, arrays broadcast as in
        NumPy (a spectrum is arrays of wavelengths and of the indices that go with them), and each population is
        integrated on its own as if alone.

    Raises
    ------
    ValueError
        A population that cannot be (gsd below 1, core_fraction outside 0 to 1, an index the engine refuses, ...),
        named by its flat index, or a bad rtol or max_particles.
    TypeError, MemoryError, KeyboardInterrupt
        As in `core_shell`.

    Warns
    -----
    ConvergenceWarning
        Where max_particles ends the work before rtol is met, or a tail stays out that holds more than rtol / 10:
        one warning telling how many populations fell short.

    Examples
    --------
    Soot cores of 0.4 of the diameter in sulphate shells (1.43), median diameter 0.2 um, gsd 1.6, at 0.55 um; Cext
    in um^2:

    >>> from coatedmie import lognormal
    >>> r = lognormal(1.75 + 0.44j, 1.43, 0.55, 0.2, 1.6, 0.4)
    >>> round(r.Cext, 6), round(r.g, 4), round(r.lidar_ratio, 1), r.particles_evaluated
    (0.066335, 0.6369, 81.3, 3393)
    """
    values, counts, _ = _lognormal(m_core, m_shell, wavelength, median_diameter, gsd, core_fraction, n_medium,
                                   rtol, max_particles, invalid, lambda *particles: core_shell(
                                       *particles, threads=threads, invalid=invalid), BulkOptics._fields)
    return values


def _lognormal(m_core, m_shell, wavelength, median_diameter, gsd, core_fraction, n_medium, rtol, max_particles,
               invalid, evaluate, converged):
    """LognormalOptics of the populations, the particles' count, and with derivatives (evaluate gives Jacobians) an
    array of the derivatives: the populations' shape + (8 fields, LOGNORMAL_PARAMETERS). rtol holds for the fields
    named in converged."""
    checked = [field in converged for field in BulkOptics._fields]
    rtol = float(rtol)
    if not 1e-12 <= rtol <= 0.1:
        raise ValueError(f"rtol must be from 1e-12 to 0.1, found {rtol!r}")
    max_particles = operator.index(max_particles)
    if max_particles < 100:
        raise ValueError(f"max_particles must be at least 100, found {max_particles}")
    check_invalid(invalid)
    arguments = np.broadcast_arrays(complex_(m_core, "m_core"), complex_(m_shell, "m_shell"),
                                    real(wavelength, "wavelength"), real(median_diameter, "median_diameter"),
                                    real(gsd, "gsd"), real(core_fraction, "core_fraction"), real(n_medium, "n_medium"))
    shape = arguments[0].shape
    populations = [[a[index].item() for a in arguments] for index in np.ndindex(shape)]
    problems = [_parameter_problem(*population) for population in populations]
    if invalid == "raise":
        for k, problem in enumerate(problems):
            if problem:
                raise ValueError(where(shape, k, "population") + problem)
    values = np.full(shape + (8,), math.nan)
    derivatives = np.full(shape + (8, len(LOGNORMAL_PARAMETERS)), math.nan)
    counts = np.zeros(shape, dtype=np.int64)
    notes = []
    for k, (index, population, problem) in enumerate(zip(np.ndindex(shape), populations, problems)):
        if problem:
            continue
        values[index], counts[index], note, by_parameter = _lognormal_one(population, rtol, max_particles, evaluate,
                                                                          checked)
        if by_parameter:
            derivatives[index] = np.transpose([by_parameter[name] for name in LOGNORMAL_PARAMETERS])
        if note:
            notes.append(f"{_at(shape, k)}{note}")
    if notes:
        count = f"{len(notes)} of {counts.size} populations: first " if shape else ""
        warnings.warn(f"lognormal: {count}{notes[0]}", ConvergenceWarning, stacklevel=3)
    if not shape:
        return LognormalOptics(*(float(v) for v in values), int(counts)), counts, derivatives
    return LognormalOptics(*np.moveaxis(values, -1, 0), counts), counts, derivatives


def lognormal_jacobian(m_core, m_shell, wavelength, median_diameter, gsd, core_fraction, n_medium=1.0, *, rtol=1e-6,
                       max_particles=200_000, threads=None, invalid="raise", converged=BulkOptics._fields):
    """Optical properties per particle of a lognormal population of coated spheres, with their derivatives.

    The values are bit for bit those of `lognormal`, on the same particles. The derivatives are integrals on the
    same quadrature: of the particles' exact derivatives (`core_shell_jacobian`) for the materials, the wavelength,
    the medium and the core fraction, and of the exact derivatives of the lognormal density at each particle's
    diameter for the median diameter and the geometric standard deviation. They are as accurate as the quadrature
    (rtol), give or take the wider tails of the density's derivatives.

    Parameters
    ----------
    m_core, m_shell, wavelength, median_diameter, gsd, core_fraction, n_medium, rtol, max_particles, threads, invalid
        As in `lognormal`.
    converged : sequence of str, optional
        The fields of `BulkOptics` that must meet rtol; default all, as in `lognormal`. The others come from the
        same particles, to whatever accuracy these give them.

    Returns
    -------
    Jacobian
        ``values``: the `LognormalOptics` of `lognormal`. ``derivatives``: for each of ``'m_core.real'``,
        ``'m_core.imag'``, ``'m_shell.real'``, ``'m_shell.imag'``, ``'wavelength'``, ``'median_diameter'``,
        ``'gsd'``, ``'core_fraction'`` and ``'n_medium'``, a `BulkOptics` of the derivatives of every field, in the
        field's unit per the parameter's unit. At gsd = 1 the derivative with respect to gsd is 0: the means change
        with (ln gsd)^2.

    Raises
    ------
    ValueError, TypeError, MemoryError, KeyboardInterrupt
        As in `lognormal`.

    Warns
    -----
    ConvergenceWarning
        As in `lognormal`.

    Examples
    --------
    The population of `lognormal`'s example: its mean absorption cross-section (um^2), how it grows with the
    median diameter (um^2 per um) and with the geometric standard deviation:

    >>> from coatedmie import lognormal_jacobian
    >>> r = lognormal_jacobian(1.75 + 0.44j, 1.43, 0.55, 0.2, 1.6, 0.4, rtol=1e-4)
    >>> d = r.derivatives
    >>> round(r.values.Cabs, 6), round(d["median_diameter"].Cabs, 5), round(d["gsd"].Cabs, 5)
    (0.010252, 0.15107, 0.02363)
    """
    values, _, derivatives = _lognormal(m_core, m_shell, wavelength, median_diameter, gsd, core_fraction, n_medium,
                                        rtol, max_particles, invalid, lambda *particles: core_shell_jacobian(
                                            *particles, threads=threads, invalid=invalid), converged)
    return Jacobian(values, {name: _bulk_record(list(np.moveaxis(derivatives[..., k], -1, 0)))
                             for k, name in enumerate(LOGNORMAL_PARAMETERS)})
