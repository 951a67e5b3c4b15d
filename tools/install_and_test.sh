#!/usr/bin/env bash
# The whole test suite on a Debian machine, nothing left out: installs the
# Debian packages the suite needs that are missing (with sudo when not root),
# then configures with COATEDMIE_REQUIRE_ALL_TESTS, builds, and runs every test
# in build/release. Ends with a non-zero status when a package cannot be
# installed, a test fails, or a test was skipped.
#
#   tools/install_and_test.sh                            install, then test
#   tools/install_and_test.sh --install-only [PACKAGE..]  install (these too), test nothing
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake make g++ libgtest-dev                          # the program, the library, the C++ tests
  python3-dev pybind11-dev python3-numpy python3-pytest  # the Python package and its tests
  python3-venv                                         # the test of pip install
  python3-matplotlib python3-mpmath                    # the plot tools, the examples' checker
  python3-xarray python3-dask python3-distributed python3-netcdf4  # lookup tables
  python3-sphinx python3-numpydoc                                   # the manual
)
install_only=false
if [ "${1:-}" = "--install-only" ]; then
  install_only=true
  shift
  packages+=("$@")
elif [ $# -gt 0 ]; then
  echo "usage: tools/install_and_test.sh [--install-only [PACKAGE...]]" >&2
  exit 2
fi

fail() {
  echo "tools/install_and_test.sh: $*" >&2
  exit 1
}

command -v dpkg-query >/dev/null && command -v apt-get >/dev/null ||
  fail "this is not a Debian machine (no dpkg-query or apt-get); install the equivalents of: ${packages[*]}; then run: cmake --workflow --preset test"

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || fail "not root and no sudo: cannot install ${missing[*]}; as root run: apt-get install ${missing[*]}"
    # Without a terminal sudo may not ask for a password: it fails instead of waiting.
    if [ -t 0 ]; then as_root=(sudo); else as_root=(sudo -n); fi
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -qq &&
    "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
    fail "could not install ${missing[*]} (apt-get failed; see above)"
fi
$install_only && exit 0

cmake --preset release -DCOATEDMIE_REQUIRE_ALL_TESTS=ON
cmake --build --preset release
log=build/release/install_and_test.log
status=0
ctest --preset release 2>&1 | tee "$log" || status=$?
((status == 0)) || exit "$status"
if grep -q "tests did not run" "$log"; then
  fail "some tests were skipped (listed above): the suite is incomplete"
fi
