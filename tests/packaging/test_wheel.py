"""The Python package as a user installs it: a wheel built by pip through the project's CMake
(offline, no build isolation), installed into a new virtual environment that sees Debian's
numpy, and used from a directory outside the source tree. ORVEL_INTREE, when set, is the
in-tree package's directory (build/python), whose numbers the wheel's must equal bit for bit.
"""
import glob
import json
import os
import shutil
import subprocess
import sys
import sysconfig
import zipfile

import numpy as np
import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
with open(os.path.join(ROOT, "VERSION"), encoding="ascii") as f:
    VERSION = f.readline().strip()
# No local pip configuration, user site or path into the tree may serve the installed package.
ENV = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
ENV.update(PIP_CONFIG_FILE=os.devnull, PYTHONNOUSERSITE="1")

# A 16-element array focused at 20 mm: its emitted field at the focus, 2 mm beside it and at
# 40 mm, written to hp.npy; prints where orvel came from and whether its help texts are there.
CALCULATION = """
import json, numpy as np, orvel, orvel.imaging, orvel.distributed
from orvel._help import HELP
orvel.orvel_init(-1)
t = np.arange(0, 2 / 5e6, 1 / 100e6)
th = orvel.xdc_linear_array(16, 0.28e-3, 5e-3, 0.03e-3, 1, 1, [0, 0, 20e-3])
orvel.xdc_excitation(th, np.sin(2 * np.pi * 5e6 * t))
orvel.xdc_impulse(th, np.hanning(t.size) * np.sin(2 * np.pi * 5e6 * t))
hp, t0 = orvel.calc_hp(th, np.array([[0, 0, 20e-3], [2e-3, 0, 20e-3], [0, 0, 40e-3]]))
np.save("hp.npy", hp)
print(json.dumps({"file": orvel.__file__, "version": orvel.__version__, "t0": t0,
                  "help": orvel.calc_hp.__doc__ == HELP["calc_hp"]}))
"""


def run(cmd, cwd, env=ENV, **kw):
    done = subprocess.run(cmd, cwd=cwd, env=env, capture_output=True, text=True, **kw)
    assert done.returncode == 0, "%s failed:\n%s%s" % (cmd, done.stdout, done.stderr)
    return done.stdout


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    out = tmp_path_factory.mktemp("wheel")
    # setuptools packs whatever an earlier build left in build/lib*; its CMake build in
    # build/temp* is kept, so that a second run only recompiles what changed.
    for stale in glob.glob(os.path.join(ROOT, "python", "build", "lib.*")):
        shutil.rmtree(stale)
    run([sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-index", "--no-deps",
         "-w", str(out), os.path.join(ROOT, "python")], cwd=ROOT)
    (path,) = glob.glob(str(out / "orvel-*.whl"))
    return path


@pytest.fixture(scope="module")
def venv(wheel, tmp_path_factory):
    """The virtual environment's python, orvel installed from the wheel (numpy: Debian's)."""
    home = tmp_path_factory.mktemp("venv")
    run([sys.executable, "-m", "venv", "--system-site-packages", str(home)], cwd=home)
    run([str(home / "bin" / "python"), "-m", "pip", "install", "--no-index", wheel], cwd=home)
    return str(home / "bin" / "python")


def inside_venv(path, venv):
    return path.startswith(os.path.dirname(os.path.dirname(venv)) + "/lib/")


def test_wheel_holds_the_package_and_nothing_else(wheel):
    names = set(zipfile.ZipFile(wheel).namelist())
    ours = {"orvel/" + os.path.basename(p) for p in glob.glob(ROOT + "/python/orvel/*.py")}
    generated = {"orvel/_help.py", "orvel/_version.py",
                 "orvel/_orvel" + sysconfig.get_config_var("EXT_SUFFIX")}
    info = "orvel-%s.dist-info/" % VERSION
    assert {n for n in names if not n.startswith(info)} == ours | generated
    metadata = zipfile.ZipFile(wheel).read(info + "METADATA").decode()
    assert "\nVersion: %s\n" % VERSION in metadata and "\nRequires-Dist: numpy\n" in metadata


def test_python_m_orvel_reports_version_threads_and_place(venv, tmp_path):
    lines = run([venv, "-m", "orvel"], cwd=tmp_path).splitlines()
    assert lines[0] == "orvel " + VERSION
    assert lines[1].startswith("threads: %d " % len(os.sched_getaffinity(0)))
    assert inside_venv(lines[2].removeprefix("location: "), venv)
    # The default is the cores this process may use when it runs, not those of the build.
    one_core = min(os.sched_getaffinity(0))
    lines = run([venv, "-m", "orvel"], cwd=tmp_path,
                preexec_fn=lambda: os.sched_setaffinity(0, {one_core})).splitlines()
    assert lines[1].startswith("threads: 1 ")


@pytest.fixture(scope="module")
def calculation(venv, tmp_path_factory):
    """What CALCULATION prints and the field it computes, run in the venv outside the tree."""
    cwd = tmp_path_factory.mktemp("outside")
    return json.loads(run([venv, "-c", CALCULATION], cwd=cwd)), np.load(cwd / "hp.npy")


def test_calculation_outside_the_tree(venv, calculation):
    got, hp = calculation
    assert inside_venv(got["file"], venv) and not got["file"].startswith(ROOT + "/")
    assert got["version"] == VERSION and got["help"]
    pulse = np.arange(0, 2 / 5e6, 1 / 100e6).size
    assert hp.shape[1] == 3 and hp.shape[0] >= 2 * pulse - 1  # excitation * impulse at least
    assert np.all(np.isfinite(hp))
    # 2 mm beside the focus lies beyond the first null (lambda z / D = 0.31 mm * 20 mm /
    # 4.96 mm = 1.2 mm): the focus is the brighter; 40 mm is lit too.
    peak = np.abs(hp).max(axis=0)
    assert peak[0] > peak[1] > 0 and peak[2] > 0


def test_same_numbers_as_the_tree_build(calculation, tmp_path):
    intree = os.environ.get("ORVEL_INTREE")
    if not intree:
        pytest.skip("ORVEL_INTREE (the in-tree package's directory) is not set")
    tree = json.loads(run([sys.executable, "-c", CALCULATION], cwd=tmp_path,
                          env=dict(ENV, PYTHONPATH=intree)))
    assert tree["file"].startswith(os.path.abspath(intree) + "/")
    assert calculation[0]["t0"] == tree["t0"]
    np.testing.assert_array_equal(calculation[1], np.load(tmp_path / "hp.npy"))
