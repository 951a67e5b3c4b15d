"""Particles as callers describe them (materials, wavelength, diameters, medium) in the engine's terms (size
parameters and relative indices), and the one place where the package decides which of them are refused and says
why in the caller's words."""

import math

import numpy as np

from ._engine import _input_problem, _limits, _refused

LIMITS = _limits

# The caller's name of each role; sphere() gives one material and one diameter.
CORE_SHELL_NAMES = {"m_core": "m_core", "m_shell": "m_shell", "wavelength": "wavelength", "d_core": "d_core",
                    "d_shell": "d_shell", "n_medium": "n_medium"}
SPHERE_NAMES = {**CORE_SHELL_NAMES, "m_core": "m", "m_shell": "m", "d_core": "diameter", "d_shell": "diameter"}
ROLES = tuple(CORE_SHELL_NAMES)

# Metres per length unit, for the conversions a caller's unit needs.
LENGTH_UNITS = {"nm": 1e-9, "um": 1e-6, "µm": 1e-6, "mm": 1e-3, "cm": 1e-2, "m": 1.0}


def real(value, name):
    array = np.asarray(value)
    if array.dtype.kind not in "biuf":
        raise TypeError(f"{name} must be real numbers, found {value!r}")
    return array.astype(np.float64)


def complex_(value, name):
    array = np.asarray(value)
    if array.dtype.kind not in "biufc":
        raise TypeError(f"{name} must be numbers, found {value!r}")
    return array.astype(np.complex128)


def check_invalid(invalid):
    if invalid not in ("raise", "nan"):
        raise ValueError(f"invalid must be 'raise' or 'nan', found {invalid!r}")


def where(shape, k, what="particle"):
    return f"{what} at flat index {k} of shape {shape}: " if shape else ""


def _relative(m, n_medium):
    """m / n_medium part by part: NumPy's complex division would take the real divisor through its general complex
    algorithm."""
    relative = np.empty(np.broadcast_shapes(np.shape(m), np.shape(n_medium)), dtype=np.complex128)
    relative.real = np.real(m) / n_medium
    relative.imag = np.imag(m) / n_medium
    return relative


def _description_refused(m_core, m_shell, wavelength, d_core, d_shell, n_medium):
    # One convention for both materials: the engine would read a negative
    # imaginary part as the other convention and turn the other layer's too.
    with np.errstate(invalid="ignore"):
        return ~(np.isfinite(m_core) & np.isfinite(m_shell) & (m_core.imag >= 0) & (m_shell.imag >= 0) &
                 np.isfinite(wavelength) & (wavelength > 0) & np.isfinite(d_shell) & (d_shell > 0) &
                 np.isfinite(n_medium) & (n_medium > 0) & np.isfinite(d_core) & (d_core >= 0) & (d_core <= d_shell))


def _layers(m_core, m_shell, wavelength, d_core, d_shell, n_medium):
    """(alpha1, index1, alpha2, index2) of the particles and where the core is dropped: the shell is layer 1 with
    the outer size parameter, the core layer 2."""
    with np.errstate(all="ignore"):
        y = np.pi * n_medium * d_shell / wavelength
        x = np.pi * n_medium * d_core / wavelength
        m2, m1 = _relative(m_shell, n_medium), _relative(m_core, n_medium)
    # A core below the engine's smallest size parameter changes no digit of
    # the results: the sphere of the shell's material alone.
    no_core = ~(x >= LIMITS["min_size_parameter"])
    no_shell = d_core == d_shell
    alpha2 = np.where(no_core | no_shell, y, x)
    index1 = np.where(no_shell, m1, m2)
    index2 = np.where(no_core, m2, m1)
    return y, index1, alpha2, index2, no_core, no_shell


class Particles:
    """Broadcast arguments (float64 and complex128 arrays of one shape), the engine's layers of the particles, and
    where they are refused. Refused descriptions get alpha1 NaN, which the engine refuses too."""

    def __init__(self, m_core, m_shell, wavelength, d_core, d_shell, n_medium, names=CORE_SHELL_NAMES):
        converted = [convert(value, names[role]) for value, role, convert in zip(
            (m_core, m_shell, wavelength, d_core, d_shell, n_medium), ROLES,
            (complex_, complex_, real, real, real, real))]
        self.names = names
        self.values = dict(zip(ROLES, np.broadcast_arrays(*converted)))
        self.shape = self.values["wavelength"].shape
        y, self.index1, self.alpha2, self.index2, self.no_core, self.no_shell = _layers(**self.values)
        self.alpha1 = np.where(_description_refused(**self.values), np.nan, y)
        self._refused = None

    @property
    def layers(self):
        return self.alpha1, self.index1, self.alpha2, self.index2

    @property
    def refused(self):
        """Where the particles are refused, by the engine's rules on their layers."""
        if self._refused is None:
            if self.shape:
                self._refused = _refused(*self.layers)
            else:
                self._refused = np.array(_input_problem(self.alpha1.item(), self.index1.item(), self.alpha2.item(),
                                                        self.index2.item()) is not None)
        return self._refused

    def raise_first_refused(self):
        if self.refused.any():
            k = int(np.flatnonzero(self.refused)[0])
            particle = {role: value.flat[k].item() for role, value in self.values.items()}
            raise ValueError(where(self.shape, k) + refusal(particle, self.names))


