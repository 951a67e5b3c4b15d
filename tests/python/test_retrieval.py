"""The physical-unit Jacobians against central differences of the values they come with; retrievals of known
particles from synthetic measurements: the truth within the reported covariance, every solution reported."""


import numpy as np
import pytest
from scipy.optimize import brentq
from scipy.stats import chi2

import coatedmie

CORE_SHELL = ("m_core", "m_shell", "wavelength", "d_core", "d_shell", "n_medium")


def moved(arguments, name, change):
    """The arguments with one parameter (a name of the Jacobian's) changed by change in every element."""
    arguments = dict(arguments)
    role, _, part = name.partition(".")
    if part:
        arguments[role] = np.asarray(arguments[role]) + (change if part == "real" else 1j * change)
    else:
        arguments[role] = np.asarray(arguments[role]) + change
    return arguments


def scale_of(name, arguments):
    role, _, part = name.partition(".")
    return float(np.max(np.abs(getattr(np.asarray(arguments[role]), part or "real")))) or 1.0


def check_against_differences(function, jacobian, arguments, one_sided=(), rtol=1e-6):
    """Every derivative against fourth-order central differences (third-order one-sided ones where the value is at
    the edge of its range: k = 0, or the side given), within rtol of the difference or of the field's scale."""
    result = jacobian(**arguments)
    fields = next(iter(result.derivatives.values()))._fields
    largest = {f: np.max(np.abs(getattr(result.values, f))) for f in fields}
    # Each field's scale: the largest efficiency, or cross-section, or at least 1 (g, albedo, lidar ratio).
    scale = np.array([max(v for g, v in largest.items() if g[0] == f[0]) if f[0] in "QC" else max(1.0, largest[f])
                      for f in fields])
    for name, derivative in result.derivatives.items():
        x = scale_of(name, arguments)
        role, _, part = name.partition(".")
        k_zero = part == "imag" and np.min(np.imag(arguments[role])) == 0
        side = 1 if k_zero else dict(one_sided).get(name, 0)
        h = 1e-6 * (1 if k_zero else x) if side else 1e-4 * x

        def f(change):
            return np.array(function(**moved(arguments, name, change))[:len(fields)], dtype=float).T
        if side:
            s = side * h
            difference = (-11 * f(0) + 18 * f(s) - 9 * f(2 * s) + 2 * f(3 * s)) / (6 * s)
        else:
            difference = (f(-2 * h) - 8 * f(-h) + 8 * f(h) - f(2 * h)) / (12 * h)
        error = np.abs(np.array(derivative, dtype=float).T - difference)
        allowed = rtol * (np.abs(difference) + 1e-3 * scale / x)
        assert np.all(error <= allowed), f"d/d {name}: {dict(zip(fields, (error / allowed * rtol).T))}"
    return result


# Particles: (m_core, m_shell, wavelength, d_core, d_shell, n_medium), and the parameters at an edge of their range
# with the side the difference takes.
PARTICLES = {
    "soot coated with organics, in water": ((1.75 + 0.44j, 1.5 + 1e-3j, 532, 150, 300, 1.33), ()),
    "lossless shell (k = 0)": ((1.95 + 0.79j, 1.55, 405, 150, 220, 1.0), ()),
    "shell of the medium's index": ((1.45, 1.33, 0.55, 0.2, 0.5, 1.33), ()),
    "no core": ((1.75 + 0.44j, 1.5 + 0.01j, 1.0, 0.0, 2.0, 1.25), (("d_core", 1),)),
    "core as large as the particle": ((1.75 + 0.44j, 1.5 + 0.01j, 1.0, 2.0, 2.0, 1.25),
                                      (("d_core", -1), ("d_shell", 1))),
    "gold nanoshell in water": ((1.45, 0.27 + 2.9j, 580, 120, 150, 1.33), ()),
    "dust coated with water, resonant": ((1.53 + 0.008j, 1.33 + 1e-8j, 0.55, 2.0, 3.0, 1.0), ()),
}


