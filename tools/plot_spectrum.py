#!/usr/bin/python3
"""Plot the extinction, scattering and absorption spectrum of a coated sphere
whose shell index is tabulated against photon energy; by default a gold
nanoshell: a silica core (n = 1.45) 120 nm across in a gold shell of 150 nm
outer diameter, in water (n = 1.33), from 400 to 980 nm.

Gold's index is docs/gold_johnson_christy.csv (Johnson and Christy 1972),
interpolated linearly in wavelength; the spectrum must stay within the
table, 397 to 984 nm. These are bulk values: in a shell 15 nm thick the
electrons' collisions with its surfaces broaden the plasmon further, which
the figure leaves out.

    /usr/bin/python3 tools/plot_spectrum.py [-o docs/gold_nanoshell.png]
        [--core 120] [--shell 150] [--core-index 1.45] [--medium 1.33]
        [--shell-table docs/gold_johnson_christy.csv] [--shell-name gold]
        [--table-label "Johnson & Christy (1972)"] [--from 400] [--to 980]

Needs matplotlib (Debian: python3-matplotlib) and the coatedmie package; when
it is not installed, the build's build/release/python is used. Runs headless.
"""

import argparse
import os
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
GOLD_TABLE = os.path.join(HERE, "..", "docs", "gold_johnson_christy.csv")
PHOTON_ENERGY_TIMES_WAVELENGTH = 1239.84  # eV nm
TABLE_COLUMNS = "energy_eV,n,k"


def read_index_table(path):
    """Vacuum wavelengths in nm, increasing, and n and k from a CSV of photon
    energy in eV, n and k; lines starting with # are comments."""
    with open(path, encoding="utf-8") as f:
        lines = [line.strip() for line in f if line.strip() and not line.startswith("#")]
    if not lines or lines[0] != TABLE_COLUMNS:
        raise ValueError(f"{path}: the first line that is not a comment should be {TABLE_COLUMNS!r}")
    try:
        rows = np.array([[float(field) for field in line.split(",")] for line in lines[1:]])
    except ValueError:
        raise ValueError(f"{path}: every row should be three numbers") from None
    if rows.ndim != 2 or rows.shape[1] != 3 or len(rows) < 2:
        raise ValueError(f"{path}: expected rows of three numbers, at least two of them")
    wavelength = PHOTON_ENERGY_TIMES_WAVELENGTH / rows[:, 0]
    order = np.argsort(wavelength)
    return wavelength[order], rows[order, 1], rows[order, 2]


def interpolated_index(wavelength, table):
    """n + ik at the wavelengths, linear in wavelength between the table's."""
    table_wavelength, n, k = table
    if np.min(wavelength) < table_wavelength[0] or np.max(wavelength) > table_wavelength[-1]:
        raise ValueError(f"the wavelengths {np.min(wavelength):g} to {np.max(wavelength):g} nm leave the table's "
                         f"{table_wavelength[0]:.1f} to {table_wavelength[-1]:.1f} nm")
    return np.interp(wavelength, table_wavelength, n) + 1j * np.interp(wavelength, table_wavelength, k)


def plot(path, wavelength, efficiencies, table, options):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(8, 7.5), height_ratios=(3, 1.4),
                                         layout="constrained")
    for field, style, label in (("Qext", "k-", "extinction"), ("Qsca", "C0--", "scattering"),
                                ("Qabs", "C3-.", "absorption")):
        top.plot(wavelength, getattr(efficiencies, field), style, lw=2, label=f"{label} $Q_{{{field[1:]}}}$")
    peak = int(np.argmax(efficiencies.Qext))
    top.annotate(f"{wavelength[peak]:.0f} nm", (wavelength[peak], efficiencies.Qext[peak]), xytext=(0, 6),
                 textcoords="offset points", ha="center")
    top.set_ylabel("Efficiency Q = C / (π $d_{shell}^2$/4)")
    top.set_ylim(0, 1.1 * np.max(efficiencies.Qext))
    top.legend(loc="upper left")
    top.grid(alpha=0.3)
    top.set_title(f"Core {options.core:g} nm across (n = {options.core_index:g}) in a {options.shell_name} shell "
                  f"{options.shell:g} nm across, in a medium of n = {options.medium:g}")

    table_wavelength, n, k = table
    inside = (table_wavelength >= wavelength[0]) & (table_wavelength <= wavelength[-1])
    shell_index = interpolated_index(wavelength, table)
    bottom.plot(wavelength, shell_index.real, "C1-", label="n")
    bottom.plot(wavelength, shell_index.imag, "C2-", label="k")
    bottom.plot(np.r_[table_wavelength[inside], table_wavelength[inside]], np.r_[n[inside], k[inside]], "ko", ms=3.5,
                label=options.table_label)
    bottom.set_ylabel(f"{options.shell_name.capitalize()}'s index n + ik")
    bottom.set_xlabel("Vacuum wavelength λ (nm)")
    bottom.set_xlim(wavelength[0], wavelength[-1])
    bottom.legend(loc="upper left", ncols=3)
    bottom.grid(alpha=0.3)
    figure.savefig(path, dpi=110)
    plt.close(figure)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-o", "--output", default="gold_nanoshell.png", help="PNG to write")
    parser.add_argument("--core", type=float, default=120.0, help="core diameter in nm")
    parser.add_argument("--shell", type=float, default=150.0, help="outer diameter in nm")
    parser.add_argument("--core-index", type=float, default=1.45, help="real index of the core")
    parser.add_argument("--medium", type=float, default=1.33, help="index of the medium")
    parser.add_argument("--shell-table", default=GOLD_TABLE, help="CSV of energy_eV, n, k of the shell")
    parser.add_argument("--shell-name", default="gold", help="the shell's material, for the labels")
    parser.add_argument("--table-label", default="Johnson & Christy (1972)", help="the table's source, for the legend")
    parser.add_argument("--from", dest="start", type=float, default=400.0, help="first wavelength in nm")
    parser.add_argument("--to", dest="end", type=float, default=980.0, help="last wavelength in nm")
    options = parser.parse_args(argv)
    try:
        import coatedmie
    except ImportError:
        sys.path.insert(0, os.path.join(HERE, "..", "build", "release", "python"))
        import coatedmie
    wavelength = np.linspace(options.start, options.end, 581)
    try:
        table = read_index_table(options.shell_table)
        efficiencies = coatedmie.core_shell(options.core_index, interpolated_index(wavelength, table), wavelength,
                                            options.core, options.shell, options.medium)
    except (OSError, ValueError) as problem:
        print(f"plot_spectrum.py: {problem}", file=sys.stderr)
        return 1
    plot(options.output, wavelength, efficiencies, table, options)
    return 0


if __name__ == "__main__":
    sys.exit(main())
