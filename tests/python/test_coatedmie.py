"""The package against the program's own doubles, array calls against scalar calls and across threads, refusals."""

import doctest
import math
import os
import pathlib
import subprocess
import sys
import threading

import numpy as np
import pytest

import coatedmie

HERE = pathlib.Path(__file__).resolve().parent
ENGINE_VALUES, EXAMPLES = os.environ.get("COATEDMIE_ENGINE_VALUES"), os.environ.get("COATEDMIE_EXAMPLES")


def bits(values):
    """Bit patterns of real or complex values, so that -0.0 differs from 0.0 and NaN equals itself."""
    values = np.asarray(values)
    return np.ascontiguousarray(values, dtype=np.result_type(values, np.float64)).view(np.uint64)


# The bundled examples and more: grids with steps that are not whole degrees, running downwards, or empty.
PARAMETER_FILES = [path for folder in (EXAMPLES, HERE / "parameters") if folder
                   for path in sorted(pathlib.Path(folder).glob("*/Parameter_in.txt"))]


@pytest.mark.skipif(not ENGINE_VALUES, reason="run through CTest")
@pytest.mark.parametrize("path", PARAMETER_FILES, ids=lambda path: path.parent.name)
def test_every_value_is_the_programs_double(path):
    head, *rows = subprocess.run([ENGINE_VALUES, path], capture_output=True, text=True, check=True).stdout.splitlines()
    a1, re1, im1, a2, re2, im2, count, start, end, *expected = map(float.fromhex, head.split())
    layers = (a1, complex(re1, im1), a2, complex(re2, im2))
    assert np.array_equal(bits(coatedmie.efficiencies(*layers)), bits(expected))
    degrees = coatedmie.angle_grid(int(count), start, end)
    found = np.stack([degrees, *coatedmie.intensities(*layers, degrees)], axis=-1)
    assert np.array_equal(bits(found), bits([[float.fromhex(f) for f in row.split()] for row in rows]).reshape(-1, 3))


# Particles of shape (5, 3, 2) from four differently shaped arguments: outer
# sizes from the small-particle path (below 0.01) to 20000 terms, the core as
# layer 2 or layer 1 or a tie, indices in both sign conventions, a list and
# float32 among the arguments.
GRID = (np.array([3e-3, 0.5, 7.0, 80.0, 2e4])[:, None, None],
        [1.33 + 1e-8j, 1.05 - 0.002j],
        np.array([[2e-3], [7.0], [79.9]], dtype=np.float32),
        np.array([[2.5 + 1.8j], [1.7 - 0.1j], [1.6 + 4.0j]]))
ANGLES = np.linspace(0, 180, 12).reshape(3, 4)


def one_by_one(arguments):
    """Each particle of the broadcast arguments as Python numbers, in C order."""
    columns = np.broadcast_arrays(*(np.asarray(a, dtype=t) for a, t in zip(arguments, (float, complex) * 2)))
    return [tuple(c.item() for c in particle) for particle in zip(*(c.ravel() for c in columns))]


def flat(efficiencies):
    return efficiencies.N.ravel().tolist(), bits(np.stack([np.ravel(f) for f in efficiencies[1:]], axis=-1))


def test_arrays_give_each_particle_the_bits_of_its_scalar_call():
    expected = [coatedmie.efficiencies(*p) for p in one_by_one(GRID)]
    result = coatedmie.efficiencies(*GRID)
    assert result.N.shape == result.Kext.shape == (5, 3, 2) and result.N.dtype.kind == "i"
    assert flat(result)[0] == [r.N for r in expected]
    assert np.array_equal(flat(result)[1], bits([r[1:] for r in expected]))
    a1, n1, a2, n2 = GRID
    swapped = coatedmie.efficiencies(a2, n2, a1, n1)
    conjugated = coatedmie.efficiencies(a1, np.conjugate(n1), a2, np.conjugate(n2))
    untied = np.broadcast_to(a1 != a2, (5, 3, 2)).ravel()  # on a tie the first layer is the shell
    for same, where in ((swapped, untied), (conjugated, slice(None))):  # order and sign convention change no bit
        assert np.array_equal(flat(same)[1][where], flat(result)[1][where])

    I1, I2 = coatedmie.intensities(*GRID, ANGLES)
    assert I1.shape == I2.shape == (5, 3, 2, 3, 4)
    alone = [coatedmie.intensities(*p, ANGLES) for p in one_by_one(GRID)]
    assert np.array_equal(bits(np.stack([I1, I2], axis=-3)), bits(np.reshape(alone, (5, 3, 2, 2, 3, 4))))