@pytest.mark.parametrize("particle, one_sided", PARTICLES.values(), ids=PARTICLES.keys())
def test_core_shell_jacobian_is_the_derivative_of_core_shell(particle, one_sided):
    arguments = dict(zip(CORE_SHELL, particle))
    result = check_against_differences(coatedmie.core_shell, coatedmie.core_shell_jacobian, arguments, one_sided)
    assert np.array(result.values).tobytes() == np.array(coatedmie.core_shell(*particle)).tobytes()


def test_sphere_jacobian_is_the_derivative_of_sphere():
    arguments = {"m": np.array([1.333 + 1e-3j, 1.75 + 0.44j]), "wavelength": 0.55, "diameter": np.array([1.0, 0.3]),
                 "n_medium": 1.0}
    result = check_against_differences(coatedmie.sphere, coatedmie.sphere_jacobian, arguments)
    assert np.array(result.values).tobytes() == np.array(coatedmie.sphere(**arguments)).tobytes()


def test_distribution_jacobian_is_the_derivative_of_distribution():
    arguments = {"m_core": 1.75 + 0.44j, "m_shell": 1.43 + 1e-4j, "wavelength": 0.55, "d_core": [0.02, 0.04, 0.08],
                 "d_shell": [0.1, 0.2, 0.4], "number": [1000, 100, 10], "n_medium": 1.0}
    result = check_against_differences(coatedmie.distribution, coatedmie.distribution_jacobian, arguments)
    assert np.array(result.values).tobytes() == np.array(coatedmie.distribution(**arguments)).tobytes()


@pytest.mark.parametrize("gsd", [1.0, 1.4])
def test_lognormal_jacobian_is_the_derivative_of_lognormal(gsd):
    arguments = {"m_core": 1.75 + 0.44j, "m_shell": 1.43 + 1e-4j, "wavelength": 0.55, "median_diameter": 0.2,
                 "gsd": gsd, "core_fraction": 0.4, "n_medium": 1.0}

    def tight(function):
        return lambda **a: function(**a, rtol=1e-10, max_particles=10**6)
    one_sided = (("gsd", 1),) if gsd == 1.0 else ()
    # The integrals are right to 1e-10, their differences over steps of 1e-4 to some 1e-6.
    result = check_against_differences(tight(coatedmie.lognormal), tight(coatedmie.lognormal_jacobian), arguments,
                                       one_sided, rtol=1e-5)
    assert result.values == tight(coatedmie.lognormal)(**arguments)


def noisy(known, truth, keys, noise, rng):
    """Measurements of a coated particle's quantities made from the truth, each with a relative standard deviation
    noise."""
    particle = {**known, **truth}
    if "m_shell.imag" in particle:
        particle["m_shell"] = complex(particle.pop("m_shell.real"), particle.pop("m_shell.imag"))
    particle["d_shell"] = particle["d_core"] + 2 * particle.pop("coating_thickness")
    measured = {}
    for quantity, wavelength in keys:
        at = {role: value[wavelength] if isinstance(value, dict) else value for role, value in particle.items()}
        value = getattr(coatedmie.core_shell(**at, wavelength=wavelength), quantity)
        measured[(quantity, wavelength)] = (value * (1 + noise * rng.standard_normal()), noise * value)
    return measured


SOOT = 1.95 + 0.79j
SP2_AND_PHOTOACOUSTIC = [("Csca", 532), ("Cabs", 405), ("Cabs", 532), ("Cabs", 781)]
# known, unknown with bounds, the truths' ranges, the measurements, relative noise, trials
ROUND_TRIPS = {
    "soot coated with organics": (
        {"m_core": SOOT, "d_core": 150, "m_shell.imag": 0.0},
        {"coating_thickness": (0, 150), "m_shell.real": (1.3, 1.8)},
        {"coating_thickness": (15, 135), "m_shell.real": (1.35, 1.75)}, SP2_AND_PHOTOACOUSTIC, 0.003, 16),
    "soot coated with sulfate": (
        {"m_core": SOOT, "m_shell": 1.43}, {"d_core": (80, 250), "coating_thickness": (0, 150)},
        {"d_core": (100, 230), "coating_thickness": (15, 135)}, SP2_AND_PHOTOACOUSTIC, 0.003, 16),
    "gold nanoshell in water": (
        {"m_core": 1.45, "m_shell": {650: 0.166 + 3.15j, 800: 0.15 + 4.9j}, "n_medium": 1.33},
        {"d_core": (80, 200), "coating_thickness": (5, 30)}, {"d_core": (90, 190), "coating_thickness": (7, 28)},
        [("Cext", 650), ("Csca", 650), ("Cext", 800)], 0.003, 16),
}


