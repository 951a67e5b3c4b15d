"""core_shell against efficiencies of size parameters and relative indices worked out by hand; distribution against
plain weighted sums; lognormal against brute-force integrals on very fine grids."""

import functools
import math
import warnings

import numpy as np
import pytest

import coatedmie


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
    ((1.75 + 0.44j, 1.5 + 0.01j, 1.0, 2e-32, 2.0, 1.25),  # a core below the engine's smallest size parameter: none
     (math.pi * 1.25 * 2, (1.5 + 0.01j) / 1.25, math.pi * 1.25 * 2, (1.5 + 0.01j) / 1.25)),
    ((1.75 + 0.44j, 1.5 + 0.01j, 1.0, 2.0, 2.0, 1.25),  # no shell: the core's material alone
     (math.pi * 1.25 * 2, (1.75 + 0.44j) / 1.25, math.pi * 1.25 * 2, (1.75 + 0.44j) / 1.25)),
]


@pytest.mark.parametrize("particle, layers", BY_HAND)
def test_core_shell_is_efficiencies_of_the_size_parameters_and_indices_by_hand(particle, layers):
    result, engine = coatedmie.core_shell(*particle), coatedmie.efficiencies(*layers)
    area = math.pi * particle[4] ** 2 / 4
    assert np.array(result[:7]).tobytes() == np.array(engine[1:]).tobytes()
    assert np.array(result[7:]).tobytes() == np.array([q * area for q in engine[1:6]]).tobytes()
    spectrum = coatedmie.core_shell(*(np.array([v, v]) if i == 2 else v for i, v in enumerate(particle)))
    assert np.array(spectrum).tobytes() == np.transpose([result, result]).tobytes()


SCALED = {"lengths times 10": (lambda m1, m2, wl, dc, ds, n: (m1, m2, 10 * wl, 10 * dc, 10 * ds, n), 100),
          "vacuum, relative indices": (lambda m1, m2, wl, dc, ds, n: (m1 / n, m2 / n, wl / n, dc, ds, 1.0), 1)}


@pytest.mark.parametrize("scale, area_factor", SCALED.values(), ids=SCALED.keys())
def test_units_and_the_medium_scale_as_physics_says(scale, area_factor):
    d_shell = np.geomspace(0.05, 20, 25)
    particle = (1.75 + 0.44j, 1.5 + 0.01j, 0.532, 0.4 * d_shell, d_shell, 1.33)
    result, scaled = np.array(coatedmie.core_shell(*particle)), np.array(coatedmie.core_shell(*scale(*particle)))
    np.testing.assert_allclose(scaled[:7], result[:7], rtol=1e-12)
    np.testing.assert_allclose(scaled[7:], area_factor * result[7:], rtol=1e-12)


def test_a_shell_of_the_medium_leaves_the_bare_core():
    # The engine refers a shell of index 1 + 0i to the core's cross-section.
    d_core = np.array([0.05, 0.4, 3.0])
    coated, bare = (coatedmie.core_shell(1.75 + 0.44j, 1.33, 0.55, d_core, d, 1.33) for d in (2 * d_core, d_core))
    np.testing.assert_allclose(np.array(coated[7:]), np.array(bare[7:]), rtol=1e-13)
    np.testing.assert_allclose(coated.Qext, bare.Qext / 4, rtol=1e-13)


def plain_sums(particles, number):
    """BulkOptics of one population from core_shell's columns."""
    N = math.fsum(number)
    Cext, Csca, Cabs, Cback, Cpr = (math.fsum(number * getattr(particles, f)) / N
                                    for f in coatedmie.BulkOptics._fields[:5])
    g = math.fsum(number * particles.Csca * particles.g) / (Csca * N)
    return Cext, Csca, Cabs, Cback, Cpr, g, Csca / Cext, 4 * math.pi * Cext / Cback


def test_distribution_is_the_weighted_sum_over_the_bins_of_each_spectrum_row():
    wavelength, m_core = np.array([[0.45], [0.55], [0.87]]), np.array([[1.7 + 0.5j], [1.75 + 0.44j], [1.8 + 0.4j]])
    d_shell = np.geomspace(0.02, 4.0, 60)
    number = np.random.default_rng(3).lognormal(3, 2, size=60) * (np.arange(60) % 7 != 0)  # some empty bins
    result = coatedmie.distribution(m_core, 1.5 + 1e-4j, wavelength, 0.3 * d_shell, d_shell, number, 1.33)
    for row in range(3):
        particles = coatedmie.CoreShell(*np.transpose([
            coatedmie.core_shell(m_core[row, 0], 1.5 + 1e-4j, wavelength[row, 0], 0.3 * d, d, 1.33) for d in d_shell]))
        np.testing.assert_allclose([v[row] for v in result], plain_sums(particles, number), rtol=1e-13)
    bins_down = coatedmie.distribution(m_core.T, 1.5 + 1e-4j, wavelength.T, 0.3 * d_shell[:, None], d_shell[:, None],
                                       number[:, None], 1.33, axis=0)
    np.testing.assert_allclose(np.array(bins_down), np.array(result), rtol=1e-14)
    assert coatedmie.distribution(1.5, 1.33, 0.5, 0.3 * d_shell, d_shell, number).albedo == 1.0  # lossless: exactly


