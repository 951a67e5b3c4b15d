"""core_shell against efficiencies for size parameters and relative indices worked out by hand; scaling laws."""

import math

import numpy as np
import pytest

import coatedmie

Q_FIELDS, C_FIELDS = ("Qext", "Qsca", "Qabs", "Qback", "Qpr", "g", "albedo"), ("Cext", "Csca", "Cabs", "Cback", "Cpr")


def bits(values):
    return np.asarray(values, dtype=np.float64).view(np.uint64).tolist()


# (m_core, m_shell, wavelength, d_core, d_shell, n_medium) and the engine's
# (alpha1, index1, alpha2, index2) for it; Python divides a complex by a real
# part by part, NumPy's complex division need not give the same bits.
BY_HAND = [
    ((1.75 + 0.44j, 1.5, 532, 150, 300, 1.33),
     (math.pi * 1.33 * 300 / 532, 1.5 / 1.33, math.pi * 1.33 * 150 / 532, (1.75 + 0.44j) / 1.33)),
    ((1.45, 1.5 + 0.01j, 0.55, 0.2, 0.9, 1.5),  # shell of the medium's real index, absorbing: a real shell
     (math.pi * 1.5 * 0.9 / 0.55, (1.5 + 0.01j) / 1.5, math.pi * 1.5 * 0.2 / 0.55, 1.45 / 1.5)),
    ((1.45, 0.27 + 2.9j, 580e-9, 120e-9, 150e-9, 1.33),
     (math.pi * 1.33 * 150e-9 / 580e-9, (0.27 + 2.9j) / 1.33, math.pi * 1.33 * 120e-9 / 580e-9, 1.45 / 1.33)),
    ((1.75 + 0.44j, 1.5 + 0.01j, 1.0, 0.0, 2.0, 1.25),  # no core: the shell's material alone
     (math.pi * 1.25 * 2, (1.5 + 0.01j) / 1.25, math.pi * 1.25 * 2, (1.5 + 0.01j) / 1.25)),
    ((1.75 + 0.44j, 1.5 + 0.01j, 1.0, 2.0, 2.0, 1.25),  # no shell: the core's material alone
     (math.pi * 1.25 * 2, (1.75 + 0.44j) / 1.25, math.pi * 1.25 * 2, (1.75 + 0.44j) / 1.25)),
]


@pytest.mark.parametrize("particle, layers", BY_HAND)
def test_core_shell_is_efficiencies_of_the_size_parameters_and_indices_by_hand(particle, layers):
    result, engine = coatedmie.core_shell(*particle), coatedmie.efficiencies(*layers)
    area = math.pi * particle[4] ** 2 / 4
    assert bits(result[:7]) == bits(engine[1:])
    assert bits(result[7:]) == bits([q * area for q in engine[1:6]])
    spectrum = coatedmie.core_shell(*(np.array([v, v]) if i == 2 else v for i, v in enumerate(particle)))
    assert bits(spectrum) == bits(np.transpose([result, result]))


SCALED = {"lengths times 10": lambda m1, m2, wl, dc, ds, n: (m1, m2, 10 * wl, 10 * dc, 10 * ds, n),
          "vacuum, relative indices": lambda m1, m2, wl, dc, ds, n: (m1 / n, m2 / n, wl / n, dc, ds, 1.0)}


@pytest.mark.parametrize("scale", SCALED.values(), ids=SCALED.keys())
def test_units_and_the_medium_scale_as_physics_says(scale):
    d_shell = np.geomspace(0.05, 20, 25)
    particle = (1.75 + 0.44j, 1.5 + 0.01j, 0.532, 0.4 * d_shell, d_shell, 1.33)
    factor = 100 if scale is SCALED["lengths times 10"] else 1
    result, scaled = coatedmie.core_shell(*particle), coatedmie.core_shell(*scale(*particle))
    for field in Q_FIELDS + C_FIELDS:
        expected = getattr(result, field) * (factor if field in C_FIELDS else 1)
        np.testing.assert_allclose(getattr(scaled, field), expected, rtol=1e-12, err_msg=field)


# A core below the engine's smallest size parameter is the shell alone.
@pytest.mark.parametrize("core_fraction, limit", [(1e-4, 0.0), (1e-32, 0.0), (1 - 1e-9, 1.0)])
def test_vanishing_core_or_shell_tends_to_the_homogeneous_sphere(core_fraction, limit):
    d_shell = np.array([0.1, 1.0, 8.0])
    near, at = (coatedmie.core_shell(1.6 + 0.3j, 1.4 + 0.001j, 0.5, fraction * d_shell, d_shell)
                for fraction in (core_fraction, limit))
    np.testing.assert_allclose(np.array(near), np.array(at), rtol=1e-7)


def test_a_shell_of_the_medium_leaves_the_bare_core():
    wavelength, d_core = 0.55, np.array([0.05, 0.4, 3.0])
    coated = coatedmie.core_shell(1.75 + 0.44j, 1.33, wavelength, d_core, 2 * d_core, 1.33)
    bare = coatedmie.core_shell(1.75 + 0.44j, 1.33, wavelength, d_core, d_core, 1.33)
    np.testing.assert_allclose(np.array(coated[7:]), np.array(bare[7:]), rtol=1e-13)
    np.testing.assert_allclose(coated.Qext, bare.Qext / 4, rtol=1e-13)
