#!/usr/bin/python3
"""Check an example's expected files against an independent high-precision
computation of the coated sphere.

For each example folder, reads Parameter_in.txt, computes the efficiencies
and the intensities at working precisions far beyond double, and checks every
number printed in Header_Coated_TA.txt and Mie_Coated_TA.txt, and the layout
of both files: each printed value must be the true value correctly rounded to
the printed digits (six decimals in the fixed form, seven significant digits
in the exponent form).

A program working in double precision carries a relative error of about
1e-13 or more, so where the true value lies within a small relative margin of
a rounding boundary (default 1e-10) it may round either way; there the
printed value may be either neighbour. These boundary cases are counted and
listed, as is every value that differs from the correctly rounded one.

The computation shares nothing with the program's:
- the series coefficients are the classic ones of Aden and Kerker (1951) for
  the coated sphere, as written by Bohren and Huffman (1983, section 8.1),
  from the Riccati-Bessel functions psi_n and chi_n themselves (not their
  logarithmic derivatives), evaluated by upward recurrence from sin z and
  cos z with mpmath; the upward recurrence loses digits where psi_n decays,
  so the whole computation runs at two precisions and must agree to 25
  digits, else it is repeated with more;
- the series runs well past the program's term count, until the terms fall
  below 1e-40;
- the amplitude sums use pi_n and tau_n from the Legendre recurrence
  tau_n = n mu pi_n - (n + 1) pi_(n-1), in fixed-point integer arithmetic
  (2^-P, P >= 200 bits), at the exact angle in degrees of each line.

Conventions are the program's: the layer with the larger size parameter is
the shell (on a tie the first one); imaginary parts of either sign give the
same results; efficiencies refer to pi y^2, or to pi x^2 when the shell index
is exactly 1 + 0i; I1 = |S1|^2 and I2 = |S2|^2 unnormalised; Kabs is printed
as 0 when it is below 1e-10 of Kext.

    /usr/bin/python3 tools/verify_example.py examples/reference examples/soot_core
    /usr/bin/python3 tools/verify_example.py --self-test

Needs mpmath (Debian: python3-mpmath). Exit status: 0 when every value
agrees, 1 when one does not, 2 when a folder cannot be read, 77 (the test
suite's "skipped") when mpmath is missing.
"""

import argparse
import math
import os
import re
import sys
import time
from fractions import Fraction

try:
    import mpmath
    from mpmath import mp, mpc, mpf
except ImportError:
    print("verify_example: needs mpmath (Debian: python3-mpmath); skipping", file=sys.stderr)
    sys.exit(77)

PARAMETER_NAME = "Parameter_in.txt"
HEADER_NAME = "Header_Coated_TA.txt"
TABLE_NAME = "Mie_Coated_TA.txt"

FIXED = re.compile(r"-?[0-9]+\.[0-9]{6}")
EXPONENT = re.compile(r"-?[0-9]\.[0-9]{6}e[+-][0-9]{3}")
ABSORPTION_CUTOFF = 1e-10
AGREEMENT = mpf(10) ** -25
TAIL = mpf(10) ** -40
I = mpc(0, 1)


class ExampleError(Exception):
    pass


# --- Input -----------------------------------------------------------------

def read_parameters(folder):
    """The nine numbers; Python's float() rounds to the nearest double as the
    program's reader does."""
    path = os.path.join(folder, PARAMETER_NAME)
    with open(path, "r", encoding="ascii") as f:
        words = f.read().split()
    if len(words) < 9:
        raise ExampleError(f"{path}: expected nine numbers, found {len(words)}")
    numbers = [float(w) for w in words[:6]] + [int(words[6])] + [float(w) for w in words[7:9]]
    return dict(zip(("alpha1", "re1", "im1", "alpha2", "re2", "im2", "count", "start", "end"), numbers))


def angle_grid(count, start, end):
    """The grid in double arithmetic, operation by operation, as printed."""
    if count < 2:
        raise ExampleError("the checker needs at least two angles")
    step = (end - start) / float(count - 1)
    return [float(i - 1) * step + start for i in range(1, count + 1)]


# --- Riccati-Bessel functions ----------------------------------------------

