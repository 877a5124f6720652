"""Orvel from Python: the emitted field of a focused linear array, in pascals, as a picture.

The same 128-element, 3 MHz array as the Octave demo (64 active elements, focus at 40 mm,
two-cycle pulse, fs = 100 MHz, surface velocity pulse of 0.1 m/s peak, rho = 1000 kg/m^3).
One calc_hp_map call over the plane y = 0 gives the peak pressure of the pulse and the 3 MHz
continuous-wave amplitude at every point; orvel_field_python.png in the current folder shows
both in dB and the -6 dB beam width of both along depth. Headless (matplotlib's Agg).

    PYTHONPATH=build/python python3 python/examples/field.py
"""
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import orvel  # noqa: E402


def beam_width(x, v):
    """The -6 dB width of the beam at each depth (row of v, values >= 0 along x): the
    length of the run of x around the row's peak where v is at least half the peak, its ends
    interpolated linearly between the samples on either side of half. NaN where the run
    reaches an end of x, whose width the map cannot tell."""
    w = np.full(v.shape[0], np.nan)
    for k, row in enumerate(v):
        i = int(np.argmax(row))
        half = row[i] / 2
        below_left = np.flatnonzero(row[:i + 1] < half)   # samples below half before the peak
        below_right = np.flatnonzero(row[i:] < half)      # and after it
        if not row[i] > 0 or below_left.size == 0 or below_right.size == 0:
            continue
        left, right = below_left[-1], i + below_right[0]
        crossings = [x[a] + (half - row[a]) / (row[b] - row[a]) * (x[b] - x[a])
                     for a, b in ((left, left + 1), (right - 1, right))]
        w[k] = crossings[1] - crossings[0]
    return w


f0, fs, c, rho = 3e6, 100e6, 1540.0, 1000.0
v_peak = 0.1  # peak surface velocity [m/s]: rho*c*v_peak = 154 kPa at the surface
no_elements, no_active = 128, 64
width, kerf, height = 0.27e-3, 0.025e-3, 5e-3
pitch = width + kerf
focus_z = 40e-3

orvel.orvel_init(-1)
orvel.set_option("c", c)
orvel.set_option("rho", rho)
orvel.set_sampling(fs)

t = np.arange(0, 2 / f0 + 1e-12, 1 / fs)  # two periods of f0, sampled from time 0
impulse = np.sin(2 * np.pi * f0 * t) * np.hanning(t.size)  # the window of Octave's hanning
excitation = np.sin(2 * np.pi * f0 * t)
# The impulse response convolved with the excitation (a time integral) is the surface
# velocity: scaled to peak at v_peak, it makes the maps pascals.
excitation *= v_peak / np.abs(np.convolve(impulse, excitation) / fs).max()

x = np.arange(-100, 101) * 0.2e-3  # -20 to 20 mm, 0 exactly in the middle
z = np.arange(20, 321) * 0.25e-3   # 5 to 80 mm
X, Z = np.meshgrid(x, z)  # one depth per row, one x per column

with orvel.xdc_linear_array(no_elements, width, height, kerf, 1, 10, [0, 0, focus_z]) as tx:
    orvel.xdc_impulse(tx, impulse)
    orvel.xdc_excitation(tx, excitation)
    x_element = (np.arange(1, no_elements + 1) - (no_elements + 1) / 2) * pitch
    orvel.xdc_apodization(tx, 0.0, (np.abs(x_element) < no_active / 2 * pitch).astype(float))

    start = time.monotonic()
    points = np.column_stack([X.ravel(), np.zeros(X.size), Z.ravel()])
    field = orvel.calc_hp_map(tx, points, ["p_peak", ("cw", f0)])
    field_time = time.monotonic() - start

orvel.orvel_end()

# The cw amplitude is per m/s of surface velocity amplitude: scaled to v_peak, both maps are
# pascals for the same surface velocity.
maps = [field["p_peak"].reshape(X.shape), field["cw_amplitude"].reshape(X.shape) * v_peak]
names = ["peak pressure", "%.0f MHz cw amplitude" % (f0 / 1e6)]
print(f"Orvel from Python: emitted field of {X.size} points ({x.size} x {z.size}) by "
      f"calc_hp_map in {field_time:.1f} s")

at_focus = int(np.argmin(np.abs(z - focus_z)))
peaks, dbs, widths = [], [], []
for name, m in zip(names, maps):
    i = np.unravel_index(np.argmax(m), m.shape)
    peaks.append(m[i])
    dbs.append(np.maximum(20 * np.log10(m / m[i]), -60))
    widths.append(beam_width(x, m))
    narrowest = int(np.nanargmin(widths[-1]))
    print(f"  {name:<20s} max {m[i] / 1e6:.3f} MPa at x = {X[i] * 1e3:.1f} mm, "
          f"z = {Z[i] * 1e3:.2f} mm; -6 dB width {widths[-1][at_focus] * 1e3:.2f} mm at "
          f"z = {focus_z * 1e3:.0f} mm (narrowest {widths[-1][narrowest] * 1e3:.2f} mm at "
          f"z = {z[narrowest] * 1e3:.2f} mm)")

# Each map's box is 40 mm by 75 mm to scale, so that its z axis lines up with (c).
fig = plt.figure(figsize=(14, 7.6))
box_height = 0.82
box_width = box_height * 7.6 * (x[-1] - x[0]) / ((z[-1] - z[0]) * 14)
extent = [x[0] * 1e3, x[-1] * 1e3, z[-1] * 1e3, z[0] * 1e3]
titles = ["(a) Peak pressure [dB re %.2f MPa]" % (peaks[0] / 1e6),
          "(b) %s [dB re %.2f MPa]" % (names[1], peaks[1] / 1e6)]
for k, (db, title) in enumerate(zip(dbs, titles)):
    left = 0.055 + 0.325 * k
    ax = fig.add_axes([left, 0.09, box_width, box_height])
    image = ax.imshow(db, extent=extent, cmap="jet", vmin=-60, vmax=0, aspect="auto")
    # The colour bar beside the box, unlabelled: the title gives the unit.
    fig.colorbar(image, cax=fig.add_axes([left + box_width + 0.01, 0.09, 0.012, box_height]))
    ax.set_xlabel("x [mm]")
    ax.set_ylabel("z [mm]")
    ax.set_title(title)
ax = fig.add_axes([0.72, 0.09, 0.25, box_height])
ax.plot(widths[1] * 1e3, z * 1e3, "r", lw=2, label=names[1])
ax.plot(widths[0] * 1e3, z * 1e3, "b", lw=2, label=names[0])
ax.set_ylim(z[-1] * 1e3, z[0] * 1e3)
ax.set_xlim(0, (x[-1] - x[0]) / 2 * 1e3)
ax.grid(True)
ax.set_xlabel("-6 dB width [mm]")
ax.set_ylabel("z [mm]")
ax.legend(loc="center right")
ax.set_title("(c) -6 dB beam width, %d of %d elements" % (no_active, no_elements))
fig.savefig("orvel_field_python.png", dpi=100)
print("  written: orvel_field_python.png")
