"""Coated spheres as people describe them: diameters and a wavelength in one
length unit, the materials' refractive indices, and the medium's."""

import collections

import numpy as np

from ._engine import efficiencies

CoreShell = collections.namedtuple(
    "CoreShell", ("Qext", "Qsca", "Qabs", "Qback", "Qpr", "g", "albedo", "Cext", "Csca", "Cabs", "Cback", "Cpr"))
CoreShell.__doc__ = """Optical properties of coated spheres.

Qext, Qsca, Qabs, Qback, Qpr  efficiencies: cross-sections divided by the
                              outer geometric cross-section pi d_shell^2 / 4
g                             asymmetry parameter
albedo                        single-scattering albedo Qsca / Qext
Cext, Csca, Cabs, Cback, Cpr  cross-sections, in the caller's length unit
                              squared (Cback = Qback pi d_shell^2 / 4, the
                              backscattering cross-section, 4 pi times the
                              differential cross-section at 180 degrees)
Python floats for all-scalar input, otherwise arrays of the broadcast shape."""

_EFFICIENCY_FIELDS = ("Kext", "Ksca", "Kabs", "Kback", "Kpr")
_SMALLEST_SIZE_PARAMETER = 1e-30


def _real(value, name):
    array = np.asarray(value)
    if array.dtype.kind not in "biuf":
        raise TypeError(f"{name} must be real numbers, found {value!r}")
    return array.astype(np.float64)


def _complex(value, name):
    array = np.asarray(value)
    if array.dtype.kind not in "biufc":
        raise TypeError(f"{name} must be numbers, found {value!r}")
    return array.astype(np.complex128)


def _relative(m, n_medium):
    """m / n_medium part by part: NumPy's complex division would take the real
    divisor through its general complex algorithm."""
    relative = np.empty(np.broadcast_shapes(m.shape, n_medium.shape), dtype=np.complex128)
    relative.real = m.real / n_medium
    relative.imag = m.imag / n_medium
    return relative


def _geometry_problem(m_core, m_shell, wavelength, d_core, d_shell, n_medium):
    """The reason a particle's description is refused, or None."""
    for name, m in (("m_core", m_core), ("m_shell", m_shell)):
        if not (m.imag >= 0):
            return f"{name} must be n + ik with k >= 0, found {m!r}"
    for name, value in (("wavelength", wavelength), ("d_shell", d_shell), ("n_medium", n_medium)):
        if not (np.isfinite(value) and value > 0):
            return f"{name} must be finite and greater than 0, found {value!r}"
    if not (np.isfinite(d_core) and d_core >= 0):
        return f"d_core must be finite and at least 0, found {d_core!r}"
    if d_core > d_shell:
        return f"d_core must not exceed d_shell, found d_core = {d_core!r} > d_shell = {d_shell!r}"
    return None


def _engine_layers(m_core, m_shell, wavelength, d_core, d_shell, n_medium):
    """The engine's layers (alpha1, index1, alpha2, index2) of the particles
    core_shell describes (broadcast float64 and complex128 arrays), and where
    the description itself is refused: there alpha1 is NaN, which the engine
    refuses too."""
    # One convention for both materials: the engine would read a negative
    # imaginary part as the other convention and turn the other layer's too.
    with np.errstate(all="ignore"):
        bad = ~(np.isfinite(wavelength) & (wavelength > 0) & np.isfinite(d_shell) & (d_shell > 0) &
                np.isfinite(n_medium) & (n_medium > 0) & np.isfinite(d_core) & (d_core >= 0) &
                (d_core <= d_shell) & (m_core.imag >= 0) & (m_shell.imag >= 0))
        y = np.pi * n_medium * d_shell / wavelength
        x = np.pi * n_medium * d_core / wavelength
        m2 = _relative(m_shell, n_medium)
        m1 = _relative(m_core, n_medium)
    # A core below the engine's smallest size parameter changes no digit of
    # the results: the sphere of the shell's material alone.
    homogeneous_shell = x < _SMALLEST_SIZE_PARAMETER
    homogeneous_core = d_core == d_shell
    alpha2 = np.where(homogeneous_shell | homogeneous_core, y, x)
    index1 = np.where(homogeneous_core, m1, m2)
    index2 = np.where(homogeneous_shell, m2, m1)
    return np.where(bad, np.nan, y), index1, alpha2, index2, bad


