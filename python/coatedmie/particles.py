"""Coated and homogeneous spheres as people describe them: the materials' refractive indices, a wavelength and
diameters in one length unit, and the medium's index."""

import collections

import numpy as np

from ._description import CORE_SHELL_NAMES, SPHERE_NAMES, Particles, _relative, check_invalid
from ._engine import _scattering, efficiencies

CoreShell = collections.namedtuple(
    "CoreShell", ("Qext", "Qsca", "Qabs", "Qback", "Qpr", "g", "albedo", "Cext", "Csca", "Cabs", "Cback", "Cpr"))
CoreShell.__doc__ = """Optical properties of spheres, coated or not.

Python floats for all-scalar input, otherwise arrays of the broadcast shape.

Attributes
----------
Qext, Qsca, Qabs, Qback, Qpr : float or ndarray
    Efficiencies (dimensionless): cross-sections divided by the outer geometric cross-section pi d_shell^2 / 4.
g : float or ndarray
    Asymmetry parameter, the mean cosine of the scattering angle.
albedo : float or ndarray
    Single-scattering albedo Qsca / Qext.
Cext, Csca, Cabs, Cback, Cpr : float or ndarray
    Cross-sections, in the square of the caller's length unit. Cback = Qback pi d_shell^2 / 4 is the
    backscattering cross-section, 4 pi times the differential scattering cross-section at 180 degrees."""

Scattering = collections.namedtuple(
    "Scattering", ("S1", "S2", "S11", "S12", "S33", "S34", "phase_function", "differential_cross_section"))
Scattering.__doc__ = """Angular scattering of spheres, coated or not, at given angles.

Arrays of the particles' broadcast shape followed by the angles' shape; Python numbers for all-scalar input.

Attributes
----------
S1, S2 : complex or ndarray
    Amplitude functions (dimensionless), as `coatedmie.amplitudes`: the far field is
    E_s = exp(ikr) / (-ikr) S E_i, time factor exp(-i omega t), k = 2 pi n_medium / wavelength.
S11, S12, S33, S34 : float or ndarray
    Mueller matrix elements (dimensionless), as `coatedmie.mueller`; -S12 / S11 is the degree of linear
    polarisation for unpolarised incident light.
phase_function : float or ndarray
    Phase function (dimensionless), mean 1 over all directions, as `coatedmie.phase_function`.
differential_cross_section : float or ndarray
    Differential scattering cross-section for unpolarised light, S11 / k^2, in the square of the caller's length
    unit per steradian; its integral over all directions is Csca."""

_EFFICIENCY_FIELDS = ("Kext", "Ksca", "Kabs", "Kback", "Kpr")


def _to_outer(particles):
    """The factor that refers the engine's efficiencies to the whole particle: a shell of index exactly 1 + 0i (that
    of the medium) leaves them referred to the core."""
    alpha1, index1, alpha2, _ = particles.layers
    with np.errstate(invalid="ignore"):
        return np.where((alpha2 < alpha1) & (index1.real == 1.0) & (index1.imag == 0.0), (alpha2 / alpha1) ** 2, 1.0)


def _values(r, particles):
    """The CoreShell fields, as arrays, from the engine's Efficiencies of the particles' layers."""
    to_outer = _to_outer(particles)
    area = np.pi * particles.values["d_shell"] ** 2 / 4
    Q = [np.asarray(getattr(r, field)) * to_outer for field in _EFFICIENCY_FIELDS]
    values = Q + [np.asarray(r.g) * 1.0, np.asarray(r.albedo) * 1.0] + [q * area for q in Q]
    if particles.refused.any():
        values = [np.where(particles.refused, np.nan, v) for v in values]
    return values


def _record(values, particles):
    if not particles.shape:
        return CoreShell(*(float(v) for v in values))
    return CoreShell(*values)


def _core_shell(particles, threads, invalid):
    return _record(_values(efficiencies(*particles.layers, threads=threads, invalid=invalid), particles), particles)


def _scattering_of(particles, angles, threads, invalid):
    S1, S2, S11, S12, S33, S34, p = _scattering(*particles.layers, angles, threads=threads, invalid=invalid)
    wavelength, n_medium = (np.reshape(particles.values[role], particles.shape + (1,) * np.ndim(angles))
                            for role in ("wavelength", "n_medium"))
    per_wavenumber = wavelength / (2 * np.pi * n_medium)
    values = (S1, S2, S11, S12, S33, S34, p, S11 * per_wavenumber * per_wavenumber)
    if np.ndim(S1) == 0:
        return Scattering(*(v.item() for v in values))
    return Scattering(*values)


