"""Compute a lookup table of coated spheres over the grid of a TOML file and write it as netCDF.

    coatedmie-lookup-table GRID.toml OUT.nc [--scheduler ADDRESS | --workers K]

GRID.toml has one key per argument of coatedmie.lookup_table: m_core, m_shell, wavelength, d_core, d_shell
(required), n_medium, angles, moments, and optionally length_unit (such as "nm") and chunks (a table of dimension =
chunk size or "auto"). A value is a number, a list (a dimension named after its key), or a range table
{start = .., stop = .., num = .., spacing = "linear" | "log"} (both ends included). An index may be complex,
written as a string in Python's form, "1.75+0.44j", or a table {csv = "file.csv"} that coatedmie.read_index_table
reads (against wavelength or photon energy, the unit in its header; without one, in the grid's unit), interpolated
linearly onto the wavelength axis, which must lie within the table's range. Indices are n + ik; a grid whose
indices all have k <= 0 is read in the n - ik convention. Relative paths start from the grid file's folder.
Example:

    length_unit = "nm"
    m_core = {csv = "soot.csv"}
    m_shell = "1.55+0.001j"
    wavelength = {start = 350, stop = 1050, num = 15}
    d_core = [50, 100, 150]
    d_shell = {start = 100, stop = 1000, num = 40, spacing = "log"}
    angles = {start = 0, stop = 180, num = 181}

The table is computed by Dask's threads in this process, by a local cluster of K worker processes (--workers), or
by the workers of a running dask.distributed scheduler (--scheduler tcp://host:8786, results gathered here). It
shows its progress as a bar on a terminal, otherwise as a line at every tenth of the work. The file is written under
a temporary name in OUT.nc's folder and renamed to OUT.nc once complete, so a run that fails or is stopped (SIGINT,
SIGTERM) leaves no partial OUT.nc. Exit status 0 on success, 2 for a grid it cannot compute (one line saying why),
1 for a failed run, 128 + the signal's number for a stopped one.

Needs Debian's python3-xarray python3-dask python3-netcdf4, and python3-distributed for --scheduler and --workers.
"""

import argparse
import contextlib
import errno
import importlib
import math
import os
import shutil
import signal
import sys
import tempfile
import tomllib
from pathlib import Path

import numpy as np

import coatedmie
from coatedmie import _engine
from coatedmie._description import CORE_SHELL_NAMES, LENGTH_UNITS, refusal

PROG = "coatedmie-lookup-table"
INDICES = ("m_core", "m_shell")
REAL_AXES = ("wavelength", "d_core", "d_shell", "n_medium", "angles")
REQUIRED = ("m_core", "m_shell", "wavelength", "d_core", "d_shell")
OPTIONAL = ("n_medium", "angles", "moments", "length_unit", "chunks")
RANGE_KEYS = {"start", "stop", "num", "spacing"}
# Doubles per point of the grid: core_shell's twelve quantities, five per angle, one per moment.
PER_POINT, PER_ANGLE = 12, 5


class GridError(ValueError):
    pass


class Stopped(BaseException):
    def __init__(self, signal_number):
        super().__init__(signal_number)
        self.signal_number = signal_number


def stop(signal_number, frame):
    _engine._stop_array_calls()  # the engine calls running in Dask's threads
    raise Stopped(signal_number)


def machine_memory():
    return os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")


def size_text(count):
    for unit, scale in (("TiB", 2**40), ("GiB", 2**30), ("MiB", 2**20), ("KiB", 2**10)):
        if count >= scale:
            return f"{count / scale:.1f} {unit}"
    return f"{count} bytes"


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


def range_length(table, key):
    if not {"start", "stop", "num"} <= set(table) <= RANGE_KEYS:
        raise GridError(f"{key}: a range table has the keys start, stop, num and optionally spacing, found "
                        f"{sorted(table)}")
    num = table["num"]
    if not isinstance(num, int) or isinstance(num, bool) or num < 1:
        raise GridError(f"{key}: num must be a whole number of at least 1, found {num!r}")
    return num


