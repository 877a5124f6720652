"""Benchmark and scale model: a 3-D scan of a million-scatterer phantom written to a store.

A 16 x 16 element 3 MHz 2-D array (pitch half a wavelength) sends plane waves steered in two
angles into 1,000,000 scatterers read from an .npy file (a box 12 x 12 x 30 mm); the run goes
to a Zarr store on a LocalCluster (--workers processes, one thread each), then the volume is
beamformed on the cluster into the same store. Measured and printed:

  - wall time of the simulation and of the beamforming, tasks and tasks per second
  - time per task (chunk tasks: phantom chunk to RF; the tree's sums; the stage and place
    writes), from the workers' own records of the run
  - the bytes a task reads (its phantom rows) and writes (its step's RF, twice: staged and
    placed), and the whole RF
  - peak memory (VmHWM) of each worker process, and the client's growth during the run
    (sampled every 20 ms) and its own peak
  - the scheduler's rate with tasks of no work (a small record each, and chains of sums of
    the chunk RF's size), the ceiling of any cluster it runs

From these it prints the projected time of the same scan on 10, 100 and 1,000 machines of the
same cores, with the term that bounds each (compute, scheduler, storage, phantom reads).

    PYTHONPATH=build/python python3 bench/distributed_volume.py [--scatterers 1000000]
        [--transmits 5] [--workers 2] [--chunk 50000] [--folder /tmp/orvel-volume]
"""
import argparse
import math
import os
import shutil
import statistics
import threading
import time

import numpy as np

import orvel
import orvel.distributed as od
import orvel.imaging as im


def rss(field="VmRSS"):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return 0


def setup(n_transmits):
    f0, fs, c = 3e6, 50e6, 1540.0
    wavelength = c / f0
    n, pitch, kerf = 16, wavelength / 2, 0.02e-3
    t = np.arange(0, 2 / f0 + 1e-12, 1 / fs)
    impulse = np.sin(2 * np.pi * f0 * t) * np.hanning(t.size)
    excitation = np.sin(2 * np.pi * f0 * t)
    make = ("xdc_2d_array", n, n, pitch - kerf, pitch - kerf, kerf, kerf, np.ones((n, n)), 1, 1,
            [0, 0, 0.04])
    tx = od.transducer(*make, impulse=impulse, excitation=excitation)
    rx = od.transducer(*make, impulse=impulse)
    orvel.orvel_init(-1)
    try:
        elements = im.element_positions(od._build(rx))
    finally:
        orvel.orvel_end()
    # Angles on a ring: the centre, then steered by 0.1 rad in x and y.
    phi = np.linspace(0, 2 * np.pi, max(n_transmits - 1, 1), endpoint=False)
    angles = np.vstack([[0.0, 0.0], np.column_stack([0.1 * np.cos(phi), 0.1 * np.sin(phi)])])
    angles = angles[:n_transmits]
    seq = im.scan_planewave_2d(elements, angles, c)
    lag = (2 * impulse.size + excitation.size - 3) / (2 * fs)
    return seq, tx, rx, elements, angles, lag, {"c": c, "fs": fs}, wavelength


def write_phantom(path, count):
    rng = np.random.default_rng(1)
    data = np.lib.format.open_memmap(path, mode="w+", dtype=float, shape=(count, 4))
    for lo in range(0, count, 1 << 18):
        hi = min(lo + (1 << 18), count)
        m = hi - lo
        data[lo:hi] = np.column_stack([rng.uniform(-6e-3, 6e-3, m), rng.uniform(-6e-3, 6e-3, m),
                                       rng.uniform(10e-3, 40e-3, m), rng.standard_normal(m)])
    data.flush()
    del data


def task_times(client, started):
    """Durations by kind of task ('chunk', 'sum', 'stage', 'place', 'image', 'add', 'write')
    from the scheduler's records of the task stream since `started`."""
    times = {}
    for rec in client.get_task_stream(start=started):
        kind = rec["key"].split("-")[1] if rec["key"].startswith("orvel-") else "other"
        for s in rec.get("startstops", ()):
            if s["action"] == "compute":
                times.setdefault(kind, []).append(s["stop"] - s["start"])
    return times


