"""Coated and homogeneous spheres as people describe them: the materials' refractive indices, a wavelength and
diameters in one length unit, and the medium's index."""

import collections

import numpy as np

from ._description import CORE_SHELL_NAMES, SPHERE_NAMES, Particles, check_invalid
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


def _core_shell(particles, threads, invalid):
    alpha1, index1, alpha2, index2 = particles.layers
    r = efficiencies(*particles.layers, threads=threads, invalid=invalid)
    # A shell of index exactly 1 + 0i (that of the medium) leaves the engine's
    # efficiencies referred to the core: refer them to the whole particle.
    with np.errstate(invalid="ignore"):
        to_outer = np.where((alpha2 < alpha1) & (index1.real == 1.0) & (index1.imag == 0.0), (alpha2 / alpha1) ** 2,
                            1.0)
    area = np.pi * particles.values["d_shell"] ** 2 / 4
    Q = [np.asarray(getattr(r, field)) * to_outer for field in _EFFICIENCY_FIELDS]
    values = Q + [np.asarray(r.g) * 1.0, np.asarray(r.albedo) * 1.0] + [q * area for q in Q]
    if particles.refused.any():
        values = [np.where(particles.refused, np.nan, v) for v in values]
    if not particles.shape:
        return CoreShell(*(float(v) for v in values))
    return CoreShell(*values)


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
