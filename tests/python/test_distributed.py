# Scan sequences spread over Dask worker processes give the RF of one process, bit for bit,
# also when one worker or every worker is killed mid-run; the window's effect is within its
# stated bound; a failing task names its line; a bad phantom is refused before any task; an
# output folder holds a run's complete result or none, and a new result never rewrites the
# file an earlier one maps; the command line and the Octave helpers round-trip; diverging and
# single-element transmits give scan_run's RF.
import json
import os
import re
import signal
import subprocess
import sys

import numpy as np
import pytest

import orvel
import orvel.distributed as od
import orvel.imaging as im

F0, FS, C = 5e6, 100e6, 1540.0
PITCH = C / F0 / 2


def sequence_and_apertures():
    t = np.arange(0, 2 / F0 + 1e-12, 1 / FS)
    impulse = np.sin(2 * np.pi * F0 * t) * np.hanning(t.size)
    excitation = np.sin(2 * np.pi * F0 * t)
    make = ("xdc_linear_array", 64, PITCH - 0.02e-3, 5e-3, 0.02e-3, 1, 3, [0, 0, 0.03])
    tx = od.transducer(*make, impulse=impulse, excitation=excitation)
    rx = od.transducer(*make, impulse=impulse)
    seq = im.scan_linear(64, PITCH, 32, np.linspace(-3e-3, 3e-3, 16), 20e-3)
    return seq, tx, rx


def phantom(n=3000):
    rng = np.random.default_rng(7)
    points = np.column_stack([rng.uniform(-8e-3, 8e-3, n), rng.uniform(-1e-3, 1e-3, n),
                              rng.uniform(10e-3, 30e-3, n)])
    return points, rng.standard_normal(n)


@pytest.fixture(scope="module")
def cluster():
    from dask.distributed import Client, LocalCluster
    local = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                         dashboard_address=":0")
    client = Client(local)
    yield client
    client.close()
    local.close()


def test_two_workers_equal_one_process_and_the_window_stays_within_its_bound(cluster):
    seq, tx, rx = sequence_and_apertures()
    points, amplitudes = phantom()
    desc = od.describe(seq, tx, rx, options={"c": C, "fs": FS}, chunk=1000)
    serial, t_serial = od.simulate(desc, (points, amplitudes), client="serial", progress=False)
    for _ in range(2):  # runs back to back on one cluster share nothing
        spread, t_spread = od.simulate(desc, (points, amplitudes), client=cluster, threads=1,
                                       progress=False)
        assert spread.shape == serial.shape == (serial.shape[0], 16)
        assert spread.tobytes() == serial.tobytes() and t_spread == t_serial

    # Without a window, in one chunk, the tasks are scan_run's own calls.
    whole = od.describe(seq, tx, rx, options={"c": C, "fs": FS}, window=None, chunk=10 ** 6)
    full, t_full = od.simulate(whole, (points, amplitudes), client="serial", progress=False)
    orvel.orvel_init(-1)
    try:
        orvel.set_option("c", C)
        orvel.set_sampling(FS)
        reference, t_reference = im.scan_run(seq, od._build(tx), od._build(rx), points,
                                             amplitudes)
    finally:
        orvel.orvel_end()
    assert np.array_equal(full, reference) and t_full == t_reference
    # The scatterers left out by the default window change the RF by less than 1% RMS.
    assert t_serial == t_full
    windowed = np.zeros_like(full)
    windowed[:serial.shape[0]] = serial[:full.shape[0]]
    assert 0 < np.sqrt(np.mean((windowed - full) ** 2)) < 0.01 * np.sqrt(np.mean(full ** 2))


@pytest.mark.parametrize("victims", ["one worker", "every worker"])
def test_a_killed_worker_changes_nothing(cluster, monkeypatch, victims):
    # Every worker at once takes with it all the data the tasks need; the nannies start new
    # workers, and the run goes on with them.
    seq, tx, rx = sequence_and_apertures()
    points, amplitudes = phantom()
    desc = od.describe(seq, tx, rx, options={"c": C, "fs": FS}, chunk=500)
    serial, _ = od.simulate(desc, (points, amplitudes), client="serial", progress=False)
    cluster.wait_for_workers(2, timeout=60)
    before = list(cluster.run(os.getpid).values())
    add = od._Steps.add
    killed = []

    def add_then_kill(self, *args):
        # At the first result, with most tasks still queued or running, workers die.
        if not killed:
            killed.extend(before[:1] if victims == "one worker" else before)
            for pid in killed:
                os.kill(pid, signal.SIGKILL)
        add(self, *args)

    monkeypatch.setattr(od._Steps, "add", add_then_kill)
    spread, _ = od.simulate(desc, (points, amplitudes), client=cluster, threads=1,
                            progress=False)
    assert killed and not set(killed) & set(cluster.run(os.getpid).values())
    assert spread.tobytes() == serial.tobytes()


