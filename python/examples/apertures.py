"""Orvel from Python: point targets imaged three ways, with the lateral resolution of each.

A 64-element, 5 MHz linear array (pitch half a wavelength, two-cycle pulse, fs = 100 MHz)
images point targets at 15, 25 and 35 mm depth by
  - a single plane wave (0 degrees),
  - eleven plane waves from -10 to 10 degrees, compounded, and
  - a synthetic transmit aperture: every element alone in transmit, every element in
    receive (the full matrix of calc_scat_all), each transmit beamformed as a wave from its
    element and all summed,
all formed by das_image in the core (f-number 1.5, Hann receive window). Prints, for each
method and target, the lateral -6 dB width of the envelope and where its peak lies against
the target, then writes the three images (40 dB) side by side to orvel_apertures_python.png.
Headless (matplotlib's Agg canvas).

The elements are 0.3 mm tall, not the usual 5 mm: das_image times each echo from the
elements' centres, but most of a tall element without an elevation lens lies farther from a
target than its centre, so with 5 mm elements (five rectangles each in elevation) the targets
here move by up to 0.2 wavelengths in depth and widen by up to 0.1 mm.

    PYTHONPATH=build/python python3 python/examples/apertures.py
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
no_elements = 64
pitch = wavelength / 2                 # 0.154 mm: an aperture of 9.9 mm
kerf, height = 0.02e-3, 0.3e-3
f_number = 1.5                         # receive
angles = np.deg2rad(np.linspace(-10, 10, 11))
dynamic_range = 40.0
depths = np.array([15e-3, 25e-3, 35e-3])

orvel.orvel_init(-1)
orvel.set_option("c", c)
orvel.set_sampling(fs)

t = np.arange(0, 2 / f0 + 1e-12, 1 / fs)  # two periods of f0, sampled from time 0
excitation = np.sin(2 * np.pi * f0 * t)
impulse = excitation * np.hanning(t.size)
lag = (2 * impulse.size + excitation.size - 3) / (2 * fs)  # centre of the two-way pulse

tx = orvel.xdc_linear_array(no_elements, pitch - kerf, height, kerf, 1, 1, [0, 0, 25e-3])
rx = orvel.xdc_linear_array(no_elements, pitch - kerf, height, kerf, 1, 1, [0, 0, 25e-3])
orvel.xdc_impulse(tx, impulse)
orvel.xdc_excitation(tx, excitation)
orvel.xdc_impulse(rx, impulse)
elements = im.element_positions(rx)
points, amplitudes = im.phantom_points(np.column_stack([np.zeros(depths.size), depths]))

# The image grid, x = 0 on it. The RF image repeats every half wavelength in depth (the echo
# travels both ways), so depth takes four points per period: at two (a step of wavelength / 4)
# each column's envelope is aliased, and targets came out up to 0.6 wavelengths off in depth
# and 0.3 mm aside.
step = wavelength / 8
x = np.arange(-104, 105) * step     # -4.0 to 4.0 mm
z = np.arange(10e-3, 40e-3 + 1e-9, step)
X, Z = np.meshgrid(x, z)
grid = np.column_stack([X.ravel("F"), np.zeros(X.size), Z.ravel("F")])


def form(rf, t0, transmits):
    return orvel.das_image(rf, t0, fs, c, lag, elements, grid, transmits,
                           f_number=f_number).reshape(X.shape, order="F")


# ---- Scans and images ----------------------------------------------------------------------------
def plane_waves(steering):
    seq = im.scan_planewave(no_elements, pitch, steering, c)
    rf, t0 = im.scan_run(seq, tx, rx, points, amplitudes)
    transmits = np.zeros((steering.size, 8))  # kind 1, plane: [1, angle, 0, 0, t_ref, 0, 0, 0]
    transmits[:, 0], transmits[:, 1] = 1, steering
    # The delays of scan_planewave fire the first element at time 0.
    transmits[:, 4] = -np.min(np.sin(steering)[:, np.newaxis] * elements[:, 0], axis=1) / c
    return form(rf, t0, transmits)


images = {"one plane wave": plane_waves(np.zeros(1)),
          "%d plane waves" % angles.size: plane_waves(angles)}
# Synthetic aperture: no focusing delays, the full matrix in one call; each transmit is a
# wave from its element's centre (kind 4, t_ref 0).
for th in (tx, rx):
    orvel.xdc_focus_delays(th, 0.0, np.zeros((1, no_elements)))
    orvel.xdc_apodization(th, 0.0, np.ones((1, no_elements)))
rf, t0 = orvel.calc_scat_all(tx, rx, points, amplitudes, 1)
transmits = np.zeros((no_elements, 8))
transmits[:, 0], transmits[:, 1:4] = 4, elements
images["synthetic aperture"] = form(rf, t0, transmits)
orvel.orvel_end()


# ---- Figures -------------------------------------------------------------------------------------
def refine(v, k, axis):
    """The position of the peak at index k of v, between grid points by a parabola through
    it and its two neighbours."""
    a, b, d = v[k - 1], v[k], v[k + 1]
    return axis[k] + 0.5 * (a - d) / (a - 2 * b + d) * (axis[1] - axis[0])


def measure(env, depth):
    """(width, dx, dz) of the target at (0, depth): the -6 dB width of the lateral profile
    (the envelope's largest value in each column within a wavelength of the peak's depth),
    its crossings interpolated, and the peak's offset from the target [m]."""
    near = np.flatnonzero(np.abs(z - depth) <= 2 * wavelength)
    i, j = np.unravel_index(np.argmax(env[near]), (near.size, x.size))
    i = near[i]
    rows = slice(i - 8, i + 9)  # 8 steps of wavelength / 8 above and below
    profile = env[rows].max(axis=0)
    half = profile[j] / 2
    below_left, below_right = profile[j::-1] < half, profile[j:] < half
    assert below_left.any() and below_right.any(), "the lobe reaches the image's edge"
    left, right = j - np.argmax(below_left), j + np.argmax(below_right)

    def cross(a, b):
        return x[a] + (half - profile[a]) / (profile[b] - profile[a]) * (x[b] - x[a])

    width = cross(right - 1, right) - cross(left, left + 1)
    return width, refine(env[i], j, x), refine(env[:, j], i, z) - depth


