"""The engine's functions against the program's own doubles, array calls against scalar calls and across threads,
refusals; amplitudes, Mueller matrix, phase function and Legendre moments against the intensities, one another and
independent values."""

import ast
import concurrent.futures
import doctest
import importlib
import inspect
import os
import pathlib
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
from numpy.polynomial import legendre

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
    columns = np.broadcast_arrays(*(np.asarray(a, dtype=t) for a, t in zip(arguments, (float, complex) * 2)))
    return [tuple(c.item() for c in particle) for particle in zip(*(c.ravel() for c in columns))]


def test_arrays_give_each_particle_the_bits_of_its_scalar_call():
    result = coatedmie.efficiencies(*GRID)
    assert result.N.shape == result.Kext.shape == (5, 3, 2) and result.N.dtype.kind == "i"
    alone = [coatedmie.efficiencies(*p) for p in one_by_one(GRID)]
    assert np.array_equal(bits(np.reshape(result, (8, -1)).T), bits(alone))
    I1, I2 = coatedmie.intensities(*GRID, ANGLES)
    assert I1.shape == I2.shape == (5, 3, 2, 3, 4)
    alone = [coatedmie.intensities(*p, ANGLES) for p in one_by_one(GRID)]
    assert np.array_equal(bits(np.stack([I1, I2], axis=-3)), bits(alone).reshape(5, 3, 2, 2, 3, 4))


@pytest.mark.parametrize("layers", [(5, 1.5 + 0.25j, 3, 2),
                                    (np.float32(5), np.complex64(1.5 + 0.25j), np.array(3), 2.0),
                                    (np.array(5.0), 1.5 + 0.25j, np.int64(3), np.complex128(2))])
def test_scalars_in_give_python_numbers_out(layers):
    result, expected = coatedmie.efficiencies(*layers), coatedmie.efficiencies(5.0, 1.5 + 0.25j, 3.0, 2.0)
    assert type(result.N) is int and all(type(value) is float for value in result[1:])
    assert result.N == expected.N and np.array_equal(bits(result[1:]), bits(expected[1:]))
    assert coatedmie.intensities(*layers, 90)[0].shape == () and coatedmie.intensities(*layers, [])[0].shape == (0,)


def test_threads_change_no_bit_and_python_threads_do_not_meet():
    sizes = np.exp(np.random.default_rng(7).uniform(np.log(1e-3), np.log(2e3), 3000))
    arguments = (sizes, 1.33 + 1e-3j, sizes * np.linspace(0.1, 1.2, sizes.size), 1.75 - 0.44j)
    expected = bits(coatedmie.efficiencies(*arguments, threads=1))
    particles = one_by_one(arguments)[:300]
    scalar = [coatedmie.efficiencies(*p) for p in particles]
    assert np.array_equal(expected[:, :300].T, bits(scalar))

    def agree(threads):
        return all(np.array_equal(bits(coatedmie.efficiencies(*arguments, threads=threads)), expected) and
                   [coatedmie.efficiencies(*p) for p in particles] == scalar for _ in range(3))

    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        assert all(pool.map(agree, (1, 2, 3, None, 10**6)))


GOOD = {"efficiencies": dict(alpha1=5.0, index1=1.5, alpha2=3.0, index2=2.0),
        "core_shell": dict(m_core=1.5, m_shell=1.4, wavelength=0.5, d_core=1.0, d_shell=2.0, n_medium=1.0),
        "sphere": dict(m=1.5, wavelength=0.5, diameter=2.0, n_medium=1.0),
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
    sizes, refused = np.array([5.0, -1.0, np.inf, 3.0]), np.array([False, True, True, False])
    functions = (coatedmie.intensities, coatedmie.amplitudes, coatedmie.mueller, coatedmie.phase_function)
    for f, fifth in [(coatedmie.legendre_moments, 12)] + [(f, ANGLES.ravel()) for f in functions]:
        for threads in (1, 2):
            found = np.moveaxis(np.asarray(f(sizes, 1.5, 0.5, 2.0, fifth, threads=threads, invalid="nan")), -2, 0)
            assert np.isnan(found[refused]).all()
            assert np.array_equal(bits(found[~refused]), bits([f(s, 1.5, 0.5, 2.0, fifth) for s in sizes[~refused]]))


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
    ("intensities", (5, 1.5, 3, 2.0, [0, np.nan]), {}, ValueError),
    ("sphere_scattering", (1.5, 0.5, 1.0, [[0, 1], [2, np.inf]]), {}, ValueError),
    ("intensities", (np.broadcast_to(5.0, 10**6), 1.5, 3, 2.0, np.broadcast_to(0.0, 10**7)), {}, MemoryError),
    ("legendre_moments", (np.broadcast_to(5.0, 10**5), 1.5, 3, 2.0, 2**31 - 1), {}, MemoryError),
    ("legendre_moments", (5, 1.5, 3, 2.0, -1), {}, ValueError),
    ("lognormal", (1.75 + 0.44j, 1.43, 0.55, 0.2, 1.6, 0.4), {"max_particles": 99}, ValueError),
    ("lognormal", (1.75 + 0.44j, 1.43, 0.55, 0.2, 1.6, 0.4), {"rtol": 0.2}, ValueError),
])
def test_bad_arguments_raise(function, arguments, options, error):
    with pytest.raises(error, match="" if error is not MemoryError else r"the result, .* of shape \(100000, 2147483647\)"
                       if function == "legendre_moments" else r"2 arrays of float64 of shape \(1000000, 10000000\)"):
        getattr(coatedmie, function)(*arguments, **options)


