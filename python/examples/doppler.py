"""Orvel from Python: a colour-flow image of a vessel at 60 degrees to the beam.

A 96-element, 5 MHz linear array (pitch half a wavelength, elements 10 mm tall with an
elevation lens focused at 25 mm, fs = 100 MHz, a 6-cycle burst as Doppler modes send) scans
33 focused lines (32 active elements, focus at 25 mm) through a block of tissue with a vessel
of radius 2.5 mm crossing it at 60 degrees to the beam, at 25 mm depth. The blood flows up
towards the transducer with a parabolic profile, 0.5 m/s on the axis, so its axial velocity
there is 0.5 cos(60) = 0.25 m/s; the tissue's echoes are ten times the blood's (clutter 10).
Each line is fired 10 times in a row at a PRF of 10 kHz (aliasing at c PRF / (4 f0) = 0.77
m/s, three times the axial velocity). The RF lines are the image's columns: they are IQ
demodulated, clutter filtered (a straight line fitted along slow time removed) and turned
into velocity and power (lag-one autocorrelation). Writes orvel_doppler_python.png (the
velocity in colour, red towards the transducer, over the grey B-mode wherever the flow's
power is within 20 dB of its peak; the vessel's walls dashed) and prints the estimated
against the true axial velocity on the vessel's centreline, the mean over its central third.
Headless (matplotlib's Agg canvas).

    PYTHONPATH=build/python python3 python/examples/doppler.py
"""
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import orvel  # noqa: E402
import orvel.imaging as im  # noqa: E402

clock = time.monotonic()

# ---- The system ----------------------------------------------------------------------------------
f0, fs, c = 5e6, 100e6, 1540.0
wavelength = c / f0                    # 0.308 mm
no_elements, no_active = 96, 32
pitch = wavelength / 2                 # 0.154 mm: 4.9 mm active, f-number 5 at the focus
kerf, height, focus = 0.02e-3, 10e-3, 25e-3
prf, ensemble = 10e3, 10
dynamic_range = 50.0

orvel.orvel_init(-1)
orvel.set_option("c", c)
orvel.set_sampling(fs)
t = np.arange(0, 2 / f0 + 1e-12, 1 / fs)
impulse = np.sin(2 * np.pi * f0 * t) * np.hanning(t.size)
excitation = np.sin(2 * np.pi * f0 * np.arange(0, 6 / f0 + 1e-12, 1 / fs))
lag = (2 * impulse.size + excitation.size - 3) / (2 * fs)  # centre of the two-way pulse
make = (no_elements, pitch - kerf, height, kerf, focus, 1, 5, [0, 0, focus])
tx, rx = orvel.xdc_focused_array(*make), orvel.xdc_focused_array(*make)
orvel.xdc_impulse(tx, impulse)
orvel.xdc_excitation(tx, excitation)
orvel.xdc_impulse(rx, impulse)

# ---- The phantom: tissue around a vessel at 60 degrees ------------------------------------------
# Three scatterers per mm^3: three to four per resolution cell at the focus (wavelength *
# f-number = 1.6 mm across, about 1 mm in depth, 0.8 mm in elevation), enough for the flow's
# estimates; fully developed speckle would take three times as many, and as long.
theta = np.deg2rad(60)
vessel = {"center": [0, 0, 25e-3], "direction": [np.sin(theta), 0, -np.cos(theta)],
          "radius": 2.5e-3, "v_peak": 0.5, "profile": "parabolic", "clutter": 10}
region = [-6.5e-3, 6.5e-3, -2.5e-3, 2.5e-3, 16e-3, 34e-3]
phantom = im.phantom_flow(region, vessel, 3.0, 1e-9, seed=1)
true_axial = -vessel["v_peak"] * vessel["direction"][2]  # towards the transducer: positive
no_blood = phantom["blood_s0"].size
no_points = no_blood + phantom["tissue_amplitudes"].size
x_lines = np.linspace(-4.8e-3, 4.8e-3, 33)
print("Orvel colour flow: %d scatterers (%d in the blood), %d lines x %d firings at %.0f kHz"
      % (no_points, no_blood, x_lines.size, ensemble, prf / 1e3), flush=True)