def core_shell(m_core, m_shell, wavelength, d_core, d_shell, n_medium=1.0, *, threads=None, invalid="raise"):
    """Efficiencies, cross-sections, g and albedo of coated spheres.

    m_core, m_shell  complex refractive indices of the materials, n + ik with
                     k >= 0
    wavelength       vacuum wavelength
    d_core, d_shell  diameters of the core and of the whole particle, in the
                     unit of the wavelength; d_core = 0 (or a core whose size
                     parameter is below 1e-30) is a homogeneous sphere of the
                     shell's material, d_core = d_shell one of the core's
    n_medium         real refractive index of the surrounding medium

    Every argument may be an array; arrays broadcast as in NumPy, so that a
    spectrum is one call with arrays of wavelengths and of the indices that go
    with them. The size parameters are pi n_medium d / wavelength, the
    relative indices m / n_medium, and every value is bit for bit what
    coatedmie.efficiencies gives for them. Efficiencies refer to the outer
    cross-section pi d_shell^2 / 4 in every case; cross-sections are in the
    length unit squared. threads and invalid as in efficiencies(); an invalid
    description (d_core > d_shell, a negative or non-finite value, a
    wavelength or medium index not above 0, an index with k < 0) raises
    ValueError naming the first such particle, or gives NaN with
    invalid="nan".

    Example: soot (1.75 + 0.44i) of 150 nm coated with organics (1.5) to
    300 nm, at 532 nm in water; the cross-section in nm^2:
        >>> r = core_shell(1.75 + 0.44j, 1.5, 532, 150, 300, 1.33)
        >>> round(r.Qext, 4), round(r.albedo, 4), round(r.Cext)
        (0.4645, 0.4476, 32836)
    """
    m_core = _complex(m_core, "m_core")
    m_shell = _complex(m_shell, "m_shell")
    wavelength = _real(wavelength, "wavelength")
    d_core = _real(d_core, "d_core")
    d_shell = _real(d_shell, "d_shell")
    n_medium = _real(n_medium, "n_medium")
    if invalid not in ("raise", "nan"):
        raise ValueError(f"invalid must be 'raise' or 'nan', found {invalid!r}")
    m_core, m_shell, wavelength, d_core, d_shell, n_medium = np.broadcast_arrays(
        m_core, m_shell, wavelength, d_core, d_shell, n_medium)
    shape = wavelength.shape

    alpha1, index1, alpha2, index2, bad = _engine_layers(m_core, m_shell, wavelength, d_core, d_shell, n_medium)
    if bad.any() and invalid == "raise":
        k = int(np.flatnonzero(bad)[0])
        where = f"particle at flat index {k} of shape {shape}: " if shape else ""
        args = (m_core.flat[k], m_shell.flat[k], wavelength.flat[k], d_core.flat[k], d_shell.flat[k], n_medium.flat[k])
        raise ValueError(where + _geometry_problem(*args))
    r = efficiencies(alpha1, index1, alpha2, index2, threads=threads, invalid=invalid)

    # A shell of index exactly 1 + 0i (that of the medium) leaves the engine's
    # efficiencies referred to the core: refer them to the whole particle.
    with np.errstate(invalid="ignore"):
        to_outer = np.where((alpha2 < alpha1) & (index1.real == 1.0) & (index1.imag == 0.0), (alpha2 / alpha1) ** 2, 1.0)
    area = np.pi * d_shell**2 / 4
    Q = [np.asarray(getattr(r, field)) * to_outer for field in _EFFICIENCY_FIELDS]
    values = Q + [np.asarray(r.g) * 1.0, np.asarray(r.albedo) * 1.0] + [q * area for q in Q]
    if bad.any():
        values = [np.where(bad, np.nan, v) for v in values]
    if not shape:
        return CoreShell(*(float(v) for v in values))
    return CoreShell(*values)
