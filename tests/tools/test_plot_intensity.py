"""The plot tool, run headless on hand-written tables."""

import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "..", "..", "tools", "plot_intensity.py")
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

TABLE = ("Angle(Deg)\tI1\tI2\tItotal\r\n"
         "0.000000\t3.947263e+002\t3.947263e+002\t7.894525e+002\r\n"
         "90.000000\t5.519364e+000\t7.590923e-001\t6.278456e+000\r\n"
         "180.000000\t1.644918e+000\t1.644918e+000\t3.289836e+000\r\n")
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
        self.folder = tempfile.TemporaryDirectory()
        self.dir = self.folder.name

    def tearDown(self):
        self.folder.cleanup()

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w", encoding="ascii", newline="") as f:
            f.write(text)
        return path

    def run_tool(self, *args):
        return subprocess.run([sys.executable, TOOL, *args], cwd=self.dir,
                              capture_output=True, text=True, timeout=120)

    def assert_png(self, path):
        with open(path, "rb") as f:
            self.assertEqual(f.read(8), PNG_SIGNATURE)
        self.assertGreater(os.path.getsize(path), 10000)

    def test_default_names_in_the_run_folder(self):
        self.write("Mie_Coated_TA.txt", TABLE)
        self.write("Header_Coated_TA.txt", HEADER)
        result = self.run_tool()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_png(os.path.join(self.dir, "Mie_Coated_TA.png"))

    def test_polar_view_and_named_output(self):
        table = self.write("Mie_Coated_TA.txt", TABLE)
        result = self.run_tool("--polar", "-o", "pattern.png", table)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_png(os.path.join(self.dir, "pattern.png"))

    def test_zeros_and_markers_do_not_stop_the_plot(self):
        table = self.write("Mie_Coated_TA.txt", TABLE +
            "45.000000\t0.000000e+000\t1.#INF00e+000\t-1.#IND00e+000\r\n")
        result = self.run_tool(table)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_reads_the_columns_as_printed(self):
        tool = load_tool()
        angle, i1, i2, total = tool.read_table(self.write("t.txt", TABLE))
        self.assertEqual(angle, [0.0, 90.0, 180.0])
        self.assertEqual(i2[1], 0.7590923)
        self.assertEqual(total[2], 3.289836)
        self.assertEqual(i1[0], 394.7263)

    def test_shell_is_the_larger_layer_in_the_title(self):
        self.write("Mie_Coated_TA.txt", TABLE)
        swapped = HEADER.replace("Alpha1=5", "Alpha1=2")
        self.write("Header_Coated_TA.txt", swapped)
        title = load_tool().read_title(os.path.join(self.dir, "Mie_Coated_TA.txt"))
        self.assertIn("shell x = 3, m = 2 + 0.5i", title)
        self.assertIn("core x = 2, m = 1.5 + 0.01i", title)

    def test_homogeneous_spheres_are_named_so_in_the_title(self):
        table = self.write("Mie_Coated_TA.txt", TABLE)
        tool = load_tool()
        cases = {
            # one index for both layers: the outer size counts
            HEADER.replace("(2.000000, 0.500000)", "(1.500000, 0.010000)"):
                "Homogeneous sphere: x = 5, m = 1.5 + 0.01i",
            # equal sizes: a shell of zero thickness around a core of the second index
            HEADER.replace("Alpha2=3", "Alpha2=5"): "Homogeneous sphere: x = 5, m = 2 + 0.5i",
        }
        for header, expected in cases.items():
            with self.subTest(expected=expected):
                self.write("Header_Coated_TA.txt", header)
                self.assertTrue(tool.read_title(table).startswith(expected + "\n"))

    def test_wrong_files_give_a_message_and_status_1(self):
        self.write("Parameter_in.txt", "5\t1.5\t0.01\n")
        cases = {
            "Parameter_in.txt": "not an angular table",
            "missing.txt": "No such file",
            "bad.txt": "line 2: expected 4 fields",
        }
        self.write("bad.txt", "Angle(Deg)\tI1\tI2\tItotal\r\n1.0\t2.0\r\n")
        for name, message in cases.items():
            with self.subTest(name=name):
                result = self.run_tool(name)
                self.assertEqual(result.returncode, 1)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(os.path.join(self.dir, "Mie_Coated_TA.png")))


if __name__ == "__main__":
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        print("matplotlib is not installed (Debian: python3-matplotlib); skipping")
        sys.exit(77)
    unittest.main()