def range_values(table, key):
    start, stop_, num = number(table["start"], key, False), number(table["stop"], key, False), table["num"]
    spacing = table.get("spacing", "linear")
    if spacing == "linear":
        return np.linspace(start, stop_, num)
    if spacing == "log":
        if not (start > 0 and stop_ > 0):
            raise GridError(f"{key}: a log range needs start and stop greater than 0, found {start} and {stop_}")
        return np.geomspace(start, stop_, num)
    raise GridError(f"{key}: spacing must be \"linear\" or \"log\", found {spacing!r}")


def axis_length(value, key):
    """Points along the key's dimension, counted before anything is allocated; 1 for a number."""
    if isinstance(value, dict) and not (key in INDICES and set(value) == {"csv"}):
        return range_length(value, key)
    if isinstance(value, list):
        if not value:
            raise GridError(f"{key}: an empty list")
        return len(value)
    return 1


def index_from_csv(path, key, wavelength, length_unit):
    try:
        table = coatedmie.read_index_table(path)
    except OSError as error:
        raise GridError(f"{key}: cannot read {path}: {error.strerror}") from None
    except ValueError as error:
        raise GridError(f"{key}: {error}") from None
    if table.unit is not None and length_unit is None:
        raise GridError(f"{key}: {path} gives its wavelengths in {table.unit if table.unit != 'nm' else 'nm (or eV)'};"
                        " set length_unit, such as \"nm\", to say the grid's")
    if table.unit is not None and length_unit not in LENGTH_UNITS:
        raise GridError(f"{key}: {path} is in {table.unit}, which cannot be converted to length_unit "
                        f"{length_unit!r}; use one of {', '.join(LENGTH_UNITS)}")
    try:
        index = table(wavelength, length_unit if table.unit is not None else None)
    except ValueError as error:
        raise GridError(f"{key}: {error}") from None
    if np.ndim(wavelength) == 0:
        return index
    import xarray
    return xarray.DataArray(index, dims="wavelength")


def axis(value, key, folder, wavelength=None, length_unit=None):
    if isinstance(value, dict):
        if key in INDICES and set(value) == {"csv"}:
            return index_from_csv(folder / value["csv"], key, wavelength, length_unit)
        return range_values(value, key)
    if isinstance(value, list):
        return np.array([number(item, key, key in INDICES) for item in value])
    return number(value, key, key in INDICES)


def conventional_indices(arguments):
    """The indices as n + ik: a grid whose indices all have k <= 0 is in the n - ik convention."""
    imaginary = {key: np.imag(np.asarray(arguments[key])) for key in INDICES}
    if not any(np.any(parts < 0) for parts in imaginary.values()):
        return
    if any(np.any(parts > 0) for parts in imaginary.values()):
        negative, positive = (next(key for key in INDICES if np.any(imaginary[key] < 0)),
                              next(key for key in INDICES if np.any(imaginary[key] > 0)))
        raise GridError(f"{negative} has k < 0 and {positive} k > 0: write both indices as n + ik with k >= 0 for "
                        "absorption (or both as n - ik)")
    for key in INDICES:
        arguments[key] = np.conjugate(arguments[key])


def read_grid(path, capacity):
    """The keyword arguments of coatedmie.lookup_table that the grid file describes, refused when the table would
    take more than capacity = (bytes, where)."""
    try:
        with open(path, "rb") as f:
            grid = tomllib.load(f)
    except OSError as error:
        raise GridError(f"cannot read {path}: {error.strerror}") from None
    except (tomllib.TOMLDecodeError, UnicodeDecodeError) as error:
        raise GridError(f"{path}: not a TOML grid: {error}") from None
    unknown = sorted(set(grid) - set(REQUIRED) - set(OPTIONAL))
    missing = [key for key in REQUIRED if key not in grid]
    if unknown or missing:
        raise GridError(f"{path}: " + "; ".join(
            ([f"unknown keys {unknown}, expected those of {REQUIRED + OPTIONAL}"] if unknown else []) +
            ([f"missing keys {missing}"] if missing else [])))
    if "moments" in grid and (not isinstance(grid["moments"], int) or isinstance(grid["moments"], bool) or
                              grid["moments"] < 0):
        raise GridError(f"moments: expected a whole number of at least 0, found {grid['moments']!r}")
    if "length_unit" in grid and not isinstance(grid["length_unit"], str):
        raise GridError(f"length_unit: expected a string such as \"nm\", found {grid['length_unit']!r}")
    if "chunks" in grid and not isinstance(grid["chunks"], dict):
        raise GridError(f"chunks: expected a table of dimension = chunk size, found {grid['chunks']!r}")

    lengths = {key: axis_length(grid[key], key) for key in REQUIRED + ("n_medium", "angles") if key in grid}
    points = math.prod(length for key, length in lengths.items() if key != "angles")
    doubles = PER_POINT + PER_ANGLE * lengths.get("angles", 0) + grid.get("moments", 0)
    if points * doubles * 8 > capacity[0]:
        sizes = " x ".join(f"{key} {length}" for key, length in lengths.items() if length > 1)
        raise GridError(f"too many points: {sizes}, a table of {size_text(points * doubles * 8)}, more than the "
                        f"{size_text(capacity[0])} {capacity[1]}")

    folder = Path(path).parent
    length_unit = grid.get("length_unit")
    arguments = {key: axis(grid[key], key, folder) for key in REAL_AXES if key in grid}
    for key in INDICES:
        arguments[key] = axis(grid[key], key, folder, arguments["wavelength"], length_unit)
    conventional_indices(arguments)
    arguments.update({key: grid[key] for key in ("moments", "length_unit", "chunks") if key in grid})
    return arguments