@pytest.mark.parametrize("number, message", [
    ([[1, 1], [1, -1]], "number at flat index 3 of shape (2, 2): must be finite and at least 0, found -1.0"),
    ([1, math.nan], "number at flat index 1 of shape (2,): must be finite"),
    ([[1, 1], [0, 0]], "number at flat index 1 of shape (2,): adds up to 0 along axis -1: no particles")])
def test_distribution_refuses_numbers_that_are_no_population(number, message):
    with pytest.raises(ValueError) as raised:
        coatedmie.distribution(1.5, 1.4, 0.5, 0.1, 0.2, number)
    assert str(raised.value).startswith(message)


@functools.lru_cache(maxsize=None)
def brute_force(m_core, m_shell, wavelength, median, gsd, core_fraction):
    """The trapezoid rule in ln d on 80001 equal steps over 9 standard
    deviations below the median and 9 plus 6 above: the d^6-weighted tails."""
    s = math.log(gsd)
    u = np.linspace(-9, 9 + 6 * s, 80001)
    d = median * np.exp(s * u)
    particles = coatedmie.core_shell(m_core, m_shell, wavelength, core_fraction * d, d)
    number = np.exp(-u * u / 2)
    number[[0, -1]] /= 2
    return plain_sums(particles, number)


POPULATIONS = {"narrow": (1.75 + 0.44j, 1.43, 0.55, 0.2, 1.05, 0.4),
               "wide": (1.75 + 0.44j, 1.55 + 0.02j, 0.55, 0.03, 2.0, 0.5),
               "resonant": (1.5 + 1e-3j, 1.5 + 1e-3j, 0.5, 3.0, 1.2, 0.5),
               "resonant shell": (1.6 + 1e-2j, 1.33 + 1e-5j, 0.5, 2.0, 1.3, 0.3)}


@pytest.mark.parametrize("rtol", [1e-2, 1e-6])  # one agreement of two sums is fooled at 1e-2
@pytest.mark.parametrize("population", POPULATIONS.values(), ids=POPULATIONS.keys())
def test_lognormal_meets_rtol_against_a_brute_force_integral(population, rtol):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        result = coatedmie.lognormal(*population, rtol=rtol)
    np.testing.assert_allclose(result[:8], brute_force(*population), rtol=rtol, atol=0)


def test_a_spectrum_of_lognormals_is_each_population_alone_and_gsd_1_is_one_particle():
    wavelength, m_shell = np.array([[0.45], [0.87]]), np.array([[1.44 + 1e-3j], [1.42 + 1e-2j]])
    spectrum = coatedmie.lognormal(1.75 + 0.44j, m_shell, wavelength, 0.2, [1.0, 1.7], 0.4, 1.33, threads=2)
    for row, column in np.ndindex(2, 2):
        alone = coatedmie.lognormal(1.75 + 0.44j, m_shell[row, 0], wavelength[row, 0], 0.2, [1.0, 1.7][column], 0.4,
                                    1.33, threads=1)
        assert np.array([v[row, column] for v in spectrum]).tobytes() == np.array(alone).tobytes()
    one = coatedmie.core_shell(1.75 + 0.44j, m_shell[:, 0], wavelength[:, 0], 0.08, 0.2, 1.33)
    expected = one[7:] + (one.g, one.albedo, 4 * np.pi * one.Cext / one.Cback, [1, 1])
    np.testing.assert_allclose(np.array(spectrum)[:, :, 0], np.array(expected), rtol=1e-14)


@pytest.mark.parametrize("population, options, message", [
    (POPULATIONS["resonant"], dict(max_particles=2000), r"^lognormal: stopped at \d+ particles \(max_particles=2000\)"),
    ((1.5, 1.5 + 1e-3j, 0.5, [[4.0, 400.0]], 3.0, 0.5), dict(max_particles=200),
     r"^lognormal: 2 of 2 populations: first at flat index 0 of shape \(1, 2\): the tail above d = .* may hold"),
])
def test_lognormal_warns_where_it_stops_short(population, options, message):
    with pytest.warns(coatedmie.ConvergenceWarning, match=message) as caught:
        result = coatedmie.lognormal(*population, **options)
    assert len(caught) == 1 and np.all(result.particles_evaluated <= options["max_particles"])


