"""Lookup tables against the direct calls on threads and a cluster; refusals; netCDF; the tool."""

import doctest
import os
import signal
import subprocess
import sys

import numpy as np
import pytest

import coatedmie
import coatedmie.tools.lookup_table as lookup_tool
from coatedmie.index_tables import GOLD_JOHNSON_CHRISTY

xr, _, _ = (pytest.importorskip(module) for module in ("xarray", "dask", "netCDF4"))
TOOL = ("-m", "coatedmie.tools.lookup_table")


def canonical_bits(values):
    """Bit patterns with one NaN, so that -0.0 differs from 0.0."""
    values = np.asarray(values, dtype=np.float64)
    return np.where(np.isnan(values), np.nan, values).view(np.uint64)


# Soot in two shells (one of the medium's own index) over wavelength, core
# diameter and coating thickness: cores of zero diameter, shells of zero
# thickness, and cores larger than their shell (negative thickness).
WAVELENGTH = np.array([0.45, 0.55, 0.7])
M_CORE = np.array([1.75 + 0.44j, 1.8 + 0.5j, 1.85 + 0.55j])
M_SHELL = np.array([1.5 + 0.001j, 1.33])
D_CORE = np.array([0.0, 0.1, 0.3])
THICKNESS = np.array([-0.02, 0.0, 0.05])
ANGLES = np.array([0.0, 37.5, 90.0, 180.0])


def soot_table(**options):
    thickness = xr.DataArray(THICKNESS, dims="thickness", coords={"thickness": THICKNESS})
    d_shell = xr.DataArray(D_CORE, dims="d_core", coords={"d_core": D_CORE}) + 2 * thickness
    m_core = xr.DataArray(M_CORE, dims="wavelength", coords={"wavelength": WAVELENGTH})
    return coatedmie.lookup_table(m_core, M_SHELL, WAVELENGTH, D_CORE, d_shell, 1.33, angles=ANGLES, moments=5,
                                  **options)


@pytest.fixture(scope="module", params=["threads", "two-worker cluster"])
def compute(request):
    if request.param == "threads":
        yield lambda table: table.compute(scheduler="threads")
        return
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        yield lambda table: client.compute(table).result(timeout=60)


@pytest.mark.parametrize("chunks", [None, {"wavelength": 1, "d_core": 2}, {"thickness": 1}], ids=str)
def test_every_value_is_that_of_the_direct_call(compute, chunks):
    lazy = soot_table(chunks=chunks)
    assert lazy.Qext.chunks is not None and lazy.Qext.dims == ("wavelength", "m_shell", "d_core", "thickness")
    table, n = compute(lazy), 1.33
    wavelength, m_core = WAVELENGTH[:, None, None, None], M_CORE[:, None, None, None]
    m_shell, d_core, d_shell = M_SHELL[:, None, None], D_CORE[:, None], D_CORE[:, None] + 2 * THICKNESS
    direct = coatedmie.core_shell(m_core, m_shell, wavelength, d_core, d_shell, n, invalid="nan")
    for name, values in direct._asdict().items():
        assert np.array_equal(canonical_bits(table[name]), canonical_bits(values)), name

    y, x = np.pi * n * d_shell / wavelength, np.pi * n * d_core / wavelength
    m1, m2 = m_core.real / n + 1j * (m_core.imag / n), m_shell.real / n + 1j * (m_shell.imag / n)
    shell_only, core_only = np.broadcast_to(d_core == 0, y.shape), np.broadcast_to(d_core == d_shell, y.shape)
    layers = (y, np.where(core_only, m1, m2), np.where(shell_only | core_only, y, x), np.where(shell_only, m2, m1))
    geometry_ok = (d_shell > 0) & (d_core <= d_shell)
    assert np.array_equal(canonical_bits(table.g), canonical_bits(np.where(
        geometry_ok, coatedmie.efficiencies(*layers, invalid="nan").g, np.nan)))
    expected = dict(zip(("S11", "S12", "S33", "S34"), coatedmie.mueller(*layers, ANGLES, invalid="nan")))
    expected["phase_function"] = coatedmie.phase_function(*layers, ANGLES, invalid="nan")
    expected["legendre_moment"] = coatedmie.legendre_moments(*layers, 5, invalid="nan")
    for name, values in expected.items():
        assert np.array_equal(canonical_bits(table[name]), canonical_bits(np.where(geometry_ok[..., None], values,
                                                                                   np.nan))), name
    assert table.attrs["invalid_points"] == np.isnan(table.Qext).sum() == 24


def engine_edge(particle, start, refused_towards):
    """(last accepted, first refused) particle(v), v stepped an ulp at a time
    from start: the edge of an input rule as core_shell finds it."""
    def accepted(v):
        return not np.isnan(coatedmie.core_shell(*particle(v), invalid="nan").Qext)
    v, steps = start, 0
    while accepted(v) and steps < 100:
        v, steps = np.nextafter(v, refused_towards), steps + 1
    while not accepted(v) and steps < 200:
        v, steps = np.nextafter(v, -refused_towards), steps + 1
    assert steps < 200, "no edge near the start"
    return particle(v), particle(np.nextafter(v, refused_towards))