def riccati(z, order):
    """psi_n(z) = z j_n(z) and chi_n(z) = -z y_n(z), n = 0..order, with their
    derivatives, by the upward recurrence f_(n+1) = (2n+1)/z f_n - f_(n-1)
    from psi_(-1) = cos z, psi_0 = sin z, chi_(-1) = -sin z, chi_0 = cos z.
    xi_n = psi_n - i chi_n is then the outgoing wave for m = n + ik, k >= 0."""
    psi = [None] * (order + 1)
    chi = [None] * (order + 1)
    dpsi = [None] * (order + 1)
    dchi = [None] * (order + 1)
    psi_before, psi_now = mpmath.cos(z), mpmath.sin(z)
    chi_before, chi_now = -mpmath.sin(z), mpmath.cos(z)
    for n in range(order + 1):
        psi[n], chi[n] = psi_now, chi_now
        # f_n' = f_(n-1) - n/z f_n
        dpsi[n] = psi_before - n * psi_now / z
        dchi[n] = chi_before - n * chi_now / z
        factor = (2 * n + 1) / z
        psi_before, psi_now = psi_now, factor * psi_now - psi_before
        chi_before, chi_now = chi_now, factor * chi_now - chi_before
    return psi, chi, dpsi, dchi


# --- Coefficients and efficiencies -----------------------------------------

def normalised(p):
    """(x, m1, y, m2): core size and index, outer size and shell index, both
    imaginary parts non-negative (the sign convention does not change any
    printed result)."""
    first = (p["alpha1"], p["re1"], abs(p["im1"]))
    second = (p["alpha2"], p["re2"], abs(p["im2"]))
    shell, core = (second, first) if first[0] < second[0] else (first, second)
    return core[0], (core[1], core[2]), shell[0], (shell[1], shell[2])


def coated_coefficients(x, m1, y, m2, order):
    """a_n, b_n for n = 1..order (Bohren and Huffman, eqs. 8.2), all
    arguments exact mp values."""
    m1x, m2x, m2y = m1 * x, m2 * x, m2 * y
    psi1, _, dpsi1, _ = riccati(m1x, order)
    psi2x, chi2x, dpsi2x, dchi2x = riccati(m2x, order)
    psi2y, chi2y, dpsi2y, dchi2y = riccati(m2y, order)
    psiy, chiy, dpsiy, dchiy = riccati(y, order)
    a, b = [None], [None]
    for n in range(1, order + 1):
        A = ((m2 * psi2x[n] * dpsi1[n] - m1 * dpsi2x[n] * psi1[n])
             / (m2 * chi2x[n] * dpsi1[n] - m1 * dchi2x[n] * psi1[n]))
        B = ((m2 * psi1[n] * dpsi2x[n] - m1 * psi2x[n] * dpsi1[n])
             / (m2 * dchi2x[n] * psi1[n] - m1 * dpsi1[n] * chi2x[n]))
        xi, dxi = psiy[n] - I * chiy[n], dpsiy[n] - I * dchiy[n]
        inner_a = dpsi2y[n] - A * dchi2y[n]
        outer_a = psi2y[n] - A * chi2y[n]
        inner_b = dpsi2y[n] - B * dchi2y[n]
        outer_b = psi2y[n] - B * chi2y[n]
        a.append((psiy[n] * inner_a - m2 * dpsiy[n] * outer_a)
                 / (xi * inner_a - m2 * dxi * outer_a))
        b.append((m2 * psiy[n] * inner_b - dpsiy[n] * outer_b)
                 / (m2 * xi * inner_b - dxi * outer_b))
    return a, b


def term_limit(y):
    """Well past the usual y + 4 y^(1/3) + 2: beyond n = y the terms fall like
    exp(-(4/3) ((n - y) / (y/2)^(1/3))^(3/2)), below 1e-40 here;
    tail_small() confirms it."""
    return int(y + 14 * y ** (1 / 3) + 30)


def digits_lost(arguments, order):
    """Upward, psi_n(z) is the decaying solution where n > |z|: the recurrence
    then loses about as many digits as chi_n(z)^2 has beyond 1."""
    lost = 0
    with mp.workdps(30):
        for z in arguments:
            chi_before, chi_now = -mpmath.sin(z), mpmath.cos(z)
            for n in range(order):
                chi_before, chi_now = chi_now, (2 * n + 1) / z * chi_now - chi_before
            lost = max(lost, 2 * float(mpmath.log10(abs(chi_now) + 1)))
    return int(lost)


def tail_small(a, b):
    return all(abs(a[n]) + abs(b[n]) < TAIL for n in range(len(a) - 3, len(a)))


