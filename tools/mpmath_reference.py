"""Reference values for the derived-quantity tests, at 40 significant digits.

Run by hand with Debian's interpreter (python3-mpmath):
    /usr/bin/python3 tools/mpmath_reference.py > tests/engine/derived_reference.txt
    /usr/bin/python3 tools/mpmath_reference.py --mueller > tests/python/mueller_reference.txt
It writes the golden data of the derived-quantity and Mueller tests: one
particle per line (alpha1, index1 re, im, alpha2, index2 re, im), then its
values at 17 digits. Nothing here shares code
or arithmetic with the engine: the Riccati-Bessel functions come from
mpmath's Bessel functions of half-integer order, and the coefficients from the
textbook formulas of Bohren & Huffman (1983), in their convention m = n + ik,
xi_n = psi_n - i chi_n:
  homogeneous sphere (eq. 4.53)
    a_n = (m psi_n(mx) psi_n'(x) - psi_n(x) psi_n'(mx)) / (m psi_n(mx) xi_n'(x) - xi_n(x) psi_n'(mx))
    b_n = (psi_n(mx) psi_n'(x) - m psi_n(x) psi_n'(mx)) / (psi_n(mx) xi_n'(x) - m xi_n(x) psi_n'(mx))
  coated sphere (section 8.1), core x, m1 in shell y, m2
    A_n = (m2 psi_n(m2x) psi_n'(m1x) - m1 psi_n'(m2x) psi_n(m1x))
        / (m2 chi_n(m2x) psi_n'(m1x) - m1 chi_n'(m2x) psi_n(m1x))
    B_n = (m2 psi_n(m1x) psi_n'(m2x) - m1 psi_n(m2x) psi_n'(m1x))
        / (m2 chi_n'(m2x) psi_n(m1x) - m1 psi_n'(m1x) chi_n(m2x))
    with P(f, C) = f_n(m2y) - C chi_n(m2y) and P' likewise,
    a_n = (psi_n(y) P'(psi, A_n) - m2 psi_n'(y) P(psi, A_n)) / (xi_n(y) P'(psi, A_n) - m2 xi_n'(y) P(psi, A_n))
    b_n = (m2 psi_n(y) P'(psi, B_n) - psi_n'(y) P(psi, B_n)) / (m2 xi_n(y) P'(psi, B_n) - xi_n'(y) P(psi, B_n))
and the efficiencies from the sums of sections 4.4 and 4.5 (Qext, Qsca, g Qsca,
Qback; Qpr = Qext - g Qsca), referred to pi y^2. Sums run to the engine's
term count plus 20, far past convergence. Each value is computed at two
working precisions and must agree to the printed digits.
"""

import mpmath as mp


def psi_chi(n, z):
    """psi_n(z), chi_n(z) and their derivatives (psi_n = z j_n, chi_n = -z y_n)."""
    s = mp.sqrt(mp.pi * z / 2)
    psi = [s * mp.besselj(k + mp.mpf(1) / 2, z) for k in (n - 1, n)]
    chi = [-s * mp.bessely(k + mp.mpf(1) / 2, z) for k in (n - 1, n)]
    # f_n' = f_{n-1} - n f_n / z for both families.
    return psi[1], psi[0] - n * psi[1] / z, chi[1], chi[0] - n * chi[1] / z


def homogeneous(x, m, n):
    px, dpx, cx, dcx = psi_chi(n, x)
    pm, dpm, _, _ = psi_chi(n, m * x)
    xi, dxi = px - 1j * cx, dpx - 1j * dcx
    a = (m * pm * dpx - px * dpm) / (m * pm * dxi - xi * dpm)
    b = (pm * dpx - m * px * dpm) / (pm * dxi - m * xi * dpm)
    return a, b


