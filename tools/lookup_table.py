#!/usr/bin/python3
"""Compute a lookup table of coated spheres over the grid of a TOML file and
write it as netCDF.

    tools/lookup_table.py GRID.toml OUT.nc [--scheduler ADDRESS | --workers K]

GRID.toml has one key per argument of coatedmie.lookup_table: m_core, m_shell,
wavelength, d_core, d_shell (required), n_medium, angles, moments, and
optionally length_unit (such as "nm") and chunks (a table of dimension = chunk
size). A value is a number, a list (a dimension named after its key), or a
range table {start = .., stop = .., num = .., spacing = "linear" | "log"}
(both ends included). An index may be complex, written as a string in
Python's form, "1.75+0.44j", or a table {csv = "file.csv"}: rows of
wavelength, n, k (a header line and # comments allowed), interpolated
linearly onto the wavelength axis, which must lie within the file's range.
Relative paths start from the grid file's folder. Example:

    length_unit = "nm"
    m_core = {csv = "soot.csv"}
    m_shell = "1.55+0.001j"
    wavelength = {start = 350, stop = 1050, num = 15}
    d_core = [50, 100, 150]
    d_shell = {start = 100, stop = 1000, num = 40, spacing = "log"}
    angles = {start = 0, stop = 180, num = 181}

The table is computed by Dask's threads in this process, by a local cluster of
K worker processes (--workers), or by the workers of a running dask.distributed
scheduler (--scheduler tcp://host:8786, results gathered here), with a progress
bar. The file is written under a temporary name in OUT.nc's folder and renamed
to OUT.nc once complete, so a run that fails or is stopped leaves no partial
OUT.nc. Exit status 0 on success, 2 for a grid it refuses, 1 for a failed run.

Needs the coatedmie package (installed, on PYTHONPATH, or in build/release/python
beside this file) and Debian's python3-xarray python3-dask python3-netcdf4, and
python3-distributed for --scheduler and --workers.
"""

import argparse
import contextlib
import importlib
import math
import os
import signal
import sys
import tempfile
import tomllib
from pathlib import Path

import numpy as np

INDICES = ("m_core", "m_shell")
REAL_AXES = ("wavelength", "d_core", "d_shell", "n_medium", "angles")
REQUIRED = ("m_core", "m_shell", "wavelength", "d_core", "d_shell")
OPTIONAL = ("n_medium", "angles", "moments", "length_unit", "chunks")
RANGE_KEYS = {"start", "stop", "num", "spacing"}


class GridError(ValueError):
    pass


def import_coatedmie():
    try:
        import coatedmie
    except ImportError:
        # Worker processes a local cluster spawns inherit sys.path.
        sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "build" / "release" / "python"))
        import coatedmie
    return coatedmie


def number(value, key, complex_allowed):
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return value
    if complex_allowed and isinstance(value, str):
        try:
            return complex(value)
        except ValueError:
            raise GridError(f"{key}: {value!r} is not a complex number in Python's form, such as \"1.75+0.44j\"") \
                from None
    kinds = "a number, a string such as \"1.75+0.44j\"" if complex_allowed else "a number"
    raise GridError(f"{key}: expected {kinds}, a list or a table, found {value!r}")


def range_values(table, key):
    if not {"start", "stop", "num"} <= set(table) <= RANGE_KEYS:
        raise GridError(f"{key}: a range table has the keys start, stop, num and optionally spacing, found "
                        f"{sorted(table)}")
    start, stop = (number(table[end], key, False) for end in ("start", "stop"))
    num, spacing = table["num"], table.get("spacing", "linear")
    if not isinstance(num, int) or isinstance(num, bool) or num < 1:
        raise GridError(f"{key}: num must be a whole number of at least 1, found {num!r}")
    if spacing == "linear":
        return np.linspace(start, stop, num)
    if spacing == "log":
        if not (start > 0 and stop > 0):
            raise GridError(f"{key}: a log range needs start and stop greater than 0, found {start} and {stop}")
        return np.geomspace(start, stop, num)
    raise GridError(f"{key}: spacing must be \"linear\" or \"log\", found {spacing!r}")


def index_from_csv(path, key, wavelength):
    try:
        lines = path.read_text(encoding="utf-8").splitlines()
    except OSError as error:
        raise GridError(f"{key}: cannot read {path}: {error.strerror}") from None
    rows, header_allowed = [], True
    for line_number, line in enumerate(lines, 1):
        text = line.split("#", 1)[0].strip()
        if not text:
            continue
        try:
            row = [float(field) for field in text.split(",")]
        except ValueError:
            if not header_allowed:
                raise GridError(f"{path}:{line_number}: expected wavelength, n, k as numbers, found {line!r}") \
                    from None
            header_allowed = False
            continue
        header_allowed = False
        if len(row) != 3 or not all(math.isfinite(v) for v in row):
            raise GridError(f"{path}:{line_number}: expected three finite numbers, wavelength, n, k, found {line!r}")
        rows.append(row)
    table = np.array(sorted(rows)).reshape(-1, 3)
    if len(table) < 2 or np.any(np.diff(table[:, 0]) == 0):
        raise GridError(f"{path}: expected rows of at least two distinct wavelengths, each given once")
    low, high = table[0, 0], table[-1, 0]
    if np.min(wavelength) < low or np.max(wavelength) > high:
        raise GridError(f"{key}: the wavelengths {np.min(wavelength)!r} to {np.max(wavelength)!r} reach beyond "
                        f"{path}'s range, {low!r} to {high!r}")
    n, k = np.interp(wavelength, table[:, 0], table[:, 1]), np.interp(wavelength, table[:, 0], table[:, 2])
    index = n + 1j * k
    if np.ndim(wavelength) == 0:
        return complex(index)
    import xarray
    return xarray.DataArray(index, dims="wavelength")


