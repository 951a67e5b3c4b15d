"""`pip install .` offline, as a user on Debian does it: a fresh virtual environment over the system's
packages, a wheel built from the source tree without build isolation and without the package index, its
contents (the Python package and its console commands, nothing of the C++ install), the installed
package imported from another folder, and each console command's --help.

    check_pip_install.py SOURCE_DIR WORK_DIR VERSION
"""

import pathlib
import shutil
import subprocess
import sys
import zipfile

COMMANDS = ("coatedmie-lookup-table", "coatedmie-plot-intensity", "coatedmie-plot-spectrum")


def run(*command, cwd=None):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=600)
    if done.returncode != 0:
        sys.exit(f"failed ({done.returncode}): {' '.join(map(str, command))}\n{done.stdout}\n{done.stderr}")
    return done.stdout


def main(source, work, version):
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    run(sys.executable, "-m", "venv", "--system-site-packages", work / "venv")
    python = work / "venv" / "bin" / "python"
    offline = ("--no-build-isolation", "--no-index", "--no-cache-dir", "--disable-pip-version-check")
    run(python, "-m", "pip", "wheel", *offline, "--no-deps", "--wheel-dir", work / "wheels", source)

    wheel_path, = (work / "wheels").glob("coatedmie-*.whl")
    with zipfile.ZipFile(wheel_path) as wheel:
        names = wheel.namelist()
        dist_info = f"coatedmie-{version}.dist-info/"
        metadata = wheel.read(dist_info + "METADATA").decode()
        entry_points = wheel.read(dist_info + "entry_points.txt").decode()
    strays = [name for name in names if not name.startswith(("coatedmie/", dist_info))]
    assert not strays, f"the wheel holds more than the package: {strays}"
    assert any(name.startswith("coatedmie/_engine.") for name in names), names
    assert f"\nVersion: {version}\n" in metadata, metadata[:300]
    for command in COMMANDS:
        assert f"\n{command} = coatedmie.tools." in entry_points, entry_points

    run(python, "-m", "pip", "install", *offline, wheel_path)
    imported = run(python, "-c", "import coatedmie; print(coatedmie.__version__); print(coatedmie.__file__)", cwd=work)
    installed_version, location = imported.split()
    assert installed_version == version, imported
    assert pathlib.Path(location).is_relative_to(work / "venv"), imported
    for command in COMMANDS:
        usage = run(work / "venv" / "bin" / command, "--help", cwd=work)
        assert usage.startswith(f"usage: {command} "), usage
    print(f"{wheel_path.name}: {len(names)} files, version {version}, {len(COMMANDS)} commands")


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), sys.argv[3])