def core_shell(m_core, m_shell, wavelength, d_core, d_shell, n_medium=1.0, *, threads=None, invalid="raise"):
    """Efficiencies, cross-sections, g and albedo of coated spheres.

    Every argument may be an array; arrays broadcast as in NumPy, so that a spectrum is one call with arrays of
    wavelengths and of the indices that go with them. The engine gets the size parameters pi n_medium d / wavelength
    and the relative indices m / n_medium, and every value is bit for bit what `coatedmie.efficiencies` gives for
    them.

    Parameters
    ----------
    m_core, m_shell : complex or array_like
        Complex refractive indices of the core's and the shell's materials (dimensionless), n + ik with k >= 0.
    wavelength : float or array_like
        Vacuum wavelength, in any length unit, greater than 0.
    d_core, d_shell : float or array_like
        Diameters of the core and of the whole particle, in the unit of the wavelength; 0 <= d_core <= d_shell,
        d_shell > 0. d_core = 0, or a core whose size parameter is below 1e-30, is a homogeneous sphere of the
        shell's material; d_core = d_shell one of the core's.
    n_medium : float or array_like, optional
        Real refractive index of the surrounding medium (dimensionless), greater than 0; default 1 (vacuum).
    threads : int or None, optional
        Threads sharing the particles; None (default) one per core. The results do not depend on it.
    invalid : {'raise', 'nan'}, optional
        ``'raise'`` (default) raises ValueError for the first refused particle before anything is computed;
        ``'nan'`` gives refused particles NaN in every field and computes the others.

    Returns
    -------
    CoreShell
        Qext, Qsca, Qabs, Qback, Qpr, g, albedo, Cext, Csca, Cabs, Cback, Cpr. Efficiencies refer to the outer
        cross-section pi d_shell^2 / 4; cross-sections are in the square of the length unit.

    Raises
    ------
    ValueError
        A refused particle with ``invalid='raise'``, named by its flat index in the broadcast shape, with the
        arguments and values that make it so: a description that is not a particle (d_core > d_shell, a negative or
        non-finite value, a wavelength or medium index not above 0, an index with k < 0), or one beyond the
        engine's limits (a size parameter pi n_medium d_shell / wavelength above 99621 or below 1e-30,
        ``|m / n_medium|`` below 1e-4, a negative real part of m, ``|m| pi d / wavelength`` above 1e7 for a
        layer).
    TypeError
        Arguments that are not numbers.
    MemoryError
        A result larger than the machine's memory.
    KeyboardInterrupt
        Ctrl-C; it stops the work within a particle's time.

    See Also
    --------
    sphere : a homogeneous sphere.
    core_shell_scattering : the angular quantities of the same particles.

    Examples
    --------
    Soot (1.75 + 0.44i) of 150 nm coated with organics (1.5) to 300 nm, at 532 nm in water; the cross-section
    in nm^2:

    >>> from coatedmie import core_shell
    >>> r = core_shell(1.75 + 0.44j, 1.5, 532, 150, 300, 1.33)
    >>> round(r.Qext, 4), round(r.albedo, 4), round(r.Cext)
    (0.4645, 0.4476, 32836)
    """
    check_invalid(invalid)
    particles = Particles(m_core, m_shell, wavelength, d_core, d_shell, n_medium, CORE_SHELL_NAMES)
    if invalid == "raise":
        particles.raise_first_refused()
    return _core_shell(particles, threads, invalid)


def sphere(m, wavelength, diameter, n_medium=1.0, *, threads=None, invalid="raise"):
    """Efficiencies, cross-sections, g and albedo of homogeneous spheres.

    Bit for bit `core_shell` with the core and the shell of one material and one diameter. Every argument may be an
    array; arrays broadcast as in NumPy.

    Parameters
    ----------
    m : complex or array_like
        Complex refractive index of the material (dimensionless), n + ik with k >= 0.
    wavelength : float or array_like
        Vacuum wavelength, in any length unit, greater than 0.
    diameter : float or array_like
        Diameter of the sphere, in the unit of the wavelength, greater than 0.
    n_medium : float or array_like, optional
        Real refractive index of the surrounding medium, greater than 0; default 1.
    threads, invalid : optional
        As in `core_shell`.

    Returns
    -------
    CoreShell
        As in `core_shell`; efficiencies refer to pi diameter^2 / 4, cross-sections are in the square of the
        length unit.

    Raises
    ------
    ValueError, TypeError, MemoryError, KeyboardInterrupt
        As in `core_shell`, naming m, wavelength, diameter and n_medium.

    Examples
    --------
    A water droplet of 10 um at 0.55 um, its extinction near the large-particle limit of 2:

    >>> from coatedmie import sphere
    >>> r = sphere(1.333, 0.55, 10.0)
    >>> round(r.Qext, 4), round(r.g, 4), round(r.Csca, 2)
    (2.111, 0.8377, 165.8)
    """
    check_invalid(invalid)
    particles = Particles(m, m, wavelength, diameter, diameter, n_medium, SPHERE_NAMES)
    if invalid == "raise":
        particles.raise_first_refused()
    return _core_shell(particles, threads, invalid)


