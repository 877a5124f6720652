"""Benchmark: the cyst image of python/examples/cyst.py, spread over local Dask workers.

The phantom and the array are those of the example (128 elements, 5 MHz, a 0.5 mm slab of
speckle at ten scatterers per resolution cell with an anechoic cyst). Two sequences over it:

  plane  the example's five plane waves (-8 to 8 degrees), every scatterer, each transmit
         cut into chunks so that both workers have work
  lines  a linear scan of the same region: 64 lines from -8 to 8 mm, 64 active elements,
         transmit focus at 30 mm, the default window

Each runs in one process without Dask (the module on every core), on a LocalCluster of one
worker process (the module on one thread, then on every core) and of two (one thread each);
the results are checked to be equal bit for bit. Prints the times (median of --runs), the
time per line or transmit, the speed-up of two workers over one, the tasks and the bytes of a
step, and the cost of a task itself (64 lines over 16 scatterers).

    PYTHONPATH=build/python python3 bench/distributed_cyst.py [--runs 3]
"""
import argparse
import os
import pickle
import platform
import statistics
import time

import numpy as np

import orvel.distributed as od
import orvel.imaging as im


def setup():
    f0, fs, c = 5e6, 100e6, 1540.0
    wavelength = c / f0
    no_elements, pitch, kerf, height = 128, wavelength / 2, 0.02e-3, 5e-3
    t = np.arange(0, 2 / f0 + 1e-12, 1 / fs)
    impulse = np.sin(2 * np.pi * f0 * t) * np.hanning(t.size)
    excitation = np.sin(2 * np.pi * f0 * t)
    make = ("xdc_linear_array", no_elements, pitch - kerf, height, kerf, 1, 5, [0, 0, 30e-3])
    tx = od.transducer(*make, impulse=impulse, excitation=excitation)
    rx = od.transducer(*make, impulse=impulse)
    pulse = np.convolve(np.convolve(excitation, impulse), impulse)
    env = im.envelope(np.concatenate([np.zeros(pulse.size), pulse, np.zeros(pulse.size)]))
    axial = np.count_nonzero(env >= env.max() / 2) / fs * c / 2
    slab = 0.5e-3
    cell = im.resolution_cell(wavelength, 2.0, axial, slab)
    points, amplitudes = im.phantom_tissue([-9e-3, 9e-3, -slab / 2, slab / 2, 18e-3, 46e-3], 10,
                                           cell, [[0.0, 30e-3, 3e-3, 0.0]], seed=1)
    options = {"c": c, "fs": fs}
    plane = im.scan_planewave(no_elements, pitch, np.deg2rad([-8, -4, 0, 4, 8]), c)
    lines = im.scan_linear(no_elements, pitch, 64, np.linspace(-8e-3, 8e-3, 64), 30e-3)
    n = amplitudes.size
    return {
        "plane": od.describe(plane, tx, rx, options, chunk=-(-n // 8)),
        "lines": od.describe(lines, tx, rx, options),
    }, (points, amplitudes)


def timed(desc, phantom, client, threads, runs):
    times, rf = [], None
    for _ in range(runs):
        clock = time.monotonic()
        rf, _ = od.simulate(desc, phantom, client=client, threads=threads, progress=False)
        times.append(time.monotonic() - clock)
    return statistics.median(times), rf


def cluster(workers):
    from dask.distributed import Client, LocalCluster
    clock = time.monotonic()
    local = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                         dashboard_address=":0")
    return local, Client(local), time.monotonic() - clock


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--runs", type=int, default=3)
    a = p.parse_args()
    descs, phantom = setup()
    cores = len(os.sched_getaffinity(0))
    print("orvel.distributed benchmark: %s, %d cores, %s; %d scatterers, median of %d runs"
          % (platform.node(), cores, platform.processor() or platform.machine(),
             phantom[1].size, a.runs))
    clusters = {w: cluster(w) for w in (1, 2)}
    print("starting a LocalCluster: %.1f s (1 worker), %.1f s (2 workers); not in the times "
          "below" % (clusters[1][2], clusters[2][2]))
    for name, desc in descs.items():
        steps = len(desc["sequence"])
        tasks = len(od._tasks(desc, phantom[1].size)[0])
        word = "line" if name == "lines" else "transmit"
        per_task = len(pickle.dumps(desc["sequence"][0]))
        serial, reference = timed(desc, phantom, "serial", None, a.runs)
        single, rf0 = timed(desc, phantom, clusters[1][1], 1, a.runs)
        one, rf1 = timed(desc, phantom, clusters[1][1], cores, a.runs)
        two, rf2 = timed(desc, phantom, clusters[2][1], max(1, cores // 2), a.runs)
        same = all(r.tobytes() == reference.tobytes() for r in (rf0, rf1, rf2))
        print("%s: %d %ss, %d tasks (a step is %d bytes; the phantom, %.1f MB, goes once to "
              "each worker)" % (name, steps, word, tasks, per_task, phantom[0].nbytes / 0.75e6))
        print("  one process, no Dask:    %7.2f s  (%.3f s per %s)" % (serial, serial / steps, word))
        print("  1 worker x 1 thread:     %7.2f s  (%.3f s per %s)" % (single, single / steps,
                                                                       word))
        print("  1 worker x %d threads:    %7.2f s  (%.3f s per %s)" % (cores, one, one / steps, word))
        print("  2 workers x %d thread(s): %7.2f s  (%.3f s per %s), speed-up over 1 worker "
              "%.2f (x %d threads), %.2f (x 1 thread)"
              % (max(1, cores // 2), two, two / steps, word, one / two, cores, single / two))
        print("  results equal bit for bit: %s" % ("yes" if same else "NO"), flush=True)
    # The cost of a task itself: the same 64 lines over 16 scatterers, where building the
    # apertures and the round trip through the scheduler are most of each task.
    few = (phantom[0][:16], phantom[1][:16])
    serial, _ = timed(descs["lines"], few, "serial", None, a.runs)
    two, _ = timed(descs["lines"], few, clusters[2][1], max(1, cores // 2), a.runs)
    print("tiny tasks (64 lines of 16 scatterers): %.1f ms per task in one process, %.1f ms "
          "per task over 2 workers" % (serial / 64 * 1e3, two / 64 * 1e3))
    for local, client, _ in clusters.values():
        client.close()
        local.close()


if __name__ == "__main__":
    main()
