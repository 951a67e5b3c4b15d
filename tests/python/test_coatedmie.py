"""The Python module against the program, the engine's exact doubles and physics."""

import glob
import math
import os
import subprocess
import sys
import threading
from decimal import ROUND_HALF_UP, Context, Decimal

import numpy as np
import pytest

import coatedmie

PROGRAM = os.environ.get("COATEDMIE_PROGRAM")
ENGINE_VALUES = os.environ.get("COATEDMIE_ENGINE_VALUES")
EXAMPLES = os.environ.get("COATEDMIE_EXAMPLES")
CAPACITY_MESSAGE = "\t\t\tCaution:\n\t\t\t\tThe parameter for the array is not large enough!!!"

needs_program = pytest.mark.skipif(not PROGRAM, reason="COATEDMIE_PROGRAM not set (run through CTest)")


def example_folders():
    if not EXAMPLES:
        return []
    return sorted(os.path.dirname(p) for p in glob.glob(os.path.join(EXAMPLES, "*", "Parameter_in.txt")))


def bits(values):
    """Bit patterns, so that -0.0 differs from 0.0 and NaN equals itself."""
    return np.ascontiguousarray(values, dtype=np.float64).view(np.uint64)


# --- The program's number text, from the exact decimal value of each double:
# --- 17 significant digits rounded half up, then the printed places rounded
# --- half up from that string.

def _digit_string(x):
    return Context(prec=17, rounding=ROUND_HALF_UP).plus(Decimal(abs(x)))


def fixed_text(x):
    if x == 0:
        return "0.000000"
    digits = _digit_string(x).quantize(Decimal("1e-6"), rounding=ROUND_HALF_UP, context=Context(prec=400))
    return ("-" if x < 0 else "") + f"{digits:f}"


def exponent_text(x):
    if x == 0:
        return "0.000000e+000"
    mantissa, exponent = f"{Context(prec=7, rounding=ROUND_HALF_UP).plus(_digit_string(x)):.6e}".split("e")
    exponent = int(exponent)
    return ("-" if x < 0 else "") + f"{mantissa}e{'+' if exponent >= 0 else '-'}{abs(exponent):03d}"


def test_number_text_oracle_on_the_published_cases():
    assert fixed_text(0.0078125) == "0.007813"
    assert exponent_text(0.00048828125) == "4.882813e-004"
    assert fixed_text(0.1234565) == "0.123457"
    assert fixed_text(2.0 ** 70) == "1180591620717411300000.000000"
    assert exponent_text(9.9999996) == "1.000000e+001"
    assert fixed_text(6.0e-7) == "0.000001" and fixed_text(-6.0e-7) == "-0.000001"
    assert fixed_text(5.0e-7) == "0.000000" and exponent_text(-0.0) == "0.000000e+000"


# --- The bundled examples --------------------------------------------------

def engine_values(folder):
    """The program's reader, grid and engine calls, as exact doubles."""
    out = subprocess.run([ENGINE_VALUES, os.path.join(folder, "Parameter_in.txt")],
                         capture_output=True, text=True, check=True).stdout
    values, angles = {}, []
    for line in out.splitlines():
        name, *fields = line.split()
        if name == "angle":
            angles.append([float.fromhex(f) for f in fields])
        elif name in ("N", "angleCount"):
            values[name] = int(fields[0])
        else:
            values[name] = float.fromhex(fields[0])
    return values, np.array(angles).reshape(-1, 3)


def module_values(v):
    layers = (v["Alpha1"], complex(v["index1Re"], v["index1Im"]), v["Alpha2"], complex(v["index2Re"], v["index2Im"]))
    result = coatedmie.efficiencies(*layers)
    degrees = coatedmie.angle_grid(v["angleCount"], v["startAngle"], v["endAngle"])
    I1, I2 = coatedmie.intensities(*layers, degrees)
    return result, degrees, I1, I2


# Parameter files beyond the examples: dense grids with steps that are not
# whole degrees, both layer orders, the negative convention, a vacuum shell.
SYNTHETIC_INPUTS = {
    "dense grid": "80\t1.05\t0.002\n79.9\t2.5\t1.8\n1001\t0.3\t179.9\n",
    "core first, negative convention": "0.7 1.7 -0.1\n2.2 1.33 0.0\n997 180 -37.5\n",
    "vacuum shell": "12 1 0 2.5 1.7 0.3 64 -10 370",
    "large": "2500 1.33 1e-8 1500 1.5 0.01 361 0 180",
}


@pytest.mark.skipif(not ENGINE_VALUES, reason="run through CTest")
@pytest.mark.parametrize("text", SYNTHETIC_INPUTS.values(), ids=SYNTHETIC_INPUTS.keys())
def test_other_inputs_give_the_engines_exact_doubles(text, tmp_path):
    (tmp_path / "Parameter_in.txt").write_text(text)
    test_examples_give_the_engines_exact_doubles(str(tmp_path))