def test_the_truth_lies_within_two_standard_deviations_as_often_as_it_should():
    covered = trials = 0
    for seed, (known, unknown, truths, keys, noise, count) in enumerate(ROUND_TRIPS.values()):
        rng = np.random.default_rng(seed)
        for _ in range(count):
            truth = {n: rng.uniform(*truths[n]) for n in unknown}
            r = coatedmie.retrieve(noisy(known, truth, keys, noise, rng), known, unknown)
            d = [np.array([truth[n] - s.parameters[n] for n in unknown]) for s in r.solutions]
            covered += any(v @ np.linalg.solve(s.covariance, v) <= chi2.ppf(0.9545, 2) for v, s in zip(d, r.solutions))
            trials += 1
    # 48 trials at 0.9545: 45.8 expected, binomial standard deviation 1.4.
    assert covered >= 42, f"{covered} of {trials}"


def test_every_diameter_that_fits_is_reported():
    # Qsca of a sphere oscillates with its diameter: each crossing of the measured value is a solution, found
    # here by bracketing on the values alone.
    d = np.linspace(0.3, 3.0, 2701)
    for measured in (2.2, 3.0, 3.5, 4.0):
        q = coatedmie.sphere(1.5, 0.55, d).Qsca - measured
        crossings = [brentq(lambda x: coatedmie.sphere(1.5, 0.55, x).Qsca - measured, d[i], d[i + 1])
                     for i in np.flatnonzero(np.sign(q[1:]) != np.sign(q[:-1]))]
        r = coatedmie.retrieve({("Qsca", 0.55): (measured, 0.01)}, {"m": 1.5}, {"diameter": (0.3, 3.0)},
                               model="sphere")
        found = sorted(s.parameters["diameter"] for s in r.solutions)
        assert len(crossings) > 1 and len(found) == len(crossings), (measured, found, crossings)
        np.testing.assert_allclose(found, crossings, rtol=1e-8)


def test_several_solutions_of_a_coated_particle_are_each_reported():
    # Dust coated with water, its scattering and backscatter at 0.55 um: the noise-free measurements of these
    # truths are fitted exactly elsewhere in the box too (zeros found by values alone on a dense grid, polished by
    # least squares on finite differences).
    from scipy.ndimage import minimum_filter
    from scipy.optimize import least_squares
    keys = [("Csca", 0.55), ("Cback", 0.55)]

    def values(d_core, thickness):
        return np.array([getattr(coatedmie.core_shell(1.53 + 0.008j, 1.33, w, d_core, d_core + 2 * thickness), q)
                         for q, w in keys])
    A, B = np.meshgrid(np.linspace(0.5, 2.0, 241), np.linspace(0, 0.5, 241), indexing="ij")
    grid = values(A, B)
    for truth in ((1.4144, 0.1579), (1.629, 0.0511), (0.684, 0.0997)):
        exact = values(*truth)
        sigma = 0.01 * exact
        misfit = sum(((v - e) / s) ** 2 for v, e, s in zip(grid, exact, sigma))
        zeros = []
        for i, j in np.argwhere((misfit == minimum_filter(misfit, size=3, mode="nearest")) & (misfit < 4)):
            fit = least_squares(lambda p: (values(*p) - exact) / sigma, [A[i, j], B[i, j]], bounds=([0.5, 0], [2, 0.5]),
                                xtol=1e-12, ftol=1e-14, gtol=1e-14)
            if 2 * fit.cost < 1e-8 and not any(np.allclose(fit.x, z, atol=1e-5) for z in zeros):
                zeros.append(fit.x)
        r = coatedmie.retrieve(dict(zip(keys, zip(exact, sigma))), {"m_core": 1.53 + 0.008j, "m_shell": 1.33},
                               {"d_core": (0.5, 2.0), "coating_thickness": (0.0, 0.5)})
        found = [np.array(list(s.parameters.values())) for s in r.solutions]
        assert len(zeros) > 1, zeros
        for z in zeros:
            assert min(np.max(np.abs(z - f)) for f in found) < 1e-6, (truth, found, zeros)