def core_shell_scattering(m_core, m_shell, wavelength, d_core, d_shell, angles, n_medium=1.0, *, threads=None,
                          invalid="raise"):
    """Amplitude functions, Mueller matrix, phase function and differential cross-section of coated spheres.

    Each quantity is bit for bit what the size-parameter function gives (`amplitudes`, `mueller`,
    `phase_function`) for the size parameters and relative indices `core_shell` gives the engine; all of them come
    from one computation of each particle.

    Parameters
    ----------
    m_core, m_shell, wavelength, d_core, d_shell : array_like
        The particles, as in `core_shell`: indices n + ik, the vacuum wavelength and the diameters in one length
        unit.
    angles : float or array_like
        Scattering angles in degrees, of any shape; finite.
    n_medium : float or array_like, optional
        Real refractive index of the surrounding medium; default 1.
    threads, invalid : optional
        As in `core_shell`; a refused particle gets NaN at every angle.

    Returns
    -------
    Scattering
        S1, S2, S11, S12, S33, S34, phase_function and differential_cross_section (in the square of the length
        unit per steradian), each of the particles' broadcast shape followed by the angles' shape.

    Raises
    ------
    ValueError, TypeError, MemoryError, KeyboardInterrupt
        As in `core_shell`; ValueError also for an angle that is not finite.

    Examples
    --------
    Soot coated with organics, as in `core_shell`: the phase function forward and back, and the differential
    cross-section in nm^2 per steradian:

    >>> from coatedmie import core_shell_scattering
    >>> s = core_shell_scattering(1.75 + 0.44j, 1.5, 532, 150, 300, [0, 180], 1.33)
    >>> s.phase_function.round(3), s.differential_cross_section.round(1)
    (array([5.882, 0.129]), array([6878.6,  151.3]))
    """
    check_invalid(invalid)
    particles = Particles(m_core, m_shell, wavelength, d_core, d_shell, n_medium, CORE_SHELL_NAMES)
    if invalid == "raise":
        particles.raise_first_refused()
    return _scattering_of(particles, angles, threads, invalid)


def sphere_scattering(m, wavelength, diameter, angles, n_medium=1.0, *, threads=None, invalid="raise"):
    """Amplitude functions, Mueller matrix, phase function and differential cross-section of homogeneous spheres.

    Bit for bit `core_shell_scattering` with the core and the shell of one material and one diameter.

    Parameters
    ----------
    m, wavelength, diameter : array_like
        The spheres, as in `sphere`.
    angles : float or array_like
        Scattering angles in degrees, of any shape; finite.
    n_medium : float or array_like, optional
        Real refractive index of the surrounding medium; default 1.
    threads, invalid : optional
        As in `core_shell`.

    Returns
    -------
    Scattering
        As in `core_shell_scattering`.

    Raises
    ------
    ValueError, TypeError, MemoryError, KeyboardInterrupt
        As in `sphere`; ValueError also for an angle that is not finite.

    Examples
    --------
    The degree of linear polarisation of light scattered at 90 degrees by a water droplet of 1 um at 0.55 um:

    >>> from coatedmie import sphere_scattering
    >>> s = sphere_scattering(1.333, 0.55, 1.0, 90)
    >>> round(-s.S12 / s.S11, 4)
    0.1458
    """
    check_invalid(invalid)
    particles = Particles(m, m, wavelength, diameter, diameter, n_medium, SPHERE_NAMES)
    if invalid == "raise":
        particles.raise_first_refused()
    return _scattering_of(particles, angles, threads, invalid)


Jacobian = collections.namedtuple("Jacobian", ("values", "derivatives"))
Jacobian.__doc__ = """Values and their first derivatives with respect to each parameter.

Attributes
----------
values : CoreShell, BulkOptics or LognormalOptics
    What the call without derivatives returns, bit for bit.
derivatives : dict
    For each parameter by name (``'m_core.real'``, ``'d_shell'``, ...), a record of the type of `values`
    (`BulkOptics` for `lognormal_jacobian`) whose fields are the derivatives of the fields of `values` with
    respect to that parameter, in the field's unit per the parameter's unit: Cabs per unit of d_shell is in the
    length unit, Qext per unit of m_core.imag is dimensionless. Floats for scalar input, otherwise arrays of the
    values' shape."""