def test_a_failed_run_leaves_no_result_in_its_folder(cluster, tmp_path):
    # A task's error after a good run into the same folder, and steps that hold no scatterer
    # at all: neither the earlier result nor the steps stay to be read as this run's.
    seq, tx, rx = sequence_and_apertures()
    out = tmp_path / "out"
    good = od.describe(seq, tx, rx, options={"c": C, "fs": FS})
    seq[5]["rx_center"] = np.array([0.0, 0.0, np.nan])
    bad = od.describe(seq, tx, rx, options={"c": C, "fs": FS})
    od.simulate(good, phantom(), client=cluster, out=str(out), progress=False)
    with pytest.raises(orvel.OrvelError, match=r"^orvel\.distributed: line 6 of 16 "
                                                r"\(scatterers 0 to 2999\): .*finite"):
        od.simulate(bad, phantom(), client=cluster, out=str(out), progress=False)
    assert os.listdir(out) == []
    points, amplitudes = phantom()
    points[:, 0] += 0.1  # 100 mm aside: beyond every line's window
    with pytest.raises(ValueError, match=r"^orvel\.distributed: no scatterer lies in the "
                                         r"window of any step$"):
        od.simulate(good, (points, amplitudes), client=cluster, out=str(out), progress=False)
    assert os.listdir(out) == []


def test_a_new_result_leaves_an_earlier_memory_map_intact(cluster, tmp_path):
    # A second run into the folder, of the same shape with negated amplitudes, gives the
    # negated RF and leaves the first run's map as it was; so does a smaller third run (a
    # map of a file rewritten shorter dies with SIGBUS when touched).
    seq, tx, rx = sequence_and_apertures()
    points, amplitudes = phantom(600)
    run = lambda s, a: od.simulate(od.describe(s, tx, rx, options={"c": C, "fs": FS}),
                                   (points, a), client=cluster, out=str(tmp_path), progress=False)
    first, _ = run(seq, amplitudes)
    kept = np.array(first)
    second, _ = run(seq, -amplitudes)
    assert np.any(kept != 0) and np.array_equal(second, -kept) and np.array_equal(first, kept)
    third, _ = run(seq[:8], amplitudes)
    assert third.shape[1] == 8 and np.array_equal(first, kept)
    assert sorted(os.listdir(tmp_path)) == ["result.json", "rf.npy"]


@pytest.mark.parametrize("kind, window, row, column, value", [
    ("line", 1.0, 17, 0, np.nan), ("line", None, 17, 2, np.inf),
    ("plane", None, 2999, 3, -np.inf), ("plane", None, None, None, 1e-9j)])
def test_a_bad_phantom_is_refused_before_any_task_runs(cluster, tmp_path, kind, window, row,
                                                       column, value):
    # A value that is not finite, for each kind of step (a line's window dropped it
    # silently), and complex points (their imaginary part was dropped): refused, the output
    # folder's earlier result left as it was.
    seq, tx, rx = sequence_and_apertures()
    if kind == "plane":
        seq = im.scan_planewave(64, PITCH, np.deg2rad([-5.0, 5.0]), C)
    desc = od.describe(seq, tx, rx, options={"c": C, "fs": FS}, window=window)
    points, amplitudes = phantom()
    bad = (points + value, amplitudes)
    text = "the phantom must hold real numbers, but its points are complex128"
    if row is not None:
        bad = np.column_stack([points, amplitudes])
        bad[row, column] = value
        text = ("the phantom has a value that is not finite in row %d (counting from 0): "
                "x y z amplitude = [%s]" % (row, ", ".join("%g" % v for v in bad[row])))
    earlier = {"result.json": "earlier", "rf.npy": "earlier"}
    for name, content in earlier.items():
        (tmp_path / name).write_text(content)
    with pytest.raises(ValueError) as refused:
        od.simulate(desc, bad, client=cluster, out=str(tmp_path), progress=False)
    assert str(refused.value) == "orvel.distributed: " + text
    assert {name: (tmp_path / name).read_text() for name in os.listdir(tmp_path)} == earlier