def test_a_population_round_trips():
    known = {"m_core": SOOT, "m_shell": 1.43, "number_concentration": 1000, "gsd": 1.5}
    unknown = {"median_diameter": (60, 250), "core_fraction": (0.3, 0.9)}
    rng = np.random.default_rng(5)
    truth = {"median_diameter": 140.0, "core_fraction": 0.55}
    b = [coatedmie.optical_coefficients(coatedmie.lognormal(SOOT, 1.43, w, 140.0, 1.5, 0.55, rtol=1e-8), 1000, "nm")
         for w in (450, 700)]
    exact = {(q, w): getattr(c, q) for q in ("scattering", "absorption") for w, c in zip((450, 700), b)}
    measured = {k: (v * (1 + 0.01 * rng.standard_normal()), 0.01 * v) for k, v in exact.items()}
    r = coatedmie.retrieve(measured, known, unknown, model="lognormal", length_unit="nm", grid=9)
    assert len(r.solutions) == 1
    s = r.solutions[0]
    d = np.array([truth[n] - s.parameters[n] for n in unknown])
    assert d @ np.linalg.solve(s.covariance, d) <= chi2.ppf(0.9973, 2)


def test_a_bare_core_is_a_solution_on_the_bound():
    known = {"m_core": SOOT, "d_core": 150, "m_shell": 1.5}
    exact = coatedmie.core_shell(SOOT, 1.5, np.array([405, 532, 781]), 150, 150)
    measured = {("Cabs", w): (v, 0.01 * v) for w, v in zip((405, 532, 781), exact.Cabs)}
    r = coatedmie.retrieve(measured, known, {"coating_thickness": (0, 100)})
    assert [s.on_bound for s in r.solutions] == [{"coating_thickness": "lower"}]
    assert r.solutions[0].parameters["coating_thickness"] == 0.0


def test_measurements_no_particle_fits_give_no_solution():
    # Absorption falling with the coating at 405 nm but growing at 781 nm: no coating does both.
    known = {"m_core": SOOT, "d_core": 150, "m_shell": 1.5}
    r = coatedmie.retrieve({("Cabs", 405): (2e4, 200), ("Cabs", 781): (4e4, 400)}, known,
                           {"coating_thickness": (0, 100)})
    assert r.solutions == () and r.rejected and r.rejected[0].p_value < 0.01


@pytest.mark.parametrize("measurements, known, unknown, message", [
    ({("Qsca", 0.55): (1.0, 0.0)}, {"m": 1.5}, {"diameter": (0.5, 2)}, "standard deviation finite and greater"),
    ({("Qsca", 0.55): (1.0, 0.1)}, {"m": 1.5}, {"diameter": (2, 0.5)}, "lower < upper"),
    ({("Cabs", 0.55): (1.0, 0.1)}, {"m": 1.5}, {"m.real": (1, 2)}, "'m.real' is both known and unknown"),
    ({("Cabs", 0.55): (1.0, 0.1)}, {"m": 1.5}, {"d_core": (1, 2)}, "'d_core' is not a parameter of sphere"),
    ({("absorption", 0.55): (1.0, 0.1)}, {"m": 1.5}, {"diameter": (1, 2)}, "not a quantity of sphere"),
    ({("Cabs", 0.55): (1.0, 0.1)}, {"m": {0.45: 1.5}}, {"diameter": (1, 2)}, "no value at wavelength 0.55"),
    ({("Cabs", 0.55): (1.0, 0.1)}, {}, {"diameter": (1, 2)}, "m.real, m.imag must be known or unknown"),
])
def test_retrieve_refuses_what_describes_no_retrieval(measurements, known, unknown, message):
    with pytest.raises(ValueError, match=message):
        coatedmie.retrieve(measurements, known, unknown, model="sphere")
