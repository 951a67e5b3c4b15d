"""The coatedmie manual (Sphinx). Built by the test suite (test Manual.*), or

    cmake --build build/release --target manual    # HTML in build/release/docs/html

with the package built (its folder on PYTHONPATH) and Debian's python3-sphinx,
python3-numpydoc and python3-matplotlib. Every example runs while it builds:
doctest blocks under the doctest builder, figures under the plot directive.
"""

import doctest
import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

project = "coatedmie"
author = "the coatedmie developers"
copyright = "the coatedmie developers"
with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake_file:
    release = version = re.search(r"project\(\s*CoatedMie\s+VERSION\s+([0-9.]+)", cmake_file.read()).group(1)

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.doctest",
    "sphinx.ext.mathjax",
    "numpydoc",
    "matplotlib.sphinxext.plot_directive",
]
exclude_patterns = ["_build"]
nitpicky = True
# Types from other projects' documentation, which the manual does not link
# (building it needs no network).
nitpick_ignore_regex = [(r"py:.*", r"(numpy|np|xarray|xr|dask|distributed|pathlib|os)\..*")]

# autodoc and numpydoc: the docstrings as written, one page for the API.
autodoc_member_order = "bysource"
autodoc_typehints = "signature"
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False

# Doctest: one namespace per document. The docstrings' examples run in their
# module's namespace when doctest runs them there; here the package's names
# stand in for it.
doctest_global_setup = """
import numpy as np
import coatedmie
from coatedmie import *
"""
doctest_default_flags = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE | doctest.DONT_ACCEPT_TRUE_FOR_1

# Figures: the code shown is the code run; PNG only, drawn headless.
plot_include_source = True
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 96)]
plot_rcparams = {"figure.figsize": (7.5, 4.5), "savefig.bbox": "tight"}
plot_pre_code = "import numpy as np\nimport matplotlib.pyplot as plt\nimport coatedmie\n"
plot_working_directory = os.path.dirname(os.path.abspath(__file__))  # where the doctests run too

html_theme = "alabaster"
html_title = f"coatedmie {release}"
html_theme_options = {
    "description": "Light scattering by coated spheres",
    "fixed_sidebar": True,
    "page_width": "1240px",
    "sidebar_width": "230px",
    "body_max_width": "none",
}
html_sidebars = {"**": ["about.html", "navigation.html", "relations.html", "searchbox.html"]}
html_static_path = []
html_show_sourcelink = False
html_copy_source = False
