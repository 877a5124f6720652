"""Orvel from Python: the emitted field of a focused linear array, as a picture.

The same 128-element, 3 MHz array as the Octave demo (64 active elements, focus at 40 mm,
two-cycle pulse, fs = 100 MHz); the peak emitted pressure over x and z in the plane y = 0 is
written, in dB, to orvel_field_python.png in the current folder. Headless (matplotlib's Agg).

    PYTHONPATH=build/python python3 python/examples/field.py
"""
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import orvel  # noqa: E402

f0, fs, c = 3e6, 100e6, 1540.0
no_elements, no_active = 128, 64
width, kerf, height = 0.27e-3, 0.025e-3, 5e-3
pitch = width + kerf

orvel.orvel_init(-1)
orvel.set_option("c", c)
orvel.set_sampling(fs)

t = np.arange(0, 2 / f0 + 1e-12, 1 / fs)  # two periods of f0, sampled from time 0
window = 0.5 * (1 - np.cos(2 * np.pi * np.arange(1, t.size + 1) / (t.size + 1)))

with orvel.xdc_linear_array(no_elements, width, height, kerf, 1, 10, [0, 0, 40e-3]) as tx:
    orvel.xdc_impulse(tx, np.sin(2 * np.pi * f0 * t) * window)
    orvel.xdc_excitation(tx, np.sin(2 * np.pi * f0 * t))
    x_element = (np.arange(1, no_elements + 1) - (no_elements + 1) / 2) * pitch
    orvel.xdc_apodization(tx, 0.0, (np.abs(x_element) < no_active / 2 * pitch).astype(float))

    x = np.arange(-20e-3, 20e-3 + 1e-9, 0.2e-3)
    z = np.arange(5e-3, 80e-3 + 1e-9, 0.25e-3)
    peak = np.empty((z.size, x.size))
    start = time.monotonic()
    for k, depth in enumerate(z):  # one depth per call keeps the common time axis short
        points = np.column_stack([x, np.zeros_like(x), np.full_like(x, depth)])
        hp, _ = orvel.calc_hp(tx, points)
        peak[k] = np.abs(hp).max(axis=0)
    print(f"Orvel from Python: emitted field of {peak.size} points in "
          f"{time.monotonic() - start:.1f} s")

orvel.orvel_end()

db = np.maximum(20 * np.log10(peak / peak.max()), -60)
fig, ax = plt.subplots(figsize=(6, 8.2))
image = ax.imshow(db, extent=[x[0] * 1e3, x[-1] * 1e3, z[-1] * 1e3, z[0] * 1e3],
                  cmap="jet", vmin=-60, vmax=0)
fig.colorbar(image, ax=ax, label="dB")
ax.set_xlabel("x [mm]")
ax.set_ylabel("z [mm]")
ax.set_title("Peak emitted pressure, 64 of 128 elements, focus 40 mm")
fig.savefig("orvel_field_python.png", dpi=100)
print("  written: orvel_field_python.png")
