# Results written by the workers into a Zarr store: a small 3-D scan gives, bit for bit, the RF
# of the serial run in memory, also with a worker killed mid-run, and the image the cluster
# forms from it is the serial one; a failed run's finished steps are reused; the client holds
# little while the workers write more RF than a set limit; bad store paths and other runs'
# stores are refused before any task runs; the command line writes a store Octave reads.
import os
import signal
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import orvel
import orvel.distributed as od
import orvel.imaging as im

F0, FS, C = 5e6, 100e6, 1540.0
PITCH = C / F0 / 2
ANGLES = np.array([[0.0, 0.0], [0.1, -0.05], [-0.05, 0.1]])


def volume_scan(n_points=2000, angles=ANGLES, chunk=100, seed=1):
    """An 8 x 8 array's plane waves steered in two angles over a block of scatterers: the
    description, the phantom, the element positions and the pulse's lag."""
    t = np.arange(0, 2 / F0 + 1e-12, 1 / FS)
    impulse = np.sin(2 * np.pi * F0 * t) * np.hanning(t.size)
    excitation = np.sin(2 * np.pi * F0 * t)
    make = ("xdc_2d_array", 8, 8, PITCH - 0.02e-3, PITCH - 0.02e-3, 0.02e-3, 0.02e-3,
            np.ones((8, 8)), 1, 1, [0, 0, 0.03])
    tx = od.transducer(*make, impulse=impulse, excitation=excitation)
    rx = od.transducer(*make, impulse=impulse)
    orvel.orvel_init(-1)
    try:
        elements = im.element_positions(od._build(rx))
    finally:
        orvel.orvel_end()
    rng = np.random.default_rng(seed)
    phantom = np.column_stack([rng.uniform(-2e-3, 2e-3, n_points),
                               rng.uniform(-2e-3, 2e-3, n_points),
                               rng.uniform(5e-3, 10e-3, n_points),
                               rng.standard_normal(n_points)])
    desc = od.describe(im.scan_planewave_2d(elements, angles, C), tx, rx,
                       options={"c": C, "fs": FS}, chunk=chunk)
    lag = (2 * impulse.size + excitation.size - 3) / (2 * FS)
    return desc, phantom, elements, lag


@pytest.fixture(scope="module")
def cluster():
    from dask.distributed import Client, LocalCluster
    local = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                         dashboard_address=":0")
    client = Client(local)
    yield client
    client.close()
    local.close()


def test_the_store_holds_the_serial_result_with_a_worker_killed(cluster, tmp_path,
                                                                monkeypatch):
    import dask.array as da
    desc, phantom, elements, lag = volume_scan()  # 20 chunks a step: a tree of two levels
    serial, t_serial = od.simulate(desc, phantom, client="serial", progress=False)
    cluster.wait_for_workers(2, timeout=60)
    victim = list(cluster.run(os.getpid).values())[0]
    tick, killed = od._Progress.tick, []

    def tick_then_kill(self, *args):
        # At the first step written, with the other steps' chunks queued or running.
        if not killed:
            killed.append(victim)
            os.kill(victim, signal.SIGKILL)
        tick(self, *args)

    monkeypatch.setattr(od._Progress, "tick", tick_then_kill)
    store = str(tmp_path / "scan.zarr")
    rf, t0 = od.simulate(desc, phantom, client=cluster, store=store, threads=1,
                         progress=False)
    monkeypatch.undo()
    assert killed and victim not in cluster.run(os.getpid).values()
    assert isinstance(rf, da.Array) and rf.shape == serial.shape
    assert np.asarray(rf).tobytes() == serial.tobytes() and t0 == t_serial
    assert sorted(os.listdir(store)) == [".zattrs", ".zgroup", "rf"]  # no steps left behind

    # The cluster's image, block by block and transmit by transmit: the serial run's bit for
    # bit, and das_beamform's of the in-memory RF to rounding.
    x, y = np.linspace(-1.5e-3, 1.5e-3, 7), np.linspace(-1.5e-3, 1.5e-3, 5)
    z = np.linspace(6e-3, 9e-3, 40)
    args = (store, elements, x, z, C, 1.5, ANGLES, lag)
    here = np.asarray(od.beamform(*args, y=y, client="serial", block=(3, 2), progress=False))
    spread = od.beamform(*args, y=y, client=cluster, block=(3, 2), progress=False)
    reference = im.das_beamform(serial, t_serial, FS, elements, x, z, C, 1.5, ANGLES, lag, y=y)
    assert spread.shape == reference.shape == (40, 7, 5)
    assert np.asarray(spread).tobytes() == here.tobytes()
    assert np.max(np.abs(here - reference)) <= 1e-12 * np.max(np.abs(reference))
    back = od.open_store(store)
    assert np.array_equal(back["grid"]["y"], y) and back["t0"] == t_serial