def efficiencies(a, b, norm_size):
    ext = mpf(0)
    sca = mpf(0)
    for n in range(1, len(a)):
        ext += (2 * n + 1) * (a[n] + b[n]).real
        sca += (2 * n + 1) * (abs(a[n]) ** 2 + abs(b[n]) ** 2)
    norm = mpf(norm_size) ** 2
    return 2 * ext / norm, 2 * sca / norm


def to_fixed(value, bits):
    return int(mpmath.nint(mpmath.ldexp(value, bits)))


def intensities(a, b, angles_deg, bits):
    """(I1, I2) per angle from S1 = sum w_n (a_n pi_n + b_n tau_n) and
    S2 = sum w_n (a_n tau_n + b_n pi_n), w_n = (2n+1)/(n(n+1)), in integers
    scaled by 2^bits; the sums carry the scale squared."""
    order = len(a) - 1
    wa = [None] + [((2 * n + 1) * a[n]) / (n * (n + 1)) for n in range(1, order + 1)]
    wb = [None] + [((2 * n + 1) * b[n]) / (n * (n + 1)) for n in range(1, order + 1)]
    war = [0] + [to_fixed(v.real, bits) for v in wa[1:]]
    wai = [0] + [to_fixed(v.imag, bits) for v in wa[1:]]
    wbr = [0] + [to_fixed(v.real, bits) for v in wb[1:]]
    wbi = [0] + [to_fixed(v.imag, bits) for v in wb[1:]]
    one = 1 << bits
    result = []
    for degrees in angles_deg:
        mu = to_fixed(mpmath.cos(mpf(degrees) * mpmath.pi / 180), bits)
        pi_before, pi_now = 0, one      # pi_0, pi_1
        tau = mu                        # tau_1
        s1r = war[1] * pi_now + wbr[1] * tau
        s1i = wai[1] * pi_now + wbi[1] * tau
        s2r = war[1] * tau + wbr[1] * pi_now
        s2i = wai[1] * tau + wbi[1] * pi_now
        for n in range(2, order + 1):
            pi_next = ((2 * n - 1) * ((mu * pi_now) >> bits) - n * pi_before) // (n - 1)
            tau = n * ((mu * pi_next) >> bits) - (n + 1) * pi_now
            pi_before, pi_now = pi_now, pi_next
            s1r += war[n] * pi_now + wbr[n] * tau
            s1i += wai[n] * pi_now + wbi[n] * tau
            s2r += war[n] * tau + wbr[n] * pi_now
            s2i += wai[n] * tau + wbi[n] * pi_now
        i1 = mpmath.ldexp(mpf(s1r * s1r + s1i * s1i), -4 * bits)
        i2 = mpmath.ldexp(mpf(s2r * s2r + s2i * s2i), -4 * bits)
        result.append((i1, i2))
    return result


def true_values(p, digits):
    """Everything the two files print, at about `digits` significant digits
    (less what the recurrences lose)."""
    x, m1, y, m2 = normalised(p)
    angles = angle_grid(p["count"], p["start"], p["end"])
    with mp.workdps(digits):
        core = mpc(*m1)
        shell = mpc(*m2)
        order = term_limit(y)
        while True:
            a, b = coated_coefficients(mpf(x), core, mpf(y), shell, order)
            if tail_small(a, b):
                break
            order += 20 + int(4 * y ** (1 / 3))
        # A core in vacuum: the shell is only a boundary, the cross-section the core's.
        norm_size = x if m2[0] == 1.0 and m2[1] == 0.0 else y
        kext, ksca = efficiencies(a, b, norm_size)
        kabs = kext - ksca
        if m1[1] == 0 and m2[1] == 0:
            kabs = mpf(0)  # no absorbing layer: exactly zero, whatever the rounding residue
        table = intensities(a, b, angles, int(digits * 3.33) + 64)
        return {
            "order": order,
            "Kext": +kext, "Ksca": +ksca, "Kabs": +kabs,
            "table": [(deg, +i1, +i2, +(i1 + i2)) for deg, (i1, i2) in zip(angles, table)],
        }


def agree(u, v):
    return abs(u - v) <= AGREEMENT * abs(v) + mpf(10) ** -60