# ---- Scan: every line fired `ensemble` times in a row --------------------------------------------
seq = im.scan_ensemble(im.scan_linear(no_elements, pitch, no_active, x_lines, focus), prf,
                       ensemble)
# Each line sees the scatterers within 1.5 mm of its active elements' extent.
rf, t0 = im.scan_run(seq, tx, rx, phantom, None, window=1.5e-3)  # samples x lines x firings
orvel.orvel_end()
simulated = time.monotonic() - clock

# ---- Doppler processing ----------------------------------------------------------------------
iq, t0_iq, fs_iq = im.iq_demodulate(rf, t0, fs, f0, decimation=4)
depth = im.sample_depth(iq.shape[0], t0_iq, fs_iq, c, lag)
flow = im.clutter_filter(iq, "polynomial", 1)
velocity, power, _ = im.color_flow(flow, prf, f0, c)
bmode = im.log_compress(np.sqrt(np.mean(np.abs(iq) ** 2, axis=-1)), dynamic_range)
shown = (depth > 18e-3) & (depth < 32e-3)
coloured = power >= power[shown].max() / 100  # within 20 dB of the flow's peak

# The centreline: for each line, the sample nearest the axis's depth there; its central third.
axis_depth = vessel["center"][2] + x_lines * (vessel["direction"][2] / vessel["direction"][0])
row = np.argmin(np.abs(depth[:, None] - axis_depth), axis=0)
central = np.abs(x_lines) <= x_lines.max() / 3
estimated = velocity[row[central], np.flatnonzero(central)].mean()
limit = c * prf / (4 * f0)

# ---- Picture ---------------------------------------------------------------------------------
dx = x_lines[1] - x_lines[0]
extent = [(x_lines[0] - dx / 2) * 1e3, (x_lines[-1] + dx / 2) * 1e3,
          depth[shown][-1] * 1e3, depth[shown][0] * 1e3]
fig, ax = plt.subplots(figsize=(7.5, 8))
ax.imshow(bmode[shown], extent=extent, cmap="gray", vmin=-dynamic_range, vmax=0,
          aspect="auto", interpolation="nearest")
overlay = np.ma.masked_where(~coloured[shown], velocity[shown])
colours = ax.imshow(overlay, extent=extent, cmap="RdBu_r", vmin=-limit, vmax=limit,
                    aspect="auto", interpolation="nearest")
fig.colorbar(colours, ax=ax, label="axial velocity [m/s], positive towards the transducer")
x_mm = np.array(extent[:2])
for side in (-1, 1):  # the walls, radius / sin(theta) above and below the axis in depth
    wall = (vessel["center"][2] + x_mm * 1e-3 * vessel["direction"][2] / vessel["direction"][0]
            + side * vessel["radius"] / np.sin(theta))
    ax.plot(x_mm, wall * 1e3, "w--", linewidth=0.8)
ax.set_xlim(extent[:2])
ax.set_ylim(extent[2:])
ax.set_aspect("equal")
ax.set_xlabel("x [mm]")
ax.set_ylabel("z [mm]")
ax.set_title("Colour flow: vessel at 60° to the beam, 0.5 m/s peak")
fig.savefig("orvel_doppler_python.png", dpi=100, bbox_inches="tight")

# ---- Figures -------------------------------------------------------------------------------------
print("  axial velocity on the centreline (central third, %d lines): estimated %.3f m/s, "
      "true %.3f m/s (%+.1f%%)" % (central.sum(), estimated, true_axial,
                                   100 * (estimated / true_axial - 1)))
print("  aliasing limit +-%.2f m/s; simulation %.1f s, processing %.1f s"
      % (limit, simulated, time.monotonic() - clock - simulated))
print("  written: orvel_doppler_python.png (%.1f s)" % (time.monotonic() - clock))