CORE_SHELL_PARAMETERS = ("m_core.real", "m_core.imag", "m_shell.real", "m_shell.imag", "d_core", "d_shell",
                         "wavelength", "n_medium")
SPHERE_PARAMETERS = ("m.real", "m.imag", "diameter", "wavelength", "n_medium")


def _engine_derivatives(alpha1, index1, alpha2, index2, threads, invalid):
    from . import _engine
    values, jacobian = _engine._derivatives(alpha1, index1, alpha2, index2, threads=threads, invalid=invalid)
    return values, np.array(jacobian, dtype=np.float64)


def _jacobian_arrays(particles, threads, invalid):
    """The CoreShell fields of the particles (arrays) and their derivatives, an array of the particles' shape + (12, 8):
    CoreShell's fields by CORE_SHELL_PARAMETERS."""
    r, K = _engine_derivatives(*particles.layers, threads, invalid)
    values = _values(r, particles)
    v = particles.values
    n, wavelength, d_core, d_shell = v["n_medium"], v["wavelength"], v["d_core"], v["d_shell"]
    alpha1, index1, alpha2, index2 = (np.array(a) for a in particles.layers)
    # A core as large as the particle: the values are the core's sphere, the
    # derivatives those of a shell of zero thickness around it (one-sided,
    # the shell's material growing outward; d_core > d_shell is no particle).
    zero_shell = particles.no_shell & ~particles.no_core & ~particles.refused
    if zero_shell.any():
        index1[zero_shell] = _relative(particles.values["m_shell"], n)[zero_shell]
        K[zero_shell] = _engine_derivatives(alpha1[zero_shell], index1[zero_shell], alpha2[zero_shell],
                                            index2[zero_shell], threads, "nan")[1]

    # d(engine parameter) / d(caller's parameter): rows Re index1, Im index1,
    # alpha1, Re index2, Im index2, alpha2; columns CORE_SHELL_PARAMETERS.
    # Layer 1 is the shell; layer 2 the core, or the shell's material again
    # where the core is dropped.
    chain = np.zeros(particles.shape + (6, 8))
    core = ~particles.no_core
    with np.errstate(divide="ignore", invalid="ignore"):
        per_medium, per_length = 1 / n, np.pi * n / wavelength
        chain[..., 0, 2] = chain[..., 1, 3] = per_medium
        chain[..., 2, 5] = per_length
        chain[..., 3, 0] = chain[..., 4, 1] = np.where(core, per_medium, 0.0)
        chain[..., 3, 2] = chain[..., 4, 3] = np.where(core, 0.0, per_medium)
        chain[..., 5, 4] = np.where(core, per_length, 0.0)
        chain[..., 5, 5] = np.where(core, 0.0, per_length)
        chain[..., (0, 1, 3, 4), 7] = -np.stack([index1.real, index1.imag, index2.real, index2.imag], -1) / n[..., None]
        chain[..., (2, 5), 6] = -np.stack([alpha1, alpha2], -1) / wavelength[..., None]
        chain[..., (2, 5), 7] = np.stack([alpha1, alpha2], -1) / n[..., None]
    D7 = K @ chain  # Kext .. albedo by the caller's parameters

    to_outer = _to_outer(particles)
    special = to_outer != 1.0
    if special.any():
        # Q = K t with t = (d_core / d_shell)^2 where the engine refers K to the core.
        K_core = np.stack([np.asarray(getattr(r, field)) for field in _EFFICIENCY_FIELDS], -1)
        D7[..., :5, :] *= to_outer[..., None, None]
        D7[..., :5, 4] += np.where(special[..., None], K_core * 2 * to_outer[..., None] / d_core[..., None], 0.0)
        D7[..., :5, 5] -= np.where(special[..., None], K_core * 2 * to_outer[..., None] / d_shell[..., None], 0.0)
    area = np.pi * d_shell ** 2 / 4
    D = np.concatenate([D7, D7[..., :5, :] * area[..., None, None]], axis=-2)
    D[..., 7:, 5] += np.stack(values[:5], -1) * (np.pi * d_shell / 2)[..., None]
    if particles.refused.any():
        D[particles.refused] = np.nan
    return values, D


def _jacobian_record(values, D, names, particles):
    derivatives = {name: _record([D[..., field, k] for field in range(12)], particles)
                   for k, name in enumerate(names)}
    return Jacobian(_record(values, particles), derivatives)