def coated(x, m1, y, m2, n):
    p1, dp1, _, _ = psi_chi(n, m1 * x)
    p2, dp2, c2, dc2 = psi_chi(n, m2 * x)
    A = (m2 * p2 * dp1 - m1 * dp2 * p1) / (m2 * c2 * dp1 - m1 * dc2 * p1)
    B = (m2 * p1 * dp2 - m1 * p2 * dp1) / (m2 * dc2 * p1 - m1 * dp1 * c2)
    py, dpy, cy, dcy = psi_chi(n, y)
    xi, dxi = py - 1j * cy, dpy - 1j * dcy
    q, dq, r, dr = psi_chi(n, m2 * y)
    PA, dPA = q - A * r, dq - A * dr
    PB, dPB = q - B * r, dq - B * dr
    a = (py * dPA - m2 * dpy * PA) / (xi * dPA - m2 * dxi * PA)
    b = (m2 * py * dPB - dpy * PB) / (m2 * xi * dPB - dxi * PB)
    return a, b


def engine_term_count(y):
    return int(7.5 * y ** 0.34 + y + 2.5)


def efficiencies(coefficients, y):
    """Kext, Ksca, Kabs, Kback, Kpr, g, albedo referred to pi y^2."""
    a, b = zip(*coefficients)
    N = len(a)
    ext = sum((2 * n + 1) * mp.re(a[n - 1] + b[n - 1]) for n in range(1, N + 1))
    sca = sum((2 * n + 1) * (abs(a[n - 1]) ** 2 + abs(b[n - 1]) ** 2) for n in range(1, N + 1))
    asym = sum(mp.mpf(n * (n + 2)) / (n + 1)
               * mp.re(a[n - 1] * mp.conj(a[n]) + b[n - 1] * mp.conj(b[n])) for n in range(1, N))
    asym += sum(mp.mpf(2 * n + 1) / (n * (n + 1)) * mp.re(a[n - 1] * mp.conj(b[n - 1]))
                for n in range(1, N + 1))
    back = sum((2 * n + 1) * (-1) ** n * (a[n - 1] - b[n - 1]) for n in range(1, N + 1))
    y2 = mp.mpf(y) ** 2
    Kext, Ksca, gKsca = 2 * ext / y2, 2 * sca / y2, 4 * asym / y2
    return [Kext, Ksca, Kext - Ksca, abs(back) ** 2 / y2, Kext - gKsca, gKsca / Ksca, Ksca / Kext]


def mueller(coefficients, degrees):
    """S11, S12, S33, S34 (Bohren & Huffman, eq. 4.77) from S1, S2 of
    eq. 4.74 with the angular functions of eq. 4.47."""
    mu = mp.cos(mp.mpf(degrees) * mp.pi / 180)
    pi_prev, pi_n = mp.mpf(0), mp.mpf(1)
    S1 = S2 = mp.mpc(0)
    for n, (a, b) in enumerate(coefficients, start=1):
        if n > 1:
            pi_prev, pi_n = pi_n, ((2 * n - 1) * mu * pi_n - n * pi_prev) / (n - 1)
        tau = n * mu * pi_n - (n + 1) * pi_prev
        w = mp.mpf(2 * n + 1) / (n * (n + 1))
        S1 += w * (a * pi_n + b * tau)
        S2 += w * (a * tau + b * pi_n)
    product = S2 * mp.conj(S1)
    return [(abs(S2) ** 2 + abs(S1) ** 2) / 2, (abs(S2) ** 2 - abs(S1) ** 2) / 2, mp.re(product), mp.im(product)]


def coefficients_of(alpha1, m1, alpha2, m2):
    """The engine's layer order: the larger size parameter is the shell."""
    if alpha1 < alpha2:
        alpha1, m1, alpha2, m2 = alpha2, m2, alpha1, m1
    y, x = mp.mpf(alpha1), mp.mpf(alpha2)
    m2, m1 = mp.mpc(m1), mp.mpc(m2)  # shell, core
    N = engine_term_count(float(y)) + 20
    if m1 == m2 or x == 0:
        return [homogeneous(y, m2, n) for n in range(1, N + 1)], y
    return [coated(x, m1, y, m2, n) for n in range(1, N + 1)], y


def case(alpha1, m1, alpha2, m2):
    return efficiencies(*coefficients_of(alpha1, m1, alpha2, m2))


