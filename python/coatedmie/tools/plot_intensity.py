"""Plot the angular table of a coatedmie run.

Reads Mie_Coated_TA.txt (and, when it stands next to it, Header_Coated_TA.txt
for the title) and writes a PNG of I1, I2 and Itotal against the scattering
angle on a logarithmic intensity axis; with --polar another panel shows the
same pattern in polar form, mirrored about the direction of incidence; with
--mueller another shows the degree of linear polarisation -S12/S11 of the
Mueller matrix, which is (I1 - I2)/(I1 + I2).

    coatedmie-plot-intensity [--polar] [--mueller] [-o plot.png] [Mie_Coated_TA.txt]

Needs matplotlib (Debian: python3-matplotlib). Runs headless.
"""

import argparse
import math
import os
import re
import sys

PROG = "coatedmie-plot-intensity"
TABLE_NAME = "Mie_Coated_TA.txt"
HEADER_NAME = "Header_Coated_TA.txt"
COLUMNS = ("Angle(Deg)", "I1", "I2", "Itotal")


class TableError(Exception):
    pass


def parse_number(text):
    """Numbers as the program prints them; the 1.#INF/1.#IND markers become
    infinities and NaN."""
    if "#" in text:
        if "INF" in text:
            return -math.inf if text.startswith("-") else math.inf
        return math.nan
    return float(text)


def read_table(path):
    with open(path, "r", encoding="ascii", newline="") as f:
        lines = f.read().split("\r\n")
    if not lines or tuple(lines[0].split("\t")) != COLUMNS:
        raise TableError(f"{path}: not an angular table (first line should be "
                         f"{chr(9).join(COLUMNS)!r})")
    angle, i1, i2, total = [], [], [], []
    for number, line in enumerate(lines[1:], start=2):
        if not line:
            continue
        fields = line.split("\t")
        if len(fields) != 4:
            raise TableError(f"{path}: line {number}: expected 4 fields, found {len(fields)}")
        try:
            values = [parse_number(field) for field in fields]
        except ValueError:
            raise TableError(f"{path}: line {number}: not a number: {line!r}") from None
        for column, value in zip((angle, i1, i2, total), values):
            column.append(value)
    if not angle:
        raise TableError(f"{path}: the table has no angles")
    return angle, i1, i2, total


def read_title(table_path):
    """A title from the header file next to the table, if there is one."""
    header = os.path.join(os.path.dirname(os.path.abspath(table_path)), HEADER_NAME)
    try:
        with open(header, "r", encoding="ascii", newline="") as f:
            text = f.read()
    except OSError:
        return "Coated sphere"
    layers = re.findall(r"(Alpha\d)=(\S+)\tRefractive index_m\d=\((\S+), (\S+)\)", text)
    if len(layers) != 2:
        return "Coated sphere"
    # The layer with the larger size parameter is the shell; on a tie, the first.
    first, second = layers
    shell, core = (second, first) if float(first[1]) < float(second[1]) else (first, second)

    def describe(layer):
        _, size, real, imaginary = layer
        return (f"x = {float(size):g}, m = {float(real):g} {'-' if float(imaginary) < 0 else '+'} "
                f"{abs(float(imaginary)):g}i")

    if shell[2:] == core[2:]:
        # One index for both layers: a homogeneous sphere of the outer size.
        title = "Homogeneous sphere: " + describe(shell)
    elif shell[1] == core[1]:
        # A shell of zero thickness: a homogeneous sphere of the core's index.
        title = "Homogeneous sphere: " + describe(core)
    else:
        title = f"Coated sphere: shell {describe(shell)}; core {describe(core)}"
    efficiencies = re.search(r"Kext=(\S+), Ksca=(\S+), Kabs=(\S+)", text)
    if efficiencies:
        title += "\nKext = {}   Ksca = {}   Kabs = {}".format(*efficiencies.groups())
    return title


def positive(values):
    """Log axes cannot show zeros; leave gaps there instead."""
    return [v if v > 0 else math.nan for v in values]


def linear_polarisation(i1, i2):
    """-S12/S11 = (|S1|^2 - |S2|^2)/(|S1|^2 + |S2|^2): positive where the
    scattered light is polarised perpendicular to the scattering plane."""
    return [(a - b) / (a + b) if a + b > 0 and math.isfinite(a + b) else math.nan for a, b in zip(i1, i2)]