def test_a_failed_run_leaves_its_finished_steps_for_the_next(tmp_path, monkeypatch):
    desc, phantom, _, _ = volume_scan(n_points=300)
    serial, t_serial = od.simulate(desc, phantom, client="serial", progress=False)
    task, calls = od._task, []

    def failing(desc, phantom, k, *args):
        if k == 1:
            raise RuntimeError("the node went down")
        return task(desc, phantom, k, *args)

    store = str(tmp_path / "s")
    monkeypatch.setattr(od, "_task", failing)
    with pytest.raises(RuntimeError, match=r"transmit 2 of 3 \(scatterers 0 to 99\): the node"):
        od.simulate(desc, phantom, client="serial", store=store, progress=False)
    with pytest.raises(ValueError, match="no complete result"):
        od.open_store(store)

    def counting(desc, phantom, k, *args):
        calls.append(k)
        return task(desc, phantom, k, *args)

    monkeypatch.setattr(od, "_task", counting)
    rf, t0 = od.simulate(desc, phantom, client="serial", store=store, progress=False)
    assert sorted(set(calls)) == [1, 2]  # the first transmit came from the failed run
    assert np.asarray(rf).tobytes() == serial.tobytes() and t0 == t_serial


def test_bad_store_paths_and_other_runs_are_refused_before_any_task(tmp_path, monkeypatch):
    desc, phantom, _, _ = volume_scan(n_points=20, angles=ANGLES[:1])
    other = str(tmp_path / "other")
    od.simulate(desc, phantom[::-1], client="serial", store=other, progress=False)
    (tmp_path / "a file").write_text("x")
    (tmp_path / "notes").mkdir()
    (tmp_path / "notes" / "keep.txt").write_text("mine")

    def no_task(*args):
        raise AssertionError("a task ran")

    def listing():
        return sorted((root, tuple(sorted(files))) for root, _, files in os.walk(tmp_path))

    before = listing()
    monkeypatch.setattr(od, "_task", no_task)
    for store, text in [(tmp_path / "missing" / "s", "parent folder .* does not exist"),
                        (tmp_path / "a file", "is a file"),
                        (tmp_path / "notes", "holds files but no Orvel store"),
                        (other, "holds the result of another run")]:
        with pytest.raises(ValueError, match=text):
            od.simulate(desc, phantom, client="serial", store=str(store), progress=False)
    with pytest.raises(ValueError, match="either out or store"):
        od.simulate(desc, phantom, client="serial", store=other, out=str(tmp_path / "o"),
                    progress=False)
    with pytest.raises(ValueError, match="one transmit per transmit of the store"):
        od.beamform(other, np.zeros((64, 3)), [0.0], [5e-3], C, 1.5, ANGLES[:2], 0.0,
                    client="serial")
    assert listing() == before
    monkeypatch.undo()
    rf, _ = od.simulate(desc, phantom, client="serial", store=other, overwrite=True,
                        progress=False)
    serial, _ = od.simulate(desc, phantom, client="serial", progress=False)
    assert np.asarray(rf).tobytes() == serial.tobytes()