def _given(particle, names, roles):
    shown = {}
    for role in roles:
        shown.setdefault(names[role], particle[role])
    return ", ".join(f"{name} = {value!r}" for name, value in shown.items())


def _size_text(value, limit):
    """Three digits, or all of them where three would show the limit itself."""
    text = f"{value:.3g}"
    return text if float(text) > limit else repr(value)


def refusal(particle, names=CORE_SHELL_NAMES):
    """Why one particle (a dict of Python numbers by role) is refused, in the caller's words; None if it is not."""
    for role in ("m_core", "m_shell"):
        m = particle[role]
        if not (math.isfinite(m.real) and math.isfinite(m.imag)):
            return f"{names[role]} must be finite, found {m!r}"
        if not m.imag >= 0:
            return f"{names[role]} must be n + ik with k >= 0, found {m!r}"
    for role in ("wavelength", "d_shell", "n_medium"):
        if not (math.isfinite(particle[role]) and particle[role] > 0):
            return f"{names[role]} must be finite and greater than 0, found {particle[role]!r}"
    d_core, d_shell = particle["d_core"], particle["d_shell"]
    if not (math.isfinite(d_core) and d_core >= 0):
        return f"{names['d_core']} must be finite and at least 0, found {d_core!r}"
    if d_core > d_shell:
        return f"{names['d_core']} must not exceed {names['d_shell']}, found {names['d_core']} = {d_core!r} > " \
               f"{names['d_shell']} = {d_shell!r}"

    y, index1, alpha2, index2, no_core, no_shell = (np.asarray(v).item() for v in _layers(
        *(np.asarray(particle[role]) for role in ROLES)))
    found = _input_problem(y, index1, alpha2, index2)
    if found is None:
        return None
    rule, value, measured = found
    # What each of the engine's six values is in the caller's terms.
    shell_material, core_material = ("m_core" if no_shell else "m_shell"), ("m_shell" if no_core else "m_core")
    core_diameter = "d_shell" if no_core or no_shell else "d_core"
    diameter, material = ("d_shell", shell_material) if value < 3 else (core_diameter, core_material)
    size = f"the size parameter pi {names['n_medium']} {names[diameter]} / {names['wavelength']}"
    size_given = _given(particle, names, (diameter, "wavelength", "n_medium"))
    index = f"{names[material]} / {names['n_medium']}"
    index_given = _given(particle, names, (material, "n_medium"))
    if rule == "not_finite" and value in (0, 3):
        return f"{size} overflows to {measured!r} ({size_given})"
    if rule == "not_finite":
        return f"{index} overflows ({index_given})"
    if rule in ("not_positive", "outer_size_too_small", "core_size_too_small"):
        return f"{size} is {measured!r} ({size_given}), below the smallest accepted, " \
               f"{LIMITS['min_size_parameter']!r}: the intensities of a particle that small are beyond double precision"
    if rule == "index_too_small":
        return f"|{index}| is {measured!r} ({index_given}), below the smallest accepted, " \
               f"{LIMITS['min_index_modulus']!r}: give the materials' indices and the medium's, both absolute"
    if rule == "negative_real_part":
        return f"{names[material]} must not have a negative real part, found {particle[material]!r}: for a " \
               "non-magnetic material such an index describes a medium with gain"
    if rule == "beyond_capacity":
        terms = f"{measured:.0f}" if measured < 1e15 else f"about {measured:.3g}"
        return f"{size} is {(y if value < 3 else alpha2)!r} ({size_given}), beyond the largest accepted, " \
               f"{LIMITS['max_outer_size_parameter']!r}: the series would need {terms} terms, more than the " \
               f"{LIMITS['max_term_count']} its tables hold"
    limit = LIMITS["max_index_times_size"]
    return f"|{names[material]}| pi {names[diameter]} / {names['wavelength']} is {_size_text(measured, limit)} " \
           f"({_given(particle, names, (material, diameter, 'wavelength'))}), above the limit of " \
           f"{limit:.0e}".replace("e+0", "e") + " that keeps a particle under about a second"