# A column of particles: Rayleigh size (the small-particle path), the
# reference particle, a vacuum shell, a large lossless drop.
LAYERS = [np.array(column)[:, None] for column in zip((0.005, 1.5 + 0.01j, 0.003, 2.0 + 0.5j),
                                                      (5, 1.5 + 0.01j, 3, 2.0 + 0.5j), (5, 1.0, 3, 1.7 + 0.2j),
                                                      (300, 1.33, 200, 1.5))]
WIDE_ANGLES = np.linspace(-10, 370, 77)


def particles(sign=1):
    return [np.conjugate(v) if sign < 0 and v.dtype.kind == "c" else v for v in LAYERS]


def test_amplitudes_square_to_the_intensities_and_give_the_mueller_matrix_in_either_convention():
    S1, S2 = coatedmie.amplitudes(*particles(), WIDE_ANGLES)
    mueller = coatedmie.mueller(*particles(), WIDE_ANGLES)
    assert S1.shape == mueller[0].shape == (4, 1, 77) and S1.dtype == np.complex128
    I1, I2 = squares = [S.real * S.real + S.imag * S.imag for S in (S1, S2)]
    assert np.array_equal(bits(squares), bits(coatedmie.intensities(*particles(), WIDE_ANGLES)))
    product = S2 * S1.conjugate()  # Bohren and Huffman's S33 + i S34
    assert np.all(np.abs(np.subtract([(I2 + I1) / 2, (I2 - I1) / 2, product.real, product.imag], mueller)) <=
                  1e-12 * mueller[0])
    # n - ik: the same Mueller matrix and intensities, the amplitudes
    # conjugated, but for the lossless drop, whose indices -0i are n + ik.
    assert np.array_equal(bits(coatedmie.mueller(*particles(-1), WIDE_ANGLES)), bits(mueller))
    assert np.array_equal(bits(coatedmie.intensities(*particles(-1), WIDE_ANGLES)), bits(squares))
    assert np.array_equal(bits(coatedmie.amplitudes(*particles(-1), WIDE_ANGLES))[:, :3],
                          bits([S1.conjugate(), S2.conjugate()])[:, :3])


MUELLER_REFERENCE = np.loadtxt(HERE / "mueller_reference.txt")


def test_mueller_elements_against_independent_values_at_40_digits():
    for particle in np.unique(MUELLER_REFERENCE[:, :6], axis=0):
        rows = MUELLER_REFERENCE[(MUELLER_REFERENCE[:, :6] == particle).all(axis=1)]
        layers = (particle[0], complex(particle[1], particle[2]), particle[3], complex(particle[4], particle[5]))
        found = np.stack(coatedmie.mueller(*layers, rows[:, 6]), axis=-1)
        np.testing.assert_allclose(found, rows[:, 7:], rtol=1e-12, atol=1e-12 * rows[0, 7])


def test_moments_of_many_particles_are_normalised_to_one_and_g_and_padded_with_zeros():
    # And a thousand terms, where the forward peak is a millionth of the sphere.
    layers = [np.append(column, particle) for column, particle in zip(LAYERS, (1000, 1.33 + 1e-4j, 900, 1.59))]
    chi, e = coatedmie.legendre_moments(*layers), coatedmie.efficiencies(*layers)
    assert chi.shape == (5, 2 * e.N.max() + 1)
    np.testing.assert_allclose(chi[:, :2], np.stack([np.ones(5), e.g], axis=-1), atol=1e-13)
    assert all(np.all(row[2 * N + 1:] == 0.0) for row, N in zip(chi, e.N))
    first = coatedmie.legendre_moments(5, 1.5, 3, 2.0, 7)
    np.testing.assert_allclose(first, coatedmie.legendre_moments(5, 1.5, 3, 2.0)[:7], atol=1e-14)
    assert coatedmie.legendre_moments(5, 1.5, 3, 2.0, 0).shape == (0,)


