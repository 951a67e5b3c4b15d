"""tools/install_and_test.sh --install-only on machines it meets: every package there, packages missing as
root, as a user with sudo but no terminal (sudo must not wait for a password), as a user without sudo, with
apt-get failing, and with no dpkg at all. dpkg-query, apt-get, sudo and id are stand-ins that log their calls.

    check_dependency_installer.py SCRIPT WORK_DIR
"""

import os
import pathlib
import shutil
import subprocess
import sys

MISSING = "python3-mpmath python3-sphinx"
STAND_INS = {
    "dpkg-query": 'case " $MISSING " in *" $3 "*) exit 1;; esac; printf "install ok installed"',
    "apt-get": 'echo "apt-get $*" >> "$LOG"; exit "${APT_STATUS:-0}"',
    "sudo": 'echo "sudo $1" >> "$LOG"; [ "$1" = -n ] && exit 1; exec "$@"',
    "id": 'echo "${USER_ID:-0}"',
}
INSTALL = f"apt-get install -y -qq --no-install-recommends {MISSING}"

# (case, stand-ins left out, environment, status, calls logged in order, words of the message)
CASES = [
    ("everything installed", (), {"MISSING": ""}, 0, [], ""),
    ("root installs what is missing", (), {}, 0, ["apt-get update -qq", INSTALL], ""),
    ("apt-get fails", (), {"APT_STATUS": "100"}, 1, ["apt-get update -qq"], f"could not install {MISSING}"),
    ("a user with sudo and no terminal", (), {"USER_ID": "1000"}, 1, ["sudo -n"], f"could not install {MISSING}"),
    ("a user without sudo", ("sudo",), {"USER_ID": "1000"}, 1, [], f"as root run: apt-get install {MISSING}"),
    ("no dpkg", ("dpkg-query",), {}, 1, [], "this is not a Debian machine"),
]


def run_case(script, work, left_out, environment):
    shutil.rmtree(work, ignore_errors=True)
    bin_dir = work / "bin"
    bin_dir.mkdir(parents=True)
    for name in ("bash", "grep", "dirname", "cat"):
        (bin_dir / name).symlink_to(shutil.which(name))
    for name, body in STAND_INS.items():
        if name not in left_out:
            (bin_dir / name).write_text(f"#!/bin/sh\n{body}\n")
            (bin_dir / name).chmod(0o755)
    log = work / "calls.log"
    log.touch()
    environment = {"PATH": str(bin_dir), "LOG": str(log), "MISSING": MISSING, **environment}
    done = subprocess.run(["bash", script, "--install-only"], env=environment, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=60)
    return done.returncode, log.read_text().splitlines(), done.stderr


def main(script, work):
    failures = 0
    for case, left_out, environment, status, calls, words in CASES:
        got_status, got_calls, message = run_case(script, work, left_out, environment)
        if got_status != status or got_calls != calls or words not in message:
            failures += 1
            print(f"{case}: status {got_status} (expected {status}), calls {got_calls} (expected {calls}), "
                  f"message {message!r} (expected to hold {words!r})")
    print(f"{len(CASES) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1]), pathlib.Path(sys.argv[2])))