def converged_values(p):
    """Runs at two precisions until every printed quantity agrees to 25 digits."""
    x, m1, y, m2 = normalised(p)
    arguments = [mpc(*m1) * x, mpc(*m2) * x, mpc(*m2) * y, mpf(y)]
    digits = 40 + digits_lost([z for z in arguments if z != 0], term_limit(y))
    while True:
        low = true_values(p, digits)
        high = true_values(p, digits + 30)
        pairs = [(low[k], high[k]) for k in ("Kext", "Ksca", "Kabs")]
        for row_low, row_high in zip(low["table"], high["table"]):
            pairs += list(zip(row_low[1:], row_high[1:]))
        with mp.workdps(digits + 30):
            if all(agree(u, v) for u, v in pairs):
                return high, digits + 30
        if digits > 2000:
            raise ExampleError("no agreement between working precisions up to 2000 digits")
        digits += 60


# --- Rounding check ----------------------------------------------------------

def exact_fraction(value):
    """An mpf as the exact binary fraction it holds."""
    sign, mantissa, exponent, _ = value._mpf_
    if mantissa == 0:
        return Fraction(0)
    magnitude = Fraction(mantissa) * Fraction(2) ** exponent
    return -magnitude if sign else magnitude


def printed_value(text):
    if "e" in text:
        mantissa, exponent = text.split("e")
        return Fraction(mantissa) * Fraction(10) ** int(exponent)
    return Fraction(text)


def last_unit(true_value, form):
    """The unit of the last printed digit for a true value (before rounding)."""
    if form == "fixed" or true_value == 0:
        return Fraction(1, 10 ** 6)
    exponent = int(mpmath.floor(mpmath.log10(abs(true_value))))
    # log10 may land on the wrong side of a power of ten; settle it exactly.
    magnitude = abs(exact_fraction(true_value))
    while magnitude >= Fraction(10) ** (exponent + 1):
        exponent += 1
    while magnitude < Fraction(10) ** exponent:
        exponent -= 1
    return Fraction(10) ** (exponent - 6)


class Tally:
    def __init__(self, margin):
        self.margin = margin
        self.checked = 0
        self.boundary = []     # (where, text, relative distance to the boundary, correctly rounded?)
        self.mismatches = []   # (where, text, expected)

    def check(self, where, text, true_value, form):
        pattern = FIXED if form == "fixed" else EXPONENT
        if not pattern.fullmatch(text):
            self.mismatches.append((where, text, f"a number in the {form} form"))
            return
        self.checked += 1
        exact = exact_fraction(true_value)
        unit = last_unit(true_value, form)
        units = abs(exact) / unit
        below = units.numerator // units.denominator
        fraction = units - below
        nearest = below + (1 if fraction >= Fraction(1, 2) else 0)
        sign = -1 if exact < 0 else 1
        expected = sign * nearest * unit
        allowed = {expected}
        distance = abs(fraction - Fraction(1, 2)) * unit
        if exact != 0 and distance < Fraction(self.margin) * abs(exact):
            allowed = {sign * below * unit, sign * (below + 1) * unit}
            self.boundary.append((where, text, float(distance / abs(exact)),
                                  printed_value(text) == expected))
        if printed_value(text) not in allowed:
            self.mismatches.append((where, text, f"{float(expected):.7g} (true value {mpmath.nstr(true_value, 12)})"))


# --- The two files -----------------------------------------------------------

def read_lines(path):
    with open(path, "rb") as f:
        data = f.read()
    if not data.endswith(b"\r\n"):
        raise ExampleError(f"{path}: the last line does not end with CR LF")
    lines = data[:-2].split(b"\r\n")
    if any(b"\r" in line or b"\n" in line for line in lines):
        raise ExampleError(f"{path}: a line end other than CR LF")
    return [line.decode("ascii") for line in lines]


HEADER_LINE = re.compile(r"Alpha([12])=(\S+)\tRefractive index_m([12])=\((\S+), (\S+)\)")
EFFICIENCY_LINE = re.compile(r"Kext=(\S+), Ksca=(\S+), Kabs=(\S+)")


def check_header(path, p, values, tally):
    lines = read_lines(path)
    if len(lines) != 5 or lines[2] != "" or lines[4] != "":
        raise ExampleError(f"{path}: not the five-line layout")
    for number, layer in ((1, "1"), (2, "2")):
        match = HEADER_LINE.fullmatch(lines[number - 1])
        if not match or match.group(1) != layer or match.group(3) != layer:
            raise ExampleError(f"{path}: line {number} is not the Alpha{layer} line")
        for text, name in zip(match.groups()[1:2] + match.groups()[3:],
                              (f"alpha{layer}", f"re{layer}", f"im{layer}")):
            tally.check(f"{HEADER_NAME} line {number} {name}", text, mpf(p[name]), "fixed")
    match = EFFICIENCY_LINE.fullmatch(lines[3])
    if not match:
        raise ExampleError(f"{path}: line 4 is not the efficiency line")
    for text, name in zip(match.groups(), ("Kext", "Ksca", "Kabs")):
        true_value = values[name]
        if name == "Kabs" and abs(true_value) < ABSORPTION_CUTOFF * abs(values["Kext"]):
            true_value = mpf(0)
        tally.check(f"{HEADER_NAME} {name}", text, true_value, "fixed")