def test_a_bad_phantom_file_is_refused_on_one_line_with_its_name(tmp_path):
    # From the command line: one line that names the file, and no output folder made.
    seq, tx, rx = sequence_and_apertures()
    (tmp_path / "sim.json").write_text(json.dumps(od.describe(seq, tx, rx)))
    points, amplitudes = phantom(10)
    good = np.column_stack([points, amplitudes])
    np.save(tmp_path / "good.npy", good)
    whole = (tmp_path / "good.npy").read_bytes()
    (tmp_path / "empty.npy").write_bytes(b"")
    (tmp_path / "truncated.npy").write_bytes(whole[:-8])
    (tmp_path / "garbled.npy").write_bytes(whole.replace(b"(10, 4)", b"(10, 4("))
    np.save(tmp_path / "complex.npy", good.astype(complex))
    for name, text in (("empty.npy", "is empty"),
                       ("truncated.npy", "is truncated: its header announces 10 x 4 values of "
                                         "float64 (320 bytes), but 312 bytes follow it"),
                       ("complex.npy", "must hold real numbers, but holds complex128"),
                       ("garbled.npy", "has no readable .npy header (")):
        done = subprocess.run([sys.executable, "-m", "orvel.distributed", "sim.json", name,
                               "--out", "out", "--serial", "--quiet"], cwd=tmp_path,
                              capture_output=True, text=True, timeout=60)
        line = "orvel.distributed: the phantom %s %s" % (tmp_path / name, text)
        first, rest = done.stderr.split("\n", 1)
        assert done.returncode == 1 and rest == "" and (first == line or name == "garbled.npy"
                                                        and first.startswith(line)), done.stderr
    assert not (tmp_path / "out").exists()
    # A phantom where the result goes would be removed before its workers read it.
    (tmp_path / "out").mkdir()
    os.replace(tmp_path / "good.npy", tmp_path / "out" / "rf.npy")
    with pytest.raises(ValueError, match=r"^orvel\.distributed: the phantom .*/out/rf\.npy is "
                                         r"where the result goes; give another output folder$"):
        od.simulate(str(tmp_path / "sim.json"), str(tmp_path / "out" / "rf.npy"),
                    client="serial", out=str(tmp_path / "out"), progress=False)
    assert (tmp_path / "out" / "rf.npy").read_bytes() == whole


def test_diverging_and_single_element_transmits_on_the_cluster_equal_scan_run(cluster):
    # Each step's delays, virtual source or one transmitting element reach the workers; the
    # chunk sums differ from scan_run's one call only by rounding. Kinds do not mix.
    _, tx, rx = sequence_and_apertures()
    points, amplitudes = phantom(300)
    diverging = im.scan_diverging(64, PITCH, [[-2e-3, 0, -10e-3], [3e-3, 0, -6e-3]], C)
    elements = im.scan_sta(64)[::21]  # elements 0, 21, 42 and 63
    for seq in (diverging, elements):
        desc = od.describe(seq, tx, rx, options={"c": C, "fs": FS}, chunk=100)
        spread, t_spread = od.simulate(desc, (points, amplitudes), client=cluster, threads=1,
                                       progress=False)
        orvel.orvel_init(-1)
        try:
            orvel.set_option("c", C)
            orvel.set_sampling(FS)
            reference, t0 = im.scan_run(seq, od._build(tx), od._build(rx), points, amplitudes)
        finally:
            orvel.orvel_end()
        assert spread.shape == reference.shape == (reference.shape[0], 64, len(seq))
        assert t_spread == t0
        assert np.max(np.abs(spread - reference)) < 1e-12 * np.max(np.abs(reference))
    with pytest.raises(ValueError, match=r"^orvel\.distributed: the sequence mixes steps of "
                                         r"the kinds diverging, element$"):
        od.describe(diverging + elements, tx, rx)


