"""Every vector path the processor runs gives the same bits, from Python."""
import subprocess
import sys

import numpy as np
import pytest

from coatedmie import _engine

PATHS = ["portable", "avx2", "avx512"]


def supported():
    current = _engine.vector_path()
    paths = []
    for name in PATHS:
        try:
            _engine.set_vector_path(name)
            paths.append(name)
        except ValueError:
            pass
    _engine.set_vector_path(current)
    return paths


def results(particles):
    a1, i1, a2, i2 = particles
    angles = np.linspace(0.0, 180.0, 37)
    r = _engine.efficiencies(a1, i1, a2, i2)
    return [np.asarray(v) for v in (*r, *_engine.intensities(a1, i1, a2, i2, angles),
                                    *_engine.mueller(a1, i1, a2, i2, angles),
                                    _engine.legendre_moments(a1[:20], i1[:20], a2[:20], i2[:20]))]


def test_every_path_gives_the_same_bits():
    rng = np.random.default_rng(7)
    n = 300
    y = np.exp(rng.uniform(np.log(1e-3), np.log(300.0), n))
    shell = rng.uniform(1.0, 2.5, n) + 1j * np.where(rng.random(n) < 0.3, 0.0, np.exp(rng.uniform(-20, 0, n)))
    core = rng.uniform(1.2, 3.0, n) + 1j * np.exp(rng.uniform(-10, 1, n))
    particles = (y, shell, y * rng.random(n), core)
    paths = supported()
    assert "portable" in paths
    current = _engine.vector_path()
    try:
        reference = None
        for name in paths:
            _engine.set_vector_path(name)
            got = results(particles)
            if reference is None:
                reference = got
                continue
            for u, v in zip(reference, got):
                assert np.array_equal(u.view(np.uint8), v.view(np.uint8)), name
    finally:
        _engine.set_vector_path(current)


def test_refusals_and_the_environment():
    with pytest.raises(ValueError, match="unknown vector path"):
        _engine.set_vector_path("sse4")
    # The variable caps the path; one the processor does not run, or an unknown
    # name, leaves the widest.
    widest = supported()[-1]
    for value, expected in (("portable", "portable"), ("no-such-path", widest)):
        out = subprocess.run([sys.executable, "-c", "from coatedmie import _engine; print(_engine.vector_path())"],
                             env={"COATEDMIE_VECTOR_PATH": value, "PYTHONPATH": ":".join(sys.path)},
                             capture_output=True, text=True, check=True).stdout.strip()
        assert out == expected
