"""The build backend behind `pip install .` (PEP 517).

The project's own CMake build makes the Python package, exactly as
`cmake --build` does for the test suite; this backend configures it with the
interpreter that runs pip, builds the extension, takes what
`cmake --install --component python` installs (the package alone: not the
program, the static library or the CMake package) and packs it as a wheel
with the metadata of pyproject.toml. The version is the CMake project's, so
the program, the library and the package carry one version.

Only the standard library is needed (tomli before Python 3.11), so the build
runs offline against Debian's packages with --no-build-isolation; CMake comes
from the PATH, or from the package index where pip may reach it.

config_settings: build-dir=PATH keeps the CMake build folder there (for quick
rebuilds); by default a temporary folder is used and removed.
"""

import base64
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import time
import zipfile

try:
    import tomllib
except ImportError:  # Python before 3.11
    import tomli as tomllib

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MINIMUM_CMAKE = (3, 25)
# Reproducible archives: every member gets this time stamp (1980-01-01, the
# earliest a zip file can hold), unless SOURCE_DATE_EPOCH says otherwise.
ZIP_TIME = (1980, 1, 1, 0, 0, 0)


def _project():
    with open(os.path.join(SOURCE_DIR, "pyproject.toml"), "rb") as file:
        return tomllib.load(file)["project"]


def _version():
    with open(os.path.join(SOURCE_DIR, "CMakeLists.txt"), encoding="utf-8") as file:
        found = re.search(r"project\(\s*CoatedMie\s+VERSION\s+([0-9][0-9.]*)", file.read())
    if not found:
        raise RuntimeError("CMakeLists.txt: no project(CoatedMie VERSION ...) found")
    return found.group(1)


def _distribution_name():
    return re.sub(r"[-_.]+", "_", _project()["name"]).lower()


def _cmake_version(cmake):
    try:
        text = subprocess.run([cmake, "--version"], capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return None
    found = re.match(r"cmake version (\d+)\.(\d+)", text)
    return (int(found.group(1)), int(found.group(2))) if found else None


def _cmake():
    """The CMake on the PATH if it is recent enough, else the one pip installed as a build requirement."""
    on_path = shutil.which("cmake")
    if on_path and (_cmake_version(on_path) or (0, 0)) >= MINIMUM_CMAKE:
        return on_path
    try:
        import cmake  # the package index's cmake, in an isolated build environment
        return os.path.join(cmake.CMAKE_BIN_DIR, "cmake")
    except ImportError:
        raise RuntimeError(f"building coatedmie needs CMake {'.'.join(map(str, MINIMUM_CMAKE))} or later "
                           f"(Debian: cmake), found {on_path or 'none'}") from None


# ---------------------------------------------------------------- metadata


def _requirement_with_extra(requirement, extra):
    name, _, marker = requirement.partition(";")
    condition = f'extra == "{extra}"'
    return f"{name.strip()}; ({marker.strip()}) and {condition}" if marker.strip() else f"{name.strip()}; {condition}"


def _metadata():
    """Core metadata 2.1 (PKG-INFO and METADATA) from the [project] table."""
    project = _project()
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}", f"Version: {_version()}"]
    if "description" in project:
        lines.append(f"Summary: {project['description']}")
    if "keywords" in project:
        lines.append(f"Keywords: {','.join(project['keywords'])}")
    for label, url in project.get("urls", {}).items():
        lines.append(f"Project-URL: {label}, {url}")
    lines += [f"Classifier: {classifier}" for classifier in project.get("classifiers", [])]
    if "requires-python" in project:
        lines.append(f"Requires-Python: {project['requires-python']}")
    lines += [f"Requires-Dist: {requirement}" for requirement in project.get("dependencies", [])]
    for extra, requirements in project.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f"Requires-Dist: {_requirement_with_extra(r, extra)}" for r in requirements]
    description = ""
    if "readme" in project:
        readme = project["readme"]
        path = readme if isinstance(readme, str) else readme["file"]
        content_type = "text/markdown" if path.endswith(".md") else "text/x-rst"
        if isinstance(readme, dict):
            content_type = readme.get("content-type", content_type)
        lines.append(f"Description-Content-Type: {content_type}")
        with open(os.path.join(SOURCE_DIR, path), encoding="utf-8") as file:
            description = file.read()
    return "\n".join(lines) + "\n\n" + description


