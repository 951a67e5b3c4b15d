"""Efficiencies and asymmetry parameter of 1000 coated particles from Python.

Outer size parameters log-uniform from 0.1 to 1000, core at 0.7 of the outer
size; absorbing core (1.6 + 0.3i) in a weakly absorbing shell (1.33 + 0.001i).
Each run calls coatedmie.efficiencies once per particle; the script prints
every run's wall time and the median. Run by hand after a release build:

    /usr/bin/python3 bench/python_size_sweep.py [runs] [module folder]

The module folder defaults to build/release/python.
"""

import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 7
sys.path.insert(0, sys.argv[2] if len(sys.argv) > 2 else os.path.join(HERE, "..", "build", "release", "python"))

import numpy as np  # noqa: E402

import coatedmie  # noqa: E402

PARTICLES = 1000
SHELL, CORE, CORE_FRACTION = 1.33 + 0.001j, 1.6 + 0.3j, 0.7


def sweep(sizes):
    total_terms = 0
    Kext, g = np.empty(len(sizes)), np.empty(len(sizes))
    for k, y in enumerate(sizes.tolist()):
        r = coatedmie.efficiencies(y, SHELL, CORE_FRACTION * y, CORE)
        Kext[k], g[k] = r.Kext, r.g
        total_terms += r.N
    return total_terms, Kext, g


def main():
    sizes = np.exp(np.random.default_rng(1).uniform(np.log(0.1), np.log(1000.0), PARTICLES))
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        total_terms, Kext, g = sweep(sizes)
        times.append(time.perf_counter() - start)
    print(f"{PARTICLES} particles, size parameters 0.1 to 1000 log-uniform, {total_terms} series terms in all")
    print("runs (s):", " ".join(f"{t:.4f}" for t in times))
    print(f"median {statistics.median(times):.4f} s, {statistics.median(times) / PARTICLES * 1e6:.1f} us per particle")
    print(f"mean Kext {Kext.mean():.6f}, mean g {g.mean():.6f}")


if __name__ == "__main__":
    main()