@pytest.mark.parametrize("layers", [(5, 1.5 + 0.25j, 3, 2),
                                    (np.float32(5), np.complex64(1.5 + 0.25j), np.array(3), 2.0),
                                    (np.array(5.0), 1.5 + 0.25j, np.int64(3), np.complex128(2))])
def test_scalars_in_give_python_numbers_out(layers):
    result, expected = coatedmie.efficiencies(*layers), coatedmie.efficiencies(5.0, 1.5 + 0.25j, 3.0, 2.0)
    assert type(result.N) is int and all(type(value) is float for value in result[1:])
    assert result.N == expected.N and np.array_equal(bits(result[1:]), bits(expected[1:]))
    I1, _ = coatedmie.intensities(*layers, 90)
    assert I1.shape == () and coatedmie.intensities(*layers, [])[0].shape == (0,)


def test_threads_change_no_bit_and_python_threads_do_not_meet():
    sizes = np.exp(np.random.default_rng(7).uniform(np.log(1e-3), np.log(2e3), 3000))
    arguments = (sizes, 1.33 + 1e-3j, sizes * np.linspace(0.1, 1.2, sizes.size), 1.75 - 0.44j)
    expected = flat(coatedmie.efficiencies(*arguments, threads=1))
    particles = one_by_one(arguments)[:300]
    scalar = [coatedmie.efficiencies(*p) for p in particles]
    failures = []

    def work(threads):
        for _ in range(3):
            result = flat(coatedmie.efficiencies(*arguments, threads=threads))
            if result[0] != expected[0] or not np.array_equal(result[1], expected[1]):
                failures.append(threads)
            if [coatedmie.efficiencies(*p) for p in particles] != scalar:
                failures.append("scalar")

    pool = [threading.Thread(target=work, args=(threads,)) for threads in (1, 2, 3, None)]
    for t in pool:
        t.start()
    for t in pool:
        t.join()
    assert not failures
    assert np.array_equal(expected[1][:300], bits([r[1:] for r in scalar]))


GOOD = {"efficiencies": dict(alpha1=5.0, index1=1.5, alpha2=3.0, index2=2.0),
        "core_shell": dict(m_core=1.5, m_shell=1.4, wavelength=0.5, d_core=1.0, d_shell=2.0, n_medium=1.0),
        "lognormal": dict(m_core=1.75 + 0.44j, m_shell=1.43, wavelength=0.55, median_diameter=0.2, gsd=1.6,
                          core_fraction=0.4)}
REFUSALS = np.loadtxt(HERE / "refusals.txt", dtype=str, delimiter="\t")


@pytest.mark.parametrize("function, changes, message", REFUSALS)
def test_refusals_name_the_value_and_why_or_give_nan(function, changes, message):
    good, call = GOOD[function], getattr(coatedmie, function)
    bad = {name: (complex if name.startswith(("index", "m_")) else float)(value)
           for name, value in (change.split("=") for change in changes.split())}
    pairs = {name: np.array([value, bad.get(name, value)]) for name, value in good.items()}
    in_array = ("population" if function == "lognormal" else "particle") + " at flat index 1 of shape (2,): "
    for arguments, where, refused in (({**good, **bad}, "", True), (pairs, in_array, [False, True])):
        with pytest.raises(ValueError) as raised:
            call(**arguments)
        assert str(raised.value) == where + message
        result = call(**arguments, invalid="nan")
        assert all(np.array_equal(np.isnan(v) if np.asarray(v).dtype.kind == "f" else np.equal(v, 0), refused)
                   for v in result)