@pytest.mark.parametrize("layers", [(1e-3, 1.5, 5e-4, 1.5), (5, 1.5 + 0.01j, 3, 2.0 + 0.5j),
                                    (60, 1.33, 45, 1.7 + 0.3j)], ids=str)
def test_moments_against_an_independent_quadrature_of_the_phase_function(layers):
    # NumPy's own Gauss-Legendre rule, with more nodes than needed, on the
    # phase function at its nodes (through degrees: y^2 1e-16 near the peak).
    chi = coatedmie.legendre_moments(*layers)
    mu, weight = legendre.leggauss(len(chi) + 10)
    p = coatedmie.phase_function(*layers, np.degrees(np.arccos(mu)))
    np.testing.assert_allclose(chi, 0.5 * (weight * p) @ legendre.legvander(mu, len(chi) - 1), atol=1e-10)


@pytest.mark.parametrize("module", ["coatedmie", "coatedmie._engine", "coatedmie.particles", "coatedmie.distributions",
                                    "coatedmie.index_tables", "coatedmie.retrieval"])
def test_the_docstring_examples_hold(module):
    assert doctest.testmod(importlib.import_module(module)).failed == 0


def test_every_function_shows_its_signature_and_the_stubs_agree():
    stubs = {node.name: node for node in ast.parse((HERE.parents[1] / "python/coatedmie/_engine.pyi").read_text()).body
             if isinstance(node, ast.FunctionDef)}
    for name in coatedmie.__all__:
        if callable(getattr(coatedmie, name)) and not isinstance(getattr(coatedmie, name), type):
            parameters = inspect.signature(getattr(coatedmie, name)).parameters.values()
            assert all(p.kind not in (p.VAR_POSITIONAL, p.VAR_KEYWORD) for p in parameters), name
    for name, stub in stubs.items():
        found = inspect.signature(getattr(coatedmie._engine, name))
        arguments = stub.args
        expected = [(a.arg, kind) for kinds, kind in ((arguments.args, "POSITIONAL_OR_KEYWORD"),
                                                      (arguments.kwonlyargs, "KEYWORD_ONLY")) for a in kinds]
        assert [(p.name, p.kind.name) for p in found.parameters.values()] == expected, name
        defaults = [ast.literal_eval(d) for d in arguments.defaults + [d for d in arguments.kw_defaults if d]]
        assert [p.default for p in found.parameters.values() if p.default is not p.empty] == defaults, name


INTERRUPTED = """
import os, sys, time, numpy as np, coatedmie
sizes = np.geomspace(0.1, 30, 10**7)
calls = {"array call": lambda: coatedmie.efficiencies(sizes, 1.5 + 0.01j, sizes / 2, 2.0),
         "distribution": lambda: coatedmie.distribution(1.75 + 0.44j, 1.5, 0.55, sizes / 20, sizes / 10, sizes)}
if sys.argv[1] == "table build":
    table = coatedmie.lookup_table(1.5, 1.4, 0.5, 0, sizes[::2], chunks={"d_shell": 10**6})
    calls["table build"] = lambda: table.compute(scheduler="threads")
print("computing", flush=True)
try:
    calls[sys.argv[1]]()
except KeyboardInterrupt:
    busy = time.process_time()
    time.sleep(0.3)
    print("stopped", time.process_time() - busy, len(os.listdir("/proc/self/task")))
"""


@pytest.mark.parametrize("call", ["array call", "distribution", "table build"])
def test_ctrl_c_stops_the_work_with_keyboard_interrupt_and_leaves_no_thread_busy(call):
    if call == "table build":
        pytest.importorskip("dask")
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED, call], stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "computing\n"
    time.sleep(1)
    child.send_signal(signal.SIGINT)
    stopped, cpu, threads = child.communicate(timeout=20)[0].split()
    # Dask keeps its idle threads; the engine's own are gone.
    assert stopped == "stopped" and float(cpu) < 0.05 and (call == "table build" or threads == "1")


@pytest.mark.parametrize("section, needs", [("## Python", ()), ("### Lookup tables", ("xarray", "dask", "netCDF4"))])
def test_the_readme_examples_print_what_the_readme_says(section, needs, tmp_path):
    for module in needs:
        pytest.importorskip(module)
    text = (HERE.parents[1] / "README.md").read_text(encoding="utf-8").split(f"\n{section}\n", 1)[1]
    code, after = text.split("```python\n", 1)[1].split("```", 1)
    run = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert run.stdout == after.split("```\n", 1)[1].split("```", 1)[0], run.stderr
