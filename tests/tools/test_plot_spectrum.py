"""The spectrum plot tool, run headless on the gold table and on tables and ranges it must refuse."""

import contextlib
import importlib.util
import io
import os
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "plot_spectrum.py")


def load_tool():
    loader_info = importlib.util.spec_from_file_location("plot_spectrum", TOOL)
    module = importlib.util.module_from_spec(loader_info)
    loader_info.loader.exec_module(module)
    return module


class PlotSpectrum(unittest.TestCase):
    def setUp(self):
        self.dir = self.enterContext(tempfile.TemporaryDirectory())
        self.tool = load_tool()

    def test_writes_the_gold_nanoshell_png(self):
        output = os.path.join(self.dir, "gold.png")
        run = subprocess.run([sys.executable, TOOL, "-o", output], capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(output, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertGreater(os.path.getsize(output), 30000)

    def test_index_is_linear_in_wavelength_between_the_table_energies(self):
        table = self.tool.read_index_table(self.tool.GOLD_TABLE)
        self.assertEqual((table[0][0], table[1][0], table[2][-1]), (1239.84 / 3.12, 1.47, 6.35))  # sorted by wavelength
        between = (1239.84 / 1.26 + 1239.84 / 1.39) / 2
        self.assertAlmostEqual(self.tool.interpolated_index([between], table)[0], (0.22 + 0.17 + 6.35j + 5.663j) / 2,
                               places=14)

    def test_refuses_wavelengths_beyond_the_table_and_tables_of_other_columns(self):
        bad_table = os.path.join(self.dir, "bad.csv")
        with open(bad_table, "w", encoding="utf-8") as f:
            f.write("# wavelengths, not energies\nwavelength_nm,n,k\n500,1,2\n600,1,2\n")
        cases = {("--to", "1000"): "leave the table's 397.4 to 984.0 nm",
                 ("--shell-table", bad_table): "should be 'energy_eV,n,k'"}
        for arguments, message in cases.items():
            output = os.path.join(self.dir, "refused.png")
            with self.subTest(message=message), contextlib.redirect_stderr(io.StringIO()) as stderr:
                self.assertEqual(self.tool.main(["-o", output, *arguments]), 1)
                self.assertIn(message, stderr.getvalue())
                self.assertFalse(os.path.exists(output))


if __name__ == "__main__":
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        print("matplotlib is not installed (Debian: python3-matplotlib); skipping")
        sys.exit(77)
    unittest.main()