BHMIE_X = 2 * 3.141592653589793 * 0.525 / 0.6328  # the double the C++ test forms

CASES = [
    # Homogeneous spheres (core index = shell index): the standard test
    # particles of the Mie literature in each regime.
    # Bohren & Huffman, appendix A: BHMIE's sample run, radius 0.525 at
    # wavelength 0.6328, prints Qsca = Qext = 3.10543 and Qback = 2.92534.
    ("BHMIE sample run, x = 2 pi 0.525 / 0.6328, m = 1.55; the book prints Qsca = Qext = 3.10543, "
     "Qback = 2.92534", (BHMIE_X, "1.55", BHMIE_X, "1.55")),
    ("nonabsorbing, x = 10, m = 1.5", (10, "1.5", 10, "1.5")),
    ("water, x = 100, m = 1.33 + 1e-8i", (100, "1.33+1e-8j", 100, "1.33+1e-8j")),
    ("absorbing, x = 1, m = 1.5 + 1i", (1, "1.5+1j", 1, "1.5+1j")),
    ("metallic, x = 1, m = 10 + 10i", (1, "10+10j", 1, "10+10j")),
    ("Rayleigh, x = 0.1, m = 1.5 + 0.1i", (0.1, "1.5+0.1j", 0.1, "1.5+0.1j")),
    ("large absorbing, x = 1000, m = 1.5 + 0.1i", (1000, "1.5+0.1j", 1000, "1.5+0.1j")),
    # Coated spheres.
    ("reference run, 5 / 1.5 + 0.01i over 3 / 2 + 0.5i", (5, "1.5+0.01j", 3, "2.0+0.5j")),
    ("lossless, 10 / 1.33 over 6 / 1.5", (10, "1.33", 6, "1.5")),
    ("absorbing thin shell, 20 / 1.8 + 0.6i over 19 / 1.2", (20, "1.8+0.6j", 19, "1.2")),
]


MUELLER_CASES = [("BHMIE sample run; 4 S11(180) / x^2 is the Qback of 2.92534 the book prints",
                  (BHMIE_X, "1.55", BHMIE_X, "1.55")),
                 ("reference run", (5, "1.5+0.01j", 3, "2.0+0.5j"))]


def layers_text(alpha1, m1, alpha2, m2):
    m1, m2 = complex(m1), complex(m2)
    return f"{alpha1!r} {m1.real!r} {m1.imag!r} {alpha2!r} {m2.real!r} {m2.imag!r}"


def print_mueller():
    mp.mp.dps = 40
    print("# alpha1 index1Re index1Im alpha2 index2Re index2Im degrees S11 S12 S33 S34")
    for title, (alpha1, m1, alpha2, m2) in MUELLER_CASES:
        coefficients, _ = coefficients_of(mp.mpf(alpha1), mp.mpmathify(m1), mp.mpf(alpha2), mp.mpmathify(m2))
        print("#", title)
        for degrees in range(0, 181, 30):
            print(layers_text(alpha1, m1, alpha2, m2), degrees,
                  " ".join(mp.nstr(v, 17) for v in mueller(coefficients, degrees)))


def main():
    if "--mueller" in __import__("sys").argv:
        print_mueller()
        return
    print("# alpha1 index1Re index1Im alpha2 index2Re index2Im Kext Ksca Kback Kpr g")
    for title, (alpha1, m1, alpha2, m2) in CASES:
        results = []
        for dps in (40, 60):
            mp.mp.dps = dps
            results.append(case(mp.mpf(alpha1), mp.mpmathify(m1), mp.mpf(alpha2), mp.mpmathify(m2)))
        mp.mp.dps = 40
        for u, v in zip(*results):
            assert abs(u - v) <= mp.mpf(10) ** -30 * max(abs(v), 1), (title, u, v)
        print("#", title)
        Kext, Ksca, _, Kback, Kpr, g, _ = results[1]
        print(layers_text(alpha1, m1, alpha2, m2), " ".join(mp.nstr(v, 17) for v in (Kext, Ksca, Kback, Kpr, g)))


if __name__ == "__main__":
    main()
