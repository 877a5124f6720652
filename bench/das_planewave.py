"""Benchmark of image formation: delay-and-sum of a 351,000-pixel image from 128 elements and
15 plane waves, by das_image in the core (every core; median of three runs, the data copied in
each) and by the numpy delay-and-sum it replaced (tests/python/das_numpy_reference.py, one
run); and a 3-D volume of
64 x 64 x 200 points from a 32 x 32 array and 9 plane waves. The RF data are random (the time
does not depend on their values) and column-major, each signal's samples adjacent, as scan_run
returns them.

    PYTHONPATH=build/python python3 bench/das_planewave.py
"""
import os
import sys
import time

import numpy as np

import orvel
import orvel.imaging as im

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "python"))
from das_numpy_reference import das_numpy  # noqa: E402

fs, c, pitch = 40e6, 1540.0, 0.3e-3
rng = np.random.default_rng(1)
element_x = (np.arange(128) - 63.5) * pitch
angles = np.deg2rad(np.linspace(-7, 7, 15))
rf = np.asfortranarray(rng.standard_normal((2400, 128, 15)))
x = np.linspace(-19e-3, 19e-3, 390)
z = np.linspace(5e-3, 50e-3, 900)
work = x.size * z.size * element_x.size * angles.size
threads = len(os.sched_getaffinity(0))

print("Orvel benchmark: delay-and-sum image formation")
print("  %d pixels, 128 elements, 15 plane waves, %d samples" % (x.size * z.size, rf.shape[0]))
times = []
for _ in range(3):
    start = time.monotonic()
    core = im.das_beamform(rf, 0.0, fs, element_x, x, z, c, 1.5, angles, 0.0)
    times.append(time.monotonic() - start)
t_core = float(np.median(times))
print("  das_image (core, %d cores): median %.2f s (runs: %s s), %.3g pixel x element x "
      "transmit per s" % (threads, t_core, " ".join("%.2f" % t for t in times), work / t_core))
start = time.monotonic()
reference = das_numpy(rf, 0.0, fs, element_x, x, z, c, 1.5, angles, 0.0)
t_numpy = time.monotonic() - start
print("  numpy delay-and-sum:        %.2f s, %.3g pixel x element x transmit per s"
      % (t_numpy, work / t_numpy))
print("  core / numpy: %.1f times faster; largest difference %.1e of the image's largest value"
      % (t_numpy / t_core, np.abs(core - reference).max() / np.abs(reference).max()))

# A 3-D volume from a 2-D array.
ex, ey = np.meshgrid((np.arange(32) - 15.5) * pitch, (np.arange(32) - 15.5) * pitch)
elements = np.column_stack([ex.ravel(), ey.ravel(), np.zeros(ex.size)])
X, Y, Z = np.meshgrid(np.linspace(-5e-3, 5e-3, 64), np.linspace(-5e-3, 5e-3, 64),
                      np.linspace(10e-3, 40e-3, 200), indexing="ij")
points = np.column_stack([X.ravel(), Y.ravel(), Z.ravel()])
pairs = [(ax, ay) for ax in (-0.1, 0, 0.1) for ay in (-0.1, 0, 0.1)]
transmits = np.array([[1, ax, ay, 0, 0, 0, 0, 0] for ax, ay in pairs])
rf3 = np.asfortranarray(rng.standard_normal((1600, elements.shape[0], len(pairs))))
start = time.monotonic()
volume = orvel.das_image(rf3, 0.0, fs, c, 0.0, elements, points, transmits, f_number=1.5)
t_volume = time.monotonic() - start
print("  3-D: %d points, 1024 elements, 9 plane waves: %.2f s, %.3g point x element x transmit"
      " per s" % (points.shape[0], t_volume, points.shape[0] * 1024 * 9 / t_volume))
