"""The plot tool, run headless on hand-written tables."""

import contextlib
import importlib.util
import io
import math
import os
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "plot_intensity.py")

# The reference run's table, and a line of a zero and markers that a plot must survive.
TABLE = ("Angle(Deg)\tI1\tI2\tItotal\r\n"
         "0.000000\t3.947263e+002\t3.947263e+002\t7.894525e+002\r\n"
         "90.000000\t5.519364e+000\t7.590923e-001\t6.278456e+000\r\n"
         "180.000000\t1.644918e+000\t1.644918e+000\t3.289836e+000\r\n"
         "45.000000\t0.000000e+000\t1.#INF00e+000\t-1.#IND00e+000\r\n")
HEADER = ("Alpha1=5.000000\tRefractive index_m1=(1.500000, 0.010000)\r\n"
          "Alpha2=3.000000\tRefractive index_m2=(2.000000, 0.500000)\r\n\r\n"
          "Kext=3.135894, Ksca=2.011933, Kabs=1.123961\r\n\r\n")


def load_tool():
    loader_info = importlib.util.spec_from_file_location("plot_intensity", TOOL)
    module = importlib.util.module_from_spec(loader_info)
    loader_info.loader.exec_module(module)
    return module


class PlotIntensity(unittest.TestCase):
    def setUp(self):
        self.dir = self.enterContext(tempfile.TemporaryDirectory())
        self.tool = load_tool()
        self.table = self.write("Mie_Coated_TA.txt", TABLE)

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w", encoding="ascii", newline="") as f:
            f.write(text)
        return path

    def test_writes_a_png_of_either_view(self):
        self.write("Header_Coated_TA.txt", HEADER)
        # As a user runs it, with the default names in the run folder.
        run = subprocess.run([sys.executable, TOOL], cwd=self.dir, capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(self.tool.main(["--polar", "-o", os.path.join(self.dir, "polar.png"), self.table]), 0)
        self.assertEqual(self.tool.main(["--polar", "--mueller", "-o", os.path.join(self.dir, "all.png"),
                                         self.table]), 0)
        for name in ("Mie_Coated_TA.png", "polar.png", "all.png"):
            with self.subTest(name=name), open(os.path.join(self.dir, name), "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
                self.assertGreater(os.path.getsize(f.name), 10000)

    def test_reads_the_columns_as_printed(self):
        angle, i1, i2, total = self.tool.read_table(self.table)
        self.assertEqual(angle, [0.0, 90.0, 180.0, 45.0])
        self.assertEqual((i1[0], i2[1], total[2]), (394.7263, 0.7590923, 3.289836))
        self.assertEqual((i1[3], i2[3]), (0.0, math.inf))
        self.assertTrue(math.isnan(total[3]))

    def test_linear_polarisation_is_minus_s12_over_s11(self):
        # S11 = (I1 + I2)/2, S12 = (I2 - I1)/2; no value where I1 + I2 is 0 or not finite.
        found = self.tool.linear_polarisation([3.0, 1.0, 0.0, math.inf], [1.0, 1.0, 0.0, 1.0])
        self.assertEqual(found[:2], [0.5, 0.0])
        self.assertTrue(math.isnan(found[2]) and math.isnan(found[3]))

    def test_title_names_shell_and_core_or_the_homogeneous_sphere(self):
        cases = {
            # the larger size is the shell, whichever line it stands on
            HEADER.replace("Alpha1=5", "Alpha1=2"):
                "Coated sphere: shell x = 3, m = 2 + 0.5i; core x = 2, m = 1.5 + 0.01i",
            # one index for both layers: the outer size counts
            HEADER.replace("(2.000000, 0.500000)", "(1.500000, 0.010000)"):
                "Homogeneous sphere: x = 5, m = 1.5 + 0.01i",
            # equal sizes: a shell of zero thickness around a core of the second index
            HEADER.replace("Alpha2=3", "Alpha2=5"): "Homogeneous sphere: x = 5, m = 2 + 0.5i",
        }
        for header, expected in cases.items():
            with self.subTest(expected=expected):
                self.write("Header_Coated_TA.txt", header)
                self.assertTrue(self.tool.read_title(self.table).startswith(expected + "\n"))

    def test_wrong_files_give_a_message_and_status_1(self):
        self.write("Parameter_in.txt", "5\t1.5\t0.01\n")
        self.write("bad.txt", "Angle(Deg)\tI1\tI2\tItotal\r\n1.0\t2.0\r\n")
        cases = {"Parameter_in.txt": "not an angular table", "missing.txt": "No such file",
                 "bad.txt": "line 2: expected 4 fields"}
        for name, message in cases.items():
            with self.subTest(name=name), contextlib.redirect_stderr(io.StringIO()) as stderr:
                output = os.path.join(self.dir, "out.png")
                self.assertEqual(self.tool.main(["-o", output, os.path.join(self.dir, name)]), 1)
                self.assertIn(message, stderr.getvalue())
                self.assertFalse(os.path.exists(output))


if __name__ == "__main__":
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        print("matplotlib is not installed (Debian: python3-matplotlib); skipping")
        sys.exit(77)
    unittest.main()
