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

The computation, in tools/coated_series_mp.py, shares nothing with the
program's: the classic coefficients of Aden and Kerker (1951) for the coated
sphere, as written by Bohren and Huffman (1983, section 8.1), from the
Riccati-Bessel functions themselves by upward recurrence in mpmath, the series
run until its terms fall below 1e-40, the amplitude sums in fixed-point
integers at the exact angle in degrees of each line. The whole computation
runs at two precisions and must agree to 25 digits, else it is repeated with
more.

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
import coated_series_mp as coated
from coated_series_mp import I, riccati

PARAMETER_NAME = "Parameter_in.txt"
HEADER_NAME = "Header_Coated_TA.txt"
TABLE_NAME = "Mie_Coated_TA.txt"

FIXED = re.compile(r"-?[0-9]+\.[0-9]{6}")
EXPONENT = re.compile(r"-?[0-9]\.[0-9]{6}e[+-][0-9]{3}")
ABSORPTION_CUTOFF = 1e-10
AGREEMENT = mpf(10) ** -25


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


# --- The series --------------------------------------------------------------

def normalised(p):
    """(x, m1, y, m2): core size and index, outer size and shell index, both
    imaginary parts non-negative (the sign convention does not change any
    printed result)."""
    return coated.layers(p["alpha1"], complex(p["re1"], p["im1"]), p["alpha2"], complex(p["re2"], p["im2"]))


def true_values(p, digits):
    """Everything the two files print, at about `digits` significant digits
    (less what the recurrences lose)."""
    x, m1, y, m2 = normalised(p)
    angles = angle_grid(p["count"], p["start"], p["end"])
    with mp.workdps(digits):
        a, b = coated.series(x, m1, y, m2)
        values = coated.efficiencies(a, b, coated.norm_size(x, m2, y), absorbing=(m1.imag != 0 or m2.imag != 0))
        table = coated.intensities(a, b, angles, int(digits * 3.33) + 64)
        return {
            "order": len(a) - 1,
            "Kext": values["Kext"], "Ksca": values["Ksca"], "Kabs": values["Kabs"],
            "table": [(deg, +i1, +i2, +(i1 + i2)) for deg, (i1, i2) in zip(angles, table)],
        }


def agree(u, v):
    return abs(u - v) <= AGREEMENT * abs(v) + mpf(10) ** -60


def converged_values(p):
    """Runs at two precisions until every printed quantity agrees to 25 digits."""
    x, m1, y, m2 = normalised(p)
    arguments = [mpc(m1) * x, mpc(m2) * x, mpc(m2) * y, mpf(y)]
    digits = 40 + coated.digits_lost([z for z in arguments if z != 0], coated.term_limit(y))

    def printed_agree(low, high):
        pairs = [(low[k], high[k]) for k in ("Kext", "Ksca", "Kabs")]
        for row_low, row_high in zip(low["table"], high["table"]):
            pairs += list(zip(row_low[1:], row_high[1:]))
        return all(agree(u, v) for u, v in pairs)

    try:
        return coated.at_two_precisions(lambda d: true_values(p, d), digits, printed_agree)
    except coated.NoAgreement as error:
        raise ExampleError(str(error)) from None


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
    print(f"{folder}: core x = {x:g}, m1 = {m1.real:g} + {m1.imag:g}i; shell y = {y:g}, "
          f"m2 = {m2.real:g} + {m2.imag:g}i; {values['order']} terms, {digits} digits, "
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
            with mp.workdps(50 + coated.digits_lost([z], 30)):
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
        a, b = coated.coated_coefficients(mpf(2), m, mpf(4), m, 25)
        ha, hb = homogeneous(4, m, 25)
        expect("core and shell of one index give the homogeneous sphere's coefficients",
               all(abs(a[n] - ha[n]) + abs(b[n] - hb[n]) < mpf(10) ** -35 for n in range(1, 26)))
        a, b = coated.coated_coefficients(mpf(2), m, mpf(4), mpc(1, 0), 25)
        ha, hb = homogeneous(2, m, 25)
        expect("a shell of index 1 gives the core's coefficients",
               all(abs(a[n] - ha[n]) + abs(b[n] - hb[n]) < mpf(10) ** -35 for n in range(1, 26)))

        # Bohren and Huffman, appendix A (BHMIE): radius 0.525, wavelength
        # 0.6328, m = 1.55: Qsca = Qext = 3.10543, Qback = 2.92534.
        size = 2 * mpmath.pi * mpf("0.525") / mpf("0.6328")
        a, b = homogeneous(size, mpc("1.55", 0), 30)
        values = coated.efficiencies(a, b, size, absorbing=False)
        kext, ksca = values["Kext"], values["Ksca"]
        back = coated.intensities(a, b, [180.0], 250)[0][0]
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