@pytest.mark.skipif(not (ENGINE_VALUES and EXAMPLES), reason="run through CTest")
@pytest.mark.parametrize("folder", example_folders(), ids=os.path.basename)
def test_examples_give_the_engines_exact_doubles(folder):
    v, table = engine_values(folder)
    assert len(table) == max(v["angleCount"], 0)
    result, degrees, I1, I2 = module_values(v)
    assert result.N == v["N"]
    assert bits([result.Kext, result.Ksca, result.Kabs]).tolist() == bits([v["Kext"], v["Ksca"], v["Kabs"]]).tolist()
    assert np.array_equal(bits(degrees), bits(table[:, 0]))
    assert np.array_equal(bits(I1), bits(table[:, 1]))
    assert np.array_equal(bits(I2), bits(table[:, 2]))


def result_file_texts(v, result, degrees, I1, I2):
    header = (f"Alpha1={fixed_text(v['Alpha1'])}\tRefractive index_m1=({fixed_text(v['index1Re'])}, "
              f"{fixed_text(v['index1Im'])})\r\n"
              f"Alpha2={fixed_text(v['Alpha2'])}\tRefractive index_m2=({fixed_text(v['index2Re'])}, "
              f"{fixed_text(v['index2Im'])})\r\n\r\n"
              f"Kext={fixed_text(result.Kext)}, Ksca={fixed_text(result.Ksca)}, Kabs={fixed_text(result.Kabs)}\r\n\r\n")
    lines = ["Angle(Deg)\tI1\tI2\tItotal\r\n"]
    for angle, i1, i2 in zip(degrees.tolist(), I1.tolist(), I2.tolist()):
        lines.append(f"{fixed_text(angle)}\t{exponent_text(i1)}\t{exponent_text(i2)}\t{exponent_text(i1 + i2)}\r\n")
    return header.encode("ascii"), "".join(lines).encode("ascii")


