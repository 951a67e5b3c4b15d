"""Tabulated refractive indices: one reader for tables against vacuum wavelength or photon energy, the unit taken
from the header, and linear interpolation in wavelength."""

import math
import pathlib
import re

import numpy as np

from ._description import LENGTH_UNITS, real

# h c / e in eV nm, exact since the SI of 2019: the vacuum wavelength of a photon of 1 eV.
ELECTRONVOLT_NANOMETRES = 6.62607015e-34 * 299792458 / 1.602176634e-19 * 1e9

# The bundled tables.
GOLD_JOHNSON_CHRISTY = pathlib.Path(__file__).resolve().parent / "data" / "gold_johnson_christy.csv"

_FIRST_COLUMN = re.compile(r"(wavelength|energy)(?:\s*[_(\[]\s*([^)\]\s]+)\s*[)\]]?)?", re.IGNORECASE)


class IndexTable:
    """A complex refractive index n + ik tabulated against vacuum wavelength, in increasing wavelength.

    Calling it interpolates n and k linearly in wavelength. Made by `read_index_table`.

    Attributes
    ----------
    wavelength : ndarray
        Vacuum wavelengths, increasing, in `unit`.
    n, k : ndarray
        Real and imaginary parts of the index at each wavelength, k >= 0.
    unit : str or None
        The unit of the wavelengths ("nm" for a table of photon energies), None for a table whose header names
        none.
    source : str
        Where the table was read from.
    """

    def __init__(self, wavelength, n, k, unit, source):
        self.wavelength, self.n, self.k, self.unit, self.source = wavelength, n, k, unit, source

    def __repr__(self):
        unit = f" {self.unit}" if self.unit else ""
        return f"<IndexTable {self.source}: {self.wavelength.size} rows, {self.wavelength[0]:g} to " \
               f"{self.wavelength[-1]:g}{unit}>"

    def __call__(self, wavelength, length_unit=None):
        """n + ik at the given vacuum wavelengths, linear in wavelength between the table's.

        Parameters
        ----------
        wavelength : float or array_like
            Vacuum wavelengths, within the table's range.
        length_unit : str, optional
            Their unit, one of nm, um, µm, mm, cm, m; default the table's.

        Returns
        -------
        complex or ndarray of complex128

        Raises
        ------
        ValueError
            A wavelength beyond the table, or a unit that cannot be converted to the table's.
        """
        scale = 1.0
        if length_unit is not None and self.unit is not None and length_unit != self.unit:
            if length_unit not in LENGTH_UNITS:
                raise ValueError(f"length_unit must be one of {', '.join(LENGTH_UNITS)}, found {length_unit!r}")
            scale = LENGTH_UNITS[length_unit] / LENGTH_UNITS[self.unit]
        wavelength = real(wavelength, "wavelength") * scale
        low, high = self.wavelength[0], self.wavelength[-1]
        if not np.all((wavelength >= low) & (wavelength <= high)):
            unit, given_unit = f" {self.unit}" if self.unit else "", f" {length_unit or self.unit or ''}".rstrip()
            asked = f"the wavelength {wavelength.item() / scale!r}{given_unit} lies" if wavelength.size == 1 else \
                f"the wavelengths {np.min(wavelength) / scale!r} to {np.max(wavelength) / scale!r}{given_unit} reach"
            raise ValueError(f"{asked} beyond {self.source}'s range, {low:g} to {high:g}{unit}")
        index = np.interp(wavelength, self.wavelength, self.n) + 1j * np.interp(wavelength, self.wavelength, self.k)
        return complex(index) if index.ndim == 0 else index