def check_table(path, values, tally):
    lines = read_lines(path)
    if lines[0] != "Angle(Deg)\tI1\tI2\tItotal":
        raise ExampleError(f"{path}: line 1 is not the column line")
    rows = values["table"]
    if len(lines) - 1 != len(rows):
        raise ExampleError(f"{path}: {len(lines) - 1} angles, the grid has {len(rows)}")
    for number, (line, row) in enumerate(zip(lines[1:], rows), start=2):
        fields = line.split("\t")
        if len(fields) != 4:
            raise ExampleError(f"{path}: line {number}: expected four fields")
        tally.check(f"{TABLE_NAME} line {number} angle", fields[0], mpf(row[0]), "fixed")
        for text, true_value, name in zip(fields[1:], row[1:], ("I1", "I2", "Itotal")):
            tally.check(f"{TABLE_NAME} line {number} {name}", text, true_value, "exponent")


def verify(folder, margin, out):
    started = time.time()
    p = read_parameters(folder)
    values, digits = converged_values(p)
    tally = Tally(margin)
    check_header(os.path.join(folder, HEADER_NAME), p, values, tally)
    check_table(os.path.join(folder, TABLE_NAME), values, tally)
    x, m1, y, m2 = normalised(p)
    print(f"{folder}: core x = {x:g}, m1 = {m1[0]:g} + {m1[1]:g}i; shell y = {y:g}, "
          f"m2 = {m2[0]:g} + {m2[1]:g}i; {values['order']} terms, {digits} digits, "
          f"{time.time() - started:.1f} s", file=out)
    print(f"  {tally.checked} values checked, {len(tally.boundary)} boundary cases "
          f"(true value within {margin:g} of a rounding boundary), "
          f"{len(tally.mismatches)} mismatches", file=out)
    other_way = sum(1 for *_, nearest in tally.boundary if not nearest)
    if tally.boundary:
        print(f"  {other_way} of the boundary cases printed as the neighbour of the correctly rounded value",
              file=out)
    for where, text, distance, nearest in tally.boundary:
        print(f"  boundary: {where}: printed {text}, relative distance {distance:.2e}"
              f"{'' if nearest else ', rounded the other way'}", file=out)
    for where, text, expected in tally.mismatches:
        print(f"  MISMATCH: {where}: printed {text}, expected {expected}", file=out)
    return not tally.mismatches


# --- Self-test of the formulation -------------------------------------------

