"""Under CI (CI=true) a test that skips itself, for a module it could not
import, fails instead: the suite must run whole there."""
import os

import pytest


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if report.skipped and os.environ.get("CI") == "true":
        report.outcome = "failed"
        report.longrepr = f"skipped under CI, where nothing may be: {report.longrepr}"


@pytest.hookimpl(tryfirst=True)
def pytest_collectreport(report):
    if report.skipped and os.environ.get("CI") == "true":
        report.outcome = "failed"
        report.longrepr = f"skipped under CI, where nothing may be: {report.longrepr}"
