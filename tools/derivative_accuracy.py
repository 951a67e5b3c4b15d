#!/usr/bin/python3
"""The accuracy of the engine's derivatives (coatedmie._engine._derivatives)
against central differences of the arbitrary-precision series of
coated_series_mp.py, on random particles and on the singular ones: shells
with m2 y or m2 x on a zero of psi_n, outer sizes on such zeros, and small
particles of the small-particle form.

    PYTHONPATH=build/release/python /usr/bin/python3 tools/derivative_accuracy.py [--jobs 2]

Prints, per regime, the median and worst error of the derivatives of Kext,
Ksca, Kback, Kpr and g, each relative to the largest of the six derivatives
of its quantity (Kabs and the albedo have cutoffs that make them
non-smooth). A particle's reference is taken at two working precisions,
which must agree.
"""

import argparse
import math
import multiprocessing
import random

import numpy as np
from mpmath import mp, mpc, mpf

import coated_series_mp as series
from coatedmie import _engine

QUANTITIES = ("Kext", "Ksca", "Kabs", "Kback", "Kpr", "g", "albedo")
JUDGED = ("Kext", "Ksca", "Kback", "Kpr", "g")
PSI_ZEROS = (4.493409457909064, 5.76345919689455, 6.987932000500519, 7.725251836937707, 9.095011330476355)


def efficiencies(alpha1, m1, alpha2, m2, vacuum):
    x, m1, y, m2 = (alpha2, m2, alpha1, m1) if alpha1 >= alpha2 else (alpha1, m1, alpha2, m2)
    a, b = series.series(x, m1, y, m2)
    # The engine keeps the cross-section of the particle it differentiates:
    # a shell of index 1 + 0i stays the medium, of size x.
    return series.efficiencies(a, b, x if vacuum else y)


def central_differences(alpha1, m1, alpha2, m2, extra_digits):
    x, core, y, shell = series.layers(alpha1, m1, alpha2, m2)
    with mp.workdps(series.start_digits(mpf(x), core, mpf(y), shell) + extra_digits):
        a1, a2, i1, i2 = mpf(alpha1), mpf(alpha2), mpc(m1), mpc(m2)
        h = mpf(10) ** -18
        moves = [lambda t: (a1, i1 + t, a2, i2), lambda t: (a1, i1 + 1j * t, a2, i2),
                 lambda t: (a1 + t, i1, a2, i2), lambda t: (a1, i1, a2, i2 + t),
                 lambda t: (a1, i1, a2, i2 + 1j * t), lambda t: (a1, i1, a2 + t, i2)]
        table = np.zeros((len(QUANTITIES), len(moves)))
        for j, move in enumerate(moves):
            up, down = efficiencies(*move(h), shell == 1), efficiencies(*move(-h), shell == 1)
            for i, q in enumerate(QUANTITIES):
                table[i, j] = float((up[q] - down[q]) / (2 * h))
        return table


def errors(case):
    regime, layers = case
    want = central_differences(*layers, 40)
    check = central_differences(*layers, 80)
    if not np.allclose(want, check, rtol=1e-16, atol=1e-16 * np.max(np.abs(check))):
        return regime, layers, None
    _, got = _engine._derivatives(*layers)
    got = np.asarray(got)
    result = {}
    for i, q in enumerate(QUANTITIES):
        if q in JUDGED:
            scale = np.max(np.abs(want[i])) or 1.0
            result[q] = float(np.nanmax(np.abs(got[i] - want[i])) / scale)
    return regime, layers, result


def particles(count):
    rng = random.Random(7)

    def index():
        re = 1.0 if rng.random() < 0.05 else math.exp(rng.uniform(math.log(0.1), math.log(3)))
        im = 0.0 if rng.random() < 0.3 else math.exp(rng.uniform(math.log(1e-6), math.log(3)))
        return complex(re, im)

    cases = []
    for _ in range(count):
        y = math.exp(rng.uniform(math.log(0.01), math.log(150)))
        cases.append(("random", (y, index(), y * rng.random(), index())))
    for z in PSI_ZEROS:
        for offset in (0, 1e-12, 1e-9):
            cases.append(("m2 y on a zero of psi_n", (z * (1 + offset) / 1.5, 1.5 + 0j, z / 3, 1.75 + 0.44j)))
            cases.append(("m2 x on a zero of psi_n", (z * 1.3 / 1.5, 1.5 + 0j, z * (1 + offset) / 1.5, 1.75 + 0.44j)))
            cases.append(("y on a zero of psi_n", (z * (1 + offset), 1.33 + 1e-9j, z * 0.5, 1.5 + 0j)))
    for y in (0.012, 0.03, 0.06, 0.09):
        cases.append(("small-particle form", (y, 1.5 + 0.001j, y * 0.5, 3 + 4j)))
        cases.append(("small-particle form", (y, 1.33 + 0j, y * 0.8, 1.5 + 0.1j)))
    return cases


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--random", type=int, default=200, help="random particles (default 200)")
    args = parser.parse_args()
    with multiprocessing.Pool(args.jobs) as pool:
        results = pool.map(errors, particles(args.random), chunksize=1)
    by_regime = {}
    for regime, layers, result in results:
        if result is None:
            print(f"{regime}: no agreement between precisions at {layers}")
            continue
        by_regime.setdefault(regime, []).append((max(result.values()), layers, result))
    for regime, rows in by_regime.items():
        rows.sort(key=lambda row: row[0])
        worst, layers, result = rows[-1]
        which = max(result, key=result.get)
        print(f"{regime}: {len(rows)} particles, median {np.median([r[0] for r in rows]):.1e}, "
              f"worst {worst:.1e} ({which}) at {layers}")


if __name__ == "__main__":
    main()