def _entry_points():
    scripts = _project().get("scripts", {})
    if not scripts:
        return None
    return "[console_scripts]\n" + "".join(f"{name} = {target}\n" for name, target in scripts.items())


def _dist_info_name():
    return f"{_distribution_name()}-{_version()}.dist-info"


def _write_dist_info(directory):
    """The .dist-info files other than RECORD, as {relative path: bytes}."""
    tag = _wheel_tag()
    files = {
        "METADATA": _metadata().encode("utf-8"),
        "WHEEL": (f"Wheel-Version: 1.0\nGenerator: coatedmie_build_backend\nRoot-Is-Purelib: false\n"
                  f"Tag: {tag}\n").encode("utf-8"),
    }
    entry_points = _entry_points()
    if entry_points:
        files["entry_points.txt"] = entry_points.encode("utf-8")
    if directory is not None:
        os.makedirs(os.path.join(directory, _dist_info_name()), exist_ok=True)
        for name, content in files.items():
            with open(os.path.join(directory, _dist_info_name(), name), "wb") as file:
                file.write(content)
    return files


def _wheel_tag():
    """The tag of a wheel holding an extension built for this interpreter, such as cp311-cp311-linux_x86_64."""
    version = f"{sys.version_info.major}{sys.version_info.minor}"
    platform = re.sub(r"[^A-Za-z0-9]", "_", sysconfig.get_platform())
    soabi = sysconfig.get_config_var("SOABI") or ""
    if sys.implementation.name == "cpython":
        interpreter = f"cp{version}"
        abi = f"cp{version}{getattr(sys, 'abiflags', '')}"
    else:
        interpreter = f"{sys.implementation.name[:2]}{version}"
        abi = "_".join(soabi.split("-")[:2]).replace(".", "_") or "none"
    return f"{interpreter}-{abi}-{platform}"


# ---------------------------------------------------------------- the CMake build


def _run(command, **kwargs):
    print("+", " ".join(command), flush=True)
    subprocess.run(command, check=True, **kwargs)


def _pybind11_cmake_dir():
    """pybind11's CMake files from its Python package (the package index's), if that is importable;
    otherwise CMake finds Debian's (pybind11-dev) by itself."""
    try:
        import pybind11
        return pybind11.get_cmake_dir()
    except (ImportError, AttributeError):
        return None


def _build_package(build_dir, staging_dir):
    cmake = _cmake()
    configure = [cmake, "-S", SOURCE_DIR, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                 "-DCOATEDMIE_BUILD_TESTS=OFF", "-DCOATEDMIE_REQUIRE_PYTHON=ON",
                 f"-DPython_EXECUTABLE={sys.executable}", "-DCOATEDMIE_PYTHON_INSTALL_DIR=."]
    pybind11_dir = _pybind11_cmake_dir()
    if pybind11_dir:
        configure.append(f"-Dpybind11_DIR={pybind11_dir}")
    _run(configure)
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    _run([cmake, "--build", build_dir, "--target", "coatedmie_python", "--parallel", jobs])
    _run([cmake, "--install", build_dir, "--component", "python", "--prefix", staging_dir])


def _file_hash(content):
    digest = base64.urlsafe_b64encode(hashlib.sha256(content).digest()).rstrip(b"=").decode("ascii")
    return f"sha256={digest}"


def _zip_time():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch:
        return time.gmtime(max(int(epoch), 315532800))[:6]
    return ZIP_TIME