def run_program_and_compare(parameter_text, folder):
    """Runs the program on the parameter file in folder; returns the module's texts."""
    (folder / "Parameter_in.txt").write_bytes(parameter_text)
    run = subprocess.run([PROGRAM], cwd=folder, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    assert run.returncode == 0, run.stderr
    v, _ = engine_values(str(folder))
    header, table = result_file_texts(v, *module_values(v))
    assert header == (folder / "Header_Coated_TA.txt").read_bytes()
    assert table == (folder / "Mie_Coated_TA.txt").read_bytes()
    return header, table


@needs_program
@pytest.mark.skipif(not (ENGINE_VALUES and EXAMPLES), reason="run through CTest")
@pytest.mark.parametrize("folder", example_folders(), ids=os.path.basename)
def test_examples_print_as_the_programs_files(folder, tmp_path):
    with open(os.path.join(folder, "Parameter_in.txt"), "rb") as f:
        header, table = run_program_and_compare(f.read(), tmp_path)
    for name, text in (("Header_Coated_TA.txt", header), ("Mie_Coated_TA.txt", table)):
        with open(os.path.join(folder, name), "rb") as f:
            assert text == f.read(), name


@needs_program
@pytest.mark.skipif(not ENGINE_VALUES, reason="run through CTest")
@pytest.mark.parametrize("text", SYNTHETIC_INPUTS.values(), ids=SYNTHETIC_INPUTS.keys())
def test_other_inputs_print_as_the_programs_files(text, tmp_path):
    run_program_and_compare(text.encode("ascii"), tmp_path)


# --- Invariances -----------------------------------------------------------

PARTICLES = [
    (5, 1.5 + 0.01j, 3, 2.0 + 0.5j),
    (10, 1.33, 6, 1.5),
    (0.2, 1.7 + 0.1j, 0.5, 1.33),
    (80, 1.05 + 0.002j, 79.9, 2.5 + 1.8j),
    (7, 1.6 + 4.0j, 6.9, 1.1),
]
ANGLES = np.linspace(0, 180, 37)


def conjugated(particle):
    alpha1, index1, alpha2, index2 = particle
    return alpha1, index1.conjugate(), alpha2, index2.conjugate()


def swapped(particle):
    alpha1, index1, alpha2, index2 = particle
    return alpha2, index2, alpha1, index1


@pytest.mark.parametrize("particle", PARTICLES, ids=str)
@pytest.mark.parametrize("change", [swapped, conjugated], ids=["layer order", "sign convention"])
def test_layer_order_and_sign_convention_change_no_bit(particle, change):
    other = change(particle)
    assert bits(coatedmie.efficiencies(*particle)).tolist() == bits(coatedmie.efficiencies(*other)).tolist()
    for given, changed in zip(coatedmie.intensities(*particle, ANGLES), coatedmie.intensities(*other, ANGLES)):
        assert np.array_equal(bits(given), bits(changed))


def test_one_negative_imaginary_part_is_enough():
    positive = coatedmie.efficiencies(5, 1.5 + 0.1j, 3, 1.33 + 0.02j)
    assert coatedmie.efficiencies(5, 1.5 - 0.1j, 3, 1.33 + 0.02j) == positive
    assert coatedmie.efficiencies(5, 1.5 + 0.1j, 3, 1.33 - 0.02j) == positive


# --- Errors ----------------------------------------------------------------

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


@needs_program
@pytest.mark.parametrize("layers", [(99622, 1.5, 3, 2.0), (9e4, 120, 3, 2.0), (5, 1.5, 0.5, 3e7), (-1, 1.5, 3, 2.0)],
                         ids=["capacity", "index1 limit", "index2 limit", "size"])
def test_the_program_says_the_same(layers, tmp_path):
    alpha1, index1, alpha2, index2 = (complex(v) for v in layers)
    (tmp_path / "Parameter_in.txt").write_text(
        f"{alpha1.real!r}\t{index1.real!r}\t{index1.imag!r}\n{alpha2.real!r}\t{index2.real!r}\t{index2.imag!r}\n"
        "3\t0\t180\n")
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
    else:
        # The program quotes the file's text ("-1.0"), the module the value.
        stem = message.split(" found ")[0]
        assert run.stderr.startswith(f"coatedmie: Parameter_in.txt, line 1: {stem} found ")


# --- Derived quantities and the array interface ----------------------------

@pytest.mark.parametrize("particle", PARTICLES, ids=str)
def test_derived_quantities_agree_with_the_angular_intensity(particle):
    r = coatedmie.efficiencies(*particle)
    mu, weights = np.polynomial.legendre.leggauss(r.N + 16)
    I1, I2 = coatedmie.intensities(*particle, np.degrees(np.arccos(mu)))
    total = I1 + I2
    assert r.g == pytest.approx(np.sum(weights * total * mu) / np.sum(weights * total), abs=1e-11)
    norm_square = max(particle[0], particle[2]) ** 2
    assert r.Ksca == pytest.approx(np.sum(weights * total) / norm_square, rel=1e-11)
    back1, back2 = coatedmie.intensities(*particle, [180.0])
    assert r.Kback == pytest.approx(4 * back1[0] / norm_square, rel=1e-10)
    assert r.Kback == pytest.approx(4 * back2[0] / norm_square, rel=1e-10)
    assert r.Kpr == pytest.approx(r.Kext - r.g * r.Ksca, rel=1e-14)
    assert 0 <= r.albedo <= 1 and -1 <= r.g <= 1 and r.Kback >= 0


def test_small_particles_scatter_like_dipoles():
    r = coatedmie.efficiencies(0.01, 1.5 + 0.1j, 0.005, 2.0 + 0.5j)
    assert abs(r.g) < 1e-4
    assert r.Kback == pytest.approx(1.5 * r.Ksca, rel=1e-4)


def test_lossless_particles_have_albedo_one_and_a_vacuum_shell_is_the_core_alone():
    assert coatedmie.efficiencies(100, 1.33, 60, 1.59).albedo == 1.0
    core = coatedmie.efficiencies(3, 1.5 + 0.2j, 3, 1.5 + 0.2j)
    shelled = coatedmie.efficiencies(5, 1, 3, 1.5 + 0.2j)
    for name in ("Kext", "Ksca", "Kback", "Kpr", "g", "albedo"):
        assert getattr(shelled, name) == pytest.approx(getattr(core, name), rel=1e-12), name


def test_intensities_keep_the_shape_and_accept_any_real_array():
    particle = PARTICLES[0]
    grid = np.linspace(0, 180, 12)
    flat1, flat2 = coatedmie.intensities(*particle, grid)
    I1, I2 = coatedmie.intensities(*particle, grid.reshape(3, 4))
    assert I1.shape == (3, 4) and np.array_equal(I1.ravel(), flat1) and np.array_equal(I2.ravel(), flat2)
    strided1, _ = coatedmie.intensities(*particle, np.linspace(0, 180, 24)[::2].astype(np.float32))
    assert strided1.shape == (12,)
    whole1, _ = coatedmie.intensities(*particle, [0, 90, 180])
    assert whole1.tolist() == coatedmie.intensities(*particle, [0.0, 90.0, 180.0])[0].tolist()
    scalar1, _ = coatedmie.intensities(*particle, 90.0)
    assert scalar1.shape == () and scalar1 == whole1[1]
    empty1, empty2 = coatedmie.intensities(*particle, [])
    assert empty1.shape == (0,) and empty2.shape == (0,)


def test_angle_grid_is_the_programs():
    assert coatedmie.angle_grid(181, 0, 180).tolist() == [float(i) for i in range(181)]
    assert coatedmie.angle_grid(3, 180, 0).tolist() == [180.0, 90.0, 0.0]
    assert coatedmie.angle_grid(0, 0, 180).shape == (0,) and coatedmie.angle_grid(-5, 0, 180).shape == (0,)
    step = (170.0 - 10.0) / 6
    assert coatedmie.angle_grid(7, 10, 170).tolist() == [i * step + 10.0 for i in range(7)]


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
    code = section.split("```python\n", 1)[1].split("```", 1)[0]
    shown = section.split("```python\n", 1)[1].split("```", 1)[1].split("```\n", 1)[1].split("```", 1)[0]
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120, check=True)
    # The averages to the printed digits; the timing line only by its form.
    printed, timing = run.stdout.splitlines()
    assert printed == shown.splitlines()[0]
    assert timing.startswith("500 particles in ") and timing.endswith(" ms")