def bits(values):
    return np.ascontiguousarray(values).view(np.uint64)


def test_a_sphere_is_the_coated_call_with_equal_layers_bit_for_bit():
    m, wavelength, diameter, angles = np.array([[1.33 + 1e-8j], [1.75 + 0.44j]]), 0.55, np.geomspace(0.01, 30, 7), \
        [0.0, 37.5, 180.0]
    alone, coated = coatedmie.sphere(m, wavelength, diameter, 1.2), coatedmie.core_shell(m, m, wavelength, diameter,
                                                                                       diameter, 1.2)
    assert np.array_equal(bits(alone), bits(coated))
    y, index = np.pi * 1.2 * diameter / wavelength, m.real / 1.2 + 1j * (m.imag / 1.2)
    engine = coatedmie.efficiencies(y, index, y, index)
    assert np.array_equal(bits(alone[:7]), bits(engine[1:]))
    scattering = coatedmie.sphere_scattering(m, wavelength, diameter, angles, 1.2)
    by_size = (*coatedmie.amplitudes(y, index, y, index, angles), *coatedmie.mueller(y, index, y, index, angles),
               coatedmie.phase_function(y, index, y, index, angles))
    assert all(np.array_equal(bits(a), bits(b)) for a, b in zip(scattering, by_size))
    # Equal indices in two layers are a homogeneous sphere too, to rounding.
    np.testing.assert_allclose(np.array(coatedmie.core_shell(m, m, wavelength, diameter / 2, diameter, 1.2)[:7]),
                               np.array(alone[:7]), rtol=1e-8, atol=1e-12)


@pytest.mark.parametrize("particle", [BY_HAND[0][0], BY_HAND[1][0], (1.5, 1.5 + 0.01j, 0.5, 0.3, 3.0, 1.0)])
def test_the_differential_cross_section_integrates_to_csca_and_the_rest_is_the_size_parameter_calls(particle):
    mu, weight = np.polynomial.legendre.leggauss(400)
    s = coatedmie.core_shell_scattering(*particle[:5], np.degrees(np.arccos(mu)), particle[5])
    np.testing.assert_allclose(2 * np.pi * weight @ s.differential_cross_section, coatedmie.core_shell(*particle).Csca,
                               rtol=1e-10)
    layers = BY_HAND[0][1] if particle == BY_HAND[0][0] else None
    if layers:
        assert np.array_equal(bits(s.S11), bits(coatedmie.mueller(*layers, np.degrees(np.arccos(mu)))[0]))


def test_distribution_weights_count_only_by_their_ratios_anywhere_in_the_double_range():
    d_shell = np.geomspace(0.05, 2.0, 9)
    expected = np.array(coatedmie.distribution(1.75 + 0.44j, 1.5, 0.55, 0.3 * d_shell, d_shell, np.ones(9)))
    for weight in (5e-321, 1e-300, 1e300, 1e308):
        found = coatedmie.distribution(1.75 + 0.44j, 1.5, 0.55, 0.3 * d_shell, d_shell, np.full(9, weight))
        np.testing.assert_allclose(np.array(found), expected, rtol=1e-14)


@pytest.mark.parametrize("core_fraction", [1e-30, 1e-31, 1e-40])
def test_lognormal_with_a_core_below_the_smallest_size_parameter_is_the_coreless_population(core_fraction):
    # Each within rtol = 1e-6 of the integral, on grids that differ.
    coreless = coatedmie.lognormal(1.75 + 0.44j, 1.43, 0.55, 0.2, 1.6, 0.0)
    np.testing.assert_allclose(coatedmie.lognormal(1.75 + 0.44j, 1.43, 0.55, 0.2, 1.6, core_fraction)[:8],
                               coreless[:8], rtol=2e-6)


def test_optical_coefficients_do_not_depend_on_the_length_unit():
    in_um = coatedmie.distribution(1.75 + 0.44j, 1.43, 0.55, [0.02, 0.04], [0.1, 0.2], [1000, 100])
    in_nm = coatedmie.distribution(1.75 + 0.44j, 1.43, 550, [20, 40], [100, 200], [1000, 100])
    expected = coatedmie.optical_coefficients(in_um, 1100, "um")
    np.testing.assert_allclose(coatedmie.optical_coefficients(in_nm, 1100, "nm"), expected, rtol=1e-12)
    # um^2 per cm^3 is Mm^-1 as it stands; backscatter per steradian.
    assert expected[:3] == pytest.approx([1100 * in_um.Cext, 1100 * in_um.Csca, 1100 * in_um.Cabs], rel=1e-15)
    assert expected.extinction / expected.backscatter == pytest.approx(in_um.lidar_ratio, rel=1e-14)
