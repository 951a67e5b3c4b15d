"""The plot tools, run headless on the reference run's files, on the gold table, and on input they must refuse.
Run as test_plot_tools.py PlotIntensity or test_plot_tools.py PlotSpectrum, with the coatedmie package importable."""

import contextlib
import importlib
import io
import math
import pathlib
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]


class ToolTest(unittest.TestCase):
    name = None  # the tool's module in coatedmie.tools

    def setUp(self):
        self.dir = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory()))
        self.tool = importlib.import_module(f"coatedmie.tools.{self.name}")

    def write(self, name, text):
        (self.dir / name).write_bytes(text.encode())
        return str(self.dir / name)

    def assert_runs_and_writes_png(self, command, png, smallest):
        run = subprocess.run([sys.executable, "-m", self.tool.__name__, *command], cwd=self.dir, capture_output=True,
                             timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual((self.dir / png).read_bytes()[:8], b"\x89PNG\r\n\x1a\n")
        self.assertGreater((self.dir / png).stat().st_size, smallest)

    def assert_refused(self, arguments, message):
        with self.subTest(message=message), contextlib.redirect_stderr(io.StringIO()) as stderr:
            self.assertEqual(self.tool.main(["-o", str(self.dir / "refused.png"), *arguments]), 1)
            self.assertIn(message, stderr.getvalue())
            self.assertFalse((self.dir / "refused.png").exists())


def reference(name):
    return (ROOT / "examples" / "reference" / name).read_bytes().decode()


class PlotIntensity(ToolTest):
    name = "plot_intensity"

    def setUp(self):
        super().setUp()
        # A line of a zero and markers that a plot must survive.
        self.table = self.write("Mie_Coated_TA.txt", reference("Mie_Coated_TA.txt") +
                                "45.000000\t0.000000e+000\t1.#INF00e+000\t-1.#IND00e+000\r\n")

    def test_writes_a_png_of_either_view(self):
        self.write("Header_Coated_TA.txt", reference("Header_Coated_TA.txt"))
        # As a user runs it, with the default names in the run folder.
        self.assert_runs_and_writes_png([], "Mie_Coated_TA.png", 10000)
        self.assert_runs_and_writes_png(["--polar", "--mueller", "-o", "all.png", self.table], "all.png", 10000)

    def test_reads_the_columns_as_printed(self):
        angle, i1, i2, total = self.tool.read_table(self.table)
        self.assertEqual(angle, [0.0, 90.0, 180.0, 45.0])
        self.assertEqual((i1[0], i2[1], total[2], i1[3], i2[3]), (394.7263, 0.7590923, 3.289836, 0.0, math.inf))
        self.assertTrue(math.isnan(total[3]))

    def test_linear_polarisation_is_minus_s12_over_s11(self):
        # S11 = (I1 + I2)/2, S12 = (I2 - I1)/2; no value where I1 + I2 is 0 or not finite.
        found = self.tool.linear_polarisation([3.0, 1.0, 0.0, math.inf], [1.0, 1.0, 0.0, 1.0])
        self.assertEqual(found[:2], [0.5, 0.0])
        self.assertTrue(math.isnan(found[2]) and math.isnan(found[3]))

    def test_title_names_shell_and_core_or_the_homogeneous_sphere(self):
        cases = {  # the larger size is the shell, whichever line it stands on
            ("Alpha1=5", "Alpha1=2"): "Coated sphere: shell x = 3, m = 2 + 0.5i; core x = 2, m = 1.5 + 0.01i",
            # one index for both layers: the outer size counts
            ("(2.000000, 0.500000)", "(1.500000, 0.010000)"): "Homogeneous sphere: x = 5, m = 1.5 + 0.01i",
            # equal sizes: a shell of zero thickness around a core of the second index
            ("Alpha2=3", "Alpha2=5"): "Homogeneous sphere: x = 5, m = 2 + 0.5i",
        }
        for change, expected in cases.items():
            self.write("Header_Coated_TA.txt", reference("Header_Coated_TA.txt").replace(*change))
            self.assertTrue(self.tool.read_title(self.table).startswith(expected + "\nKext = 3.135894"), expected)

    def test_wrong_files_give_a_message_and_status_1(self):
        self.write("Parameter_in.txt", "5\t1.5\t0.01\n")
        self.write("bad.txt", "Angle(Deg)\tI1\tI2\tItotal\r\n1.0\t2.0\r\n")
        for name, message in (("Parameter_in.txt", "not an angular table"), ("missing.txt", "No such file"),
                              ("bad.txt", "line 2: expected 4 fields")):
            self.assert_refused([str(self.dir / name)], message)


class PlotSpectrum(ToolTest):
    name = "plot_spectrum"

    def test_writes_the_gold_nanoshell_png(self):
        self.assert_runs_and_writes_png(["-o", "gold.png"], "gold.png", 30000)

    def test_refuses_wavelengths_beyond_the_table_and_tables_of_other_columns(self):
        self.assert_refused(["--to", "1000"], "the wavelengths 400.0 to 1000.0 nm reach beyond")
        bad = self.write("bad.csv", "# frequencies\nfrequency_THz,n,k\n500,1,2\n600,1,2\n")
        self.assert_refused(["--shell-table", bad], "expected the columns wavelength or photon energy")


if __name__ == "__main__":
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        print("matplotlib is not installed (Debian: python3-matplotlib); skipping")
        sys.exit(77)
    unittest.main()
