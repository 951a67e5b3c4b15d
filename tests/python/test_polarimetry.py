"""Amplitudes, Mueller matrix, phase function and Legendre moments: against the
intensities, physics identities and independent values."""

import numpy as np
import pytest
from numpy.polynomial import legendre

import coatedmie

# Rayleigh size (the small-particle path), the reference particle, a vacuum
# shell, a large lossless drop; both sign conventions.
ALPHA1 = np.array([0.005, 5, 5, 300])[:, None]
INDEX1 = np.array([1.5 + 0.01j, 1.5 + 0.01j, 1.0, 1.33])[:, None]
ALPHA2 = np.array([0.003, 3, 3, 200])[:, None]
INDEX2 = np.array([2.0 + 0.5j, 2.0 + 0.5j, 1.7 + 0.2j, 1.5])[:, None]
SIGNS = np.array([1, -1])
ANGLES = np.linspace(-10, 370, 77)


def particles(sign=1):
    return ALPHA1, INDEX1.real + 1j * sign * INDEX1.imag, ALPHA2, INDEX2.real + 1j * sign * INDEX2.imag


def bits(values):
    """Bit patterns of real or complex values, so that -0.0 differs from 0.0."""
    values = np.asarray(values)
    return np.ascontiguousarray(values, dtype=np.result_type(values, np.float64)).view(np.uint64)


@pytest.mark.parametrize("sign", SIGNS)
def test_amplitudes_square_to_the_intensities_bit_for_bit(sign):
    S1, S2 = coatedmie.amplitudes(*particles(sign), ANGLES)
    I1, I2 = coatedmie.intensities(*particles(sign), ANGLES)
    assert S1.shape == I1.shape == (4, 1, 77) and S1.dtype == np.complex128
    assert np.array_equal(bits(S1.real * S1.real + S1.imag * S1.imag), bits(I1))
    assert np.array_equal(bits(S2.real * S2.real + S2.imag * S2.imag), bits(I2))


def test_the_mueller_matrix_is_a_pure_scatterers_and_the_same_in_both_conventions():
    S11, S12, S33, S34 = coatedmie.mueller(*particles(), ANGLES)
    np.testing.assert_allclose(S12**2 + S33**2 + S34**2, S11**2, rtol=1e-12)
    assert np.all(bits(np.stack(coatedmie.mueller(*particles(-1), ANGLES))) == bits(np.stack((S11, S12, S33, S34))))
    # The amplitudes are conjugated, but for the lossless drop (last row),
    # whose indices -0i are the positive convention.
    S1, S2 = coatedmie.amplitudes(*particles(), ANGLES)
    assert np.array_equal(bits(np.stack(coatedmie.amplitudes(*particles(-1), ANGLES))[:, :3]),
                          bits(np.stack((S1.conjugate(), S2.conjugate()))[:, :3]))


# S11, S12, S33, S34 from tests/engine/mpmath_reference.py
# --mueller: the textbook series at 40 digits. The first sphere is Bohren &
# Huffman's BHMIE sample (radius 0.525 at wavelength 0.6328, m = 1.55); its
# 4 S11(180) / x^2 = 2.92534 is the Qback the book prints.
BHMIE_X = 2 * 3.141592653589793 * 0.525 / 0.6328
MUELLER_REFERENCE = {
    (BHMIE_X, 1.55, BHMIE_X, 1.55): [
        (0, 518.61930864178057, 0.0, 518.61930864178057, 0.0),
        (30, 21.747955159929669, 14.326603332998177, 15.023764065128271, 6.4813967547587656),
        (60, 16.681514355014377, 2.9492148330593577, 13.990079081032912, 8.5937617113496171),
        (90, 6.4620383423646379, -1.4892572058425715, 6.0581419089802687, 1.6849240706018772),
        (120, 3.3319699429548066, 0.56440871723012181, 2.4006115130626188, -2.240654115212812),
        (150, 9.8540038678910982, 8.0162534920701881, 5.2700388947123357, -2.2511690801679962),
        (180, 19.872927916182561, 0.0, -19.872927916182561, 0.0),
    ],
    (5, 1.5 + 0.01j, 3, 2.0 + 0.5j): [
        (0, 394.72625963588393, 0.0, 394.72625963588393, 0.0),
        (30, 13.106236550913714, 6.5930799609820217, 11.206629537702189, 1.6480860297037704),
        (60, 5.0662986529412493, -0.026609334264069402, 4.1159068293003724, 2.9539778192537084),
        (90, 3.1392281930815581, -2.3801358790332345, 2.0342555024437694, 0.22696122213727058),
        (120, 1.8956925938753893, 1.2360836450254353, 0.58926960722977842, -1.3109191290731469),
        (150, 5.4521083238793938, -2.0530797742440981, 4.1405121117052956, 2.8924916713322668),
        (180, 1.6449180320192685, 0.0, -1.6449180320192685, 0.0),
    ],
}


