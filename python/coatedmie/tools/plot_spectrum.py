"""Plot the extinction, scattering and absorption spectrum of a coated sphere whose shell index is tabulated; by
default a gold nanoshell: a silica core (n = 1.45) 120 nm across in a gold shell of 150 nm outer diameter, in water
(n = 1.33), from 400 to 980 nm.

Gold's index is the bundled table of Johnson and Christy (1972) against photon energy, interpolated linearly in
wavelength; the spectrum must stay within the table, 397 to 984 nm. These are bulk values: in a shell 15 nm thick
the electrons' collisions with its surfaces broaden the plasmon further, which the figure leaves out. Any table
coatedmie.read_index_table reads will do (a table whose header names no unit is taken in nm).

    coatedmie-plot-spectrum [-o gold_nanoshell.png] [--core 120] [--shell 150] [--core-index 1.45]
        [--medium 1.33] [--shell-table TABLE.csv] [--shell-name gold] [--table-label "Johnson & Christy (1972)"]
        [--from 400] [--to 980]

Needs matplotlib (Debian: python3-matplotlib). Runs headless.
"""

import argparse
import sys

import numpy as np

import coatedmie
from coatedmie.index_tables import GOLD_JOHNSON_CHRISTY, LENGTH_UNITS

PROG = "coatedmie-plot-spectrum"


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

    table_nm = table.wavelength * (LENGTH_UNITS[table.unit] / 1e-9 if table.unit else 1.0)
    inside = (table_nm >= wavelength[0]) & (table_nm <= wavelength[-1])
    shell_index = table(wavelength, "nm")
    bottom.plot(wavelength, shell_index.real, "C1-", label="n")
    bottom.plot(wavelength, shell_index.imag, "C2-", label="k")
    bottom.plot(np.r_[table_nm[inside], table_nm[inside]], np.r_[table.n[inside], table.k[inside]], "ko", ms=3.5,
                label=options.table_label)
    bottom.set_ylabel(f"{options.shell_name.capitalize()}'s index n + ik")
    bottom.set_xlabel("Vacuum wavelength λ (nm)")
    bottom.set_xlim(wavelength[0], wavelength[-1])
    bottom.legend(loc="upper left", ncols=3)
    bottom.grid(alpha=0.3)
    figure.savefig(path, dpi=110)
    plt.close(figure)


def main(argv=None):
    parser = argparse.ArgumentParser(prog=PROG, description=__doc__.split("\n\n")[0])
    parser.add_argument("-o", "--output", default="gold_nanoshell.png", help="PNG to write")
    parser.add_argument("--core", type=float, default=120.0, help="core diameter in nm")
    parser.add_argument("--shell", type=float, default=150.0, help="outer diameter in nm")
    parser.add_argument("--core-index", type=float, default=1.45, help="real index of the core")
    parser.add_argument("--medium", type=float, default=1.33, help="index of the medium")
    parser.add_argument("--shell-table", default=GOLD_JOHNSON_CHRISTY,
                        help="the shell's index n, k against wavelength or photon energy (default: the bundled gold)")
    parser.add_argument("--shell-name", default="gold", help="the shell's material, for the labels")
    parser.add_argument("--table-label", default="Johnson & Christy (1972)", help="the table's source, for the legend")
    parser.add_argument("--from", dest="start", type=float, default=400.0, help="first wavelength in nm")
    parser.add_argument("--to", dest="end", type=float, default=980.0, help="last wavelength in nm")
    options = parser.parse_args(argv)
    wavelength = np.linspace(options.start, options.end, 581)
    try:
        table = coatedmie.read_index_table(options.shell_table)
        efficiencies = coatedmie.core_shell(options.core_index, table(wavelength, "nm"), wavelength, options.core,
                                            options.shell, options.medium)
        plot(options.output, wavelength, efficiencies, table, options)
    except (OSError, ValueError) as problem:
        print(f"{PROG}: {problem}", file=sys.stderr)
        return 1
    except ImportError as error:
        print(f"{PROG}: {error}; install matplotlib (Debian: python3-matplotlib)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