def core_shell_jacobian(m_core, m_shell, wavelength, d_core, d_shell, n_medium=1.0, *, threads=None,
                        invalid="raise"):
    """Efficiencies, cross-sections, g and albedo of coated spheres, with their derivatives.

    The values are bit for bit those of `core_shell`; the derivatives come from the engine's exact derivatives of
    the series (forward mode, not finite differences), by the chain rule through the size parameters
    pi n_medium d / wavelength and the relative indices m / n_medium.

    Parameters
    ----------
    m_core, m_shell, wavelength, d_core, d_shell, n_medium, threads, invalid
        As in `core_shell`.

    Returns
    -------
    Jacobian
        ``values``: the `CoreShell` of `core_shell`. ``derivatives``: for each of ``'m_core.real'``,
        ``'m_core.imag'``, ``'m_shell.real'``, ``'m_shell.imag'``, ``'d_core'``, ``'d_shell'``, ``'wavelength'``
        and ``'n_medium'``, a `CoreShell` of the derivatives of every field with respect to it: efficiencies per
        unit of the parameter, cross-sections in the length unit squared per unit of the parameter (per length
        unit for diameters and wavelength). Derivatives with respect to an imaginary part are in the n + ik
        convention, one-sided (k >= 0) at k = 0.

        Where the core is dropped (d_core = 0, or its size parameter below 1e-30), nothing depends on d_core or
        m_core. Where d_core = d_shell, the values are the core's sphere and the derivatives those of a shell of
        zero thickness (one-sided: d_shell growing, or d_core shrinking, puts the shell's material in the
        particle), so that the derivative with respect to d_core + d_shell together is the sphere's.

    Raises
    ------
    ValueError, TypeError, MemoryError, KeyboardInterrupt
        As in `core_shell`.

    See Also
    --------
    sphere_jacobian : the same for homogeneous spheres.

    Examples
    --------
    Soot of 150 nm coated with organics to 300 nm at 532 nm, in air: how its absorption cross-section (nm^2)
    changes with the coating's diameter and with the soot's imaginary index:

    >>> from coatedmie import core_shell_jacobian
    >>> r = core_shell_jacobian(1.75 + 0.44j, 1.5, 532, 150, 300)
    >>> round(r.values.Cabs), round(r.derivatives["d_shell"].Cabs, 1), round(r.derivatives["m_core.imag"].Cabs)
    (29301, 74.1, 49002)
    """
    check_invalid(invalid)
    particles = Particles(m_core, m_shell, wavelength, d_core, d_shell, n_medium, CORE_SHELL_NAMES)
    if invalid == "raise":
        particles.raise_first_refused()
    return _jacobian_record(*_jacobian_arrays(particles, threads, invalid), CORE_SHELL_PARAMETERS, particles)


def sphere_jacobian(m, wavelength, diameter, n_medium=1.0, *, threads=None, invalid="raise"):
    """Efficiencies, cross-sections, g and albedo of homogeneous spheres, with their derivatives.

    The values are bit for bit those of `sphere`; the derivatives as in `core_shell_jacobian`.

    Parameters
    ----------
    m, wavelength, diameter, n_medium, threads, invalid
        As in `sphere`.

    Returns
    -------
    Jacobian
        ``values``: the `CoreShell` of `sphere`. ``derivatives``: for each of ``'m.real'``, ``'m.imag'``,
        ``'diameter'``, ``'wavelength'`` and ``'n_medium'``, a `CoreShell` of the derivatives of every field,
        in the units of `core_shell_jacobian`.

    Raises
    ------
    ValueError, TypeError, MemoryError, KeyboardInterrupt
        As in `sphere`.

    Examples
    --------
    A water droplet of 1 um at 0.55 um: its scattering cross-section (um^2) and how fast it grows with the
    diameter (um^2 per um):

    >>> from coatedmie import sphere_jacobian
    >>> r = sphere_jacobian(1.333, 0.55, 1.0)
    >>> round(r.values.Csca, 4), round(r.derivatives["diameter"].Csca, 4)
    (3.0978, 6.6942)
    """
    check_invalid(invalid)
    particles = Particles(m, m, wavelength, diameter, diameter, n_medium, SPHERE_NAMES)
    if invalid == "raise":
        particles.raise_first_refused()
    values, D = _jacobian_arrays(particles, threads, invalid)
    # One material and one diameter: the core's and the shell's derivatives together.
    D = np.stack([D[..., 0] + D[..., 2], D[..., 1] + D[..., 3], D[..., 4] + D[..., 5], D[..., 6], D[..., 7]], -1)
    return _jacobian_record(values, D, SPHERE_PARAMETERS, particles)