def test_plane_waves_by_chunks_from_the_command_line_and_octave(tmp_path):
    # Plane waves in chunks on the command line (local cluster of two processes), against
    # scan_run in one process: the chunk sums differ from one call only by rounding.
    seq, tx, rx = sequence_and_apertures()
    plane = im.scan_planewave(64, PITCH, np.deg2rad([-5.0, 5.0]), C)
    points, amplitudes = phantom(600)
    desc = od.describe(plane, tx, rx, options={"c": C, "fs": FS}, chunk=200)
    (tmp_path / "sim.json").write_text(json.dumps(desc))
    np.save(tmp_path / "sim.npy", np.column_stack([points, amplitudes]))
    done = subprocess.run([sys.executable, "-m", "orvel.distributed", "sim.json", "sim.npy",
                           "--out", "out", "--workers", "2", "--quiet"], cwd=tmp_path,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    result = json.loads((tmp_path / "out" / "result.json").read_text())
    rf = np.load(tmp_path / "out" / "rf.npy")
    serial, t_serial = od.simulate(desc, str(tmp_path / "sim.npy"), client="serial",
                                   progress=False)
    assert rf.tobytes() == serial.tobytes() and result["t0"] == t_serial
    assert sorted(os.listdir(tmp_path / "out")) == ["result.json", "rf.npy"]
    orvel.orvel_init(-1)
    try:
        orvel.set_option("c", C)
        orvel.set_sampling(FS)
        reference, t0 = im.scan_run(plane, od._build(tx), od._build(rx), points, amplitudes)
    finally:
        orvel.orvel_end()
    assert rf.shape == reference.shape == (rf.shape[0], 64, 2) and result["t0"] == t0
    assert np.max(np.abs(rf - reference)) < 1e-12 * np.max(np.abs(reference))


@pytest.mark.skipif(not os.environ.get("ORVEL_OCTAVE"), reason="Octave not configured")
def test_octave_sends_a_scan_to_the_cluster_and_reads_it_back(tmp_path):
    # The Octave helpers write the description and the phantom; the command line runs it on
    # two worker processes; scan_import gives what scan_run gives in Octave itself.
    script = tmp_path / "round_trip.m"  # not run.m, which shadows a function of Octave
    script.write_text(r"""
f0 = 5e6; fs = 100e6; c = 1540; pitch = c / f0 / 2;
t = 0:1/fs:2/f0;
impulse = sin(2*pi*f0*t) .* hanning(numel(t))'; excitation = sin(2*pi*f0*t);
make = {'xdc_linear_array', 32, pitch - 0.02e-3, 5e-3, 0.02e-3, 1, 3, [0 0 0.02]};
tx = struct('make', {make}, 'impulse', impulse, 'excitation', excitation);
rx = struct('make', {make}, 'impulse', impulse);
seq = scan_linear(32, pitch, 16, linspace(-1e-3, 1e-3, 5), 20e-3);
[px, pz] = meshgrid(linspace(-4e-3, 4e-3, 9), linspace(12e-3, 28e-3, 7));
points = [px(:) 0.1e-3 * ones(numel(px), 1) pz(:)];
amplitudes = cos(1:numel(px))';
scan_export('sim', seq, tx, rx, points, amplitudes, struct('c', c, 'fs', fs), [], 40);
status = system(sprintf('"%s" -m orvel.distributed sim.json sim.npy --out out --workers 2 --quiet', ...
                        getenv('ORVEL_PYTHON')));
assert(status == 0);
[rf, t0] = scan_import('out');
orvel_init(-1); set_option('c', c); set_sampling(fs);
Tx = feval(make{:}); xdc_impulse(Tx, impulse); xdc_excitation(Tx, excitation);
Rx = feval(make{:}); xdc_impulse(Rx, impulse);
[reference, t_reference] = scan_run(seq, Tx, Rx, points, amplitudes);
orvel_end();
assert(isequal(size(rf), size(reference), [rows(reference) 5]) && t0 == t_reference);
assert(max(abs(rf(:) - reference(:))) <= 1e-12 * max(abs(reference(:))));
printf('octave round trip ok\n');
""")
    env = dict(os.environ, ORVEL_PYTHON=sys.executable)
    imaging = os.path.join(os.environ["ORVEL_SCRIPTS"], "imaging")
    done = subprocess.run([os.environ["ORVEL_OCTAVE"], "--no-gui", "--norc", "--quiet",
                           "--path", os.environ["ORVEL_MEX_DIR"], "--path",
                           os.environ["ORVEL_SCRIPTS"], "--path", imaging, str(script)],
                          cwd=tmp_path, capture_output=True, text=True, env=env, timeout=300,
                          stdin=subprocess.DEVNULL)
    assert "octave round trip ok" in done.stdout, done.stdout + done.stderr
    # scan_export and scan_import run without a warning ("implicit conversion from numeric
    # to char" came from building the .npy magic string out of numbers and text).
    assert not re.search(r"^warning:", done.stderr, re.M), done.stderr