def angle_axis(ax, angle):
    ax.set_xlabel("Scattering angle θ (degrees)")
    low, high = min(angle), max(angle)
    if low < high:
        ax.set_xlim(low, high)
    if low >= 0 and high <= 180 and high - low >= 90:
        ax.set_xticks([t for t in range(0, 181, 30) if low <= t <= high])


def plot(table_path, output_path, polar, mueller=False):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    angle, i1, i2, total = read_table(table_path)
    series = (("I1 = |S1|² (perpendicular)", i1, "tab:blue", "-"),
              ("I2 = |S2|² (parallel)", i2, "tab:orange", "-"),
              ("Itotal = I1 + I2", total, "black", "--"))

    panels = 1 + polar + mueller
    fig = plt.figure(figsize=(8 if panels == 1 else 6.5 * panels, 5.5))
    ax = fig.add_subplot(1, panels, 1)
    for label, values, colour, style in series:
        ax.plot(angle, positive(values), style, color=colour, label=label, linewidth=1.2)
    ax.set_yscale("log")
    ax.set_ylabel("Intensity (dimensionless, unnormalised |S|²)")
    angle_axis(ax, angle)
    ax.grid(True, which="major", alpha=0.4)
    ax.grid(True, which="minor", alpha=0.15)
    ax.legend(loc="best")

    if mueller:
        max_ = fig.add_subplot(1, panels, 2)
        max_.plot(angle, linear_polarisation(i1, i2), color="tab:green", linewidth=1.2)
        max_.axhline(0.0, color="grey", linewidth=0.8)
        max_.set_ylim(-1.05, 1.05)
        max_.set_ylabel("−S12/S11 = (I1 − I2)/(I1 + I2)")
        angle_axis(max_, angle)
        max_.grid(True, alpha=0.4)
        max_.set_title("Degree of linear polarisation (> 0: perpendicular to the scattering plane)",
                       fontsize=9)

    if polar:
        pax = fig.add_subplot(1, panels, panels, projection="polar")
        finite = [v for _, values, _, _ in series for v in values if v > 0 and math.isfinite(v)]
        floor = math.log10(min(finite)) if finite else 0.0
        for label, values, colour, style in series:
            radius = [math.log10(v) - floor if v > 0 and math.isfinite(v) else math.nan
                      for v in values]
            theta = [math.radians(a) for a in angle]
            line, = pax.plot(theta, radius, style, color=colour, linewidth=1.0, label=label)
            # The pattern is symmetric about the direction of incidence.
            pax.plot([-t for t in theta], radius, style, color=line.get_color(), linewidth=1.0)
        pax.set_theta_zero_location("E")
        # The lower half mirrors the upper one: label both with the scattering angle.
        pax.set_thetagrids(range(0, 360, 45), [f"{min(a, 360 - a)}°" for a in range(0, 360, 45)])
        pax.set_title(f"radius: log10(I) {'+' if floor <= 0 else '-'} {abs(floor):.1f} "
                      "(0 at the smallest intensity);\n"
                      "light travels to the right: θ = 0° is forward",
                      fontsize=9, pad=14)
        pax.set_xlabel("Scattering angle θ (degrees)")

    fig.suptitle(read_title(table_path), fontsize=10)
    fig.tight_layout()
    fig.savefig(output_path, dpi=120)
    plt.close(fig)


def main(argv=None):
    parser = argparse.ArgumentParser(prog=PROG, description="Plot I1, I2 and Itotal of a coatedmie angular table.")
    parser.add_argument("table", nargs="?", default=TABLE_NAME,
                        help=f"the angular table (default: {TABLE_NAME})")
    parser.add_argument("-o", "--output", default="Mie_Coated_TA.png",
                        help="PNG file to write (default: Mie_Coated_TA.png)")
    parser.add_argument("--polar", action="store_true",
                        help="add a polar view of the pattern")
    parser.add_argument("--mueller", action="store_true",
                        help="add the degree of linear polarisation -S12/S11 against the angle")
    args = parser.parse_args(argv)
    try:
        plot(args.table, args.output, args.polar, args.mueller)
    except (OSError, TableError) as error:
        print(f"{PROG}: {error}", file=sys.stderr)
        return 1
    except ImportError as error:
        print(f"{PROG}: {error}; install matplotlib (Debian: python3-matplotlib)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
