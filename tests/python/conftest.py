# Every test starts Orvel quietly and ends it, so that each sees a fresh system.
import os
import re
import subprocess
import sys

import pytest

import orvel


@pytest.fixture
def system():
    orvel.orvel_init(-1)
    yield orvel
    orvel.orvel_end()


def bytes_reserved(capsys):
    """The store's byte count from orvel_info, read from Python's own stdout."""
    capsys.readouterr()
    orvel.orvel_info()
    text = capsys.readouterr().out
    return int(re.search(r"Number of bytes reserved: +(\d+)", text).group(1))


def run_python(code):
    """Runs code in a fresh interpreter with the package on its path; (status, stdout, stderr)."""
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=dict(os.environ), timeout=300)
    return done.returncode, done.stdout, done.stderr