def test_invalid_particles_raise_the_first_or_give_nan_and_the_rest_is_computed():
    many = np.full(20000, 0.5)
    many[[19000, 7001, 15000]] = -1.0
    with pytest.raises(ValueError, match="^particle at flat index 7001 of shape "):
        coatedmie.efficiencies(many, 1.5, 0.2, 2.0, threads=3)
    sizes = np.array([[5.0, -1.0], [np.inf, 3.0]])
    valid = np.isfinite(sizes) & (sizes > 0)
    for threads in (1, 2):
        result = coatedmie.efficiencies(sizes, 1.5, 0.5, 2.0, threads=threads, invalid="nan")
        assert np.array_equal(result.N == 0, ~valid) and all(np.array_equal(np.isnan(f), ~valid) for f in result[1:])
        I1, I2 = coatedmie.intensities(sizes, 1.5, 0.5, 2.0, ANGLES, threads=threads, invalid="nan")
        assert np.array_equal(np.isnan(I1).all(axis=(2, 3)) & np.isnan(I2).all(axis=(2, 3)), ~valid)
        assert np.array_equal(I1[1, 1], coatedmie.intensities(3.0, 1.5, 0.5, 2.0, ANGLES)[0])
    nan = coatedmie.efficiencies(-1.0, 1.5, 0.5, 2.0, invalid="nan")
    assert nan.N == 0 and type(nan.N) is int and all(math.isnan(value) for value in nan[1:])


@pytest.mark.parametrize("function, arguments, options, error", [
    ("efficiencies", (5, 1.5, 3, 2.0), {"threads": 0}, ValueError),
    ("efficiencies", ([5, 6], 1.5, 3, 2.0), {"threads": 1.5}, TypeError),
    ("efficiencies", (5, 1.5, 3, 2.0), {"threads": True}, TypeError),
    ("efficiencies", ([5, 6], 1.5, 3, 2.0), {"invalid": "ignore"}, ValueError),
    ("efficiencies", ([5, 6j], 1.5, 3, 2.0), {}, TypeError),
    ("efficiencies", (5, 1.5, [3, 6j], 2.0), {}, TypeError),
    ("efficiencies", ([5, None], 1.5, 3, 2.0), {}, TypeError),  # not NaN
    ("efficiencies", ([5, 6], 1.5, [3, 2, 1], 2.0), {}, ValueError),
    ("intensities", (5, 1.5, 3, 2.0, None), {}, TypeError),
    ("legendre_moments", (5, 1.5, 3, 2.0, -1), {}, ValueError),
    ("lognormal", (1.75 + 0.44j, 1.43, 0.55, 0.2, 1.6, 0.4), {"max_particles": 99}, ValueError),
    ("lognormal", (1.75 + 0.44j, 1.43, 0.55, 0.2, 1.6, 0.4), {"rtol": 0.2}, ValueError),
])
def test_bad_arguments_raise(function, arguments, options, error):
    with pytest.raises(error):
        getattr(coatedmie, function)(*arguments, **options)


def test_the_docstring_examples_hold():
    assert doctest.testmod(coatedmie).failed == 0
    assert doctest.testmod(coatedmie.units).failed == 0


def test_the_readme_example_prints_what_the_readme_says():
    with open(HERE.parents[1] / "README.md", encoding="utf-8") as f:
        section = f.read().split("\n## Python\n", 1)[1]
    code, after = section.split("```python\n", 1)[1].split("```", 1)
    shown = after.split("```\n", 1)[1].split("```", 1)[0]
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120, check=True)
    assert run.stdout == shown