def first_point_refusal(arguments):
    """Why the first point of the grid is refused, in the grid's words."""
    first = {key: (complex if key in INDICES else float)(np.ravel(np.asarray(arguments.get(key, 1.0)))[0])
             for key in CORE_SHELL_NAMES}
    return refusal(first) or "refused"


class TextProgress:
    """Progress of a computation: a bar redrawn on a terminal, else a line at every tenth."""

    def __init__(self, stream=sys.stdout):
        self.stream, self.drawing, self.shown = stream, stream.isatty(), -1

    def update(self, done, total):
        fraction = done / total if total else 1.0
        if self.drawing:
            filled = int(40 * fraction)
            self.stream.write(f"\r[{'#' * filled}{' ' * (40 - filled)}] {100 * fraction:3.0f}%")
        elif int(10 * fraction) > self.shown:
            self.shown = int(10 * fraction)
            self.stream.write(f"computed {10 * self.shown}%\n")
        self.stream.flush()

    def end(self):
        if self.drawing:
            self.stream.write("\n")
            self.stream.flush()


def compute_and_write(table, path, scheduler, workers, progress):
    """Computes the table, showing its progress, and writes it to path."""
    if scheduler is None and workers is None:
        from dask.callbacks import Callback

        def posttask(key, result, dsk, state, worker_id):
            done = len(state["finished"])
            progress.update(done, done + sum(len(state[k]) for k in ("ready", "waiting", "running")))

        write = table.to_netcdf(path, engine="netcdf4", compute=False)
        try:
            with Callback(posttask=posttask):
                write.compute()
        finally:
            progress.end()
        return
    from distributed import Client, LocalCluster, as_completed, futures_of
    cluster = None if workers is None else LocalCluster(n_workers=workers, threads_per_worker=1,
                                                        dashboard_address=None)
    try:
        with Client(cluster if cluster is not None else scheduler) as client:
            # Gathered here and written here: a remote worker cannot reach this file.
            table = client.persist(table)
            futures = futures_of(table)
            try:
                for done, _ in enumerate(as_completed(futures), 1):
                    progress.update(done, len(futures))
            finally:
                progress.end()
            table.compute().to_netcdf(path, engine="netcdf4")
    except Stopped:
        if cluster is not None:
            # Its workers would finish their tasks before they close: ended
            # now, they leave the cluster nothing to wait for.
            import psutil
            for child in psutil.Process().children(recursive=True):
                with contextlib.suppress(psutil.NoSuchProcess):
                    child.kill()
        raise
    finally:
        if cluster is not None:
            cluster.close()


@contextlib.contextmanager
def stderr_held():
    """Holds what is written to the file descriptor 2 (HDF5's diagnostics among it) in a file; yields that file,
    and gives its content back to stderr when the block ends without an exception."""
    sys.stderr.flush()
    saved = os.dup(2)
    try:
        with tempfile.TemporaryFile() as held:
            os.dup2(held.fileno(), 2)
            try:
                yield held
            finally:
                sys.stderr.flush()
                os.dup2(saved, 2)
            held.seek(0)
            os.write(2, held.read())
    finally:
        os.close(saved)


