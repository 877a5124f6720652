"""Orvel from Python: a B-mode image of a cyst phantom made with plane-wave compounding.

A 128-element, 5 MHz linear array (pitch half a wavelength, two-cycle pulse, fs = 100 MHz)
sends plane waves at five angles into a slab of randomly placed scatterers, ten per
resolution cell, with an anechoic cyst of radius 3 mm at 30 mm depth. The per-element echoes
of each transmit are beamformed (delay and sum, f-number 2) and the images summed; the
envelope, compressed to 50 dB, is written to orvel_cyst_python.png in the current folder.
Prints the cyst's contrast and the speckle's signal-to-noise ratio (mean over standard
deviation of the envelope, 1.91 for fully developed speckle) and the time taken. Headless
(matplotlib's Agg canvas).

    PYTHONPATH=build/python python3 python/examples/cyst.py
"""
import time

import numpy as np

import orvel
import orvel.imaging as im

clock = time.monotonic()

# ---- The system ----------------------------------------------------------------------------------
f0, fs, c = 5e6, 100e6, 1540.0
wavelength = c / f0                    # 0.308 mm
no_elements = 128
pitch = wavelength / 2                 # 0.154 mm: an aperture of 19.7 mm
kerf, height = 0.02e-3, 5e-3
f_number = 2.0                         # receive
angles = np.deg2rad([-8, -4, 0, 4, 8])  # plane-wave transmits, compounded
dynamic_range = 50.0

orvel.orvel_init(-1)
orvel.set_option("c", c)
orvel.set_sampling(fs)

t = np.arange(0, 2 / f0 + 1e-12, 1 / fs)  # two periods of f0, sampled from time 0
impulse = np.sin(2 * np.pi * f0 * t) * np.hanning(t.size)
excitation = np.sin(2 * np.pi * f0 * t)
lag = (2 * impulse.size + excitation.size - 3) / (2 * fs)  # centre of the two-way pulse

tx = orvel.xdc_linear_array(no_elements, pitch - kerf, height, kerf, 1, 5, [0, 0, 30e-3])
rx = orvel.xdc_linear_array(no_elements, pitch - kerf, height, kerf, 1, 5, [0, 0, 30e-3])
orvel.xdc_impulse(tx, impulse)
orvel.xdc_excitation(tx, excitation)
orvel.xdc_impulse(rx, impulse)
element_x = (np.arange(1, no_elements + 1) - (no_elements + 1) / 2) * pitch

# ---- The phantom: ten scatterers per resolution cell, one anechoic cyst --------------------------
# The cell: lateral wavelength * f_number, axial the -6 dB length of the two-way pulse's
# envelope in depth (about a wavelength here), elevation the slab's thickness, so that each
# cell of the image plane holds ten scatterers.
pulse = np.convolve(np.convolve(excitation, impulse), impulse)
pulse_env = im.envelope(np.concatenate([np.zeros(pulse.size), pulse, np.zeros(pulse.size)]))
axial = np.count_nonzero(pulse_env >= pulse_env.max() / 2) / fs * c / 2
cyst = [0.0, 30e-3, 3e-3, 0.0]         # [x z radius gain]
slab = 0.5e-3
region = [-9e-3, 9e-3, -slab / 2, slab / 2, 18e-3, 46e-3]
cell = im.resolution_cell(wavelength, f_number, axial, slab)
points, amplitudes = im.phantom_tissue(region, 10, cell, [cyst], seed=1)
print("Orvel cyst phantom: %d scatterers, %d-element %.0f MHz array, %d plane waves"
      % (amplitudes.size, no_elements, f0 / 1e6, angles.size), flush=True)

# ---- Scan and image ------------------------------------------------------------------------------
seq = im.scan_planewave(no_elements, pitch, angles, c)
rf, t0 = im.scan_run(seq, tx, rx, points, amplitudes)
orvel.orvel_end()

x = np.arange(-8e-3, 8e-3 + 1e-9, wavelength / 4)
z = np.arange(20e-3, 44e-3 + 1e-9, wavelength / 8)
rf_image = im.das_beamform(rf, t0, fs, element_x, x, z, c, f_number, angles, lag)
env = im.envelope(rf_image)
image_db = im.log_compress(env, dynamic_range)
im.show_image("orvel_cyst_python.png", image_db, x, z, dynamic_range,
              "Cyst phantom, %d plane waves compounded" % angles.size)

# ---- Figures -------------------------------------------------------------------------------------
X, Z = np.meshgrid(x, z)
r = np.hypot(X - cyst[0], Z - cyst[1])
inside = r < 0.75 * cyst[2]  # clear of the cyst's blurred rim
# Speckle below the cyst and within 5 mm of the axis, where all five plane waves reach: its
# mean level varies little there.
outside = (Z > 35e-3) & (Z < 43e-3) & (np.abs(X) < 5e-3)
contrast = 20 * np.log10(env[inside].mean() / env[outside].mean())
snr = env[outside].mean() / env[outside].std()
print("  contrast of the cyst: %.1f dB (mean envelope inside over outside)" % contrast)
print("  speckle SNR: %.2f (1.91 for fully developed speckle)" % snr)
print("  written: orvel_cyst_python.png (%.1f s)" % (time.monotonic() - clock))
