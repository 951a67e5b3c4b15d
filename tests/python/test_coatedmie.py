"""The Python module against the program's own doubles, physics invariances and errors."""

import math
import os
import pathlib
import subprocess
import sys
import threading

import numpy as np
import pytest

import coatedmie

PROGRAM = os.environ.get("COATEDMIE_PROGRAM")
ENGINE_VALUES = os.environ.get("COATEDMIE_ENGINE_VALUES")
EXAMPLES = os.environ.get("COATEDMIE_EXAMPLES")
CAPACITY_MESSAGE = "\t\t\tCaution:\n\t\t\t\tThe parameter for the array is not large enough!!!"
through_ctest = pytest.mark.skipif(not (PROGRAM and ENGINE_VALUES), reason="run through CTest")


def bits(values):
    """Bit patterns, so that -0.0 differs from 0.0 and NaN equals itself."""
    return np.ascontiguousarray(values, dtype=np.float64).view(np.uint64)


# The bundled examples, and parameter files beyond them: dense grids with steps
# that are not whole degrees, both layer orders, the negative convention, a
# vacuum shell, a grid running downwards, no angles at all.
PARAMETER_FILES = {path.parent.name: path.read_bytes()
                   for path in sorted(pathlib.Path(EXAMPLES).glob("*/Parameter_in.txt"))} if EXAMPLES else {}
PARAMETER_FILES.update({
    "dense grid": b"80\t1.05\t0.002\n79.9\t2.5\t1.8\n1001\t0.3\t179.9\n",
    "core first, negative convention, downwards": b"0.7 1.7 -0.1\n2.2 1.33 0.0\n997 180 -37.5\n",
    "vacuum shell": b"12 1 0 2.5 1.7 0.3 64 -10 370",
    "large": b"2500 1.33 1e-8 1500 1.5 0.01 361 0 180",
    "no angles": b"5 1.5 0.01 3 2.0 0.5 -5 0 180",
})
RESULT_FIELDS = ("Kext", "Ksca", "Kabs", "Kback", "Kpr", "g", "albedo")


@through_ctest
@pytest.mark.parametrize("text", PARAMETER_FILES.values(), ids=PARAMETER_FILES.keys())
def test_every_value_is_the_programs_double(text, tmp_path):
    (tmp_path / "Parameter_in.txt").write_bytes(text)
    out = subprocess.run([ENGINE_VALUES, str(tmp_path / "Parameter_in.txt")],
                         capture_output=True, text=True, check=True).stdout
    v, table = {}, []
    for name, *fields in (line.split() for line in out.splitlines()):
        if name == "angle":
            table.append([float.fromhex(f) for f in fields])
        else:
            v[name] = int(fields[0]) if name in ("N", "angleCount") else float.fromhex(fields[0])
    layers = (v["Alpha1"], complex(v["index1Re"], v["index1Im"]), v["Alpha2"], complex(v["index2Re"], v["index2Im"]))
    result = coatedmie.efficiencies(*layers)
    assert result.N == v["N"]
    assert bits([getattr(result, f) for f in RESULT_FIELDS]).tolist() == bits([v[f] for f in RESULT_FIELDS]).tolist()
    degrees = coatedmie.angle_grid(v["angleCount"], v["startAngle"], v["endAngle"])
    I1, I2 = coatedmie.intensities(*layers, degrees)
    assert np.array_equal(bits(np.stack([degrees, I1, I2], axis=-1)), bits(np.reshape(table, (-1, 3))))


PARTICLES = [
    (5, 1.5 + 0.01j, 3, 2.0 + 0.5j),
    (10, 1.33, 6, 1.5),
    (0.2, 1.7 + 0.1j, 0.5, 1.33),
    (80, 1.05 + 0.002j, 79.9, 2.5 + 1.8j),
    (7, 1.6 + 4.0j, 6.9, 1.1),
]
ANGLES = np.linspace(0, 180, 37)
CHANGES = {
    "layer order": lambda a1, n1, a2, n2: (a2, n2, a1, n1),
    "sign convention": lambda a1, n1, a2, n2: (a1, n1.conjugate(), a2, n2.conjugate()),
    "one negative imaginary part is enough": lambda a1, n1, a2, n2: (a1, n1.conjugate(), a2, n2),
}


@pytest.mark.parametrize("particle", PARTICLES, ids=str)
@pytest.mark.parametrize("change", CHANGES.values(), ids=CHANGES.keys())
def test_layer_order_and_sign_convention_change_no_bit(particle, change):
    other = change(*particle)
    assert bits(coatedmie.efficiencies(*particle)).tolist() == bits(coatedmie.efficiencies(*other)).tolist()
    for given, changed in zip(coatedmie.intensities(*particle, ANGLES), coatedmie.intensities(*other, ANGLES)):
        assert np.array_equal(bits(given), bits(changed))


