"""Lookup tables against the direct calls on threads and a cluster; refusals; netCDF."""

import doctest
import subprocess
import sys

import numpy as np
import pytest

import coatedmie

xr, _, _ = (pytest.importorskip(module) for module in ("xarray", "dask", "netCDF4"))


def canonical_bits(values):
    """Bit patterns with one NaN, so that -0.0 differs from 0.0."""
    values = np.asarray(values, dtype=np.float64)
    return np.where(np.isnan(values), np.nan, values).view(np.uint64)


# Soot in two shells (one of the medium's own index) over wavelength, core
# diameter and coating thickness: cores of zero diameter, shells of zero
# thickness, and cores larger than their shell (negative thickness).
WAVELENGTH = np.array([0.45, 0.55, 0.7])
M_CORE = np.array([1.75 + 0.44j, 1.8 - 0.5j, 1.85 + 0.55j])
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
    # Capacity, |index| * size parameter, core size, |index|; a core larger than
    # its shell, a NaN index of a core of diameter 0 (accepted), a NaN wavelength.
    cases = [*engine_edge(lambda d: (1.5, 1.0001, 1.0, 1.0, d, 1.0), 99621.09443326859 / np.pi, np.inf),
             *engine_edge(lambda d: (1.5, 3000 + 4000j, 1.0, 0.1, d, 1.0), 2000 / np.pi, np.inf),
             *engine_edge(lambda d: (1.5, 1.5, 1.0, d, 1.0, 1.0), 1e-30 / np.pi, -np.inf),
             *engine_edge(lambda n: (1.5, n, 1.0, 0.5, 1.0, 1.0), 1e-4, -np.inf),
             (1.5, 1.5, 1.0, 0.6, 0.5, 1.0), (complex(np.nan), 1.5, 1.0, 0.0, 0.5, 1.0), (1, 1, np.nan, 0.1, 0.5, 1)]
    refused = np.array([False, True] * 4 + [True, False, True])
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
