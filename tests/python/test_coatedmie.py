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


@pytest.mark.parametrize("layers, message", [
    ((0, 1.5, 3, 2.0), "alpha1 must be greater than 0, found 0.0"),
    ((5, 1.5, -3, 2.0), "alpha2 must be greater than 0, found -3.0"),
    ((math.nan, 1.5, 3, 2.0), "alpha1 must be finite, found nan"),
    ((5, complex(math.nan, 0), 3, 2.0), "the real part of index1 must be finite, found nan"),
    ((5, 1.5, 3, complex(2, -math.inf)), "the imaginary part of index2 must be finite, found -inf"),
    ((1e-31, 1.5, 2e-35, 2.0), "alpha1 must be at least 1e-30, found 1e-31; the intensities of a particle "
                               "that small are beyond double precision"),
    ((5, 1.5, 1e-40, 2.0), "alpha2 must be at least 1e-30, found 1e-40; a core that small changes no digit of "
                           "the results: for the sphere without it give alpha2 and index2 the values of alpha1 "
                           "and index1"),
    ((5, 3e-5 - 4e-5j, 3, 2.0), "|index1| must be at least 1e-4, found (3e-05-4e-05j) of modulus 5e-05; give the "
                                "refractive index of the layer relative to the surrounding medium"),
    ((99622, 1.5, 3, 2.0), "alpha1 is 99622.0, beyond the largest size parameter accepted, 99621.09443326859: the "
                           "series would need 99999 terms, more than the 99998 its tables hold"),
    ((3, 1.5, 1e6, 1.0), "alpha2 is 1000000.0, beyond the largest size parameter accepted, 99621.09443326859: the "
                         "series would need 1000824 terms, more than the 99998 its tables hold"),
    ((9e4, 120, 3, 2.0), "|index1| * alpha1 is 1.08e+07, above the limit of 1e7 that keeps a particle under about "
                         "a second"),
])
def test_refusals_name_the_value_and_why(layers, message):
    grid = [np.array([good, good, value, value]) for good, value in zip((5.0, 1.5, 3.0, 2.0), layers)]
    calls = {"": lambda: coatedmie.efficiencies(*layers),
             "particle at flat index 2 of shape (4,): ": lambda: coatedmie.intensities(*grid, ANGLES)}
    for where, call in calls.items():
        with pytest.raises(ValueError) as raised:
            call()
        assert str(raised.value) == where + message


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


@pytest.mark.parametrize("arguments, options, error", [
    ((5, 1.5, 3, 2.0), {"threads": 0}, ValueError),
    (([5, 6], 1.5, 3, 2.0), {"threads": 1.5}, TypeError),
    ((5, 1.5, 3, 2.0), {"threads": True}, TypeError),
    (([5, 6], 1.5, 3, 2.0), {"invalid": "ignore"}, ValueError),
    (([5, 6j], 1.5, 3, 2.0), {}, TypeError),
    (([5, None], 1.5, 3, 2.0), {}, TypeError),  # not NaN
    ((5, 1.5, 3, 2.0, None), {}, TypeError),
    (([5, 6], 1.5, [3, 2, 1], 2.0), {}, ValueError),
])
def test_bad_arguments_raise(arguments, options, error):
    with pytest.raises(error):
        (coatedmie.intensities if len(arguments) == 5 else coatedmie.efficiencies)(*arguments, **options)


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
