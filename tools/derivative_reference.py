"""Reference derivatives of the efficiencies, for the engine's derivative tests.

    /usr/bin/python3 tools/derivative_reference.py > tests/engine/derivative_reference.txt

One particle per line (alpha1, index1 re, im, alpha2, index2 re, im), then the
derivatives of Kext, Ksca, Kback and g with respect to index1.real,
index1.imag, alpha1, index2.real, index2.imag, alpha2, at 17 digits. They are
central differences, with a step of 1e-20, of the textbook series evaluated
by tools/mpmath_reference.py in arbitrary precision (nothing shared with the
engine's arithmetic or its formulation), at two working precisions that must
agree to 20 digits. The particles include shells on zeros of the
Riccati-Bessel functions, where the engine's series divides out poles.
"""

import math

import mpmath as mp

import coated_series_mp as series
import mpmath_reference as reference

QUANTITIES = ("Kext", "Ksca", "Kback", "g")

PSI2_ZERO = 9.095011330476355  # the second zero of psi_2
PSI1_ZERO = 4.493409457909064  # the first zero of psi_1

CASES = [
    ("reference particle", (5, "1.5+0.01j", 3, "2.0+0.5j")),
    ("lossless, layers given core first", (6, "1.5", 10, "1.33")),
    ("metallic core", (4, "1.33", 2.5, "0.2+3.5j")),
    ("lossless shell, m2 y = pi", (math.pi * 400 / 600, "1.5", math.pi * 200 / 600, "1.75+0.44j")),
    ("lossless shell, m2 x = pi", (math.pi * 500 / 600, "1.5", math.pi * 400 / 600, "1.75+0.44j")),
    ("m2 y exactly on a zero of psi_2", (PSI2_ZERO / 1.5, "1.5", PSI2_ZERO / 3, "1.75+0.44j")),
    ("y on the first zero of psi_1", (PSI1_ZERO, "1.5+0.1j", PSI1_ZERO * 0.7, "1.2")),
    ("small particle", (0.005, "1.5+0.1j", 0.003, "2.0+0.5j")),
    ("low contrast, absorbing", (0.3, "1.01+0.001j", 0.2, "1.02+0.002j")),
]


def derivatives(alpha1, m1, alpha2, m2, dps):
    """d(quantity)/d(parameter) by central differences at precision dps."""
    with mp.workdps(dps):
        a1, a2, i1, i2 = mp.mpf(alpha1), mp.mpf(alpha2), mp.mpmathify(m1), mp.mpmathify(m2)
        h = mp.mpf(10) ** -20
        moves = [lambda t: (a1, i1 + t, a2, i2), lambda t: (a1, i1 + 1j * t, a2, i2),
                 lambda t: (a1 + t, i1, a2, i2), lambda t: (a1, i1, a2, i2 + t),
                 lambda t: (a1, i1, a2, i2 + 1j * t), lambda t: (a1, i1, a2 + t, i2)]
        columns = []
        for move in moves:
            up, down = values(*move(h), dps), values(*move(-h), dps)
            columns.append([(up[q] - down[q]) / (2 * h) for q in QUANTITIES])
        return [[column[q] for column in columns] for q in range(len(QUANTITIES))]


def values(alpha1, m1, alpha2, m2, dps):
    """The series at dps digits, the larger size the shell; an imaginary part
    moved below 0 stays there (the difference quotient spans k = 0)."""
    x, m1, y, m2 = (alpha2, m2, alpha1, m1) if alpha1 >= alpha2 else (alpha1, m1, alpha2, m2)
    return series.values_at(x, m1, y, m2, (), 0, dps)


def main():
    print(__doc__.split("\n\n")[0].join(["# ", ""]))
    print("# alpha1 index1Re index1Im alpha2 index2Re index2Im, then d/d(index1.real, index1.imag, alpha1,"
          " index2.real, index2.imag, alpha2) of Kext, Ksca, Kback, g")
    for title, (alpha1, m1, alpha2, m2) in CASES:
        low, high = derivatives(alpha1, m1, alpha2, m2, 50), derivatives(alpha1, m1, alpha2, m2, 80)
        with mp.workdps(80):
            for row_low, row_high in zip(low, high):
                for u, v in zip(row_low, row_high):
                    assert abs(u - v) <= mp.mpf(10) ** -20 * max(abs(v), 1), (title, u, v)
        print("#", title)
        values = " ".join(mp.nstr(v, 17) for row in high for v in row)
        print(reference.layers_text(alpha1, m1, alpha2, m2), values)


if __name__ == "__main__":
    main()
