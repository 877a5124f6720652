"""Orvel from Python: a volume imaged by a 2-D array with plane waves steered in two angles.

A 24 x 24 element, 3 MHz 2-D array (pitch half a wavelength, 6.2 mm square, two-cycle pulse,
fs = 100 MHz) sends five plane waves, steered by up to 0.1 rad in x and in y, into a box of
randomly placed scatterers with an anechoic spherical cyst of radius 2 mm at 11 mm depth and
three bright points. The per-element echoes of each transmit are beamformed (delay and sum,
f-number 1.5) on an x-y-z grid and summed; the envelope, compressed to 40 dB, is written
with show_volume to orvel_volume_python.png in the current folder: the slices through the
brightest voxel and the maximum-intensity projections. Prints the cyst's contrast and the
time taken (about 40 s on two cores). Headless (matplotlib's Agg canvas).

    PYTHONPATH=build/python python3 python/examples/volume.py
"""
import time

import numpy as np

import orvel
import orvel.imaging as im

clock = time.monotonic()

# ---- The system ----------------------------------------------------------------------------------
f0, fs, c = 3e6, 100e6, 1540.0
wavelength = c / f0                    # 0.513 mm
n = 24                                 # elements along x and along y
pitch = wavelength / 2                 # 0.257 mm: an aperture of 6.2 mm
kerf = 0.02e-3
f_number = 1.5                         # receive
angles = np.array([[0.0, 0.0], [0.1, 0.0], [-0.1, 0.0], [0.0, 0.1], [0.0, -0.1]])  # [ax ay]

orvel.orvel_init(-1)
orvel.set_sampling(fs)
orvel.set_option("c", c)
t = np.arange(0, 2 / f0 + 1e-12, 1 / fs)
impulse = np.sin(2 * np.pi * f0 * t) * np.hanning(t.size)
excitation = np.sin(2 * np.pi * f0 * t)
tx, rx = (orvel.xdc_2d_array(n, n, pitch - kerf, pitch - kerf, kerf, kerf, np.ones((n, n)),
                             1, 1, [0, 0, 0.02]) for _ in range(2))
for th in (tx, rx):
    orvel.xdc_impulse(th, impulse)
orvel.xdc_excitation(tx, excitation)
lag = (2 * impulse.size + excitation.size - 3) / (2 * fs)   # centre of the pulse-echo pulse
elements = im.element_positions(rx)
# Hann weights in x and y in transmit: weaker edge waves behind each plane wave.
width = n * pitch
hann = (np.cos(np.pi * elements[:, 0] / width) * np.cos(np.pi * elements[:, 1] / width)) ** 2
seq = im.scan_planewave_2d(elements, angles, c, apodization=hann)

# ---- The phantom ---------------------------------------------------------------------------------
# About 5,000 scatterers: 4 per resolution cell (lambda*F wide in x and y, half a millimetre
# long), few enough for a minute's run, still speckle-like.
region = [-4e-3, 4e-3, -4e-3, 4e-3, 6e-3, 16e-3]
cell = im.resolution_cell(wavelength, 2.0, 0.5e-3, 2.0 * wavelength)
cyst = [0.0, 0.0, 11e-3, 2e-3, 0.0]                     # [x y z radius gain]: anechoic
points, amplitudes = im.phantom_tissue(region, 4, cell, seed=1, spheres=[cyst])
bright, weights = im.phantom_points([[-2.5e-3, 2e-3, 8e-3], [2e-3, -2e-3, 13e-3],
                                     [0.0, 0.0, 14.5e-3]], [20.0, 20.0, 20.0])
points = np.vstack([points, bright])
amplitudes = np.concatenate([amplitudes, weights])
print("%d scatterers, %d elements, %d transmits" % (len(points), len(elements), len(seq)))

# ---- Channel data and the volume -----------------------------------------------------------------
rf, t0 = im.scan_run(seq, tx, rx, points, amplitudes)
x = np.arange(-4e-3, 4e-3 + 1e-9, 0.2e-3)
y = np.arange(-4e-3, 4e-3 + 1e-9, 0.2e-3)
z = np.arange(6e-3, 16e-3 + 1e-9, wavelength / 5)       # depth finer than the RF's half period
image = im.das_beamform(rf, t0, fs, elements, x, z, c, f_number, angles, lag, y=y)
envelope = im.envelope(image)
volume_db = im.log_compress(envelope, 40)
im.show_volume("orvel_volume_python.png", volume_db, x, y, z, 40,
               "Orvel: 2-D array, %d plane waves, spherical cyst" % len(seq))

# ---- The cyst's contrast -------------------------------------------------------------------------
Z, X, Y = np.meshgrid(z, x, y, indexing="ij")
r = np.sqrt(X ** 2 + Y ** 2 + (Z - cyst[2]) ** 2)
inside = r < 0.6 * cyst[3]
shell = (r > 1.4 * cyst[3]) & (r < 2.0 * cyst[3]) & (Z > 7e-3) & (Z < 15e-3)
contrast = 20 * np.log10(envelope[inside].mean() / envelope[shell].mean())
print("cyst contrast %.1f dB (inside 0.6 r against a shell 1.4 r to 2 r)" % contrast)
print("wrote orvel_volume_python.png in %.1f s" % (time.monotonic() - clock))
orvel.orvel_end()