@pytest.mark.parametrize("layers", MUELLER_REFERENCE, ids=["BHMIE sample", "reference run"])
def test_mueller_elements_against_independent_values(layers):
    expected = np.array(MUELLER_REFERENCE[layers])
    found = np.stack(coatedmie.mueller(*layers, expected[:, 0]), axis=-1)
    np.testing.assert_allclose(found, expected[:, 1:], rtol=1e-12, atol=1e-12 * expected[0, 1])


def test_moments_are_normalised_to_one_and_the_asymmetry_parameter():
    # Up to a thousand terms, where the forward peak is a millionth of the sphere.
    alpha1, index1, alpha2, index2 = [0.005, 5, 5, 300, 1000], [1.5 + 0.01j, 1.5 - 0.01j, 1.0, 1.33, 1.33 + 1e-4j], \
        [0.003, 3, 3, 200, 900], [2.0 + 0.5j, 2.0 - 0.5j, 1.7 + 0.2j, 1.5, 1.59]
    chi = coatedmie.legendre_moments(alpha1, index1, alpha2, index2)
    e = coatedmie.efficiencies(alpha1, index1, alpha2, index2)
    assert chi.shape == (5, 2 * e.N.max() + 1)
    np.testing.assert_allclose(chi[:, 0], 1.0, atol=1e-13)
    np.testing.assert_allclose(chi[:, 1], e.g, atol=1e-13)
    for row, N in zip(chi, e.N):
        assert np.all(row[2 * N + 1:] == 0.0)
    np.testing.assert_allclose(coatedmie.legendre_moments(5, 1.5, 3, 2.0, 7), coatedmie.legendre_moments(5, 1.5, 3, 2.0)[:7],
                               atol=1e-14)
    assert coatedmie.legendre_moments(5, 1.5, 3, 2.0, 0).shape == (0,)


@pytest.mark.parametrize("layers", [(5, 1.5 + 0.01j, 3, 2.0 + 0.5j), (60, 1.33, 45, 1.7 + 0.3j)], ids=str)
def test_moments_against_an_independent_quadrature_of_the_phase_function(layers):
    # NumPy's own Gauss-Legendre rule, with more nodes than needed, on the
    # phase function at its nodes (through degrees: y^2 1e-16 near the peak).
    chi = coatedmie.legendre_moments(*layers)
    mu, weight = legendre.leggauss(len(chi) + 10)
    p = coatedmie.phase_function(*layers, np.degrees(np.arccos(mu)))
    P = legendre.legvander(mu, len(chi) - 1)
    np.testing.assert_allclose(chi, 0.5 * (weight * p) @ P, atol=1e-10)


def test_rayleigh_limit_of_the_phase_function():
    # p = 3/4 (1 + cos^2 theta): chi_2 = 1/10, every other moment but chi_0 0.
    chi = coatedmie.legendre_moments(1e-3, 1.5, 5e-4, 1.5, 6)
    np.testing.assert_allclose(chi, [1, 0, 0.1, 0, 0, 0], atol=1e-6)
    p = coatedmie.phase_function(1e-3, 1.5, 5e-4, 1.5, [0, 90, 180])
    np.testing.assert_allclose(p, [1.5, 0.75, 1.5], rtol=1e-6)


def test_refused_particles_give_nan_rows():
    chi = coatedmie.legendre_moments([5, -1], 1.5, 3, 2.0, invalid="nan")
    S11, *_ = coatedmie.mueller([5, -1], 1.5, 3, 2.0, [0, 90], invalid="nan")
    assert np.isnan(chi[1]).all() and not np.isnan(chi[0]).any()
    assert np.isnan(S11[1]).all() and not np.isnan(S11[0]).any()
    with pytest.raises(ValueError, match="flat index 1"):
        coatedmie.phase_function([5, -1], 1.5, 3, 2.0, [0])
