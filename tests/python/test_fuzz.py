# A short run of the package's fuzz (tests/fuzz/fuzz_python.py; make fuzz-python runs 100,000
# calls under the sanitizers): 3,000 random and mutated calls must give no finding.
import os
import subprocess
import sys

FUZZ = os.path.join(os.path.dirname(__file__), os.pardir, "fuzz", "fuzz_python.py")


def test_three_thousand_fuzz_calls_find_nothing():
    done = subprocess.run([sys.executable, FUZZ, "--calls", "3000", "--seed", "1"],
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stdout[-6000:] + done.stderr[-3000:]
    assert "fuzz_python: 3000 calls from seed 1" in done.stdout