def test_the_client_holds_little_while_the_workers_write_more_than_a_limit(tmp_path):
    # 24 transmits of a 16 x 16 array over scatterers 5 to 45 mm deep: about 250 MB of RF.
    # The client (with the LocalCluster's scheduler in it) must grow by less than LIMIT.
    limit = 100 << 20
    code = textwrap.dedent("""
        import os, sys, threading, time
        import numpy as np
        import orvel, orvel.imaging as im, orvel.distributed as od
        from dask.distributed import Client, LocalCluster

        def rss():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

        if __name__ == "__main__":
            fs, c, f0 = 100e6, 1540.0, 5e6
            pitch = c / f0 / 2
            make = ("xdc_2d_array", 16, 16, pitch, pitch, 0.02e-3, 0.02e-3, np.ones((16, 16)),
                    1, 1, [0, 0, 0.03])
            orvel.orvel_init(-1)
            e = im.element_positions(orvel.xdc_2d_array(*make[1:]))
            orvel.orvel_end()
            angles = np.column_stack([np.linspace(-0.1, 0.1, 24), np.zeros(24)])
            seq = im.scan_planewave_2d(e, angles, c)
            desc = od.describe(seq, od.transducer(*make), od.transducer(*make),
                               options={"c": c, "fs": fs}, chunk=8)
            z = np.linspace(5e-3, 45e-3, 16)
            phantom = np.column_stack([0 * z, 0 * z, z, np.ones_like(z)])
            client = Client(LocalCluster(n_workers=2, threads_per_worker=1,
                                         dashboard_address=":0"))
            base, peak, stop = rss(), [0], [False]

            def sample():
                while not stop[0]:
                    peak[0] = max(peak[0], rss())
                    time.sleep(0.02)

            watcher = threading.Thread(target=sample)
            watcher.start()
            rf, t0 = od.simulate(desc, phantom, client=client, store=sys.argv[1],
                                 progress=False)
            stop[0] = True
            watcher.join()
            print(rf.nbytes, peak[0] - base)
    """)
    script = tmp_path / "client.py"
    script.write_text(code)
    done = subprocess.run([sys.executable, str(script), str(tmp_path / "big")],
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    total, growth = map(int, done.stdout.split()[-2:])
    assert total > 2 * limit and 0 < growth < limit, (total, growth)


@pytest.mark.skipif(not os.environ.get("ORVEL_OCTAVE"), reason="Octave not configured")
def test_octave_reads_a_store_the_command_line_wrote(tmp_path):
    import json
    desc, phantom, elements, lag = volume_scan(n_points=200, chunk=40)
    (tmp_path / "sim.json").write_text(json.dumps(desc))
    np.save(tmp_path / "sim.npy", phantom)
    done = subprocess.run([sys.executable, "-m", "orvel.distributed", "sim.json", "sim.npy",
                           "--store", "s.zarr", "--serial", "--quiet"], cwd=tmp_path,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    x, z = np.linspace(-1e-3, 1e-3, 5), np.linspace(6e-3, 9e-3, 7)
    image = np.asarray(od.beamform(str(tmp_path / "s.zarr"), elements, x, z, C, 1.5, ANGLES,
                                   lag, client="serial", block=(2,), progress=False))
    rf = np.asarray(od.open_store(str(tmp_path / "s.zarr"))["rf"])
    script = tmp_path / "read_store.m"
    script.write_text(r"""
[rf, t0, info] = scan_import('s.zarr');
fid = fopen('octave.bin', 'w'); fwrite(fid, [t0; info.fs; size(rf)'; rf(:); info.image(:); ...
    info.x(:); info.z(:)], 'double'); fclose(fid);
printf('read %s\n', info.kind);
""")
    imaging = os.path.join(os.environ["ORVEL_SCRIPTS"], "imaging")
    done = subprocess.run([os.environ["ORVEL_OCTAVE"], "--no-gui", "--norc", "--quiet",
                           "--path", imaging, str(script)], cwd=tmp_path, capture_output=True,
                          text=True, timeout=300, stdin=subprocess.DEVNULL)
    assert "read plane" in done.stdout, done.stdout + done.stderr
    got = np.fromfile(tmp_path / "octave.bin")
    head = got[:5]
    rest = got[5:]
    assert head[0] == od.open_store(str(tmp_path / "s.zarr"))["t0"] and head[1] == FS
    assert tuple(head[2:]) == rf.shape
    expected = np.concatenate([rf.ravel(order="F"), image.ravel(order="F"), x, z])
    assert rest.tobytes() == expected.tobytes()


def test_firing_ensembles_of_lines_and_transmits_keep_slow_time_in_the_store(tmp_path):
    from test_distributed import sequence_and_apertures
    seq, tx, rx = sequence_and_apertures()
    vessel = {"center": [0, 0, 20e-3], "direction": [1, 0, 0.5], "radius": 1e-3, "v_peak": 0.3}
    flow = im.phantom_flow([-3e-3, 3e-3, -1e-3, 1e-3, 17e-3, 23e-3], vessel, 2.0, 1e-9, 1)
    for k, steps in enumerate((seq[:4], im.scan_planewave(64, PITCH, [-0.05, 0.05], C))):
        desc = od.describe(im.scan_ensemble(steps, 5e3, 3), tx, rx,
                           options={"c": C, "fs": FS}, chunk=40)
        serial, t_serial = od.simulate(desc, flow, client="serial", progress=False)
        rf, t0 = od.simulate(desc, flow, client="serial", store=str(tmp_path / str(k)),
                             progress=False)
        assert rf.shape == serial.shape and serial.shape[-2:] == (len(steps), 3)
        assert np.asarray(rf).tobytes() == serial.tobytes() and t0 == t_serial


def test_a_pyramidal_scan_through_the_store_is_scan_run_of_its_lines(tmp_path):
    # Lines steered in two angles (window None, one chunk: each task is scan_run's own call).
    desc, phantom, _, _ = volume_scan(n_points=60)
    angles = np.array([[ax, ay] for ax in (-0.1, 0.1) for ay in (-0.05, 0.05)])
    desc = od.describe(im.scan_phased_2d(64, angles, 8e-3), desc["tx"], desc["rx"],
                       options={"c": C, "fs": FS}, window=None, chunk=100)
    rf, t0 = od.simulate(desc, phantom, client="serial", store=str(tmp_path / "s"),
                         progress=False)
    orvel.orvel_init(-1)
    try:
        orvel.set_option("c", C)
        orvel.set_sampling(FS)
        reference, t_reference = im.scan_run(desc["sequence"], od._build(desc["tx"]),
                                             od._build(desc["rx"]), phantom[:, :3], phantom[:, 3])
    finally:
        orvel.orvel_end()
    assert rf.shape == reference.shape == (reference.shape[0], 4) and t0 == t_reference
    assert np.asarray(rf).tobytes() == reference.tobytes()
