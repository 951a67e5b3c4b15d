"""Particles per second through coatedmie.efficiencies: a Python loop of scalar
calls against one array call, in the calling thread and on two threads.

10^5 particles: outer size parameters y log-uniform from 0.1 to 100, core at
x = 0.7 y; weakly absorbing shell (1.33 + 0.001i) on a soot-like core
(1.75 + 0.44i). Each run times the three ways one after the other, so that
the ratios compare neighbours on a shared, noisy machine; the script prints
the median of the runs. Run by hand after a release build:

    /usr/bin/python3 bench/python_particles.py [runs] [module folder]

The module folder defaults to build/release/python.
"""

import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 5
sys.path.insert(0, sys.argv[2] if len(sys.argv) > 2 else os.path.join(HERE, "..", "build", "release", "python"))

import numpy as np  # noqa: E402

import coatedmie  # noqa: E402

PARTICLES = 10**5
SHELL, CORE, CORE_FRACTION = 1.33 + 0.001j, 1.75 + 0.44j, 0.7


def scalar_loop(outer, core):
    return [coatedmie.efficiencies(y, SHELL, x, CORE) for y, x in zip(outer.tolist(), core.tolist())]


def array_call(threads):
    return lambda outer, core: coatedmie.efficiencies(outer, SHELL, core, CORE, threads=threads)


def main():
    outer = np.exp(np.random.default_rng(1).uniform(np.log(0.1), np.log(100.0), PARTICLES))
    core = CORE_FRACTION * outer
    ways = {"a: loop of scalar calls": scalar_loop, "b: array call, threads=1": array_call(1),
            "c: array call, threads=2": array_call(2)}
    seconds = {name: [] for name in ways}
    for _ in range(RUNS):
        results = []
        for name, way in ways.items():
            start = time.perf_counter()
            results.append(way(outer, core))
            seconds[name].append(time.perf_counter() - start)
    loop, one, two = results
    assert [r.Kext for r in loop] == one.Kext.tolist() == two.Kext.tolist(), "the three ways disagree"

    print(f"{PARTICLES} particles, y log-uniform 0.1 to 100, {int(one.N.sum())} series terms in all; "
          f"{len(os.sched_getaffinity(0))} usable cores (nproc {os.cpu_count()}); medians of {RUNS} runs")
    rate = {}
    for name, times in seconds.items():
        rate[name] = PARTICLES / statistics.median(times)
        print(f"{name:26s} {rate[name]:8.0f} particles/s {1e6 / rate[name]:6.2f} us/particle   runs (s): "
              + " ".join(f"{t:.3f}" for t in times))
    a, b, c = rate.values()
    print(f"b/a = {b / a:.2f}   c/b = {c / b:.2f}   a loop's own cost: {1e6 / a - 1e6 / b:.2f} us per call")


if __name__ == "__main__":
    main()