def no_space_left(error, held):
    """Whether the run failed for want of space on the disk."""
    while error is not None:
        if isinstance(error, OSError) and error.errno == errno.ENOSPC or "No space left" in str(error):
            return True
        error = error.__cause__ or error.__context__
    held.seek(0)
    return b"No space left" in held.read()


def main(argv=None):
    parser = argparse.ArgumentParser(prog=PROG, description=__doc__.split("\n\n")[0],
                                     epilog="The grid file's keys are described in the manual and in "
                                            "python3 -m pydoc coatedmie.tools.lookup_table.")
    parser.add_argument("grid", type=Path, help="the grid, a TOML file")
    parser.add_argument("out", type=Path, help="the netCDF file to write")
    cluster = parser.add_mutually_exclusive_group()
    cluster.add_argument("--scheduler", metavar="ADDRESS", help="address of a running dask.distributed scheduler, "
                                                                "such as tcp://host:8786")
    cluster.add_argument("--workers", metavar="K", type=int, help="compute on a local cluster of K worker processes")
    args = parser.parse_args(argv)
    if args.workers is not None and args.workers < 1:
        parser.error(f"--workers must be at least 1, found {args.workers}")

    try:
        for module in ("xarray", "dask", "netCDF4") + (("distributed",) if args.scheduler or args.workers else ()):
            importlib.import_module(module)
    except ImportError as error:
        print(f"{PROG}: {error}; install Debian's python3-xarray python3-dask python3-netcdf4 "
              "(and python3-distributed for --scheduler and --workers)", file=sys.stderr)
        return 2
    handlers = {number: signal.signal(number, stop) for number in (signal.SIGINT, signal.SIGTERM)}
    try:
        return run(args)
    except Stopped as stopped:
        print(f"{PROG}: stopped by {signal.Signals(stopped.signal_number).name}; {args.out} is not written",
              file=sys.stderr)
        return 128 + stopped.signal_number
    finally:
        for number, handler in handlers.items():
            signal.signal(number, handler)


def run(args):
    folder = args.out.parent if str(args.out.parent) else Path(".")
    try:
        free = shutil.disk_usage(folder).free
    except OSError as error:
        print(f"{PROG}: cannot write in the folder of {args.out}: {error.strerror}", file=sys.stderr)
        return 1
    gathered = args.scheduler is not None or args.workers is not None
    capacity = (free, f"free on the disk that holds {args.out}")
    if gathered and machine_memory() < free:
        capacity = (machine_memory(), "of memory of this machine, where the table is gathered")
    try:
        arguments = read_grid(args.grid, capacity)
        table = coatedmie.lookup_table(**arguments)
    except (GridError, TypeError, ValueError) as error:
        print(f"{PROG}: {error}", file=sys.stderr)
        return 2
    points = math.prod(table.Qext.shape)
    if points and table.attrs["invalid_points"] == points:
        print(f"{PROG}: every point of the grid is refused; the first: {first_point_refusal(arguments)}",
              file=sys.stderr)
        return 2

    try:
        descriptor, temporary = tempfile.mkstemp(prefix=f".{args.out.name}.", suffix=".part", dir=folder)
    except OSError as error:
        print(f"{PROG}: cannot write in the folder of {args.out}: {error.strerror}", file=sys.stderr)
        return 1
    os.close(descriptor)
    try:
        with stderr_held() as held:
            try:
                compute_and_write(table, temporary, args.scheduler, args.workers, TextProgress())
            except Exception as error:
                failure = "no space left on the disk" if no_space_left(error, held) else \
                    f"{type(error).__name__}: {error}".splitlines()[0]
                raise RuntimeError(failure) from None
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)  # mkstemp's 0600 is for the temporary only
        os.replace(temporary, args.out)
    except BaseException as error:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        if not isinstance(error, Exception):
            raise
        print(f"{PROG}: the run failed, {args.out} is not written: {error}", file=sys.stderr)
        return 1
    print(f"wrote {args.out}: {points} particles over {dict(table.Qext.sizes)}, "
          f"{table.attrs['invalid_points']} of them invalid (NaN)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