def test_refused_points_are_nan_and_counted_up_to_the_last_ulp():
    # Capacity, |index| * size parameter, |index|; a core larger than its shell,
    # a NaN index of a core of diameter 0 (no core, but no index either), a NaN
    # wavelength. (A core below the smallest size parameter is no core: accepted.)
    cases = [*engine_edge(lambda d: (1.5, 1.0001, 1.0, 1.0, d, 1.0), 99621.09443326859 / np.pi, np.inf),
             *engine_edge(lambda d: (1.5, 3000 + 4000j, 1.0, 0.1, d, 1.0), 2000 / np.pi, np.inf),
             *engine_edge(lambda n: (1.5, n, 1.0, 0.5, 1.0, 1.0), 1e-4, -np.inf),
             (1.5, 1.5, 1.0, 0.6, 0.5, 1.0), (complex(np.nan), 1.5, 1.0, 0.0, 0.5, 1.0), (1, 1, np.nan, 0.1, 0.5, 1)]
    refused = np.array([False, True] * 3 + [True, True, True])
    arguments = [xr.DataArray(list(column), dims="case") for column in zip(*cases)]
    table = coatedmie.lookup_table(*arguments, angles=[90], chunks={"case": 3}).compute()
    assert table.attrs["invalid_points"] == refused.sum()
    assert np.array_equal(np.isnan(table.Qext), refused) and np.array_equal(np.isnan(table.S11[:, 0]), refused)


def test_netcdf_keeps_values_units_and_conventions(tmp_path):
    table = soot_table(length_unit="um")
    table.to_netcdf(tmp_path / "table.nc")
    with xr.open_dataset(tmp_path / "table.nc") as read:
        xr.testing.assert_identical(read.load(), table.compute())
    units = {name: table[name].attrs.get("units") for name in ("wavelength", "d_shell", "Cext", "Qext", "angle")}
    assert units == {"wavelength": "um", "d_shell": "um", "Cext": "um2", "Qext": "1", "angle": "degree"}
    assert table.attrs["Conventions"].startswith("CF-") and "n + ik" in table.attrs["refractive_indices"]
    assert "exp(-i omega t)" in table.S11.attrs["comment"] and "chi_1 = g" in table.legendre_moment.attrs["comment"]
    assert "Conventions" not in soot_table().attrs and "units" not in soot_table().Cext.attrs


@pytest.mark.parametrize("wavelength", [0.5, [1.0, 2.0]], ids=["a number", "other values"])
def test_a_dimension_labelled_otherwise_by_its_own_argument_is_refused(wavelength):
    m_core = xr.DataArray([1.5, 1.6], dims="wavelength", coords={"wavelength": [1.0, 3.0]})
    with pytest.raises(ValueError, match="wavelength"):
        coatedmie.lookup_table(m_core, 1.4, wavelength, 0.1, 0.2)


def test_import_needs_only_numpy_and_the_docstring_example_holds():
    code = ("import sys; sys.modules.update(xarray=None, dask=None); import coatedmie\n"
            "try: coatedmie.lookup_table(1.5, 1.5, 1, 0, 1)\nexcept ImportError as e: print(e)")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert "python3-xarray python3-dask" in run.stdout
    assert doctest.testmod(coatedmie.lookup).failed == 0


GRID = """length_unit = "nm"
m_core = {csv = "soot.csv"}
m_shell = "1.55+0.001j"
wavelength = {start = 350, stop = 1050, num = 8}
d_core = [0, 100, 150.5]
d_shell = {start = 100, stop = 1000, num = 5, spacing = "log"}
n_medium = 1.33
angles = [0, 90, 180]
moments = 3
"""
SOOT = "# wavelength in nm\nwavelength, n, k\n300, 1.70, 0.40\n1200, 1.85, 0.55  # far infrared\n800, 1.80, 0.50\n"


def run_tool(folder, grid, *options, soot=SOOT.encode()):
    (folder / "grid.toml").write_text(grid)
    (folder / "soot.csv").write_bytes(soot)
    return subprocess.run([sys.executable, *TOOL, "grid.toml", "out.nc", *options], cwd=folder, capture_output=True,
                          text=True, stdin=subprocess.DEVNULL, timeout=120)