def _write_wheel(path, staging_dir, dist_info_files):
    members = []
    for folder, subfolders, names in os.walk(staging_dir):
        subfolders[:] = sorted(d for d in subfolders if d != "__pycache__")
        for name in sorted(names):
            if not name.endswith(".pyc"):
                full = os.path.join(folder, name)
                members.append((os.path.relpath(full, staging_dir).replace(os.sep, "/"), full))
    dist_info = _dist_info_name()
    record = []
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as wheel:
        def add(name, content, mode):
            info = zipfile.ZipInfo(name, date_time=_zip_time())
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, content)
            record.append(f"{name},{_file_hash(content)},{len(content)}")

        for name, full in members:
            with open(full, "rb") as file:
                add(name, file.read(), 0o755 if os.access(full, os.X_OK) else 0o644)
        for name, content in sorted(dist_info_files.items()):
            add(f"{dist_info}/{name}", content, 0o644)
        record.append(f"{dist_info}/RECORD,,")
        info = zipfile.ZipInfo(f"{dist_info}/RECORD", date_time=_zip_time())
        info.external_attr = (0o100000 | 0o644) << 16
        wheel.writestr(info, "\n".join(record) + "\n", compress_type=zipfile.ZIP_DEFLATED)


# ---------------------------------------------------------------- PEP 517 hooks


def get_requires_for_build_wheel(config_settings=None):
    on_path = shutil.which("cmake")
    if on_path and (_cmake_version(on_path) or (0, 0)) >= MINIMUM_CMAKE:
        return []
    return [f"cmake>={'.'.join(map(str, MINIMUM_CMAKE))}"]


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    _write_dist_info(metadata_directory)
    return _dist_info_name()


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    build_dir = (config_settings or {}).get("build-dir")
    with tempfile.TemporaryDirectory(prefix="coatedmie-wheel-") as work:
        _build_package(os.path.abspath(build_dir) if build_dir else os.path.join(work, "build"),
                       os.path.join(work, "staging"))
        name = f"{_distribution_name()}-{_version()}-{_wheel_tag()}.whl"
        os.makedirs(wheel_directory, exist_ok=True)
        _write_wheel(os.path.join(wheel_directory, name), os.path.join(work, "staging"), _write_dist_info(None))
    return name


def _source_files():
    """The files of the source distribution: git's list in a clone, else every file but build output."""
    try:
        listed = subprocess.run(["git", "-C", SOURCE_DIR, "ls-files", "-z"], capture_output=True, check=True).stdout
        return sorted(name for name in listed.decode("utf-8").split("\0")
                      if name and os.path.isfile(os.path.join(SOURCE_DIR, name)))
    except (OSError, subprocess.CalledProcessError):
        found = []
        for folder, subfolders, names in os.walk(SOURCE_DIR):
            subfolders[:] = [d for d in subfolders if d not in (".git", "build", "out", "__pycache__")]
            found += [os.path.relpath(os.path.join(folder, n), SOURCE_DIR) for n in names
                      if not n.endswith(".pyc") and n != "PKG-INFO"]
        return sorted(found)


def build_sdist(sdist_directory, config_settings=None):
    base = f"{_distribution_name()}-{_version()}"
    os.makedirs(sdist_directory, exist_ok=True)
    mtime = int(os.environ.get("SOURCE_DATE_EPOCH", 315532800))
    with tarfile.open(os.path.join(sdist_directory, f"{base}.tar.gz"), "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        def normalise(info):
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            info.mtime = mtime
            return info

        for name in _source_files():
            sdist.add(os.path.join(SOURCE_DIR, name), arcname=f"{base}/{name}", filter=normalise)
        pkg_info = _metadata().encode("utf-8")
        info = normalise(tarfile.TarInfo(f"{base}/PKG-INFO"))
        info.size = len(pkg_info)
        info.mode = 0o644
        sdist.addfile(info, io.BytesIO(pkg_info))
    return f"{base}.tar.gz"
