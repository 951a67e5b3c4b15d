#!/usr/bin/python3
"""Which particles a change of the engine changed, against which it says it
guarded.

Draws random particles over the whole accepted range (absorbing and not,
every layer order and sign convention), computes their efficiencies, derived
quantities and intensities with two builds of the Python package, compares
every result bit for bit, and counts the particles that changed against those
whose computation the new build reports as safeguarded (coatedmie._engine.
_safeguards). The engine keeps the literal series wherever it does not lose
its digits, so the two sets must be the same.

    /usr/bin/python3 tools/safeguard_census.py OLD/python NEW/python [--count 1000000]

OLD and NEW are the folders that hold a build's package (build/release/python).
Each build runs in a process of its own. Exit status 0 when every changed
particle is a safeguarded one.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

ANGLES = [0.0, 30.0, 90.0, 150.0, 180.0]
SAFEGUARDS = {1: "start values from the tables", 2: "exact zero avoided", 4: "lossless circle",
              8: "vacuum shell: the bare core", 16: "absorption below rounding",
              32: "small-particle form, 0.01 <= y < 0.1"}

# Runs inside the build's own process: the particles in, every result out.
WORKER = """
import sys
import numpy as np
import coatedmie
from coatedmie import _engine
p = np.load(sys.argv[1])
a1, i1, a2, i2 = p["alpha1"], p["index1"], p["alpha2"], p["index2"]
r = coatedmie.efficiencies(a1, i1, a2, i2)
I1, I2 = coatedmie.intensities(a1, i1, a2, i2, np.array({angles}))
out = dict(N=r.N, I1=I1, I2=I2, **{{k: getattr(r, k) for k in ("Kext", "Ksca", "Kabs", "Kback", "Kpr", "g", "albedo")}})
if hasattr(_engine, "_safeguards"):
    out["safeguards"] = _engine._safeguards(a1, i1, a2, i2)
np.savez(sys.argv[2], **out)
"""


def log_uniform(rng, low, high, size):
    return np.exp(rng.uniform(np.log(low), np.log(high), size))


def draw(count, seed):
    rng = np.random.default_rng(seed)
    y = log_uniform(rng, 1e-4, 1e4, count)
    tiny = rng.random(count) < 0.03
    y[tiny] = log_uniform(rng, 1e-30, 1e-4, tiny.sum())
    huge = rng.random(count) < 0.01
    y[huge] = log_uniform(rng, 1e4, 99621.0, huge.sum())
    fraction = rng.random(count)
    thin = rng.random(count) < 0.1
    fraction[thin] = log_uniform(rng, 1e-6, 1.0, thin.sum())
    fraction[rng.random(count) < 0.05] = 1.0
    x = np.maximum(y * fraction, 1e-30)

    def index():
        re = log_uniform(rng, 0.1, 10.0, count)
        near = rng.random(count) < 0.1
        re[near] = 1.0 + rng.choice([-1.0, 1.0], near.sum()) * log_uniform(rng, 1e-8, 1e-1, near.sum())
        im = log_uniform(rng, 1e-12, 10.0, count)
        im[rng.random(count) < 0.3] = 0.0
        return re + 1j * im

    shell, core = index(), index()
    same = rng.random(count) < 0.1
    core[same] = shell[same]
    vacuum = rng.random(count) < 0.02
    shell[vacuum] = 1.0
    # Either sign convention, and one negative imaginary part is enough.
    flip = rng.random(count) < 0.5
    shell[flip] = np.conj(shell[flip])
    both = flip & (rng.random(count) < 0.5)
    core[both] = np.conj(core[both])
    # |index| * size parameter within the engine's limit.
    y = np.minimum(y, 1e7 / np.abs(shell) * 0.999)
    x = np.minimum(x, y)
    x = np.minimum(x, 1e7 / np.abs(core) * 0.999)
    swap = rng.random(count) < 0.5
    alpha1, index1 = np.where(swap, x, y), np.where(swap, core, shell)
    alpha2, index2 = np.where(swap, y, x), np.where(swap, shell, core)
    return dict(alpha1=alpha1, index1=index1, alpha2=alpha2, index2=index2)


def run(package_dir, particles_file, results_file):
    env = dict(os.environ, PYTHONPATH=package_dir)
    subprocess.run([sys.executable, "-c", WORKER.format(angles=ANGLES), particles_file, results_file],
                   env=env, check=True)
    return np.load(results_file)


def changed(old, new):
    """Per particle: any result whose bits differ (NaN equal to NaN)."""
    differs = np.zeros(old["N"].shape, dtype=bool)
    for key in old.files:
        if key == "safeguards":
            continue
        a, b = old[key], new[key]
        if a.dtype.kind == "f":
            same = (a.view(np.int64) == b.view(np.int64)) | (np.isnan(a) & np.isnan(b))
        else:
            same = a == b
        differs |= ~same.reshape(same.shape[:1] + (-1,)).all(axis=1)
    return differs


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("old", help="folder of the old build's package")
    parser.add_argument("new", help="folder of the new build's package")
    parser.add_argument("--count", type=int, default=1_000_000)
    parser.add_argument("--seed", type=int, default=2026)
    args = parser.parse_args(argv)
    with tempfile.TemporaryDirectory() as folder:
        particles_file = os.path.join(folder, "particles.npz")
        particles = draw(args.count, args.seed)
        np.savez(particles_file, **particles)
        started = time.time()
        old = run(args.old, particles_file, os.path.join(folder, "old.npz"))
        new = run(args.new, particles_file, os.path.join(folder, "new.npz"))
        elapsed = time.time() - started
        differs = changed(old, new)
        flags = new["safeguards"]
        guarded = flags != 0
    print(f"{args.count} particles (seed {args.seed}), both builds in {elapsed:.0f} s")
    print(f"  changed: {differs.sum()}, safeguarded: {guarded.sum()}")
    print(f"  changed and safeguarded: {(differs & guarded).sum()}")
    print(f"  changed, not safeguarded: {(differs & ~guarded).sum()}")
    print(f"  safeguarded, not changed: {(guarded & ~differs).sum()}")
    for bit, what in SAFEGUARDS.items():
        print(f"  {what}: {((flags & bit) != 0).sum()}")
    for k in np.flatnonzero(differs & ~guarded)[:10]:
        print("  unexplained:", {key: particles[key][k] for key in particles})
    return 0 if not (differs & ~guarded).any() else 1


if __name__ == "__main__":
    sys.exit(main())
