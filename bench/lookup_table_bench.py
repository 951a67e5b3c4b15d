"""Particles per second for a lookup table of 10^6 entries (efficiencies only):
coatedmie.lookup_table on Dask's threads and on local dask.distributed
clusters of two workers, against one direct core_shell array call on two
threads over the same grid.

The grid: soot cores (1.75 + 0.44i) coated with organics (1.55 + 0.001i) in
air, 100 wavelengths from 0.35 to 1.05, 100 core diameters log-spaced from
0.02 to 0.5 and 100 coating thicknesses from 0 to 0.25 (d_shell = d_core + 2
thickness, a DataArray over d_core and thickness), default chunks, all twelve
quantities of core_shell computed into this process. The clusters have two
single-threaded workers: in this process (the distributed scheduler's own
cost), and in two processes (adding the cost of moving the 96 MB of values
between processes). Each run times the ways one after the other, so that the
ratios compare neighbours on a shared, noisy machine; the table's times
include building it (the graph and the count of invalid points), not starting
the clusters. The script checks that the tables equal the direct call bit for
bit and prints the medians, and the median of each run's ratio of a table's
time to the direct call's. Run by hand after a release build:

    /usr/bin/python3 bench/lookup_table_bench.py [runs] [module folder]

The module folder defaults to build/release/python.
"""

import os
import statistics
import sys
import time
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 5
sys.path.insert(0, sys.argv[2] if len(sys.argv) > 2 else os.path.join(HERE, "..", "build", "release", "python"))

import numpy as np  # noqa: E402
import xarray as xr  # noqa: E402
from distributed import Client, LocalCluster  # noqa: E402

import coatedmie  # noqa: E402

SOOT, ORGANICS = 1.75 + 0.44j, 1.55 + 0.001j
WAVELENGTH = np.linspace(0.35, 1.05, 100)
D_CORE = np.geomspace(0.02, 0.5, 100)
THICKNESS = np.linspace(0.0, 0.25, 100)


def table():
    d_core = xr.DataArray(D_CORE, dims="d_core", coords={"d_core": D_CORE})
    thickness = xr.DataArray(THICKNESS, dims="thickness", coords={"thickness": THICKNESS})
    return coatedmie.lookup_table(SOOT, ORGANICS, WAVELENGTH, d_core, d_core + 2 * thickness)


def direct():
    d_shell = D_CORE[:, None] + 2 * THICKNESS
    return coatedmie.core_shell(SOOT, ORGANICS, WAVELENGTH[:, None, None], D_CORE[:, None], d_shell, threads=2)


def stacked(table):
    return np.stack([table[name].values for name in coatedmie.CoreShell._fields])


def main():
    # Dask warns of computing elsewhere than on an active client, and of the
    # second cluster's HTTP port: both intended here.
    warnings.filterwarnings("ignore", "Running on a single-machine scheduler", UserWarning)
    warnings.filterwarnings("ignore", "Port 8787 is already in use", UserWarning)
    particles = WAVELENGTH.size * D_CORE.size * THICKNESS.size
    workers = {"n_workers": 2, "threads_per_worker": 1, "dashboard_address": None}
    with LocalCluster(processes=False, **workers) as threads_cluster, Client(threads_cluster) as in_process, \
            LocalCluster(processes=True, **workers) as processes_cluster, Client(processes_cluster) as two_processes:
        ways = {"a: one core_shell call, threads=2": lambda: np.stack(direct()),
                "b: table, Dask's threads": lambda: stacked(table().compute(scheduler="threads")),
                "c: table, cluster in this process": lambda: stacked(table().compute(scheduler=in_process)),
                "d: table, cluster of 2 processes": lambda: stacked(table().compute(scheduler=two_processes))}
        seconds = {name: [] for name in ways}
        for _ in range(RUNS):
            results = []
            for name, way in ways.items():
                start = time.perf_counter()
                results.append(way())
                seconds[name].append(time.perf_counter() - start)
            bits = [r.view(np.uint64) for r in results]
            assert all(np.array_equal(bits[0], b) for b in bits[1:]), "the ways disagree"
    chunks = table().Qext.chunks

    print(f"{particles} particles in {np.prod([len(c) for c in chunks])} chunks of up to "
          f"{'x'.join(str(max(c)) for c in chunks)}; {len(os.sched_getaffinity(0))} usable cores "
          f"(nproc {os.cpu_count()}); medians of {RUNS} runs")
    rate = {}
    for name, times in seconds.items():
        rate[name] = particles / statistics.median(times)
        print(f"{name:35s} {rate[name]:8.0f} particles/s   runs (s): " + " ".join(f"{t:.3f}" for t in times))
    direct_times, *table_times = seconds.values()
    print("time against the direct call, median of each run's ratio: " + ", ".join(
        f"{name[:1]} {statistics.median(t / d for t, d in zip(times, direct_times)) - 1:+.1%}"
        for name, times in zip(list(seconds)[1:], table_times)))


if __name__ == "__main__":
    main()