@pytest.mark.parametrize("options", [[], ["--workers", "2"]], ids=["threads", "two-worker cluster"])
def test_the_tool_writes_the_table_of_its_grid(options, tmp_path):
    run = run_tool(tmp_path, GRID, *options)
    # Not a terminal: a line per tenth of the work, no bar.
    assert run.returncode == 0 and "computed 100%\n" in run.stdout and "\r" not in run.stdout, run.stderr
    wavelength = np.linspace(350, 1050, 8)
    m_core = np.interp(wavelength, [300, 800, 1200], [1.7, 1.8, 1.85]) + \
        1j * np.interp(wavelength, [300, 800, 1200], [0.4, 0.5, 0.55])
    expected = coatedmie.lookup_table(xr.DataArray(m_core, dims="wavelength"), 1.55 + 0.001j, wavelength,
                                      [0, 100, 150.5], np.geomspace(100, 1000, 5), 1.33, angles=[0, 90, 180],
                                      moments=3, length_unit="nm")
    with xr.open_dataset(tmp_path / "out.nc") as written:
        xr.testing.assert_identical(written.load(), expected.compute())


@pytest.mark.parametrize("stop", [signal.SIGINT, signal.SIGTERM], ids=["SIGINT", "SIGTERM"])
def test_a_stopped_run_says_so_in_a_line_and_leaves_no_file_and_the_previous_one_intact(stop, tmp_path):
    (tmp_path / "grid.toml").write_text(GRID.replace("num = 5", "num = 20000") + "chunks = {d_shell = 200}\n")
    (tmp_path / "soot.csv").write_text(SOOT)
    (tmp_path / "out.nc").write_bytes(b"the previous table")
    tool = subprocess.Popen([sys.executable, *TOOL, "grid.toml", "out.nc"], cwd=tmp_path, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert tool.stdout.readline() == "computed 0%\n"
    tool.send_signal(stop)
    assert tool.wait(timeout=60) == 128 + stop
    assert tool.stderr.read() == f"coatedmie-lookup-table: stopped by {stop.name}; out.nc is not written\n"
    assert sorted(os.listdir(tmp_path)) == ["grid.toml", "out.nc", "soot.csv"]
    assert (tmp_path / "out.nc").read_bytes() == b"the previous table"


@pytest.mark.parametrize("change, message", [
    (("moments = 3", "moment = 3"), "unknown keys ['moment']"),
    (("stop = 1050", "stop = 1250"), "m_core: the wavelengths 350.0 to 1250.0 reach beyond soot.csv's range, 300 to 1200"),
    (('"1.55+0.001j"', '"1.55+i0.001"'), "not a complex number"),
    (('"1.55+0.001j"', '"1.55-0.001j"'), "m_shell has k < 0 and m_core k > 0"),
    (("moments = 3", "chunks = {wavelength = 0}"), "chunks: wavelength = 0, expected a whole number of at least 1"),
    (("moments = 3", 'chunks = "abc"'), "chunks: expected a table of dimension = chunk size, found 'abc'"),
    (("num = 8", "num = 100000000000"), "too many points: wavelength 100000000000 x d_core 3 x d_shell 5 x angles 3, a table of 327.4 TiB, more than the"),
    (("d_core = [0, 100, 150.5]", "d_core = 2000"), "every point of the grid is refused; the first: d_core must not "
                                                   "exceed d_shell, found d_core = 2000.0 > d_shell = 100.0"),
    (("angles = [0, 90, 180]", "angles = [0, nan]"), "angles must be finite, found nan at index 1"),
    (("", b"\x00\x01binary\xff"), "m_core: soot.csv: not a text table: byte 0xff at offset 8 is not UTF-8"),
])
def test_the_tool_refuses_a_grid_it_cannot_compute_in_one_line_and_writes_nothing(change, message, tmp_path):
    grid, soot = (GRID, change[1]) if isinstance(change[1], bytes) else (GRID.replace(*change), SOOT.encode())
    run = run_tool(tmp_path, grid, soot=soot)
    assert run.returncode == 2 and run.stderr.count("\n") == 1 and message in run.stderr, run.stderr
    assert sorted(os.listdir(tmp_path)) == ["grid.toml", "soot.csv"]


@pytest.mark.parametrize("indices, m_core, m_shell", [
    ({"m_core": '"1.75-0.44j"', "m_shell": "1.5"}, 1.75 + 0.44j, 1.5),  # n - ik: read as n + ik
    ({"m_core": "1.45", "m_shell": f"{{csv = '{GOLD_JOHNSON_CHRISTY}'}}"}, 1.45, None),  # eV, sorted by energy
])
def test_the_tool_reads_either_convention_and_the_bundled_table_as_it_is(indices, m_core, m_shell, tmp_path):
    grid = "".join(f"{key} = {value}\n" for key, value in indices.items()) + \
        'length_unit = "nm"\nwavelength = [450, 550, 650]\nd_core = 120\nd_shell = 150\n'
    (tmp_path / "grid.toml").write_text(grid)
    arguments = lookup_tool.read_grid(tmp_path / "grid.toml", (2**40, "free"))
    expected = coatedmie.read_index_table(GOLD_JOHNSON_CHRISTY)([450, 550, 650]) if m_shell is None else m_shell
    assert arguments["m_core"] == m_core and np.array_equal(arguments["m_shell"], expected)