def _header(text, path, line_number):
    """(energy?, unit) from a header line of three column names."""
    names = [name.strip() for name in text.split(",")]
    first = _FIRST_COLUMN.fullmatch(names[0]) if names else None
    if len(names) != 3 or not first or [name.lower() for name in names[1:]] != ["n", "k"]:
        raise ValueError(f"{path}:{line_number}: expected the columns wavelength or photon energy with its unit, n "
                         f"and k, such as \"wavelength_nm,n,k\", \"wavelength_um,n,k\" or \"energy_eV,n,k\", "
                         f"found {text!r}")
    quantity, unit = first.group(1).lower(), first.group(2)
    if quantity == "energy":
        if unit is None or unit.lower() != "ev":
            raise ValueError(f"{path}:{line_number}: photon energy must be in eV (energy_eV), found {names[0]!r}")
        return True, "eV"
    if unit is not None and unit not in LENGTH_UNITS:
        raise ValueError(f"{path}:{line_number}: the wavelength's unit must be one of {', '.join(LENGTH_UNITS)}, "
                         f"found {unit!r}")
    return False, "um" if unit == "µm" else unit


def read_index_table(path):
    """Reads a table of the complex refractive index n + ik against vacuum wavelength or photon energy.

    The table is comma-separated text: lines of three numbers, the wavelength or the photon energy, n and k, in any
    order; ``#`` starts a comment, blank lines are skipped. The first line that is not a comment may name the
    columns and the unit: ``wavelength_nm,n,k`` (or um, µm, mm, cm, m; ``wavelength (nm)`` too) or
    ``energy_eV,n,k``; without it the wavelengths are in whatever unit the caller uses. Photon energies E become
    vacuum wavelengths h c / E in nm. k is the absorbing part: a table written in the n - ik convention, every k
    at most 0, is read as n + i|k|.

    Parameters
    ----------
    path : str or os.PathLike
        The table's file; `GOLD_JOHNSON_CHRISTY` is bundled.

    Returns
    -------
    IndexTable
        The rows sorted by increasing wavelength, ready to interpolate.

    Raises
    ------
    OSError
        The file cannot be read.
    ValueError
        A file that is not such a table: not UTF-8 text, a row that is not three finite numbers, a header of other
        columns or units, fewer than two rows, a wavelength given twice, k of both signs.

    Examples
    --------
    Gold, tabulated against photon energy by Johnson and Christy (1972):

    >>> from coatedmie import read_index_table
    >>> from coatedmie.index_tables import GOLD_JOHNSON_CHRISTY
    >>> gold = read_index_table(GOLD_JOHNSON_CHRISTY)
    >>> gold.unit, round(gold.wavelength[0], 1), round(gold.wavelength[-1], 1)
    ('nm', 397.4, 984.0)
    >>> m = gold([550, 650])
    >>> m.round(3)
    array([0.424+2.472j, 0.156+3.602j])
    """
    path = pathlib.Path(path)
    data = path.read_bytes()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise ValueError(f"{path}: not a text table: byte {data[error.start]:#04x} at offset {error.start} is not "
                         "UTF-8") from None
    energy, unit, first, rows = False, None, True, []
    for line_number, line in enumerate(text.splitlines(), 1):
        content = line.split("#", 1)[0].strip()
        if not content:
            continue
        try:
            row = [float(field) for field in content.split(",")]
        except ValueError:
            if not first:
                raise ValueError(f"{path}:{line_number}: expected three numbers, found {line!r}") from None
            energy, unit = _header(content, path, line_number)
            continue
        finally:
            first = False
        if len(row) != 3 or not all(math.isfinite(v) for v in row) or not row[0] > 0:
            raise ValueError(f"{path}:{line_number}: expected three finite numbers, the first greater than 0, found "
                             f"{line!r}")
        rows.append(row)
    table = np.array(rows).reshape(-1, 3)
    wavelength = ELECTRONVOLT_NANOMETRES / table[:, 0] if energy else table[:, 0]
    order = np.argsort(wavelength)
    wavelength, n, k = wavelength[order], table[order, 1], table[order, 2]
    if len(table) < 2 or np.any(np.diff(wavelength) == 0):
        raise ValueError(f"{path}: expected rows of at least two distinct wavelengths or energies, each given once")
    if np.any(k < 0) and np.any(k > 0):
        raise ValueError(f"{path}: k changes sign; give k >= 0 for absorption (n + ik), or every k <= 0 (n - ik)")
    return IndexTable(wavelength, n, np.abs(k), "nm" if energy else unit, str(path))