print("Orvel from Python: point targets at %s mm, %d-element %.0f MHz array"
      % (", ".join("%.0f" % (d * 1e3) for d in depths), no_elements, f0 / 1e6))
print("  lateral -6 dB width [mm] (peak's offset x, z from the target [wavelengths])")
envelopes = {}
for name, image in images.items():
    env = im.envelope(image)
    envelopes[name] = env
    figures = []
    for d in depths:
        width, dx, dz = measure(env, d)
        figures.append("%.2f (%+.2f, %+.2f)" % (width * 1e3, dx / wavelength, dz / wavelength))
    print("  %-19s %s" % (name, "   ".join(figures)))

fig, axes = plt.subplots(1, 3, figsize=(8.5, 7), sharey=True)
for ax, (name, env) in zip(axes, envelopes.items()):
    db = im.log_compress(env, dynamic_range)
    shown = ax.imshow(db, extent=[x[0] * 1e3, x[-1] * 1e3, z[-1] * 1e3, z[0] * 1e3],
                      cmap="gray", vmin=-dynamic_range, vmax=0)
    ax.set_title(name)
    ax.set_xlabel("x [mm]")
axes[0].set_ylabel("z [mm]")
fig.colorbar(shown, ax=axes, label="dB", shrink=0.8)
fig.savefig("orvel_apertures_python.png", dpi=100)
print("  written: orvel_apertures_python.png (%.1f s)" % (time.monotonic() - clock))
