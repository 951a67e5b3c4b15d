"""The refractive-index table reader: units from the header, sorted for interpolation, refusals that name the file."""

import numpy as np
import pytest

import coatedmie
from coatedmie.index_tables import ELECTRONVOLT_NANOMETRES, GOLD_JOHNSON_CHRISTY


def test_the_bundled_gold_table_in_ev_reads_as_increasing_wavelengths_in_nm():
    gold = coatedmie.read_index_table(GOLD_JOHNSON_CHRISTY)
    assert gold.unit == "nm" and np.all(np.diff(gold.wavelength) > 0)
    assert (gold.wavelength[0], gold.n[0], gold.k[-1]) == (ELECTRONVOLT_NANOMETRES / 3.12, 1.47, 6.35)
    between = (ELECTRONVOLT_NANOMETRES / 1.26 + ELECTRONVOLT_NANOMETRES / 1.39) / 2  # linear in wavelength
    assert gold(between) == pytest.approx((0.22 + 0.17 + 6.35j + 5.663j) / 2, rel=1e-14)
    assert gold(between / 1000, "um") == pytest.approx(gold(between), rel=1e-15)


@pytest.mark.parametrize("text, unit, index_at_600", [
    ("wavelength_um,n,k\n0.5,1.5,0.1\n0.7,1.7,0.3\n", "um", 1.6 + 0.2j),
    ("# no header: the caller's unit\n700, 1.7, 0.3  # comment\n500, 1.5, 0.1\n", None, 1.6 + 0.2j),
    ("wavelength (nm), n, k\n500,1.5,-0.1\n700,1.7,-0.3\n", "nm", 1.6 + 0.2j),  # n - ik
])
def test_tables_of_wavelength_in_either_order_and_convention(text, unit, index_at_600, tmp_path):
    (tmp_path / "table.csv").write_text(text)
    table = coatedmie.read_index_table(tmp_path / "table.csv")
    assert table.unit == unit
    assert table(600, "nm" if unit else None) == pytest.approx(index_at_600, rel=1e-14)


@pytest.mark.parametrize("content, message", [
    (b"\x89HDF\r\n\x1a\n\x00\x00", "not a text table: byte 0x89 at offset 0 is not UTF-8"),
    (b"frequency_THz,n,k\n500,1,2\n", "expected the columns wavelength or photon energy"),
    (b"energy_J,n,k\n1,1,2\n2,1,2\n", "photon energy must be in eV"),
    (b"wavelength_nm,n,k\n500,1\n", "table.csv:2: expected three finite numbers"),
    (b"500,1,2\n500,1.1,2\n", "at least two distinct wavelengths"),
    (b"500,1,2\n600,1,-2\n", "k changes sign"),
])
def test_what_is_no_table_is_refused_naming_the_file(content, message, tmp_path):
    (tmp_path / "table.csv").write_bytes(content)
    with pytest.raises(ValueError, match="table.csv") as raised:
        coatedmie.read_index_table(tmp_path / "table.csv")
    assert message in str(raised.value)


def test_wavelengths_beyond_the_table_are_refused():
    gold = coatedmie.read_index_table(GOLD_JOHNSON_CHRISTY)
    with pytest.raises(ValueError, match="the wavelengths 500.0 to 1000.0 nm reach beyond .*, 397.385 to 984.002 nm"):
        gold([500, 1000], "nm")
    with pytest.raises(ValueError, match="the wavelength 0.3 um lies beyond"):
        gold(0.3, "um")