def self_test(out):
    """The formulation against independent values: mpmath's Bessel functions,
    the homogeneous-sphere limits, and published efficiencies."""
    failures = []

    def expect(what, ok):
        print(f"  {'ok  ' if ok else 'FAIL'} {what}", file=out)
        if not ok:
            failures.append(what)

    with mp.workdps(50):
        for z in (mpf("0.7"), mpc("3.3", "0.02"), mpc("1.5", "4.2"), mpf(12)):
            with mp.workdps(50 + digits_lost([z], 30)):
                psi, chi, dpsi, _ = riccati(z, 30)
            for n in (0, 1, 7, 30):
                half = mpmath.sqrt(mpmath.pi * z / 2)
                want_psi = half * mpmath.besselj(n + mpf(1) / 2, z)
                want_chi = -half * mpmath.bessely(n + mpf(1) / 2, z)
                ok = (abs(psi[n] - want_psi) <= mpf(10) ** -30 * abs(want_psi)
                      and abs(chi[n] - want_chi) <= mpf(10) ** -30 * abs(want_chi))
                expect(f"psi_{n}, chi_{n} at z = {mpmath.nstr(z, 4)} match mpmath's Bessel functions", ok)
            want = mpmath.diff(lambda t: t * mpmath.besselj(7 + mpf(1) / 2, t) * mpmath.sqrt(mpmath.pi / (2 * t)), z)
            expect(f"psi_7' at z = {mpmath.nstr(z, 4)} matches the numerical derivative",
                   abs(dpsi[7] - want) <= mpf(10) ** -25 * abs(want))

        def homogeneous(size, m, order):
            psi_m, _, dpsi_m, _ = riccati(m * size, order)
            psi, chi, dpsi, dchi = riccati(mpf(size), order)
            a, b = [None], [None]
            for n in range(1, order + 1):
                xi, dxi = psi[n] - I * chi[n], dpsi[n] - I * dchi[n]
                a.append((m * psi_m[n] * dpsi[n] - psi[n] * dpsi_m[n])
                         / (m * psi_m[n] * dxi - xi * dpsi_m[n]))
                b.append((psi_m[n] * dpsi[n] - m * psi[n] * dpsi_m[n])
                         / (psi_m[n] * dxi - m * xi * dpsi_m[n]))
            return a, b

        m = mpc("1.5", "0.1")
        a, b = coated_coefficients(mpf(2), m, mpf(4), m, 25)
        ha, hb = homogeneous(4, m, 25)
        expect("core and shell of one index give the homogeneous sphere's coefficients",
               all(abs(a[n] - ha[n]) + abs(b[n] - hb[n]) < mpf(10) ** -35 for n in range(1, 26)))
        a, b = coated_coefficients(mpf(2), m, mpf(4), mpc(1, 0), 25)
        ha, hb = homogeneous(2, m, 25)
        expect("a shell of index 1 gives the core's coefficients",
               all(abs(a[n] - ha[n]) + abs(b[n] - hb[n]) < mpf(10) ** -35 for n in range(1, 26)))

        # Bohren and Huffman, appendix A (BHMIE): radius 0.525, wavelength
        # 0.6328, m = 1.55: Qsca = Qext = 3.10543, Qback = 2.92534.
        size = 2 * mpmath.pi * mpf("0.525") / mpf("0.6328")
        a, b = homogeneous(size, mpc("1.55", 0), 30)
        kext, ksca = efficiencies(a, b, size)
        back = intensities(a, b, [180.0], 250)[0][0]
        expect("homogeneous sphere, x = 5.213, m = 1.55: Qext = Qsca = 3.10543",
               mpmath.nstr(kext, 6) == "3.10543" and mpmath.nstr(ksca, 6) == "3.10543")
        expect("homogeneous sphere, x = 5.213, m = 1.55: Qback = 4 I1(180) / x^2 = 2.92534",
               mpmath.nstr(4 * back / size ** 2, 6) == "2.92534")

        # Forward scattering: S1(0) = S2(0) and the optical theorem
        # Qext = 4 Re S(0) / x^2, here through |S(0)|^2 >= (x^2 Qext / 4)^2.
        p = dict(alpha1=5.0, re1=1.5, im1=0.01, alpha2=3.0, re2=2.0, im2=0.5, count=2, start=0.0, end=180.0)
        values = true_values(p, 50)
        i_forward = values["table"][0][1]
        expect("S1(0) and S2(0) agree", agree(values["table"][0][1], values["table"][0][2]))
        expect("|S(0)|^2 is at least (x^2 Kext / 4)^2", i_forward >= (25 * values["Kext"] / 4) ** 2)
        expect("the same particle with both imaginary parts negative and the layers swapped gives the same values",
               all(agree(u, v) for u, v in zip(
                   (values["Kext"], values["Ksca"]),
                   (lambda w: (w["Kext"], w["Ksca"]))(true_values(
                       dict(p, alpha1=3.0, re1=2.0, im1=-0.5, alpha2=5.0, re2=1.5, im2=-0.01), 50)))))
    print(f"self-test: {len(failures)} failed", file=out)
    return not failures


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folders", nargs="*", help="example folders to check")
    parser.add_argument("--margin", type=float, default=1e-10,
                        help="relative distance to a rounding boundary within which either "
                             "neighbour is accepted (default 1e-10)")
    parser.add_argument("--self-test", action="store_true",
                        help="check the formulation against independent values first")
    args = parser.parse_args(argv)
    if not args.folders and not args.self_test:
        parser.error("name at least one example folder, or --self-test")
    ok = True
    if args.self_test:
        ok = self_test(sys.stdout) and ok
    for folder in args.folders:
        try:
            ok = verify(folder, args.margin, sys.stdout) and ok
        except (OSError, ValueError, ExampleError) as error:
            print(f"verify_example: {folder}: {error}", file=sys.stderr)
            return 2
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
