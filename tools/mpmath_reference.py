"""Reference values for the derived-quantity and Mueller tests.

Run by hand with Debian's interpreter (python3-mpmath):
    /usr/bin/python3 tools/mpmath_reference.py > tests/engine/derived_reference.txt
    /usr/bin/python3 tools/mpmath_reference.py --mueller > tests/python/mueller_reference.txt
It writes the golden data of the derived-quantity and Mueller tests: one
particle per line (alpha1, index1 re, im, alpha2, index2 re, im), then its
values at 17 digits. The values come from tools/coated_series_mp.py, the
textbook series of Bohren & Huffman (1983) in arbitrary precision, which
shares nothing with the engine: Kext, Ksca, Kback, Kpr and g referred to
pi y^2, the Mueller elements S11, S12, S33, S34 of their eq. 4.77. The indices
are the decimal numbers written below, exactly.
"""

import sys

import mpmath as mp

from coated_series_mp import reference


def case(alpha1, m1, alpha2, m2, degrees=()):
    """The reference values of a particle whose indices are decimal strings."""
    with mp.workdps(80):
        m1, m2 = mp.mpmathify(m1), mp.mpmathify(m2)
    return reference(mp.mpf(alpha1), m1, mp.mpf(alpha2), m2, degrees)


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


MUELLER_CASES = [("Bohren & Huffman's BHMIE sample (radius 0.525 at wavelength 0.6328, m = 1.55);\n"
                  "4 S11(180) / x^2 is the Qback of 2.92534 the book prints",
                  (BHMIE_X, "1.55", BHMIE_X, "1.55")),
                 ("reference run", (5, "1.5+0.01j", 3, "2.0+0.5j"))]


def layers_text(alpha1, m1, alpha2, m2):
    m1, m2 = complex(m1), complex(m2)
    return f"{alpha1!r} {m1.real!r} {m1.imag!r} {alpha2!r} {m2.real!r} {m2.imag!r}"


def print_mueller():
    print("# S11, S12, S33, S34 from tools/mpmath_reference.py --mueller: the textbook series at 40 digits.")
    print("# alpha1 index1Re index1Im alpha2 index2Re index2Im degrees S11 S12 S33 S34")
    degrees = range(0, 181, 30)
    for title, (alpha1, m1, alpha2, m2) in MUELLER_CASES:
        values = case(alpha1, m1, alpha2, m2, degrees)
        print("\n".join("# " + line for line in title.split("\n")))
        for row, angle in enumerate(degrees):
            print(layers_text(alpha1, m1, alpha2, m2), angle,
                  " ".join(mp.nstr(values[name][row], 17) for name in ("S11", "S12", "S33", "S34")))


def main():
    if "--mueller" in sys.argv:
        print_mueller()
        return
    print("# alpha1 index1Re index1Im alpha2 index2Re index2Im Kext Ksca Kback Kpr g")
    for title, (alpha1, m1, alpha2, m2) in CASES:
        values = case(alpha1, m1, alpha2, m2)
        print("#", title)
        print(layers_text(alpha1, m1, alpha2, m2),
              " ".join(mp.nstr(values[name], 17) for name in ("Kext", "Ksca", "Kback", "Kpr", "g")))


if __name__ == "__main__":
    main()