def axis(value, key, folder, wavelength=None):
    if isinstance(value, dict):
        if key in INDICES and set(value) == {"csv"}:
            return index_from_csv(folder / value["csv"], key, wavelength)
        return range_values(value, key)
    if isinstance(value, list):
        if not value:
            raise GridError(f"{key}: an empty list")
        return np.array([number(item, key, key in INDICES) for item in value])
    return number(value, key, key in INDICES)


def read_grid(path):
    """The keyword arguments of coatedmie.lookup_table that the grid file describes."""
    try:
        with open(path, "rb") as f:
            grid = tomllib.load(f)
    except OSError as error:
        raise GridError(f"cannot read {path}: {error.strerror}") from None
    except tomllib.TOMLDecodeError as error:
        raise GridError(f"{path}: {error}") from None
    unknown = sorted(set(grid) - set(REQUIRED) - set(OPTIONAL))
    missing = [key for key in REQUIRED if key not in grid]
    if unknown or missing:
        raise GridError(f"{path}: " + "; ".join(
            ([f"unknown keys {unknown}, expected those of {REQUIRED + OPTIONAL}"] if unknown else []) +
            ([f"missing keys {missing}"] if missing else [])))
    folder = Path(path).parent
    arguments = {key: axis(grid[key], key, folder) for key in REAL_AXES if key in grid}
    for key in INDICES:
        arguments[key] = axis(grid[key], key, folder, arguments["wavelength"])
    if "moments" in grid:
        if not isinstance(grid["moments"], int) or isinstance(grid["moments"], bool) or grid["moments"] < 0:
            raise GridError(f"moments: expected a whole number of at least 0, found {grid['moments']!r}")
        arguments["moments"] = grid["moments"]
    if "length_unit" in grid:
        if not isinstance(grid["length_unit"], str):
            raise GridError(f"length_unit: expected a string such as \"nm\", found {grid['length_unit']!r}")
        arguments["length_unit"] = grid["length_unit"]
    if "chunks" in grid:
        if not isinstance(grid["chunks"], dict):
            raise GridError(f"chunks: expected a table of dimension = chunk size, found {grid['chunks']!r}")
        arguments["chunks"] = grid["chunks"]
    return arguments


def compute_and_write(table, path, scheduler, workers):
    """Computes the table with a progress bar and writes it to path."""
    if scheduler is None and workers is None:
        from dask.diagnostics import ProgressBar
        write = table.to_netcdf(path, engine="netcdf4", compute=False)
        with ProgressBar():
            write.compute()
        return
    from distributed import Client, LocalCluster, progress
    cluster = None if workers is None else LocalCluster(n_workers=workers, threads_per_worker=1,
                                                        dashboard_address=None)
    try:
        with Client(cluster if cluster is not None else scheduler) as client:
            # Gathered here and written here: a remote worker cannot reach this file.
            table = client.persist(table)
            progress(table)
            print()
            table.compute().to_netcdf(path, engine="netcdf4")
    finally:
        if cluster is not None:
            cluster.close()


def stop_on_sigterm(signal_number, frame):
    raise SystemExit(128 + signal_number)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Compute a lookup table of coated spheres over the grid of a TOML "
                                                 "file and write it as netCDF.")
    parser.add_argument("grid", type=Path, help="the grid, a TOML file")
    parser.add_argument("out", type=Path, help="the netCDF file to write")
    cluster = parser.add_mutually_exclusive_group()
    cluster.add_argument("--scheduler", metavar="ADDRESS", help="address of a running dask.distributed scheduler, "
                                                                "such as tcp://host:8786")
    cluster.add_argument("--workers", metavar="K", type=int, help="compute on a local cluster of K worker processes")
    args = parser.parse_args(argv)
    if args.workers is not None and args.workers < 1:
        parser.error(f"--workers must be at least 1, found {args.workers}")

    coatedmie = import_coatedmie()
    try:
        for module in ("xarray", "dask", "netCDF4") + (("distributed",) if args.scheduler or args.workers else ()):
            importlib.import_module(module)
    except ImportError as error:
        print(f"{parser.prog}: {error}; install Debian's python3-xarray python3-dask python3-netcdf4 "
              "(and python3-distributed for --scheduler and --workers)", file=sys.stderr)
        return 2
    try:
        table = coatedmie.lookup_table(**read_grid(args.grid))
    except (GridError, TypeError, ValueError) as error:
        print(f"{parser.prog}: {error}", file=sys.stderr)
        return 2

    signal.signal(signal.SIGTERM, stop_on_sigterm)
    try:
        descriptor, temporary = tempfile.mkstemp(prefix=f".{args.out.name}.", suffix=".part", dir=args.out.parent)
    except OSError as error:
        print(f"{parser.prog}: cannot write in the folder of {args.out}: {error.strerror}", file=sys.stderr)
        return 1
    os.close(descriptor)
    try:
        compute_and_write(table, temporary, args.scheduler, args.workers)
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)  # mkstemp's 0600 is for the temporary only
        os.replace(temporary, args.out)
    except BaseException as error:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        if not isinstance(error, Exception):
            raise
        print(f"{parser.prog}: the run failed, {args.out} is not written: {type(error).__name__}: {error}",
              file=sys.stderr)
        return 1
    points = math.prod(table.Qext.shape)
    print(f"wrote {args.out}: {points} particles over {dict(table.Qext.sizes)}, "
          f"{table.attrs['invalid_points']} of them invalid (NaN)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
