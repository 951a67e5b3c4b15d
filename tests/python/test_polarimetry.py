"""Amplitudes, Mueller matrix, phase function and Legendre moments: against the
intensities, physics identities and independent values."""

import pathlib

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


# S11, S12, S33, S34 from tools/mpmath_reference.py --mueller: the textbook
# series at 40 digits. The first sphere is Bohren & Huffman's BHMIE sample
# (radius 0.525 at wavelength 0.6328, m = 1.55); its 4 S11(180) / x^2 is the
# Qback of 2.92534 the book prints.
MUELLER_REFERENCE = np.loadtxt(pathlib.Path(__file__).with_name("mueller_reference.txt"))


def test_mueller_elements_against_independent_values():
    for particle in np.unique(MUELLER_REFERENCE[:, :6], axis=0):
        rows = MUELLER_REFERENCE[(MUELLER_REFERENCE[:, :6] == particle).all(axis=1)]
        layers = (particle[0], complex(particle[1], particle[2]), particle[3], complex(particle[4], particle[5]))
        found = np.stack(coatedmie.mueller(*layers, rows[:, 6]), axis=-1)
        np.testing.assert_allclose(found, rows[:, 7:], rtol=1e-12, atol=1e-12 * rows[0, 7])


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