def scheduler_rate(client, n, payload):
    """Tasks per second for n tasks of no work: each returns `payload` bytes' worth of
    floats, a quarter of them summed in pairs as the tree sums."""
    def make(k, size):
        return np.zeros(size // 8)

    def add(a, b):
        return a + b

    clock = time.monotonic()
    leaves = [client.submit(make, k, payload, pure=False) for k in range(n)]
    sums = [client.submit(add, leaves[i], leaves[i + 1], pure=False)
            for i in range(0, n // 2, 2)]
    acks = [client.submit(len, s, pure=False) for s in sums]
    client.gather(acks)
    elapsed = time.monotonic() - clock
    count = len(leaves) + len(sums) + len(acks)
    for f in leaves + sums + acks:
        f.release()
    return count / elapsed


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--scatterers", type=int, default=1_000_000)
    p.add_argument("--transmits", type=int, default=5)
    p.add_argument("--workers", type=int, default=2)
    p.add_argument("--chunk", type=int, default=50_000)
    p.add_argument("--folder", default="/tmp/orvel-volume")
    a = p.parse_args()
    from dask.distributed import Client, LocalCluster

    os.makedirs(a.folder, exist_ok=True)
    phantom = os.path.join(a.folder, "phantom.npy")
    store = os.path.join(a.folder, "scan.zarr")
    seq, tx, rx, elements, angles, lag, options, wavelength = setup(a.transmits)
    if not os.path.exists(phantom) or np.load(phantom, mmap_mode="r").shape[0] != a.scatterers:
        write_phantom(phantom, a.scatterers)
    shutil.rmtree(store, ignore_errors=True)
    desc = od.describe(seq, tx, rx, options=options, chunk=a.chunk)
    client = Client(LocalCluster(n_workers=a.workers, threads_per_worker=1, processes=True,
                                 dashboard_address=":0"))
    client.get_task_stream(count=1)  # registers the scheduler's record of the task stream
    print("%d scatterers from %s, %d elements, %d transmits, chunk %d, %d workers"
          % (a.scatterers, phantom, len(elements), len(seq), a.chunk, a.workers))

    base, peak, stop = rss(), [0], [False]

    def sample():
        while not stop[0]:
            peak[0] = max(peak[0], rss())
            time.sleep(0.02)

    watcher = threading.Thread(target=sample)
    watcher.start()
    started = time.time()
    clock = time.monotonic()
    rf, t0 = od.simulate(desc, phantom, client=client, store=store, threads=1, progress=False)
    sim_time = time.monotonic() - clock
    sim_tasks = task_times(client, started)

    # The volume: 0.2 mm across, a quarter wavelength in depth, 10 to 40 mm.
    x = y = np.arange(-6e-3, 6e-3 + 1e-9, 0.2e-3)
    z = np.arange(10e-3, 40e-3, wavelength / 4)
    started = time.time()
    clock = time.monotonic()
    image = od.beamform(store, elements, x, z, options["c"], 1.5, angles, lag, y=y,
                        client=client, threads=1, progress=False)
    bf_time = time.monotonic() - clock
    bf_tasks = task_times(client, started)
    stop[0] = True
    watcher.join()
    workers_peak = client.run(rss, "VmHWM")

    rf_bytes = rf.nbytes
    step_bytes = rf_bytes / len(seq)
    n_chunks = math.ceil(a.scatterers / a.chunk)
    print("simulation: %.1f s, RF %s = %.1f MB (%.1f MB a transmit)"
          % (sim_time, "x".join(map(str, rf.shape)), rf_bytes / 1e6, step_bytes / 1e6))
    print("volume: %s points, %.1f s, image %.1f MB"
          % ("x".join(map(str, image.shape)), bf_time, image.nbytes / 1e6))
    for name, times in sorted({**{"sim " + k: v for k, v in sim_tasks.items()},
                               **{"bf " + k: v for k, v in bf_tasks.items()}}.items()):
        print("  %-12s %5d tasks, median %.3f s, max %.3f s, total %.1f s"
              % (name, len(times), statistics.median(times), max(times), sum(times)))
    n_sim = sum(len(v) for v in sim_tasks.values())
    print("tasks per second in the run: simulation %.1f, beamforming %.1f"
          % (n_sim / sim_time, sum(len(v) for v in bf_tasks.values()) / bf_time))
    print("bytes per chunk task: reads %.2f MB of phantom rows, returns about %.1f MB of RF"
          % (a.chunk * 32 / 1e6, step_bytes / 1e6))
    print("bytes per step: staged %.1f MB, placed %.1f MB (read back once)"
          % (step_bytes / 1e6, step_bytes / 1e6))
    print("peak memory of each worker (VmHWM): %s MB"
          % ", ".join("%.0f" % (v / 1e6) for v in workers_peak.values()))
    print("client: grew by %.1f MB during the run, peak %.0f MB (VmHWM %.0f MB)"
          % ((peak[0] - base) / 1e6, peak[0] / 1e6, rss("VmHWM") / 1e6))

    small = scheduler_rate(client, 2000, 64)
    large = scheduler_rate(client, 200, int(step_bytes))
    print("scheduler: %.0f tasks/s with tasks of no work, %.0f tasks/s with %.1f MB results"
          % (small, large, step_bytes / 1e6))

    # The cost of a task of no scatterers' worth (16 of them) in this process: starting the
    # module, building the apertures, the step's setup, and the output's fixed size.
    rng = np.random.default_rng(2)
    few = np.column_stack([rng.uniform(-6e-3, 6e-3, 16), rng.uniform(-6e-3, 6e-3, 16),
                           rng.uniform(10e-3, 40e-3, 16), np.ones(16)])
    fixed = statistics.median(_timed(od._task, desc, few, 0, 0, 16, 1) for _ in range(3))
    chunk_time = statistics.median(sim_tasks["chunk"])
    per_scatterer = max(chunk_time - fixed, 0.0) / a.chunk
    sum_time = statistics.median(sim_tasks.get("sum", [0.0]) + sim_tasks["stage"])
    print("a chunk task: %.3f s fixed + %.3g s a scatterer (%.2f s at %d)"
          % (fixed, per_scatterer, chunk_time, a.chunk))
    model(a.scatterers, len(seq), a.workers, fixed, per_scatterer, sum_time, step_bytes, small)
    client.close()


def _timed(f, *args):
    clock = time.perf_counter()
    f(*args)
    return time.perf_counter() - clock


def model(n, steps, cores, fixed, per_scatterer, sum_time, step_bytes, rate, link=1e9):
    """Projected time of the scan on machines of `cores` workers: for each count, the chunk
    size (tasks per step) that gives the least time, and the bounds, taking the largest:

      compute    waves of chunk tasks over every worker, then the tree's levels (a sum each)
      scheduler  every task (chunks, sums, stages, places) at the rate measured
      transfer   each chunk's RF (the step's size, whatever the chunk) to its sum, spread over
                 the machines' links
      storage    the phantom read once a step, the RF staged, read and placed, all through
                 one shared store
      broadcast  a phantom held in memory instead of a file: the scheduler sends it to each
                 worker process

    `link` is the bandwidth assumed for each machine's network, the store and the scheduler
    (1 GB/s); nothing here was measured on more than one machine."""
    print("model (machines of %d cores as here, links and shared storage of %.0f GB/s):"
          % (cores, link / 1e9))
    phantom = 32 * n
    for machines in (1, 10, 100, 1000):
        slots = machines * cores
        best = None
        for k in sorted({1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096}):
            c = math.ceil(n / k)
            tasks = steps * (k + math.ceil(k / 7) + 2)
            levels = max(1, math.ceil(math.log(k, 8))) if k > 1 else 1
            compute = (math.ceil(steps * k / slots) * (fixed + per_scatterer * c)
                       + levels * sum_time)
            terms = {"compute": compute, "scheduler": tasks / rate,
                     "transfer": steps * k * step_bytes / (machines * link),
                     "storage": (steps * phantom + 3 * steps * step_bytes) / link}
            total = max(terms.values())
            if best is None or total < best[0]:
                best = (total, k, c, terms)
        total, k, c, terms = best
        print("  %4d machines: %4d tasks a step (chunk %7d): %s -> %.1f s, bound by %s; "
              "with the phantom in memory, broadcast %.0f s more"
              % (machines, k, c, ", ".join("%s %.2f s" % kv for kv in terms.items()), total,
                 max(terms, key=terms.get), slots * phantom / link))


if __name__ == "__main__":
    main()