@pytest.mark.parametrize("layers, message", [
    ((0, 1.5, 3, 2.0), "Alpha1 must be greater than 0, found 0.0"),
    ((5, 1.5, -3, 2.0), "Alpha2 must be greater than 0, found -3.0"),
    ((math.nan, 1.5, 3, 2.0), "Alpha1 must be finite, found nan"),
    ((5, 1.5, math.inf, 2.0), "Alpha2 must be finite, found inf"),
    ((5, complex(math.nan, 0), 3, 2.0), "the real part of index1 must be finite, found nan"),
    ((5, 1.5, 3, complex(2, -math.inf)), "the imaginary part of index2 must be finite, found -inf"),
    ((1e-31, 1.5, 2e-35, 2.0), "Alpha1 must be at least 1e-30, found 1e-31; the intensities of a particle "
                               "that small are beyond double precision"),
    ((5, 1.5, 1e-40, 2.0), "Alpha2 must be at least 1e-30, found 1e-40; a core that small changes no digit of "
                           "the results: for the sphere without it give layer 2 the size parameter and index of layer 1"),
    ((5, 0j, 3, 2.0), "|index1| must be at least 1e-4, found 0.0 and 0.0; give the refractive index of the layer "
                      "relative to the surrounding medium"),
    ((99622, 1.5, 3, 2.0), CAPACITY_MESSAGE),
    ((3, 1.5, 1e6, 1.0), CAPACITY_MESSAGE),
    ((9e4, 120, 3, 2.0), "|index1| * Alpha1 is 1.08e+07, above the limit of 1e7 that keeps a run under a few seconds"),
    ((5, 1.5, 0.5, 3e7), "|index2| * Alpha2 is 1.5e+07, above the limit of 1e7 that keeps a run under a few seconds"),
])
def test_invalid_layers_raise_value_error_with_the_programs_message(layers, message):
    for call in (lambda: coatedmie.efficiencies(*layers), lambda: coatedmie.intensities(*layers, [0.0, 90.0])):
        with pytest.raises(ValueError) as raised:
            call()
        assert str(raised.value) == message


@through_ctest
@pytest.mark.parametrize("layers", [(99622, 1.5, 3, 2.0), (9e4, 120, 3, 2.0), (5, 1.5, 0.5, 3e7), (-1, 1.5, 3, 2.0)],
                         ids=["capacity", "index1 limit", "index2 limit", "size"])
def test_the_program_says_the_same(layers, tmp_path):
    a1, n1, a2, n2 = (complex(v) for v in layers)
    (tmp_path / "Parameter_in.txt").write_text(
        f"{a1.real!r}\t{n1.real!r}\t{n1.imag!r}\n{a2.real!r}\t{n2.real!r}\t{n2.imag!r}\n3\t0\t180\n")
    run = subprocess.run([PROGRAM], cwd=tmp_path, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                         timeout=120)
    assert run.returncode != 0
    with pytest.raises(ValueError) as raised:
        coatedmie.efficiencies(*layers)
    message = str(raised.value)
    if message == CAPACITY_MESSAGE:
        assert run.stderr == message + "\n"
    elif message.startswith("|"):
        assert run.stderr == f"coatedmie: Parameter_in.txt: {message}\n"
    else:  # the program quotes the file's text ("-1.0"), the module the value
        assert run.stderr.startswith(f"coatedmie: Parameter_in.txt, line 1: {message.split(' found ')[0]} found ")


def test_intensities_keep_the_shape_and_accept_any_real_array():
    particle = PARTICLES[0]
    flat1, flat2 = coatedmie.intensities(*particle, np.linspace(0, 180, 12))
    I1, I2 = coatedmie.intensities(*particle, np.linspace(0, 180, 12).reshape(3, 4))
    assert I1.shape == (3, 4) and np.array_equal(I1.ravel(), flat1) and np.array_equal(I2.ravel(), flat2)
    strided1, _ = coatedmie.intensities(*particle, np.linspace(0, 180, 24)[::2].astype(np.float32))
    assert strided1.shape == (12,)
    whole1, _ = coatedmie.intensities(*particle, [0, 90, 180])
    assert whole1.tolist() == coatedmie.intensities(*particle, [0.0, 90.0, 180.0])[0].tolist()
    scalar1, _ = coatedmie.intensities(*particle, 90.0)
    assert scalar1.shape == () and scalar1 == whole1[1]
    assert [a.shape for a in coatedmie.intensities(*particle, [])] == [(0,), (0,)]


def test_threads_never_see_each_others_coefficients():
    particles = [PARTICLES[0], PARTICLES[1], PARTICLES[3]]
    expected = [coatedmie.intensities(*p, ANGLES) for p in particles]
    failures = []

    def work(k):
        for _ in range(30):
            I1, I2 = coatedmie.intensities(*particles[k], ANGLES)
            if not (np.array_equal(I1, expected[k][0]) and np.array_equal(I2, expected[k][1])):
                failures.append(k)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(particles))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures


def test_the_readme_example_prints_what_the_readme_says():
    readme = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")
    with open(readme, encoding="utf-8") as f:
        section = f.read().split("\n## Python\n", 1)[1]
    code, after = section.split("```python\n", 1)[1].split("```", 1)
    shown = after.split("```\n", 1)[1].split("```", 1)[0]
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120, check=True)
    # The averages to the printed digits; the timing line only by its form.
    printed, timing = run.stdout.splitlines()
    assert printed == shown.splitlines()[0]
    assert timing.startswith("500 particles in ") and timing.endswith(" ms")
