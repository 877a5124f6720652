"""Imaging with Orvel: phantoms, scan sequences, beamforming, B-mode pictures, moving
scatterers and Doppler processing, the acoustic output of a pulse, and files of channel data
and images for other tools (HDF5 in the ultrasound file format's layout, .npz).

The same functions, with the same arguments, units and results, as the Octave scripts of
octave/imaging. Lengths are in metres, times in seconds, frequencies in Hz, angles in
radians. Points are numpy arrays of shape (n, 3); one value per point is a 1-D array.

    phantom_points, phantom_tissue, resolution_cell, phantom_from_map   scatterers
    phantom_flow, phantom_motion, phantom_positions                       moving scatterers
    scan_linear, scan_phased, scan_convex, scan_planewave, scan_diverging,
    scan_phased_2d, scan_planewave_2d, scan_diverging_2d,
    scan_sta, scan_ensemble, scan_apply, scan_run                         scan sequences
    das_beamform, element_positions, envelope, log_compress, scan_convert,
    scan_convert_3d, show_image, show_volume,
    sample_depth, tgc                                                     images
    iq_demodulate, clutter_filter, color_flow, doppler_spectrum           Doppler
    acoustic_output                                                       acoustic output (MI)
    uff_write_channel, uff_read_channel, uff_write_image, uff_read_image  exchange files

A scan sequence is a list of dicts, one per line or per transmit, with the keys:

    kind            'line' (focused lines through calc_scat), or a transmit whose RF of
                    every element comes through calc_scat_multi: 'plane' (plane waves),
                    'diverging' (from a virtual source) or 'element' (one element alone)
    angle           steering angle [rad] from the z axis towards +x
    angle_y         scan_planewave_2d and scan_phased_2d only: the steering angle ay [rad]
                    towards +y (taken as 0 where a step has none)
    x               lateral position of the line's origin [m] (0 for phased and transmits)
    tx_apodization  transmit weights, one per element (1-D)
    rx_apodization  receive weights, one per element (1-D)
    tx_focus        transmit focus [x, y, z] [m] ('line'; None for 'plane')
    rx_center       origin of the dynamic receive focus [x, y, z] [m] ('line'; None for 'plane')
    tx_delays       transmit delays [s], one per element, all >= 0 (transmits; None for 'line')
    source          'diverging' only: the virtual source [x, y, z] [m]
    element         'element' only: the emitting element's index, from 0

A firing sequence of scan_ensemble holds each step once per firing, in the order they are
fired, with the further keys t (the firing time [s]), firing and step_index (from 0), prf,
ensemble, order and steps. Doppler arrays have fast time (depth) along the first axis and slow
time (the firings) along the last; velocities are axial, positive towards the transducer.

Example (plane-wave imaging of one point)::

    import numpy as np, orvel, orvel.imaging as im
    orvel.orvel_init(-1)
    tx = orvel.xdc_linear_array(64, 0.28e-3, 5e-3, 0.03e-3, 1, 5, [0, 0, 0.03])
    rx = orvel.xdc_linear_array(64, 0.28e-3, 5e-3, 0.03e-3, 1, 5, [0, 0, 0.03])
    seq = im.scan_planewave(64, 0.31e-3, [0.0], 1540)
    points, amplitudes = im.phantom_points([[0, 0.03]])
    rf, t0 = im.scan_run(seq, tx, rx, points, amplitudes)
    x_e = (np.arange(1, 65) - 32.5) * 0.31e-3
    x, z = np.linspace(-5e-3, 5e-3, 101), np.linspace(25e-3, 35e-3, 201)
    image = im.das_beamform(rf[:, :, 0], t0, 100e6, x_e, x, z, 1540, 2.0, 0.0, 0.0)
    orvel.orvel_end()
"""
import contextlib
import functools
import math
import os
import time

import numpy as np

from . import _commands as _cmd


# Argument checks: the error text starts with the function's name and names the argument.

def _array(fn, name, value, ndim=None):
    """A real array as float64; ndim, when given, is the number of dimensions it must have
    (a vector: 1, of any orientation)."""
    try:
        a = np.asarray(value)
    except ValueError:
        a = None
    if a is None or isinstance(value, (str, bytes)) or a.dtype.kind not in "biuf":
        raise TypeError("%s: %s must be real numbers, but is %s"
                        % (fn, name, type(value).__name__))
    a = a.astype(np.float64)
    if ndim == 1:
        if a.ndim > 1 and a.size != max(a.shape):
            raise ValueError("%s: %s must be a vector, but has shape %s" % (fn, name, a.shape))
        a = a.reshape(-1)
    elif ndim is not None and a.ndim != ndim:
        raise ValueError("%s: %s must have %d dimensions, but has shape %s"
                         % (fn, name, ndim, a.shape))
    return a


def _scalar(fn, name, value, positive=False, whole=False):
    a = _array(fn, name, value)
    if a.size != 1 or not np.isfinite(a).all():
        raise ValueError("%s: %s must be one finite number, but is %r" % (fn, name, value))
    v = float(a.reshape(-1)[0])
    if positive and v <= 0:
        raise ValueError("%s: %s must be > 0, but is %g" % (fn, name, v))
    if whole and v != round(v):
        raise ValueError("%s: %s must be a whole number, but is %g" % (fn, name, v))
    return v


_most_elements = 2**31 - 1  # an aperture's element count is a 32-bit int in the module


def _count(fn, name, value):
    v = _scalar(fn, name, value, whole=True)
    if v < 1:
        raise ValueError("%s: %s must be at least 1, but is %g" % (fn, name, v))
    if v > _most_elements:
        raise ValueError("%s: %s must be at most %d (the most elements an aperture holds), but "
                         "is %.17g" % (fn, name, _most_elements, v))
    return int(v)


def _memory_left():
    """Bytes this process can still have: the memory available on the machine, the room left
    under its address-space limit and ORVEL_MEMORY_LIMIT, as the module counts them (None
    where none of them can be read)."""
    limits = []
    with contextlib.suppress(OSError, ValueError):
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemAvailable:"):
                    limits.append(int(line.split()[1]) * 1024)
    with contextlib.suppress(ImportError, OSError, ValueError):
        import resource
        cap = resource.getrlimit(resource.RLIMIT_AS)[0]
        if cap != resource.RLIM_INFINITY:
            with open("/proc/self/statm") as f:
                used = int(f.read().split()[0]) * resource.getpagesize()
            limits.append(max(cap - used, 0))
    with contextlib.suppress(ValueError):
        limit = float(os.environ.get("ORVEL_MEMORY_LIMIT", ""))
        if limit >= 1:
            limits.append(limit)
    return min(limits) if limits else None


def _check_sequence_memory(fn, steps, no_elements):
    """Refuses a sequence whose weights (two per step and element) and element positions
    cannot be held, before numpy spends a minute filling memory the process will not get."""
    need = 8.0 * no_elements * (2 * steps + 1)
    left = _memory_left()
    if left is not None and need > left:
        raise ValueError("%s: a sequence of %d steps for %d elements needs %.0f bytes, more "
                         "than the %.0f bytes this process can have"
                         % (fn, steps, no_elements, need, left))


def _within_memory(f):
    """A call whose arrays this process cannot hold is refused as bad input, a ValueError
    naming the function, as the module refuses results beyond memory (not a MemoryError)."""
    @functools.wraps(f)
    def call(*args, **kwargs):
        try:
            return f(*args, **kwargs)
        except MemoryError as e:
            raise ValueError("%s: the arrays of this call need more memory than this process "
                             "can have (%s)" % (f.__name__, e)) from None
    return call


def _rng(fn, seed):
    return np.random.default_rng(int(_scalar(fn, "seed", seed, whole=True)) & (2**63 - 1))


def _element_x(no_elements, pitch):
    """Centres of the elements along x [m], symmetric about 0."""
    return (np.arange(1, no_elements + 1) - (no_elements + 1) / 2) * pitch


# Phantoms

@_within_memory
def phantom_points(xz, amplitudes=None):
    """Point scatterers in the plane y = 0, or anywhere in space.

    xz          positions [x, z] [m], shape (n, 2), put in the plane y = 0; or positions
                [x, y, z] [m], shape (n, 3), taken as they are (one point: a vector of 2
                or of 3)
    amplitudes  scattering amplitudes, one per point (default ones)

    Returns (points, amplitudes): points of shape (n, 3) [m], amplitudes 1-D.
    """
    fn = "phantom_points"
    xz = _array(fn, "xz", xz)
    if xz.shape in ((2,), (3,)):
        xz = xz.reshape(1, -1)
    if xz.ndim != 2 or xz.shape[1] not in (2, 3):
        raise ValueError("%s: xz must be an n x 2 array, one row [x z] per point, or n x 3, "
                         "one row [x y z], but has shape %s" % (fn, xz.shape))
    n = xz.shape[0]
    if amplitudes is None:
        amplitudes = np.ones(n)
    amplitudes = _array(fn, "amplitudes", amplitudes, ndim=1)
    if amplitudes.size != n:
        raise ValueError("%s: amplitudes must hold one value per point: %d expected, %d "
                         "received" % (fn, n, amplitudes.size))
    if xz.shape[1] == 3:
        return xz.copy(), amplitudes
    points = np.column_stack([xz[:, 0], np.zeros(n), xz[:, 1]])
    return points, amplitudes


@_within_memory
def resolution_cell(wavelength, f_number, axial, elevation):
    """Volume of a resolution cell [m^3]: (wavelength * f_number) * axial * elevation.

    wavelength  [m]; f_number: focal depth over aperture, so that wavelength * f_number is
    the lateral width; axial: length along the beam [m] (e.g. the pulse length); elevation:
    thickness of the slice [m].
    """
    fn = "resolution_cell"
    return (_scalar(fn, "wavelength", wavelength, positive=True)
            * _scalar(fn, "f_number", f_number, positive=True)
            * _scalar(fn, "axial", axial, positive=True)
            * _scalar(fn, "elevation", elevation, positive=True))


def _in_box(fn, region):
    region = _array(fn, "region", region, ndim=1)
    if region.size != 6 or not np.isfinite(region).all():
        raise ValueError("%s: region must be [x_min x_max y_min y_max z_min z_max] [m]" % fn)
    lo, hi = region[0::2], region[1::2]
    if (hi < lo).any():
        raise ValueError("%s: region must have each maximum >= its minimum" % fn)
    return lo, hi


@_within_memory
def phantom_tissue(region, density, cell_volume, cysts=None, seed=0, spheres=None):
    """Randomly placed scatterers for fully developed speckle, with cylindrical and spherical
    cysts.

    region       [x_min, x_max, y_min, y_max, z_min, z_max] [m], the box filled
    density      scatterers per resolution cell (10 gives fully developed speckle)
    cell_volume  volume of a resolution cell [m^3] (resolution_cell)
    cysts        k x 4 rows [x, z, radius, gain] [m, m, m, -] (None or empty: none):
                 cylinders along y; a scatterer inside has its amplitude multiplied by gain
                 (0: anechoic, > 1: brighter than the background)
    seed         whole number for the random generator (default 0)
    spheres      k x 5 rows [x, y, z, radius, gain] [m, m, m, m, -] (None or empty: none):
                 balls, for volumes; a scatterer inside has its amplitude multiplied by gain.
                 A scatterer inside several cysts or spheres takes the product of their gains

    round(density * box volume / cell_volume) scatterers, uniform in the box, amplitudes
    Gaussian with mean 0 and standard deviation 1. The same seed gives the same phantom
    (spheres change amplitudes only, never the positions or the other draws).
    Returns (points, amplitudes): shape (n, 3) [m] and 1-D.
    """
    fn = "phantom_tissue"
    lo, hi = _in_box(fn, region)
    density = _scalar(fn, "density", density)
    cell_volume = _scalar(fn, "cell_volume", cell_volume, positive=True)
    if density < 0:
        raise ValueError("%s: density must be >= 0, but is %g" % (fn, density))
    cysts = _cyst_rows(fn, "cysts", cysts, "[x z radius gain]")
    spheres = _cyst_rows(fn, "spheres", spheres, "[x y z radius gain]")
    with np.errstate(over="ignore", invalid="ignore"):
        count = density * np.prod(hi - lo) / cell_volume
    if not math.isfinite(count):
        raise ValueError("%s: density * box volume / cell_volume must be a finite count, but "
                         "is %g" % (fn, count))
    n = int(round(count))
    rng = _rng(fn, seed)
    points = lo + (hi - lo) * rng.random((n, 3))
    amplitudes = rng.standard_normal(n)
    for xc, zc, radius, gain in cysts:
        inside = (points[:, 0] - xc) ** 2 + (points[:, 2] - zc) ** 2 <= radius ** 2
        amplitudes[inside] *= gain
    for xc, yc, zc, radius, gain in spheres:
        inside = np.sum((points - [xc, yc, zc]) ** 2, axis=1) <= radius ** 2
        amplitudes[inside] *= gain
    return points, amplitudes


def _cyst_rows(fn, name, rows, layout):
    """The rows of cysts (4 columns) or spheres (5 columns), shape (k, columns); (0, columns)
    for None or empty."""
    columns = layout.count(" ") + 1
    if rows is None or np.size(rows) == 0:
        return np.zeros((0, columns))
    rows = _array(fn, name, rows)
    if rows.ndim == 1:
        rows = rows.reshape(1, -1)
    if rows.ndim != 2 or rows.shape[1] != columns:
        raise ValueError("%s: %s must be k x %d, one row %s per %s, but has shape %s"
                         % (fn, name, columns, layout, name[:-1], rows.shape))
    return rows


def _read_map(fn, name):
    """An image file as grey values in [0, 1] (luminance of colour pictures)."""
    import matplotlib.image

    if not os.path.isfile(name):  # as Octave's check (PIL takes '' for a stream)
        raise ValueError("%s: no image file %s" % (fn, name))
    try:
        a = np.asarray(matplotlib.image.imread(name))
    except (OSError, ValueError) as e:
        raise ValueError("%s: cannot read the map %r: %s" % (fn, name, e)) from None
    scale = float(np.iinfo(a.dtype).max) if a.dtype.kind in "ui" else 1.0
    a = a.astype(np.float64) / scale
    if a.ndim == 3:
        a = a[:, :, :3] @ np.array([0.299, 0.587, 0.114]) if a.shape[2] >= 3 else a[:, :, 0]
    return a


def _interp_index(v, lo, hi, n):
    """Fractional 0-based index of v on n points spread evenly from lo to hi: (i0, frac)."""
    if n == 1 or hi == lo:
        return np.zeros(v.shape, dtype=int), np.zeros(v.shape)
    s = np.clip((v - lo) / (hi - lo) * (n - 1), 0, n - 1)
    i0 = np.minimum(np.floor(s).astype(int), n - 2)
    return i0, s - i0


@_within_memory
def phantom_from_map(map, x_range, z_range, count, y_range=(0.0, 0.0), seed=0):
    """Scatterers whose amplitudes follow a map of echogenicity.

    map       2-D array of non-negative amplitudes, rows along z from z_range[0] to
              z_range[1], columns along x from x_range[0] to x_range[1]; or the name of an
              image file, read and turned into grey values in [0, 1]
    x_range, z_range   [min, max] [m] of the map and of the scatterers
    count     number of scatterers
    y_range   [min, max] [m] (default [0, 0]: all in the plane y = 0)
    seed      whole number for the random generator (default 0)

    Positions uniform in x_range x y_range x z_range; amplitude = Gaussian (mean 0, standard
    deviation 1) times the map at the point, interpolated bilinearly.
    Returns (points, amplitudes): shape (count, 3) [m] and 1-D.
    """
    fn = "phantom_from_map"
    if isinstance(map, str):
        map = _read_map(fn, map)
    map = _array(fn, "map", map, ndim=2)
    if map.size == 0 or (map < 0).any() or not np.isfinite(map).all():
        raise ValueError("%s: map must be a non-empty matrix of finite values >= 0" % fn)
    ranges = []
    for name, r in (("x_range", x_range), ("y_range", y_range), ("z_range", z_range)):
        r = _array(fn, name, r, ndim=1)
        if r.size != 2 or not np.isfinite(r).all() or r[1] < r[0]:
            raise ValueError("%s: %s must be [min max] with max >= min [m]" % (fn, name))
        ranges.append(r)
    n = int(_scalar(fn, "count", count, whole=True))
    if n < 0:
        raise ValueError("%s: count must be >= 0, but is %d" % (fn, n))
    lo = np.array([r[0] for r in ranges])
    hi = np.array([r[1] for r in ranges])
    rng = _rng(fn, seed)
    points = lo + (hi - lo) * rng.random((n, 3))
    gauss = rng.standard_normal(n)
    (x0, x1), _, (z0, z1) = ranges
    nz, nx = map.shape
    iz, fz = _interp_index(points[:, 2], z0, z1, nz)
    ix, fx = _interp_index(points[:, 0], x0, x1, nx)
    iz1, ix1 = np.minimum(iz + 1, nz - 1), np.minimum(ix + 1, nx - 1)
    value = ((1 - fz) * ((1 - fx) * map[iz, ix] + fx * map[iz, ix1])
             + fz * ((1 - fx) * map[iz1, ix] + fx * map[iz1, ix1]))
    return points, gauss * value


# Moving phantoms: a description from which the scatterers' positions at any slow time t are
# computed directly (never by accumulating steps), so that a firing's scatterers do not depend
# on the firings before it, in one process or spread over many.

_VESSEL_FIELDS = ("center", "direction", "radius", "v_peak", "profile", "clutter",
                  "tissue_velocity")


def _vector3(fn, name, value):
    v = _array(fn, name, value, ndim=1)
    if v.size != 3 or not np.isfinite(v).all():
        raise ValueError("%s: %s must be [x y z], three finite numbers, but is %r"
                         % (fn, name, value))
    return v


def _unit(fn, name, value):
    """A direction made unit: scaled by its largest component first, so that neither a huge
    nor a tiny vector over- or underflows on the way."""
    d = _vector3(fn, name, value)
    largest = np.abs(d).max()
    if not largest > 0:
        raise ValueError("%s: %s must not be zero" % (fn, name))
    d = d / largest
    return d / math.sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2])


def _chord(lo, hi, center, u):
    """Where the line center + s*u lies inside the box [lo, hi] (the slab method): (s_lo, s_hi).
    An axis along which u does not move sets no limit, center lying inside the box."""
    s_lo, s_hi = -math.inf, math.inf
    for k in range(3):
        if u[k] != 0:
            t1, t2 = (lo[k] - center[k]) / u[k], (hi[k] - center[k]) / u[k]
            s_lo, s_hi = max(s_lo, min(t1, t2)), min(s_hi, max(t1, t2))
    return s_lo, s_hi


def _round_count(fn, what, count):
    if not (math.isfinite(count) and count >= 0):
        raise ValueError("%s: %s must be a finite count, but is %g" % (fn, what, count))
    return int(math.floor(count + 0.5))


@_within_memory
def phantom_flow(region, vessel, density, cell_volume, seed=0):
    """A straight cylindrical vessel of moving blood in a block of tissue.

    region       [x_min, x_max, y_min, y_max, z_min, z_max] [m], the tissue's box
    vessel       dict with the fields
                   center           [x, y, z] [m], a point on the vessel's axis, inside the region
                   direction        [dx, dy, dz], the axis (made unit; any angle to the beam)
                   radius           [m], > 0
                   v_peak           speed on the axis [m/s], along direction (negative: the
                                    other way)
                   profile          'parabolic' (default), v(r) = v_peak (1 - (r/radius)^2),
                                    or 'plug', v = v_peak
                   clutter          amplitude of the tissue's scatterers over the blood's,
                                    >= 0 (default 1)
                   tissue_velocity  [vx, vy, vz] [m/s] of the tissue block, moving rigidly
                                    (default [0, 0, 0])
    density      scatterers per resolution cell, in blood and tissue alike
    cell_volume  volume of a resolution cell [m^3] (resolution_cell)
    seed         whole number for the random generator (default 0)

    The vessel is the segment s in [s_lo, s_hi) of the axis center + s*u (u the unit
    direction) inside the region, found by the slab method; L = s_hi - s_lo must be > 0.
    Blood: round(density * pi * radius^2 * L / cell_volume) scatterers, s0 uniform in
    [s_lo, s_hi), offset r*cos(phi)*a + r*sin(phi)*b from the axis, r = radius*sqrt(U1),
    phi = 2*pi*U2 (uniform over the disc), a = (u x e)/|u x e| with e the coordinate axis
    least parallel to u (the first of x, y, z with the smallest |u_k|), b = u x a; speed
    v(r); amplitudes Gaussian (mean 0, sd 1). Tissue: round(density * box volume /
    cell_volume) points uniform in the box, those inside the cylinder (radial distance
    < radius, s in [s_lo, s_hi)) dropped; amplitudes Gaussian times clutter.
    Counts round as floor(count + 0.5).

    Returns a phantom for phantom_positions and scan_run: a dict with kind 'flow',
    tissue_points (n_t, 3) [m], tissue_amplitudes, tissue_velocity [m/s], center [m],
    direction (unit), s_lo, s_hi [m], blood_s0 [m], blood_offset (n_b, 3) [m],
    blood_speed [m/s], blood_amplitudes.
    """
    fn = "phantom_flow"
    lo, hi = _in_box(fn, region)
    if not isinstance(vessel, dict):
        raise TypeError("%s: vessel must be a dict with the fields center, direction, radius "
                        "and v_peak, but is %s" % (fn, type(vessel).__name__))
    for name in vessel:
        if name not in _VESSEL_FIELDS:
            raise ValueError("%s: vessel has no field %r (its fields: %s)"
                             % (fn, name, ", ".join(_VESSEL_FIELDS)))
    for name in _VESSEL_FIELDS[:4]:
        if name not in vessel:
            raise ValueError("%s: vessel.%s is missing" % (fn, name))
    center = _vector3(fn, "vessel.center", vessel["center"])
    u = _unit(fn, "vessel.direction", vessel["direction"])
    radius = _scalar(fn, "vessel.radius", vessel["radius"], positive=True)
    v_peak = _scalar(fn, "vessel.v_peak", vessel["v_peak"])
    profile = vessel.get("profile", "parabolic")
    if profile not in ("parabolic", "plug"):
        raise ValueError("%s: vessel.profile must be 'parabolic' or 'plug', but is %r"
                         % (fn, profile))
    clutter = _scalar(fn, "vessel.clutter", vessel.get("clutter", 1.0))
    if clutter < 0:
        raise ValueError("%s: vessel.clutter must be >= 0, but is %g" % (fn, clutter))
    tissue_velocity = _vector3(fn, "vessel.tissue_velocity",
                               vessel.get("tissue_velocity", np.zeros(3)))
    density = _scalar(fn, "density", density)
    if density < 0:
        raise ValueError("%s: density must be >= 0, but is %g" % (fn, density))
    cell_volume = _scalar(fn, "cell_volume", cell_volume, positive=True)
    if not ((lo <= center) & (center <= hi)).all():
        raise ValueError("%s: vessel.center must lie inside the region" % fn)
    s_lo, s_hi = _chord(lo, hi, center, u)
    length = s_hi - s_lo
    if not length > 0:
        raise ValueError("%s: the vessel's axis must cross the region over a length > 0, but "
                         "the region is flat across it" % fn)
    with np.errstate(over="ignore", invalid="ignore"):
        n_b = _round_count(fn, "density * pi * radius^2 * L / cell_volume",
                           density * math.pi * radius ** 2 * length / cell_volume)
        n_t = _round_count(fn, "density * box volume / cell_volume",
                           density * np.prod(hi - lo) / cell_volume)
    # About ten doubles per scatterer while they are drawn and placed: refused before numpy
    # spends a minute filling memory the process will not get.
    need, left = 80.0 * (n_b + n_t), _memory_left()
    if left is not None and need > left:
        raise ValueError("%s: %d blood and %d tissue scatterers need %.0f bytes, more than the "
                         "%.0f bytes this process can have" % (fn, n_b, n_t, need, left))

    rng = _rng(fn, seed)
    s0 = s_lo + length * rng.random(n_b)
    r = radius * np.sqrt(rng.random(n_b))
    phi = 2 * np.pi * rng.random(n_b)
    blood_amplitudes = rng.standard_normal(n_b)
    e = np.zeros(3)
    e[np.argmin(np.abs(u))] = 1.0
    a = np.cross(u, e)
    a = a / math.sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2])
    b = np.cross(u, a)
    offset = (r * np.cos(phi))[:, None] * a + (r * np.sin(phi))[:, None] * b
    speed = v_peak * (1 - (r / radius) ** 2) if profile == "parabolic" else np.full(n_b, v_peak)

    tissue = lo + (hi - lo) * rng.random((n_t, 3))
    tissue_amplitudes = rng.standard_normal(n_t) * clutter
    d = tissue - center
    s = d @ u
    across = d - s[:, None] * u
    inside = ((np.sqrt(np.sum(across * across, axis=1)) < radius) & (s >= s_lo) & (s < s_hi))
    return {"kind": "flow", "tissue_points": tissue[~inside],
            "tissue_amplitudes": tissue_amplitudes[~inside],
            "tissue_velocity": tissue_velocity, "center": center, "direction": u,
            "s_lo": s_lo, "s_hi": s_hi, "blood_s0": s0, "blood_offset": offset,
            "blood_speed": speed, "blood_amplitudes": blood_amplitudes}


@_within_memory
def phantom_motion(points, amplitudes, motion):
    """Given scatterers in a motion of any kind.

    points      scatterers, shape (n, 3) [m]: where they start (the frames form below uses
                only their number)
    amplitudes  one per scatterer
    motion      either a function velocity(points) giving an (n, 3) array of finite
                velocities [m/s] for the (n, 3) starting points: each scatterer moves in a
                straight line at the velocity the field has at its start, p0 + t *
                velocity(p0), exactly (the field is evaluated once, here); or a dict with
                times, K >= 2 increasing times [s], and positions, shape (K, n, 3) [m], the
                scatterers at those times: linear in time between them, exact at each, refused
                outside [times[0], times[-1]]

    Returns a phantom for phantom_positions and scan_run: a dict with kind 'motion' (points,
    amplitudes, velocity) or 'frames' (times, positions, amplitudes).
    """
    fn = "phantom_motion"
    points, n = _cmd._points(fn, "points", points)
    if not np.isfinite(points).all():
        raise ValueError("%s: points must be finite" % fn)
    amplitudes = _array(fn, "amplitudes", amplitudes, ndim=1)
    if amplitudes.size != n or not np.isfinite(amplitudes).all():
        raise ValueError("%s: amplitudes must hold one finite value per point: %d expected, %d "
                         "received" % (fn, n, amplitudes.size))
    if callable(motion):
        velocity = motion(points.copy())
        try:
            velocity = np.asarray(velocity)
        except ValueError:
            velocity = np.asarray(None)
        if (velocity.dtype.kind not in "biuf" or velocity.shape != (n, 3)
                or not np.isfinite(velocity).all()):
            raise ValueError("%s: motion(points) must give an n x 3 array of finite velocities "
                             "[m/s], n = %d, but gave %s of shape %s"
                             % (fn, n, velocity.dtype, velocity.shape))
        return {"kind": "motion", "points": points.copy(), "amplitudes": amplitudes.copy(),
                "velocity": velocity.astype(np.float64)}
    if not isinstance(motion, dict) or set(motion) != {"times", "positions"}:
        raise TypeError("%s: motion must be a velocity function or a dict with times and "
                        "positions" % fn)
    times = _array(fn, "motion.times", motion["times"], ndim=1)
    if times.size < 2 or not np.isfinite(times).all() or not (np.diff(times) > 0).all():
        raise ValueError("%s: motion.times must hold at least 2 increasing finite times [s]"
                         % fn)
    positions = _array(fn, "motion.positions", motion["positions"])
    if positions.shape != (times.size, n, 3) or not np.isfinite(positions).all():
        raise ValueError("%s: motion.positions must be K x n x 3 finite positions [m], (%d, "
                         "%d, 3), but has shape %s" % (fn, times.size, n, positions.shape))
    return {"kind": "frames", "times": times, "positions": positions,
            "amplitudes": amplitudes.copy()}


_PHANTOM_FIELDS = {
    "flow": ("tissue_points", "tissue_amplitudes", "tissue_velocity", "center", "direction",
             "s_lo", "s_hi", "blood_s0", "blood_offset", "blood_speed", "blood_amplitudes"),
    "motion": ("points", "amplitudes", "velocity"),
    "frames": ("times", "positions", "amplitudes")}


def _phantom_count(fn, phantom):
    """Checks a phantom of phantom_flow or phantom_motion (made here or built by hand): its
    kind, fields, shapes and finite values; returns its number of scatterers."""
    kind = phantom.get("kind") if isinstance(phantom, dict) else None
    if kind not in _PHANTOM_FIELDS:
        raise ValueError("%s: a phantom must be a dict of phantom_flow or phantom_motion, with "
                         "kind 'flow', 'motion' or 'frames'" % fn)
    missing = [name for name in _PHANTOM_FIELDS[kind] if name not in phantom]
    if missing:
        raise ValueError("%s: the %s phantom lacks %s" % (fn, kind, ", ".join(missing)))
    f = {name: _array(fn, "the phantom's %s" % name, phantom[name])
         for name in _PHANTOM_FIELDS[kind]}
    if kind == "flow":
        n_t, n_b = f["tissue_amplitudes"].size, f["blood_s0"].size
        shapes = {"tissue_points": (n_t, 3), "tissue_amplitudes": (n_t,),
                  "tissue_velocity": (3,), "center": (3,), "direction": (3,), "s_lo": (),
                  "s_hi": (), "blood_s0": (n_b,), "blood_offset": (n_b, 3),
                  "blood_speed": (n_b,), "blood_amplitudes": (n_b,)}
        n = n_t + n_b
    elif kind == "motion":
        n = f["amplitudes"].size
        shapes = {"points": (n, 3), "amplitudes": (n,), "velocity": (n, 3)}
    else:
        n, k = f["amplitudes"].size, f["times"].size
        shapes = {"times": (k,), "positions": (k, n, 3), "amplitudes": (n,)}
    for name, shape in shapes.items():
        if f[name].shape != shape or not np.isfinite(f[name]).all():
            raise ValueError("%s: the %s phantom's %s must be finite, of shape %s, but has shape "
                             "%s" % (fn, kind, name, shape, f[name].shape))
    if kind == "flow" and not f["s_lo"] < f["s_hi"]:
        raise ValueError("%s: the flow phantom's s_lo must be below its s_hi" % fn)
    if kind == "frames" and not (k >= 2 and (np.diff(f["times"]) > 0).all()):
        raise ValueError("%s: the frames phantom's times must be at least 2, increasing" % fn)
    return n


@_within_memory
def phantom_positions(phantom, t):
    """The scatterers of a moving phantom at slow time t: (points, amplitudes).

    phantom  from phantom_flow or phantom_motion
    t        slow time [s] (a firing's t in a sequence of scan_ensemble)

    Computed from t directly:
      'flow'    tissue: tissue_points + t * tissue_velocity; blood: s = s_lo + mod(s0 +
                t * speed - s_lo, L), L = s_hi - s_lo, mod(a, L) = a - L * floor(a / L) (the
                blood leaving the segment at s_hi comes back at s_lo), at center + s * u +
                offset. Rows: tissue first, then blood, and their amplitudes likewise.
      'motion'  p0 + t * velocity
      'frames'  between the frames j and j + 1 around t: P_j + w * (P_{j+1} - P_j),
                w = (t - t_j) / (t_{j+1} - t_j); at a frame's time, that frame exactly.
                Refused outside [times[0], times[-1]].
    Returns points of shape (n, 3) [m] and amplitudes (n,), new arrays.
    """
    fn = "phantom_positions"
    _phantom_count(fn, phantom)
    t = _scalar(fn, "t", t)
    kind = phantom["kind"]
    f = {name: np.asarray(phantom[name], dtype=np.float64) for name in _PHANTOM_FIELDS[kind]}
    with np.errstate(over="ignore", invalid="ignore"):
        if kind == "flow":
            tissue = f["tissue_points"] + t * f["tissue_velocity"]
            s_lo, s_hi = float(f["s_lo"]), float(f["s_hi"])
            length = s_hi - s_lo
            a = f["blood_s0"] + t * f["blood_speed"] - s_lo
            s = s_lo + (a - length * np.floor(a / length))
            blood = f["center"] + s[:, None] * f["direction"] + f["blood_offset"]
            points = np.concatenate([tissue, blood])
            amplitudes = np.concatenate([f["tissue_amplitudes"], f["blood_amplitudes"]])
        elif kind == "motion":
            points = f["points"] + t * f["velocity"]
            amplitudes = f["amplitudes"].copy()
        else:
            times = f["times"]
            if not times[0] <= t <= times[-1]:
                raise ValueError("%s: t = %.17g s lies outside the frames' times, from %.17g to "
                                 "%.17g s" % (fn, t, times[0], times[-1]))
            j = int(np.searchsorted(times, t, side="right")) - 1
            p = f["positions"]
            if times[j] == t:
                points = p[j].copy()
            else:
                w = (t - times[j]) / (times[j + 1] - times[j])
                points = p[j] + w * (p[j + 1] - p[j])
            amplitudes = f["amplitudes"].copy()
    if not np.isfinite(points).all():
        raise ValueError("%s: the positions at t = %g s are not finite (their motion carries "
                         "them beyond the range of numbers)" % (fn, t))
    return points, amplitudes


def _phantom_rows(phantom, lo, hi):
    """The phantom of the scatterers lo to hi - 1 (rows of phantom_positions): its positions are
    those rows of the whole phantom's, bit for bit."""
    kind = phantom["kind"]
    part = dict(phantom)
    if kind == "flow":
        n_t = np.shape(phantom["tissue_amplitudes"])[0]
        tissue = slice(min(lo, n_t), min(hi, n_t))
        blood = slice(max(lo - n_t, 0), max(hi - n_t, 0))
        for name in ("tissue_points", "tissue_amplitudes"):
            part[name] = np.asarray(phantom[name])[tissue]
        for name in ("blood_s0", "blood_offset", "blood_speed", "blood_amplitudes"):
            part[name] = np.asarray(phantom[name])[blood]
    elif kind == "motion":
        for name in ("points", "amplitudes", "velocity"):
            part[name] = np.asarray(phantom[name])[lo:hi]
    else:
        part["positions"] = np.asarray(phantom["positions"])[:, lo:hi]
        part["amplitudes"] = np.asarray(phantom["amplitudes"])[lo:hi]
    return part


# Scan sequences

def _step(kind, angle, x, no_elements, tx_focus=None, rx_center=None, tx_delays=None,
          apodization=None):
    ones = np.ones(no_elements) if apodization is None else apodization
    return {"kind": kind, "angle": float(angle), "x": float(x),
            "tx_apodization": ones.copy(), "rx_apodization": ones.copy(),
            "tx_focus": tx_focus, "rx_center": rx_center, "tx_delays": tx_delays}


@_within_memory
def scan_linear(no_elements, pitch, no_active, x_lines, focus_z):
    """A linear scan: straight lines along z, each made by the elements nearest to it.

    no_elements  elements of the array; pitch: their spacing [m], centres at
                 ((1..N) - (N+1)/2) * pitch
    no_active    elements used for one line: the no_active consecutive elements whose middle
                 is nearest to the line (at the array's ends the window stays inside it;
                 a line midway between two windows takes the one towards +x)
    x_lines      lateral positions of the lines [m]
    focus_z      depth of the transmit focus [m]

    Returns the sequence, one dict per line: kind 'line', angle 0, x the line's position,
    apodizations 1 on the active elements and 0 elsewhere, tx_focus [x, 0, focus_z],
    rx_center [x, 0, 0].
    """
    fn = "scan_linear"
    n = _count(fn, "no_elements", no_elements)
    pitch = _scalar(fn, "pitch", pitch, positive=True)
    active = _count(fn, "no_active", no_active)
    if active > n:
        raise ValueError("%s: no_active (%d) must not exceed no_elements (%d)" % (fn, active, n))
    x_lines = _array(fn, "x_lines", x_lines, ndim=1)
    if not np.isfinite(x_lines).all():
        raise ValueError("%s: x_lines must be a vector of finite positions [m]" % fn)
    focus_z = _scalar(fn, "focus_z", focus_z)
    _check_sequence_memory(fn, x_lines.size, n)
    x_e = _element_x(n, pitch)
    seq = []
    for x in x_lines:
        # First element of the window centred nearest to x (the tolerance settles ties that
        # rounding would split), kept inside the array (before it becomes an int: a line far
        # beyond the array, in pitches, may lie beyond every int).
        first = np.floor((x - x_e[0]) / pitch - (active - 1) / 2 + 0.5 + 1e-9)
        first = int(np.clip(first, 0, n - active))
        apodization = np.zeros(n)
        apodization[first:first + active] = 1.0
        seq.append(_step("line", 0.0, x, n, np.array([x, 0.0, focus_z]),
                         np.array([x, 0.0, 0.0]), None, apodization))
    return seq


@_within_memory
def scan_phased(no_elements, angles, focus_r):
    """A phased (sector) scan: lines from the array's centre at the given angles.

    no_elements  elements of the array, all used for every line
    angles       steering angles [rad] from the z axis towards +x
    focus_r      distance of the transmit focus from the centre [m]

    Returns the sequence, one dict per line: kind 'line', x 0, apodizations ones,
    tx_focus focus_r * [sin(a), 0, cos(a)], rx_center [0, 0, 0].
    """
    fn = "scan_phased"
    n = _count(fn, "no_elements", no_elements)
    angles = _array(fn, "angles", angles, ndim=1)
    if not np.isfinite(angles).all():
        raise ValueError("%s: angles must be a vector of finite angles [rad]" % fn)
    focus_r = _scalar(fn, "focus_r", focus_r)
    _check_sequence_memory(fn, angles.size, n)
    return [_step("line", a, 0.0, n, focus_r * np.array([np.sin(a), 0.0, np.cos(a)]),
                  np.zeros(3)) for a in angles]


def _angle_pairs(fn, angles):
    """Angle pairs [ax, ay] [rad], shape (T, 2), finite (one pair: a vector of 2)."""
    a = _array(fn, "angles", angles)
    if a.shape == (2,):
        a = a.reshape(1, 2)
    if a.ndim != 2 or a.shape[1] != 2 or a.shape[0] < 1 or not np.isfinite(a).all():
        raise ValueError("%s: angles must be T x 2 finite rows [ax ay] [rad], but has shape %s"
                         % (fn, a.shape))
    return a


def _direction(ax, ay):
    """The unit vector of the angles ax (towards +x) and ay (towards +y) from the z axis."""
    return np.array([np.sin(ax) * np.cos(ay), np.sin(ay), np.cos(ax) * np.cos(ay)])


@_within_memory
def scan_phased_2d(no_elements, angles, focus_r):
    """A pyramidal sector scan of a 2-D array: focused lines from the array's centre, steered
    in two angles.

    no_elements  physical elements of the array (those enabled in a sparse one), all used
                 for every line
    angles       T x 2 rows [ax, ay] [rad] (one line: a vector of 2): the line runs along
                 d = [sin(ax) cos(ay), sin(ay), cos(ax) cos(ay)], ax from the z axis
                 towards +x, ay towards +y (as xdc_dynamic_focusing's angles and
                 scan_planewave_2d's). For scan_convert_3d they must form a grid of ax
                 values by ay values
    focus_r      distance of the transmit focus from the centre [m]

    Returns the sequence, one dict per line: kind 'line', angle ax, angle_y ay [rad], x 0,
    apodizations ones, tx_focus focus_r * d [m], rx_center [0, 0, 0]. scan_apply focuses
    the receive aperture dynamically along d; scan_run gives samples x lines, each sample
    at the range sample_depth from the centre.
    """
    fn = "scan_phased_2d"
    n = _count(fn, "no_elements", no_elements)
    angles = _angle_pairs(fn, angles)
    focus_r = _scalar(fn, "focus_r", focus_r)
    _check_sequence_memory(fn, angles.shape[0], n)
    seq = []
    for ax, ay in angles:
        step = _step("line", ax, 0.0, n, focus_r * _direction(ax, ay), np.zeros(3))
        step["angle_y"] = float(ay)
        seq.append(step)
    return seq


@_within_memory
def scan_planewave(no_elements, pitch, angles, c):
    """Plane-wave transmits at the given steering angles, all elements in receive.

    no_elements, pitch   the array (centres x_e = ((1..N) - (N+1)/2) * pitch) [m]
    angles               steering angles [rad] from the z axis towards +x
    c                    speed of sound [m/s]

    Returns the sequence, one dict per transmit: kind 'plane', x 0, apodizations ones,
    tx_delays = x_e*sin(a)/c - min(x_e*sin(a)/c) [s] (all >= 0; the elements towards which
    the wave is steered emit later).
    """
    fn = "scan_planewave"
    n = _count(fn, "no_elements", no_elements)
    pitch = _scalar(fn, "pitch", pitch, positive=True)
    angles = _array(fn, "angles", angles, ndim=1)
    if not np.isfinite(angles).all():
        raise ValueError("%s: angles must be a vector of finite angles [rad]" % fn)
    c = _scalar(fn, "c", c, positive=True)
    _check_sequence_memory(fn, angles.size, n)
    x_e = _element_x(n, pitch)
    seq = []
    for a in angles:
        with np.errstate(over="ignore"):
            delays = x_e * np.sin(a) / c
        if not np.isfinite(delays).all():
            raise ValueError("%s: the delays x_e*sin(angle)/c must be finite, but pitch %g and "
                             "c %g make them overflow" % (fn, pitch, c))
        seq.append(_step("plane", a, 0.0, n, tx_delays=delays - delays.min()))
    return seq


@_within_memory
def scan_convex(no_elements, pitch, radius, no_active, angles, focus_r):
    """A convex-array scan: lines normal to the arc, each made by the elements nearest to it.

    no_elements  elements of the array, on an arc of radius `radius` centred at (0, 0, -radius)
                 (the top of the arc at the origin, as xdc_convex_array lays them out)
    pitch        arc length between element centres [m]: element k (1..N) lies at the angle
                 (k - (N+1)/2) * pitch / radius [rad] from the z axis. xdc_convex_array's
                 elements are asin(width/radius) + asin(kerf/radius) apart, so the pitch of
                 such an array is radius * (asin(width/radius) + asin(kerf/radius)), just
                 above width + kerf
    radius       convex radius of the arc [m], > 0
    no_active    elements used for one line: the no_active consecutive elements whose middle
                 is nearest to the line's angle (at the array's ends the window stays inside
                 it; a line midway between two windows takes the one towards +x)
    angles       angles of the lines [rad] from the z axis towards +x; every line passes
                 through the centre of curvature
    focus_r      distance of the transmit focus from the arc along the line [m]

    Returns the sequence, one dict per line: kind 'line', angle a, apodizations 1 on the
    active elements and 0 elsewhere, rx_center the line's origin on the arc
    [R sin(a), 0, R cos(a) - R] [m] (R the radius), x its x [m], tx_focus
    [(R + focus_r) sin(a), 0, (R + focus_r) cos(a) - R] [m]. The samples of
    line a lie at the distance radius + depth from the centre of curvature: scan_convert with
    apex [0, -radius] and r = radius + depth puts them on a grid.
    """
    fn = "scan_convex"
    n = _count(fn, "no_elements", no_elements)
    pitch = _scalar(fn, "pitch", pitch, positive=True)
    radius = _scalar(fn, "radius", radius, positive=True)
    active = _count(fn, "no_active", no_active)
    if active > n:
        raise ValueError("%s: no_active (%d) must not exceed no_elements (%d)" % (fn, active, n))
    angles = _array(fn, "angles", angles, ndim=1)
    if not np.isfinite(angles).all():
        raise ValueError("%s: angles must be a vector of finite angles [rad]" % fn)
    focus_r = _scalar(fn, "focus_r", focus_r)
    _check_sequence_memory(fn, angles.size, n)
    seq = []
    for a in angles:
        # As scan_linear, with the arc length a * radius in place of x: the 1-based first
        # element of the window whose middle is nearest, kept inside the array.
        first = np.floor(a * radius / pitch + (n + 1) / 2 - (active - 1) / 2 + 0.5 + 1e-9)
        first = int(np.clip(first, 1, n - active + 1)) - 1
        apodization = np.zeros(n)
        apodization[first:first + active] = 1.0
        s, c = np.sin(a), np.cos(a)
        origin = np.array([radius * s, 0.0, radius * c - radius])
        focus = np.array([(radius + focus_r) * s, 0.0, (radius + focus_r) * c - radius])
        seq.append(_step("line", a, origin[0], n, focus, origin, None, apodization))
    return seq


@_within_memory
def scan_diverging(no_elements, pitch, sources, c):
    """Diverging-wave transmits from virtual sources behind a linear array, all elements in
    receive.

    no_elements, pitch   the array (centres x_e = ((1..N) - (N+1)/2) * pitch on the x axis) [m]
    sources              virtual sources, shape (k, 3) (one source: a vector of 3), each
                         [x, y, z] with z < 0 [m]: behind the array
    c                    speed of sound [m/s]

    Returns the sequence, one dict per source: kind 'diverging', source [x, y, z] [m],
    angle atan2(-x_s, -z_s) [rad] (the direction from the source through the array's
    centre), x 0, apodizations ones, tx_delays = (d_e - min(d_e)) / c [s], d_e the distance
    from element e's centre to the source: the wave seems to come from the source, the
    element nearest to it emits first.
    """
    fn = "scan_diverging"
    n = _count(fn, "no_elements", no_elements)
    pitch = _scalar(fn, "pitch", pitch, positive=True)
    sources = _array(fn, "sources", sources)
    if sources.shape == (3,):
        sources = sources.reshape(1, 3)
    if sources.ndim != 2 or sources.shape[1] != 3:
        raise ValueError("%s: sources must be a k x 3 array, one row [x y z] per source, but "
                         "has shape %s" % (fn, sources.shape))
    if not np.isfinite(sources).all() or not (sources[:, 2] < 0).all():
        raise ValueError("%s: sources must be finite and lie behind the array (z < 0) [m]" % fn)
    c = _scalar(fn, "c", c, positive=True)
    _check_sequence_memory(fn, sources.shape[0], n)
    x_e = _element_x(n, pitch)
    seq = []
    for s in sources:
        with np.errstate(over="ignore", invalid="ignore"):
            d = np.sqrt((x_e - s[0]) ** 2 + s[1] ** 2 + s[2] ** 2)
            delays = (d - d.min()) / c
        if not np.isfinite(delays).all():
            raise ValueError("%s: the delays (d_e - min(d_e))/c must be finite, but pitch %g, "
                             "the sources and c %g make them overflow" % (fn, pitch, c))
        step = _step("diverging", math.atan2(-s[0], -s[2]), 0.0, n, tx_delays=delays)
        step["source"] = s.copy()
        seq.append(step)
    return seq


def _element_rows(fn, element_positions):
    """Element centres, shape (N, 3) [m], finite, at least one."""
    e = _array(fn, "element_positions", element_positions)
    if e.shape == (3,):
        e = e.reshape(1, 3)
    if e.ndim != 2 or e.shape[1] != 3 or e.shape[0] < 1 or not np.isfinite(e).all():
        raise ValueError("%s: element_positions must be N x 3 finite element centres [m] "
                         "(element_positions(Th)), but has shape %s" % (fn, e.shape))
    if e.shape[0] > _most_elements:
        raise ValueError("%s: element_positions holds %d elements, more than an aperture "
                         "holds (%d)" % (fn, e.shape[0], _most_elements))
    return e


@_within_memory
def scan_planewave_2d(element_positions, angles, c, apodization=None):
    """Plane-wave transmits from any array (a 2-D array for volumes), steered in two angles,
    all elements in receive.

    element_positions  the elements' centres, shape (N, 3) [m] (element_positions(Th)), in
                       the order of the aperture's physical elements
    angles             T x 2 rows [ax, ay] [rad] (one transmit: a vector of 2): the wave
                       travels along u = [sin(ax) cos(ay), sin(ay), cos(ax) cos(ay)], ax
                       from the z axis towards +x, ay towards +y
    c                  speed of sound [m/s]
    apodization        transmit weights, one per element (default ones). A weight falling
                       to the array's edges (e.g. a Hann window in x and in y) weakens the
                       edge waves, which on a small array trail the plane wave closely and
                       move the echo of a near point by a tenth of a wavelength or more

    Returns the sequence, one dict per transmit: kind 'plane', angle ax and angle_y ay
    [rad], x 0, tx_apodization the weights, rx_apodization ones, tx_delays =
    (u.e - min(u.e))/c [s] for element e (all >= 0: the element the wave leaves first emits
    at 0). das_beamform with the element
    positions and the T x 2 angles forms the image; for a linear array along x and ay = 0
    the delays are those of scan_planewave.
    """
    fn = "scan_planewave_2d"
    e = _element_rows(fn, element_positions)
    angles = _array(fn, "angles", angles)
    if angles.shape == (2,):
        angles = angles.reshape(1, 2)
    if angles.ndim != 2 or angles.shape[1] != 2 or not np.isfinite(angles).all():
        raise ValueError("%s: angles must be T x 2 finite rows [ax ay] [rad], but has shape "
                         "%s" % (fn, angles.shape))
    c = _scalar(fn, "c", c, positive=True)
    if apodization is not None:
        apodization = _array(fn, "apodization", apodization, ndim=1)
        if apodization.size != e.shape[0] or not np.isfinite(apodization).all():
            raise ValueError("%s: apodization must hold %d finite weights, one per element, "
                             "but holds %d" % (fn, e.shape[0], apodization.size))
    _check_sequence_memory(fn, angles.shape[0], e.shape[0])
    seq = []
    for ax, ay in angles:
        u = np.array([np.sin(ax) * np.cos(ay), np.sin(ay), np.cos(ax) * np.cos(ay)])
        with np.errstate(over="ignore", invalid="ignore"):
            ue = e @ u / c
            delays = ue - ue.min()
        if not np.isfinite(delays).all():
            raise ValueError("%s: the delays (u.e - min(u.e))/c must be finite, but the "
                             "positions and c %g make them overflow" % (fn, c))
        step = _step("plane", ax, 0.0, e.shape[0], tx_delays=delays)
        if apodization is not None:
            step["tx_apodization"] = apodization.copy()
        step["angle_y"] = float(ay)
        seq.append(step)
    return seq


@_within_memory
def scan_diverging_2d(element_positions, sources, c):
    """Diverging-wave transmits from virtual sources behind any array (a 2-D array for
    volumes), all elements in receive.

    element_positions  the elements' centres, shape (N, 3) [m] (element_positions(Th))
    sources            virtual sources, shape (k, 3) (one source: a vector of 3), each
                       [x, y, z] [m] with z below every element's: behind the array
    c                  speed of sound [m/s]

    Returns the sequence, one dict per source: kind 'diverging', source [x, y, z] [m],
    angle atan2(-x_s, -z_s) [rad] (as scan_diverging), x 0, apodizations ones,
    tx_delays = (d_e - min(d_e))/c [s], d_e the distance from element e's centre to the
    source. das_beamform takes them as transmit table rows [2, x_s, y_s, z_s, t_ref, 0, 0,
    0], t_ref = -min(d_e)/c (help das_image): for a linear array along x these are the
    delays of scan_diverging.
    """
    fn = "scan_diverging_2d"
    e = _element_rows(fn, element_positions)
    sources = _array(fn, "sources", sources)
    if sources.shape == (3,):
        sources = sources.reshape(1, 3)
    if sources.ndim != 2 or sources.shape[1] != 3:
        raise ValueError("%s: sources must be a k x 3 array, one row [x y z] per source, but "
                         "has shape %s" % (fn, sources.shape))
    if not np.isfinite(sources).all() or not (sources[:, 2] < e[:, 2].min()).all():
        raise ValueError("%s: sources must be finite and lie behind the array (z below every "
                         "element's) [m]" % fn)
    c = _scalar(fn, "c", c, positive=True)
    _check_sequence_memory(fn, sources.shape[0], e.shape[0])
    seq = []
    for s in sources:
        with np.errstate(over="ignore", invalid="ignore"):
            d = np.sqrt(np.sum((e - s) ** 2, axis=1))
            delays = (d - d.min()) / c
        if not np.isfinite(delays).all():
            raise ValueError("%s: the delays (d_e - min(d_e))/c must be finite, but the "
                             "positions, the sources and c %g make them overflow" % (fn, c))
        step = _step("diverging", math.atan2(-s[0], -s[2]), 0.0, e.shape[0], tx_delays=delays)
        step["source"] = s.copy()
        seq.append(step)
    return seq


@_within_memory
def scan_sta(no_elements):
    """Synthetic transmit aperture: each element emits alone, all elements receive.

    no_elements  elements of the array

    Returns the sequence, one dict per element: kind 'element', element its index (from 0,
    as numpy counts) [no unit], angle 0, x 0, tx_apodization 1 on that element and 0
    elsewhere, rx_apodization ones, tx_delays zeros [s].
    """
    fn = "scan_sta"
    n = _count(fn, "no_elements", no_elements)
    _check_sequence_memory(fn, n, n)
    seq = []
    for k in range(n):
        step = _step("element", 0.0, 0.0, n, tx_delays=np.zeros(n))
        step["tx_apodization"][:] = 0.0
        step["tx_apodization"][k] = 1.0
        step["element"] = k
        seq.append(step)
    return seq


@_within_memory
def scan_ensemble(seq, prf, ensemble, order="line"):
    """A firing sequence with slow time: every step of a sequence fired `ensemble` times.

    seq       scan sequence of any kind (scan_linear, scan_planewave, ...)
    prf       pulse repetition frequency [Hz], > 0: one firing every 1/prf
    ensemble  firings of each step, a whole number >= 1
    order     'line' (default): each step fired `ensemble` times in a row, firing j of step i
              at t = (i * ensemble + j) / prf; 'frame': the whole sequence repeated, firing j of
              step i at t = (j * S + i) / prf (S steps)

    Returns the steps in the order they are fired, each a copy of its step with the fields t
    (the firing time [s]), firing (j, from 0), step_index (i, its index in seq, from 0) and the
    sequence's prf [Hz], ensemble, order and steps (S). scan_run simulates each firing with
    the phantom's scatterers at its t and returns slow time as the last axis.
    """
    fn = "scan_ensemble"
    if isinstance(seq, dict):
        seq = [seq]
    if len(seq) == 0:
        raise ValueError("%s: seq has no steps" % fn)
    for step in seq:
        _check_step(fn, step)
        if "t" in step:
            raise ValueError("%s: seq is a firing sequence already (its steps have firing "
                             "times t); give the sequence it was made from" % fn)
    prf = _scalar(fn, "prf", prf, positive=True)
    count = _scalar(fn, "ensemble", ensemble, whole=True)
    if count < 1:
        raise ValueError("%s: ensemble must be at least 1, but is %g" % (fn, count))
    if order not in ("line", "frame"):
        raise ValueError("%s: order must be 'line' or 'frame', but is %r" % (fn, order))
    steps = len(seq)
    if not math.isfinite((steps * count - 1) / prf):
        raise ValueError("%s: the last firing's time, (S * ensemble - 1) / prf, must be finite, "
                         "but prf %g makes it overflow" % (fn, prf))
    _check_sequence_memory(fn, steps * count, np.size(seq[0]["tx_apodization"]))
    count = int(count)
    if order == "line":
        fired = [(i, j, (i * count + j) / prf) for i in range(steps) for j in range(count)]
    else:
        fired = [(i, j, (j * steps + i) / prf) for j in range(count) for i in range(steps)]
    out = []
    for i, j, t in fired:
        step = {k: (v.copy() if isinstance(v, np.ndarray) else v) for k, v in seq[i].items()}
        step.update(t=t, firing=j, step_index=i, prf=prf, ensemble=count, order=order,
                    steps=steps)
        out.append(step)
    return out


def _slow_time(fn, seq):
    """The place of each firing of a sequence from scan_ensemble: (S, E, places), places[k]
    = (step_index, firing) of the k-th step; None for a sequence without slow time."""
    if not any(isinstance(s, dict) and "ensemble" in s for s in seq):
        return None
    try:
        steps, count = int(seq[0]["steps"]), int(seq[0]["ensemble"])
        places = [(int(s["step_index"]), int(s["firing"])) for s in seq
                  if int(s["steps"]) == steps and int(s["ensemble"]) == count]
    except (KeyError, TypeError, ValueError, OverflowError):
        raise ValueError("%s: the steps of a firing sequence must carry steps, ensemble, "
                         "step_index and firing, as scan_ensemble makes them" % fn) from None
    if (len(places) != len(seq) or len(seq) != steps * count or len(set(places)) != len(seq)
            or not all(0 <= i < steps and 0 <= j < count for i, j in places)):
        raise ValueError("%s: seq must hold each firing of its ensemble once (%d steps x %d "
                         "firings, as scan_ensemble makes them), but holds %d firings"
                         % (fn, steps, count, len(seq)))
    return steps, count, places


def _rf_shape(rows, columns, n, slow):
    """The RF array of n steps: (rows, columns, n), or (rows, columns, S, E) in slow time."""
    return (rows, columns) + ((n,) if slow is None else slow[:2])


def _rf_place(k, slow):
    """Where step k goes along the RF array's last axes."""
    return (k,) if slow is None else slow[2][k]


_KINDS = ("line", "plane", "diverging", "element")


def _check_step(fn, step):
    if not isinstance(step, dict) or step.get("kind") not in _KINDS:
        raise ValueError("%s: a step must be a dict of a scan sequence with kind 'line', "
                         "'plane', 'diverging' or 'element'" % fn)
    return step["kind"]


@_within_memory
def scan_apply(step, tx, rx):
    """Sets up the transmit and the receive aperture for one step of a sequence.

    step    one dict of a sequence (scan_linear, scan_phased, scan_phased_2d, scan_convex,
            scan_planewave, scan_planewave_2d, scan_diverging, scan_diverging_2d, scan_sta)
    tx, rx  the transmit and the receive aperture (Aperture or handle)

    'line': transmit apodization, reference point rx_center (the line's origin) and fixed
    focus at tx_focus; receive apodization, reference point rx_center and dynamic focusing
    along the line's angles, xdc_dynamic_focusing(rx, 0, angle, angle_y) (angle_y 0 when
    the step has none, as in the sequences of a linear array). 'plane', 'diverging' and
    'element': transmit apodization tx_apodization (ones, but for scan_planewave_2d's
    weights and scan_sta's one element) with delays tx_delays; receive apodization ones and
    no delays.
    """
    kind = _check_step("scan_apply", step)
    if kind == "line":
        _cmd.xdc_apodization(tx, 0.0, np.reshape(step["tx_apodization"], (1, -1)))
        # The line's origin as the reference point: its echoes then come back at the time of
        # the depth they lie at, whatever x the line has.
        _cmd.xdc_center_focus(tx, step["rx_center"])
        _cmd.xdc_focus(tx, 0.0, step["tx_focus"])
        _cmd.xdc_apodization(rx, 0.0, np.reshape(step["rx_apodization"], (1, -1)))
        _cmd.xdc_center_focus(rx, step["rx_center"])
        angle_y = step.get("angle_y")
        _cmd.xdc_dynamic_focusing(rx, 0.0, step["angle"], 0.0 if angle_y is None else angle_y)
    else:
        delays = np.reshape(step["tx_delays"], (1, -1))
        ones = np.ones_like(delays)
        _cmd.xdc_apodization(tx, 0.0, np.reshape(step["tx_apodization"], (1, -1)))
        _cmd.xdc_focus_delays(tx, 0.0, delays)
        _cmd.xdc_apodization(rx, 0.0, ones)
        _cmd.xdc_focus_delays(rx, 0.0, np.zeros_like(delays))


# Rows of xdc_get's 'rect' table (one column per rectangle): the physical element's number
# (from 0) and the x, y, z of the four corners, one corner after the other.
_RECT_ELEMENT = 0
_RECT_CORNERS = slice(10, 22)


def _lateral_extent(step, tx, rx):
    """Where a step's active elements lie across its line: (origin, across, s_min, s_max).

    For 'line' the across direction is normal to the line in the x-z plane,
    [cos(a), 0, -sin(a)], measured from rx_center; for transmits it is x, from the origin.
    s_min and s_max [m] bound the corners of every rectangle of an element with a transmit
    or a receive weight, in both apertures (0, 0 where none has one)."""
    if step["kind"] == "line":
        a = step["angle"]
        across = np.array([np.cos(a), 0.0, -np.sin(a)])
        origin = np.asarray(step["rx_center"], dtype=float)
    else:
        across, origin = np.array([1.0, 0.0, 0.0]), np.zeros(3)
    # Weights as scan_apply set them: one per physical element (one alone may come as a number).
    active = ((np.reshape(step["tx_apodization"], -1) != 0)
              | (np.reshape(step["rx_apodization"], -1) != 0))
    s = []
    for th in (tx, rx):
        rect = _cmd.xdc_get(th, "rect")
        on = active[rect[_RECT_ELEMENT].astype(int)]
        corners = rect[_RECT_CORNERS, on].T.reshape(-1, 3)
        s.append((corners - origin) @ across)
    s = np.concatenate(s)
    if s.size == 0:
        return origin, across, 0.0, 0.0
    return origin, across, s.min(), s.max()


def _progress(fn, word, k, n, elapsed):
    """The progress line after step k of n: the time so far and, at the same pace, the time
    the steps left take."""
    left = elapsed / k * (n - k)
    return "%s: %s %d of %d (%.1f s, about %.0f s left)" % (fn, word, k, n, elapsed, left)


@_within_memory
def scan_run(seq, tx, rx, points, amplitudes, window=None):
    """Runs a scan sequence over scatterers: the RF data of every line or transmit.

    seq         scan sequence (list of dicts, all of one kind), or a firing sequence of
                scan_ensemble
    tx, rx      transmit and receive aperture
    points      scatterers, shape (n, 3) [m]; amplitudes: one per scatterer. Or a moving
                phantom (phantom_flow, phantom_motion) with amplitudes None: each step is
                simulated with phantom_positions(points, step['t']) (t = 0 for a step
                without t)
    window      lateral margin [m], >= 0, or None (default): every scatterer in every step.
                With a window, a step simulates only the scatterers whose distance across
                its line lies within the extent of the active elements (the corners of every
                element with a transmit or a receive weight, in both apertures) widened by
                `window` on both sides: for 'line' measured normal to the line in the x-z
                plane, for transmits along x. This is the rule of orvel.distributed, whose
                window is counted in aperture widths instead.

    'line': calc_scat per line; rf has shape (samples, lines).
    'plane', 'diverging', 'element': calc_scat_multi per transmit; rf has shape (samples,
    elements, transmits).
    A firing sequence of scan_ensemble (S steps, E firings each) gives slow time as the last
    axis: (samples, S, E) for lines, (samples, elements, S, E) for transmits, whatever the
    order of the firings.
    All on one time axis: each result placed by its own start time, zeros elsewhere; a step
    without scatterers adds none. Returns (rf, t0), t0 the time of the first row [s] (0 when
    no step has any); row k is at t0 + k/fs.
    Prints its progress, at most about once a second and at the end, as
    "scan_run: line k of n (elapsed s, about left s left)" ("transmit" for transmits).
    """
    fn = "scan_run"
    if isinstance(seq, dict):
        seq = [seq]
    if len(seq) == 0:
        raise ValueError("%s: seq has no steps" % fn)
    kinds = {_check_step(fn, step) for step in seq}
    if len(kinds) > 1:
        raise ValueError("%s: seq mixes steps of the kinds %s"
                         % (fn, ", ".join(sorted(kinds))))
    kind = kinds.pop()
    word = "line" if kind == "line" else "transmit"
    slow = _slow_time(fn, seq)
    moving = isinstance(points, dict)
    if moving:
        if amplitudes is not None and np.size(amplitudes) > 0:
            raise ValueError("%s: amplitudes must be None when points is a moving phantom (it "
                             "holds them)" % fn)
        _phantom_count(fn, points)
        times = [_scalar(fn, "the time t of step %d" % (k + 1), step.get("t", 0.0))
                 for k, step in enumerate(seq)]
    if window is not None:
        window = _scalar(fn, "window", window)
        if window < 0:
            raise ValueError("%s: window must be None or a margin >= 0 [m], but is %g"
                             % (fn, window))
        if not moving:
            points, count = _cmd._points(fn, "points", points)
            amplitudes = _array(fn, "amplitudes", amplitudes, ndim=1)
            if amplitudes.size != count:
                raise ValueError("%s: amplitudes must hold one value per point: %d expected, "
                                 "%d received" % (fn, count, amplitudes.size))
    results = []
    clock = last = time.monotonic()
    for k, step in enumerate(seq):
        scan_apply(step, tx, rx)
        if moving:
            these, weights = phantom_positions(points, times[k])
        else:
            these, weights = points, amplitudes
        if window is not None:
            origin, across, low, high = _lateral_extent(step, tx, rx)
            s = (these - origin) @ across
            inside = (s >= low - window) & (s <= high + window)
            if not inside.all():  # all inside: the same arrays, so the same sums
                these, weights = these[inside], weights[inside]
        if window is not None and these.shape[0] == 0:
            columns = 1 if kind == "line" else np.size(step["rx_apodization"])
            signal, start = np.zeros((0, columns)), None
        elif kind == "line":
            signal, start = _cmd.calc_scat(tx, rx, these, weights)
            signal = signal.reshape(-1, 1)
        else:
            signal, start = _cmd.calc_scat_multi(tx, rx, these, weights)
        results.append((signal, start))
        now = time.monotonic()
        if now - last >= 1.0 or k == len(seq) - 1:
            print(_progress(fn, word, k + 1, len(seq), now - clock), flush=True)
            last = now
    # Start times are whole numbers of samples; place each result at its own row. Steps
    # without signal take no part in the time axis.
    used = [(s, start) for s, start in results if start is not None and s.shape[0] > 0]
    columns = max(s.shape[1] for s, _ in results)
    if not used:
        rf = np.zeros(_rf_shape(0, columns, len(seq), slow))
        return (rf[:, 0] if kind == "line" else rf), 0.0
    t0 = min(start for _, start in used)
    fs = _cmd.get_option("fs") if any(start != t0 for _, start in used) else 1.0
    offsets = [int(round((start - t0) * fs)) if start is not None else 0
               for _, start in results]
    rows = max(off + s.shape[0] for (s, _), off in zip(results, offsets))
    # Column-major, each signal's samples next to each other, as das_beamform reads them.
    rf = np.zeros(_rf_shape(rows, columns, len(seq), slow), order="F")
    for k, ((signal, _), off) in enumerate(zip(results, offsets)):
        where = (slice(off, off + signal.shape[0]), slice(0, signal.shape[1]))
        rf[where + _rf_place(k, slow)] = signal
    return (rf[:, 0] if kind == "line" else rf), t0


# Image formation

@_within_memory
def das_beamform(rf, t0, fs, element_x, x, z, c, f_number, angle, lag, *, y=None,
                 window="hann", tukey_alpha=0.5, interpolation="linear", per_transmit=False):
    """Delay-and-sum image of RF data from any array and any transmits, through das_image.

    rf         per-element RF of one transmit, shape (samples, elements); of several, shape
               (samples, elements, transmits); or (samples, elements*transmits), column
               t*elements + e for element e of transmit t, as calc_scat_all gives it
    t0         time of rf's first row [s]; fs: sampling frequency [Hz]
    element_x  the receiving elements in the order of rf's columns: their x positions [m]
               (a linear array along x, a vector), or their positions, shape (R, 3) [m] (any
               array: convex, multi-row, 2-D; element_positions(Th) gives them); a vector of
               3 is read as x positions when rf has 3 element columns (or, 2-D rf, a
               multiple of 3)
    x, z       lateral and depth positions of the image grid [m] (vectors); or x a list of
               points, shape (P, 3) [m], with z None (or empty)
    c          speed of sound [m/s]
    f_number   receive f-number: the elements whose lateral distance l from the point (in x
               and y) is below a = (z - z_e)/(2*f_number) are used, weighted by the window
               (Hann: 0.5 + 0.5*cos(pi*l/a); for a linear array
               0.5 + 0.5*cos(2*pi*(x_e - x)/(z/f_number))); where none has a positive
               weight, the nearest element alone (weight 1)
    angle      the transmits, T of them, told apart by the shape:
                 T angles [rad]   plane waves steered from the z axis towards +x
                 (T, 2) [rad]     [ax, ay] per transmit: plane waves from a 2-D array, in
                                  the direction [sin(ax)cos(ay), sin(ay), cos(ax)cos(ay)]
                 (T, 8)           a transmit table as das_image takes it (plane, diverging,
                                  focused, single element), used as it is
               Plane waves given by angles are taken as sent from the elements of rf with
               the delays (u.e - min(u.e))/c at element e, those of scan_planewave for a
               linear array (u.e = x_e*sin(a)) and the same rule for any other: the front
               reaches p at t_ref + (u.p)/c, t_ref = -min over the elements of (u.e)/c
    lag        the pulse's own delay [s]: time from the start of the pulse-echo pulse to its
               centre; for symmetric pulses (2*len(impulse) + len(excitation) - 3) / (2*fs)

    Keyword-only, with das_image's defaults:
    y              y positions of a 3-D grid [m] (a vector; None: the plane y = 0)
    window         receive window 'hann', 'tukey' or 'boxcar'
    tukey_alpha    tapered fraction of the Tukey window
    interpolation  'linear' or 'cubic' (Keys, a = -0.5)
    per_transmit   True: the image of each transmit along a last axis of length T (False:
                   the transmits summed, coherent compounding)

    For a point p the sample of element e at tau_t + tau_r + lag is taken (0 outside the
    signal), with tau_t the arrival of the transmit (help(orvel.das_image); for a plane wave at
    angle a from a linear array, (x*sin(a) + z*cos(a))/c - min(element_x*sin(a))/c) and
    tau_r = |p - e|/c.
    Returns the RF image (not the envelope), shape (len(z), len(x)); (len(z), len(x), len(y))
    with y; (P,) for a list of points; per_transmit adds an axis of length T.
    """
    fn = "das_beamform"
    rf = _array(fn, "rf", rf)
    if rf.ndim not in (2, 3):
        raise ValueError("%s: rf must be samples x elements (x transmits), but has shape %s"
                         % (fn, rf.shape))
    elements = _das_elements(fn, element_x, rf.shape)
    if rf.ndim == 3:
        no_transmits = rf.shape[2]
    else:
        no_transmits = rf.shape[1] // len(elements) if len(elements) else 1
    transmits, pairs = _das_transmits(fn, angle, no_transmits)
    t0 = _scalar(fn, "t0", t0)
    fs = _scalar(fn, "fs", fs, positive=True)
    c = _scalar(fn, "c", c, positive=True)
    f_number = _scalar(fn, "f_number", f_number, positive=True)
    lag = _scalar(fn, "lag", lag)
    points, shape = _das_points(fn, x, z, y)
    per_transmit = bool(per_transmit)
    if per_transmit:
        shape += (no_transmits,)

    if points.shape[0] == 0 or len(elements) == 0:
        return np.zeros(shape)
    if transmits is None:
        # Plane waves fired by the delays of scan_planewave: the first element at time 0.
        ax, ay = pairs[:, 0], pairs[:, 1]
        u = np.column_stack([np.sin(ax) * np.cos(ay), np.sin(ay), np.cos(ax) * np.cos(ay)])
        ue = (u[:, 0:1] * elements[:, 0] + u[:, 1:2] * elements[:, 1]
              + u[:, 2:3] * elements[:, 2])
        transmits = np.zeros((no_transmits, 8))
        transmits[:, 0], transmits[:, 1], transmits[:, 2] = 1.0, ax, ay
        transmits[:, 4] = -np.min(ue, axis=1) / c
    image = _cmd.das_image(rf, t0, fs, c, lag, elements, points, transmits, f_number=f_number,
                           window=window, tukey_alpha=tukey_alpha,
                           interpolation=interpolation, per_transmit=per_transmit)
    return image.reshape(shape, order="F")


def _das_elements(fn, element_x, rf_shape):
    """Element positions, shape (R, 3), from x positions or (R, 3) positions; rf holds R
    columns per transmit (samples, R, T), or (samples, R*T) when it is 2-D."""
    columns = rf_shape[1]

    def fits(r):
        return r == columns or (len(rf_shape) == 2 and r > 0 and columns % r == 0)

    e = _array(fn, "element_x", element_x)
    if e.ndim <= 2 and (e.ndim < 2 or e.size == max(e.shape)) and fits(e.size):
        return np.column_stack([e.reshape(-1), np.zeros((e.size, 2))])
    if e.ndim == 2 and e.shape[1] == 3 and fits(e.shape[0]):
        return e
    within = ("R = %d (the element columns of rf)" % columns if len(rf_shape) == 3
              else "R a divisor of the %d columns of rf" % columns)
    raise ValueError("%s: element_x must hold R x positions or be R x 3 element positions, "
                     "%s, but has shape %s" % (fn, within, e.shape))


def _das_transmits(fn, angle, no_transmits):
    """(table, None) for a transmit table given as angle, or (None, pairs): the angle pairs
    [ax, ay] of plane waves, shape (T, 2)."""
    a = _array(fn, "angle", angle)
    if a.ndim <= 2 and a.size == no_transmits and (a.ndim < 2 or a.size == max(a.shape)):
        return None, np.column_stack([a.reshape(-1), np.zeros(a.size)])
    table = a.reshape(1, -1) if a.ndim == 1 else a
    if table.shape == (no_transmits, 2):
        return None, table
    if table.shape == (no_transmits, 8):
        return table, None
    raise ValueError("%s: angle must be one angle per transmit (%d values), %d x 2 angle pairs "
                     "or a %d x 8 transmit table, but has shape %s"
                     % (fn, no_transmits, no_transmits, no_transmits, a.shape))


def _das_points(fn, x, z, y):
    """The image points, shape (P, 3), and the image's shape: a list, or a grid with depth
    first (points down each column first: neighbours in depth read neighbouring samples)."""
    if z is None or np.size(z) == 0:
        p = _array(fn, "x", x)
        if p.ndim == 2 and p.shape[1] == 3:
            if y is not None and np.size(y) > 0:
                raise ValueError("%s: y makes a grid of the vectors x and z; a list of points "
                                 "(x of shape (P, 3), z None) has no y" % fn)
            return p, (p.shape[0],)
        if z is None:
            raise ValueError("%s: x must be a list of points, shape (P, 3), when z is None, "
                             "but has shape %s" % (fn, p.shape))
    x = _array(fn, "x", x, ndim=1)
    z = _array(fn, "z", z, ndim=1)
    if y is None or np.size(y) == 0:
        ys, shape = np.zeros(1), (z.size, x.size)
    else:
        ys = _array(fn, "y", y, ndim=1)
        shape = (z.size, x.size, ys.size)
    # Column-major, as the core reads it (no copy on the way).
    points = np.empty((z.size * x.size * ys.size, 3), order="F")
    points[:, 0] = np.tile(np.repeat(x, z.size), ys.size)
    points[:, 1] = np.repeat(ys, z.size * x.size)
    points[:, 2] = np.tile(z, x.size * ys.size)
    return points, shape


def element_positions(Th):
    """The centres of an aperture's physical elements, for das_image.

    Th   aperture (Aperture or handle): any array, linear, convex, multi-row, 2-D, user-defined

    Returns shape (N, 3) [m], row k the centre [x, y, z] of physical element k as the aperture
    holds it (xdc_get: rows 24 to 26 of 'rect', or rows 4 to 6 of 'tri' for an aperture
    converted to triangles).
    """
    info, rows = _cmd.xdc_get(Th, "rect"), slice(23, 26)
    if info.size == 0:
        info, rows = _cmd.xdc_get(Th, "tri"), slice(3, 6)
    if info.size == 0:
        raise ValueError("element_positions: the aperture has neither rectangles nor "
                         "triangles to read its element centres from")
    _, first = np.unique(info[0], return_index=True)  # each element's first rectangle, in order
    return np.ascontiguousarray(info[rows, first].T)


@_within_memory
def envelope(rf):
    """Envelope of RF signals: the magnitude of the analytic signal of each column.

    rf  signals along the first dimension (a vector, or samples x columns ...)

    Made by the FFT along the first dimension: the spectrum is kept at DC (and at the
    Nyquist frequency for an even length), doubled at positive and removed at negative
    frequencies, then transformed back. Returns an array of rf's shape.
    """
    rf = _array("envelope", "rf", rf)
    if rf.size == 0 or rf.ndim == 0:
        return np.abs(rf)
    n = rf.shape[0]
    weight = np.zeros(n)
    weight[0] = 1.0
    weight[1:(n + 1) // 2] = 2.0
    if n % 2 == 0:
        weight[n // 2] = 1.0
    weight = weight.reshape((n,) + (1,) * (rf.ndim - 1))
    return np.abs(np.fft.ifft(np.fft.fft(rf, axis=0) * weight, axis=0))


@_within_memory
def log_compress(env, dynamic_range):
    """Logarithmic compression for display: 20*log10(env/max(env)) [dB], clipped below at
    -dynamic_range.

    env            envelope values (>= 0), any shape; NaN values stay NaN
    dynamic_range  range kept [dB], > 0

    Returns an array of env's shape in [-dynamic_range, 0]; all -dynamic_range where env is
    all zero.
    """
    fn = "log_compress"
    env = _array(fn, "env", env)
    if (env < 0).any():
        raise ValueError("%s: env must hold real non-negative values" % fn)
    dynamic_range = _scalar(fn, "dynamic_range", dynamic_range, positive=True)
    finite = env[~np.isnan(env)]
    peak = finite.max() if finite.size else 0.0
    if peak <= 0:
        return np.where(np.isnan(env), np.nan, -dynamic_range)
    with np.errstate(divide="ignore", invalid="ignore"):
        db = 20 * np.log10(env / peak)
    return np.where(np.isnan(db), db, np.maximum(db, -dynamic_range))


def _grid_index(v, grid):
    """Fractional position of v on an increasing grid: (i0, frac, inside)."""
    inside = (v >= grid[0]) & (v <= grid[-1])
    i0 = np.clip(np.searchsorted(grid, v, side="right") - 1, 0, grid.size - 2)
    frac = (v - grid[i0]) / (grid[i0 + 1] - grid[i0])
    return i0, frac, inside


@_within_memory
def scan_convert(lines, angles, r, x, z, apex=(0.0, 0.0)):
    """Sector data on a Cartesian grid.

    lines   data of a sector scan, shape (len(r), len(angles)): samples along r, one column
            per line
    angles  angles of the lines [rad] from the z axis towards +x, increasing
    r       distances of the samples from the apex [m], increasing
    x, z    the output grid [m] (vectors)
    apex    [x, z] of the point all lines come from [m] (default [0, 0], a phased array's
            centre; [0, -radius] for scan_convex, whose samples then lie at r = radius +
            depth)

    A grid point lies at radius sqrt((x - x_a)^2 + (z - z_a)^2) and angle
    atan2(x - x_a, z - z_a) from the apex (x_a, z_a); its value is interpolated bilinearly
    in (r, angle). Returns shape (len(z), len(x)), NaN outside the sector.
    """
    fn = "scan_convert"
    lines = _array(fn, "lines", lines, ndim=2)
    angles = _array(fn, "angles", angles, ndim=1)
    r = _array(fn, "r", r, ndim=1)
    if lines.shape != (r.size, angles.size):
        raise ValueError("%s: lines must have shape (len(r), len(angles)) = (%d, %d), but has "
                         "%s" % (fn, r.size, angles.size, lines.shape))
    for name, v in (("angles", angles), ("r", r)):
        if v.size < 2 or not (np.diff(v) > 0).all():
            raise ValueError("%s: %s must hold at least 2 increasing values" % (fn, name))
    x = _array(fn, "x", x, ndim=1)
    z = _array(fn, "z", z, ndim=1)
    apex = _array(fn, "apex", apex, ndim=1)
    if apex.size != 2 or not np.isfinite(apex).all():
        raise ValueError("%s: apex must be [x z], two finite numbers [m]" % fn)
    X, Z = np.meshgrid(x - apex[0], z - apex[1])
    ir, fr, in_r = _grid_index(np.hypot(X, Z), r)
    ia, fa, in_a = _grid_index(np.arctan2(X, Z), angles)
    value = ((1 - fr) * ((1 - fa) * lines[ir, ia] + fa * lines[ir, ia + 1])
             + fr * ((1 - fa) * lines[ir + 1, ia] + fa * lines[ir + 1, ia + 1]))
    return np.where(in_r & in_a, value, np.nan)


def _angle_grid(fn, angles, count):
    """The grid of a pyramidal scan's lines: (ax values, ay values, ix, iy), both value lists
    increasing, line k at [ax values[ix[k]], ay values[iy[k]]]; refused unless the T rows
    hold every pair of the two lists once."""
    angles = _angle_pairs(fn, angles)
    if angles.shape[0] != count:
        raise ValueError("%s: angles must hold one row [ax ay] per line: %d rows expected (the "
                         "columns of lines), %d received" % (fn, count, angles.shape[0]))
    ax, ix = np.unique(angles[:, 0], return_inverse=True)
    ay, iy = np.unique(angles[:, 1], return_inverse=True)
    ix, iy = ix.reshape(-1), iy.reshape(-1)
    cells = np.unique(ix + ax.size * iy).size
    if ax.size < 2 or ay.size < 2 or ax.size * ay.size != count or cells != count:
        raise ValueError("%s: angles must form a grid of at least 2 ax values by at least 2 ay "
                         "values, each pair [ax ay] once (in any order), but its %d rows hold "
                         "%d ax values, %d ay values and %d distinct pairs"
                         % (fn, count, ax.size, ay.size, cells))
    return ax, ay, ix, iy


@_within_memory
def scan_convert_3d(lines, angles, r, x, y, z):
    """Pyramidal sector data (scan_phased_2d) on a Cartesian grid: a volume.

    lines   data of the lines, shape (len(r), T): samples along r, one column per line
            (e.g. the envelope of scan_run's rf)
    angles  the lines' angles, T x 2 rows [ax, ay] [rad], as scan_phased_2d takes them:
            they must form a full grid, every pair of nx distinct ax values and ny distinct
            ay values (nx, ny >= 2) once, in any order; e.g. ax running fastest:
            np.column_stack([AX.ravel(), AY.ravel()]) with AX, AY = np.meshgrid(ax, ay)
    r       distances of the samples from the apex, the array's centre [m], increasing
    x, y, z the output grid [m] (vectors)

    A voxel (x, y, z) lies at the range sqrt(x^2 + y^2 + z^2) and the angles
    ax = atan2(x, z), ay = atan2(y, sqrt(x^2 + z^2)) (its direction is
    [sin(ax) cos(ay), sin(ay), cos(ax) cos(ay)]); its value is interpolated linearly in
    range, in ax and in ay between the 8 surrounding samples of the grid of lines, as
    scan_convert does in range and angle. Returns shape (len(z), len(x), len(y)), the layout
    of das_beamform's volumes (show_volume); NaN outside the pyramid (range outside
    [r[0], r[-1]] or an angle outside the grid's span).
    """
    fn = "scan_convert_3d"
    lines = _array(fn, "lines", lines, ndim=2)
    r = _array(fn, "r", r, ndim=1)
    if r.size < 2 or not np.isfinite(r).all() or not (np.diff(r) > 0).all():
        raise ValueError("%s: r must hold at least 2 finite increasing values [m]" % fn)
    if lines.shape[0] != r.size:
        raise ValueError("%s: lines must have shape (len(r), T) = (%d, T), but has %s"
                         % (fn, r.size, lines.shape))
    ax, ay, ix, iy = _angle_grid(fn, angles, lines.shape[1])
    x = _array(fn, "x", x, ndim=1)
    y = _array(fn, "y", y, ndim=1)
    z = _array(fn, "z", z, ndim=1)
    grid = np.empty((r.size, ax.size, ay.size))
    grid[:, ix, iy] = lines
    Z, X, Y = np.meshgrid(z, x, y, indexing="ij")
    across = np.hypot(X, Z)
    kr, fr, in_r = _grid_index(np.sqrt(X ** 2 + Y ** 2 + Z ** 2), r)
    kx, fx, in_x = _grid_index(np.arctan2(X, Z), ax)
    ky, fy, in_y = _grid_index(np.arctan2(Y, across), ay)
    value = np.zeros(Z.shape)
    for dr, wr in ((0, 1 - fr), (1, fr)):
        for dx, wx in ((0, 1 - fx), (1, fx)):
            for dy, wy in ((0, 1 - fy), (1, fy)):
                value += wr * wx * wy * grid[kr + dr, kx + dx, ky + dy]
    return np.where(in_r & in_x & in_y, value, np.nan)


@_within_memory
def sample_depth(no_samples, t0, fs, c, lag=0.0):
    """The depth (range) of each sample of line data [m]: c * (t0 + k/fs - lag) / 2 for
    k = 0 .. no_samples - 1, shape (no_samples,).

    no_samples  number of samples (rows of rf), >= 0
    t0          time of the first sample [s] (scan_run's t0)
    fs          sampling frequency [Hz]
    c           speed of sound [m/s]
    lag         the pulse's own delay [s] (default 0): time from the start of the pulse-echo
                pulse to its centre, as for das_beamform

    The round trip to a depth d takes 2 d / c; the range is measured from the line's origin
    (rx_center), the reference point scan_apply sets.
    """
    fn = "sample_depth"
    n = int(_scalar(fn, "no_samples", no_samples, whole=True))
    if n < 0:
        raise ValueError("%s: no_samples must be >= 0, but is %d" % (fn, n))
    t0 = _scalar(fn, "t0", t0)
    fs = _scalar(fn, "fs", fs, positive=True)
    c = _scalar(fn, "c", c, positive=True)
    lag = _scalar(fn, "lag", lag)
    return c * (t0 + np.arange(n) / fs - lag) / 2


@_within_memory
def tgc(rf, t0, fs, c, db_per_cm_mhz, f0):
    """Time-gain compensation: undoes the round-trip loss of a frequency-dependent attenuation.

    rf             signals along the first dimension (a vector, or samples x ...) [any unit]
    t0, fs, c      time of rf's first row [s], sampling frequency [Hz], speed of sound [m/s]
    db_per_cm_mhz  attenuation alpha [dB/(cm MHz)], >= 0
    f0             frequency at which the loss is taken [Hz], > 0 (e.g. the pulse's centre)

    Row k is multiplied by 10^(alpha * f0[MHz] * 2 * depth[cm] / 20), depth the
    sample_depth of the row (lag 0) [m]: the loss of alpha * f0 dB per cm of the way there
    and back. An echo's centre comes the pulse's lag after its depth's time: give t0 - lag
    for the gain of the depth to fall on it. Returns an array of rf's shape [unit of rf].
    """
    fn = "tgc"
    rf = _array(fn, "rf", rf)
    alpha = _scalar(fn, "db_per_cm_mhz", db_per_cm_mhz)
    if alpha < 0:
        raise ValueError("%s: db_per_cm_mhz must be >= 0 [dB/(cm MHz)], but is %g" % (fn, alpha))
    f0 = _scalar(fn, "f0", f0, positive=True)
    if rf.ndim == 0:
        rf = rf.reshape(1)
    depth = sample_depth(rf.shape[0], t0, fs, c, 0.0)
    gain = 10.0 ** (alpha * (f0 / 1e6) * (2 * depth * 100) / 20)
    return rf * gain.reshape((-1,) + (1,) * (rf.ndim - 1))


@_within_memory
def show_image(file, image_db, x, z, dynamic_range, title=""):
    """Writes a B-mode picture as a PNG file.

    file           name of the PNG file
    image_db       image [dB], shape (len(z), len(x)) (log_compress); NaN (outside a
                   sector, scan_convert) is shown black
    x, z           lateral and depth positions of its columns and rows [m], shown in mm
    dynamic_range  grey scale from -dynamic_range (black) to 0 dB (white)
    title          title of the picture

    x runs across, z down, one pixel per grid point in proportion; a colour bar in dB.
    Needs matplotlib (drawn with its Agg canvas, no display).
    """
    fn = "show_image"
    if not isinstance(file, (str, os.PathLike)) or not os.fspath(file):
        raise TypeError("%s: file must be a file name" % fn)
    image_db = _array(fn, "image_db", image_db, ndim=2)
    x = _array(fn, "x", x, ndim=1) * 1e3
    z = _array(fn, "z", z, ndim=1) * 1e3
    if image_db.shape != (z.size, x.size):
        raise ValueError("%s: image_db must have shape (len(z), len(x)) = (%d, %d), but has %s"
                         % (fn, z.size, x.size, image_db.shape))
    dynamic_range = _scalar(fn, "dynamic_range", dynamic_range, positive=True)
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    dx = (x[-1] - x[0]) / (x.size - 1) if x.size > 1 else 1.0
    dz = (z[-1] - z[0]) / (z.size - 1) if z.size > 1 else 1.0
    extent = [x[0] - dx / 2, x[-1] + dx / 2, z[-1] + dz / 2, z[0] - dz / 2]
    width = max(extent[1] - extent[0], 1e-9)
    height = max(extent[2] - extent[3], 1e-9)
    fig = Figure(figsize=(min(max(6.5 * width / height, 3.5), 12) + 1.3, 6.5))
    FigureCanvasAgg(fig)
    ax = fig.add_subplot()
    # NaN as the black end of the scale, as in Octave (matplotlib would leave it blank).
    image_db = np.where(np.isnan(image_db), -dynamic_range, image_db)
    shown = ax.imshow(image_db, extent=extent, cmap="gray", vmin=-dynamic_range, vmax=0,
                      aspect="equal", interpolation="nearest")
    fig.colorbar(shown, ax=ax, label="dB")
    ax.set_xlabel("x [mm]")
    ax.set_ylabel("z [mm]")
    ax.set_title(str(title))
    try:
        fig.savefig(file, format="png", dpi=100, bbox_inches="tight")
    except (np.linalg.LinAlgError, OverflowError) as e:
        # Axes whose extents no transform can take (x or z of 1e15 m and of 1 mm together).
        raise ValueError("%s: x and z of these extents cannot be drawn (%s)" % (fn, e)) from None



@_within_memory
def show_volume(file, volume_db, x, y, z, dynamic_range, title=""):
    """Writes a picture of a volume as a PNG file: three slices through its maximum and its
    maximum-intensity projections.

    file           name of the PNG file
    volume_db      volume [dB], shape (len(z), len(x), len(y)) (log_compress of the envelope
                   of das_beamform's image on an x-y-z grid); NaN is shown black
    x, y, z        positions of its columns, of its planes and of its rows [m], shown in mm
    dynamic_range  grey scale from -dynamic_range (black) to 0 dB (white)
    title          title of the picture

    The top row holds the slices through the brightest voxel (the first, if several): x-z at
    its y, y-z at its x and x-y at its depth; the bottom row the largest value along y
    (x-z), along x (y-z) and along z (x-y). Each panel is in proportion, one pixel per grid
    point; the slices' positions in mm are in the panels' titles. Needs matplotlib (drawn
    with its Agg canvas, no display).
    """
    fn = "show_volume"
    if not isinstance(file, (str, os.PathLike)) or not os.fspath(file):
        raise TypeError("%s: file must be a file name" % fn)
    volume_db = _array(fn, "volume_db", volume_db, ndim=3)
    x, y, z = (_array(fn, name, v, ndim=1) * 1e3 for name, v in (("x", x), ("y", y), ("z", z)))
    if volume_db.shape != (z.size, x.size, y.size) or volume_db.size == 0:
        raise ValueError("%s: volume_db must have shape (len(z), len(x), len(y)) = (%d, %d, "
                         "%d), but has %s" % (fn, z.size, x.size, y.size, volume_db.shape))
    dynamic_range = _scalar(fn, "dynamic_range", dynamic_range, positive=True)
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    # NaN as the black end of the scale, as show_image shows it.
    v = np.where(np.isnan(volume_db), -dynamic_range, volume_db)
    iz, ix, iy = np.unravel_index(np.argmax(v), v.shape)

    def extent(across, down):
        da = (across[-1] - across[0]) / (across.size - 1) if across.size > 1 else 1.0
        dd = (down[-1] - down[0]) / (down.size - 1) if down.size > 1 else 1.0
        return [across[0] - da / 2, across[-1] + da / 2, down[-1] + dd / 2, down[0] - dd / 2]

    panels = [(v[:, :, iy], x, z, "x", "z", "x-z at y = %.2f mm" % y[iy]),
              (v[:, ix, :], y, z, "y", "z", "y-z at x = %.2f mm" % x[ix]),
              (v[iz, :, :].T, x, y, "x", "y", "x-y at z = %.2f mm" % z[iz]),
              (v.max(axis=2), x, z, "x", "z", "x-z, maximum along y"),
              (v.max(axis=1), y, z, "y", "z", "y-z, maximum along x"),
              (v.max(axis=0).T, x, y, "x", "y", "x-y, maximum along z")]
    fig = Figure(figsize=(13, 8.5), layout="constrained")
    FigureCanvasAgg(fig)
    axes = fig.subplots(2, 3)
    for ax, (plane, across, down, xlabel, ylabel, name) in zip(axes.reshape(-1), panels):
        shown = ax.imshow(plane, extent=extent(across, down), cmap="gray", aspect="equal",
                          vmin=-dynamic_range, vmax=0, interpolation="nearest")
        ax.set_xlabel("%s [mm]" % xlabel)
        ax.set_ylabel("%s [mm]" % ylabel)
        ax.set_title(name, fontsize=10)
    fig.colorbar(shown, ax=axes.ravel().tolist(), label="dB", shrink=0.6)
    fig.suptitle(str(title))
    try:
        fig.savefig(file, format="png", dpi=100)
    except (np.linalg.LinAlgError, OverflowError) as e:
        raise ValueError("%s: x, y and z of these extents cannot be drawn (%s)" % (fn, e)) from None

# Doppler processing (in the core, on every thread; help in orvel): fast time (depth) along
# the first axis, slow time (the firings of an ensemble) along the last. Velocities are axial,
# positive towards the transducer (depth decreasing), as colour-flow displays show them.
iq_demodulate = _cmd.iq_demodulate
clutter_filter = _cmd.clutter_filter
color_flow = _cmd.color_flow
doppler_spectrum = _cmd.doppler_spectrum


# Acoustic output

# Derating: 0.3 dB/(cm MHz) = 3e-5 dB/(m Hz), a loss of exactly freq_att * f dB/m with att 0
# and att_f0 0 (help set_option).
_DERATING = (("use_att", 1.0), ("att", 0.0), ("freq_att", 3e-5), ("att_f0", 0.0))


def _pressure(Th, point, rho, fs):
    """The pressure [Pa] at one point: rho * fs * conv(s, [-1 8 0 -8 1]/12), s the signal of
    calc_hp there (the derivative of calc_hp_map)."""
    s, _ = _cmd.calc_hp(Th, point.reshape(1, 3))
    return rho * fs * np.convolve(s.reshape(-1), np.array([-1.0, 8.0, 0.0, -8.0, 1.0]) / 12)


def _pulse_duration(p, fs):
    """1.25 times the time the running energy takes from 10 % to 90 % of the total. The energy
    after j samples is q[j]; between sample ends it grows linearly."""
    q = np.concatenate([[0.0], np.cumsum(p ** 2)])

    def at(share):
        level = share * q[-1]
        i = int(np.argmax(q >= level))  # q[0] = 0 < level, so i >= 1
        return (i - 1) + (level - q[i - 1]) / (q[i] - q[i - 1])
    return 1.25 * (at(0.9) - at(0.1)) / fs


def _working_frequency(p, fs):
    """The mean of the -3 dB frequencies on either side of the spectrum's peak."""
    n = 1 << (max(16384, 8 * p.size) - 1).bit_length()
    a = np.abs(np.fft.rfft(p, n))  # 0 to fs/2
    df = fs / n
    k = int(np.argmax(a))
    level = a[k] * 10 ** (-3 / 20)
    below = np.flatnonzero(a[:k + 1] < level)
    if below.size == 0:
        f_lo = 0.0
    else:  # between bins lo (below) and lo + 1 (at or above)
        lo = below[-1]
        f_lo = (lo + (level - a[lo]) / (a[lo + 1] - a[lo])) * df
    above = np.flatnonzero(a[k:] < level)
    if above.size == 0:
        f_hi = fs / 2
    else:  # between bins hi - 1 (at or above) and hi (below)
        hi = k + above[0]
        f_hi = (hi - 1 + (a[hi - 1] - level) / (a[hi - 1] - a[hi])) * df
    return (f_lo + f_hi) / 2


def acoustic_output(Th, points, prf):
    """Mechanical index and derated intensities of the pulse an aperture emits.

    Th      the aperture (Aperture or handle); its pulse (impulse response convolved with
            excitation) must be the surface velocity [m/s] for the results to be in pascals
            and W/m^2
    points  field points, shape (n, 3) [m], n >= 1: where to look for the peaks (e.g. the
            beam axis, or a plane through the focus)
    prf     pulse repetition frequency [Hz], one positive finite number

    Returns a dict:

    p_r3       the largest derated peak rarefactional pressure over the points [Pa]: the
               max of calc_hp_map's p_minus with the derating on
    mi_point   the point where p_r3 is, shape (3,) [m] (the first of equal ones)
    f_awf      acoustic working frequency at mi_point [Hz]: (f_lo + f_hi) / 2, f_lo and f_hi
               the frequencies below and above the peak of abs(fft(p, N)), nearest to it,
               where it falls to 10**(-3/20) of the peak (3 dB below it), found by linear
               interpolation between bins; p is the un-derated pressure there and N the
               power of 2 at or above max(16384, 8 * len(p)) (zero-padded); where no
               crossing lies below (above) the peak, f_lo = 0 (f_hi = fs/2)
    mi         mechanical index (p_r3 / 1e6) / sqrt(f_awf / 1e6) [no unit]: the pressure in
               MPa over the root of the frequency in MHz. p_r3 is at least the derated
               p_minus at pii_point, the point some standards take for the index, so mi is
               at least their value wherever f_awf is the same at both points (as for a
               pulse that keeps its spectrum)
    pii_3      the largest derated pulse intensity integral over the points [J/m^2]: the max
               of calc_hp_map's pii, sum(p**2) / fs / (rho * c), with the derating on
    pii_point  the point where pii_3 is, shape (3,) [m] (the first of equal ones)
    pd         pulse duration at pii_point [s]: 1.25 * (t90 - t10), t10 and t90 the times at
               which the running integral of the derated p**2 reaches 10 % and 90 % of its
               total (the integral taken as cumsum(p**2) / fs at the ends of the samples,
               linear between them)
    isppa_3    derated spatial-peak pulse-average intensity pii_3 / pd [W/m^2]
    ispta_3    derated spatial-peak temporal-average intensity pii_3 * prf [W/m^2]

    The pressure at a point is p = rho * fs * conv(s, [-1, 8, 0, -8, 1] / 12) [Pa], s the
    signal calc_hp gives there, rho = get_option("rho") [kg/m^3] and fs = get_option("fs")
    [Hz] (the derivative of calc_hp_map). Derating is a loss of 0.3 dB/(cm MHz) = 3e-5
    dB/(m Hz) along the path, set through the attenuation options: use_att 1, att 0,
    freq_att 3e-5 [dB/(m Hz)], att_f0 0 [Hz] (a loss of exactly freq_att * f dB/m, help
    set_option). The un-derated pressure is that of the lossless medium (use_att 0). The
    four options are read before and set back afterwards, also when the calculation fails,
    so the caller's attenuation plays no part in the results and is kept.

    A field that is 0 at every point is refused (it has no working frequency).

    Usual limits, for reference: MI 1.9; I_spta.3 720 mW/cm^2 (7200 W/m^2); I_sppa.3
    190 W/cm^2 (1.9e6 W/m^2).
    """
    fn = "acoustic_output"
    points, n = _cmd._points(fn, "points", points)
    if n == 0:
        raise ValueError("%s: points must hold at least one point" % fn)
    bad = np.flatnonzero(~np.isfinite(points).all(axis=1))
    if bad.size:
        raise ValueError("%s: points must be finite, but row %d is not" % (fn, bad[0] + 1))
    prf = _scalar(fn, "prf", prf, positive=True)

    saved = [(name, _cmd.get_option(name)) for name, _ in _DERATING]
    try:
        for name, value in _DERATING:
            _cmd.set_option(name, value)
        rho, fs = _cmd.get_option("rho"), _cmd.get_option("fs")
        m = _cmd.calc_hp_map(Th, points, ["p_minus", "pii"])
        i_mi, i_pii = int(np.argmax(m["p_minus"])), int(np.argmax(m["pii"]))
        p_r3, pii_3 = float(m["p_minus"][i_mi]), float(m["pii"][i_pii])
        if not p_r3 > 0:
            raise ValueError("%s: the pressure is 0 at every point (is the pulse set, and do "
                             "the points lie in the field?)" % fn)
        pd = _pulse_duration(_pressure(Th, points[i_pii], rho, fs), fs)
        _cmd.set_option("use_att", 0.0)
        f_awf = _working_frequency(_pressure(Th, points[i_mi], rho, fs), fs)
    finally:
        for name, value in saved:
            _cmd.set_option(name, value)
    return {"p_r3": p_r3, "mi_point": points[i_mi].copy(), "f_awf": f_awf,
            "mi": (p_r3 / 1e6) / math.sqrt(f_awf / 1e6), "pii_3": pii_3,
            "pii_point": points[i_pii].copy(), "pd": pd, "isppa_3": pii_3 / pd,
            "ispta_3": pii_3 * prf}


# Exchange files: channel data and images for other tools
#
# HDF5 in the layout of the ultrasound file format (UFF) that open beamforming toolboxes read
# and write: every object a group with the attributes class ('uff.channel_data', 'uff.wave',
# ...), name, size and array (a list of objects is a group of array 1 holding
# NAME_0001, NAME_0002, ...; a list of one is written as the object itself); every number a
# dataset with the attributes class ('double'), name, complex and imaginary (a complex array
# is a group of the datasets real and imag); arrays in column-major order, so that MATLAB and
# Octave see channel data as samples x channels x waves (x frames) and h5py sees the
# dimensions reversed; the format's version as the root's attribute version. The format's
# waves hold a transmit as a wavefront, a source and one delay; Orvel's own description of
# the steps (per-element delays, receive weights, line origins) goes beside them into the
# root group orvel, which has no class attribute, so that the toolboxes pass it by.
_UFF_VERSION = "v1.2.0"
_UFF_SUFFIXES = (".uff", ".h5", ".hdf5")
_KIND_CODE = {"line": 1, "plane": 2, "diverging": 3, "element": 4}
_ORDER_CODE = {None: 0, "line": 1, "frame": 2}
# The flat fields of a channel file (.npz, .mat, and the orvel group of HDF5) by shape:
# numbers, vectors (one value per step or wave) and matrices (one row per element or step).
_CHANNEL_NUMBERS = ("t0", "lag", "fs", "c", "prf", "modulation_frequency", "initial_time",
                    "seq_order")
_CHANNEL_VECTORS = ("wave_wavefront", "wave_delay", "seq_kind", "seq_angle", "seq_x",
                    "seq_element")
_CHANNEL_MATRICES = ("elements", "element_size", "wave_source", "seq_tx_apodization",
                     "seq_rx_apodization", "seq_tx_focus", "seq_rx_center", "seq_tx_delays",
                     "seq_source")
_ORVEL_FIELDS = ("t0", "lag", "seq_order", "seq_kind", "seq_angle", "seq_x", "seq_element",
                 "seq_tx_apodization", "seq_rx_apodization", "seq_tx_focus", "seq_rx_center",
                 "seq_tx_delays", "seq_source")


def _file_format(fn, file, writing):
    """'hdf5', 'npz' or 'mat' by the file's extension ('mat' is read, not written)."""
    if not isinstance(file, (str, os.PathLike)):
        raise TypeError("%s: file must be a file name, but is %s" % (fn, type(file).__name__))
    suffix = os.path.splitext(os.fspath(file))[1].lower()
    if suffix in _UFF_SUFFIXES:
        return "hdf5"
    if suffix == ".npz":
        return "npz"
    if suffix == ".mat" and not writing:
        return "mat"
    raise ValueError("%s: file must end in .uff, .h5 or .hdf5 (HDF5 in the ultrasound file "
                     "format's layout) or .npz%s, but is %r"
                     % (fn, "" if writing else " or .mat (as Octave writes it)", file))


def _h5py(fn):
    try:
        import h5py
    except ImportError:
        raise ImportError("%s: HDF5 files need h5py (Debian: apt-get install python3-h5py); "
                          ".npz files do not" % fn) from None
    return h5py


def _replace_file(file, write):
    """Writes through write(path) into a new file beside `file` and renames it into place:
    the file is either the complete new one or what it was before."""
    file = os.fspath(file)
    folder, base = os.path.split(os.path.abspath(file))
    temporary = os.path.join(folder, ".%s.%d.part" % (base, os.getpid()))
    try:
        write(temporary)
        os.replace(temporary, file)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)


def _uff_step(fn, step, n, k):
    """One step of a sequence, checked, with its arrays as float64 copies, in the fields and
    order of the scan_* functions."""
    what = "step %d of seq" % (k + 1)

    def vector(name, size):
        v = _array(fn, "%s's %s" % (what, name), step.get(name), ndim=1)
        if v.size != size or not np.isfinite(v).all():
            raise ValueError("%s: %s's %s must be %d finite values, but is %d values"
                             % (fn, what, name, size, v.size))
        return v.copy()

    kind = step["kind"]
    out = {"kind": kind, "angle": _scalar(fn, what + "'s angle", step.get("angle")),
           "x": _scalar(fn, what + "'s x", step.get("x")),
           "tx_apodization": vector("tx_apodization", n),
           "rx_apodization": vector("rx_apodization", n),
           "tx_focus": vector("tx_focus", 3) if kind == "line" else None,
           "rx_center": vector("rx_center", 3) if kind == "line" else None,
           "tx_delays": None if kind == "line" else vector("tx_delays", n)}
    if kind == "diverging":
        out["source"] = vector("source", 3)
    if kind == "element":
        e = _scalar(fn, what + "'s element", step.get("element"), whole=True)
        if not 0 <= e < n:
            raise ValueError("%s: %s's element must be an element's index from 0 to %d, but "
                             "is %g" % (fn, what, n - 1, e))
        out["element"] = int(e)
    return out


def _uff_steps(fn, seq, n):
    """(steps, prf, order): the steps of a scan sequence, or of the sequence a firing sequence
    of scan_ensemble was made from, with its prf and order (None, None without slow time)."""
    if isinstance(seq, dict):
        seq = [seq]
    if not isinstance(seq, (list, tuple)) or len(seq) == 0:
        raise ValueError("%s: seq must be a scan sequence (a list of steps), but is %r"
                         % (fn, type(seq).__name__))
    kinds = {_check_step(fn, step) for step in seq}
    if len(kinds) > 1:
        raise ValueError("%s: seq mixes steps of the kinds %s" % (fn, ", ".join(sorted(kinds))))
    slow = _slow_time(fn, seq)
    prf = order = None
    if slow is not None:
        steps = [None] * slow[0]
        for step, (i, j) in zip(seq, slow[2]):
            if j == 0:
                steps[i] = step
        seq = steps
        prf = _scalar(fn, "the firing sequence's prf", seq[0].get("prf"), positive=True)
        order = seq[0].get("order")
        if order not in ("line", "frame"):
            raise ValueError("%s: the firing sequence's order must be 'line' or 'frame', but "
                             "is %r" % (fn, order))
    if any(step.get("angle_y", 0.0) != 0.0 for step in seq):
        raise ValueError("%s: plane waves steered in two angles (scan_planewave_2d's angle_y) "
                         "are not written yet" % fn)
    return [_uff_step(fn, step, n, k) for k, step in enumerate(seq)], prf, order


def _uff_point(p):
    """A point [x, y, z] as the format's point: [distance, azimuth, elevation], with
    x = d sin(az) cos(el), y = d sin(el), z = d cos(az) cos(el)."""
    d = math.sqrt(p[0] ** 2 + p[1] ** 2 + p[2] ** 2)
    return [d, math.atan2(p[0], p[2]), math.asin(p[1] / d) if d > 0 else 0.0]


def _uff_waves(steps, elements, c):
    """The format's waves of the steps: wavefront (0 plane, 1 spherical), source [distance,
    azimuth, elevation] [m, rad, rad] and delay [s]. The format's model puts a wave at point p
    at tx(p)/c - delay on the data's time axis, tx = u.p for a plane wave, |p - s| - |s| from
    a source behind the array (z < 0), |s| -+ |p - s| from a source in front of it or on it
    (minus before it); Orvel's wave is there at t_ref + u.p/c, t_ref + |p - s|/c and
    t_ref -+ |p - s|/c (help das_image), so delay is what makes the two agree."""
    count = len(steps)
    wavefront, source, delay = np.ones(count), np.zeros((count, 3)), np.zeros(count)
    for k, step in enumerate(steps):
        kind = step["kind"]
        if kind == "plane":
            a = step["angle"]
            u = np.array([math.sin(a), 0.0, math.cos(a)])
            # Each element fires as the front passes it: t_ref = d_e - u.e/c for every e.
            t_ref = np.mean(step["tx_delays"] - elements @ u / c)
            wavefront[k], source[k], delay[k] = 0.0, [math.inf, a, 0.0], -t_ref
        elif kind == "diverging":
            s = step["source"]
            t_ref = np.mean(step["tx_delays"] - np.linalg.norm(elements - s, axis=1) / c)
            source[k] = _uff_point(s)
            delay[k] = -source[k, 0] / c - t_ref
        elif kind == "line":
            # A focus with reference point o (xdc_center_focus): t_ref = |s - o|/c.
            f = step["tx_focus"]
            source[k] = _uff_point(f)
            delay[k] = (source[k, 0] - np.linalg.norm(f - step["rx_center"])) / c
        else:
            e = step["element"]
            source[k] = _uff_point(elements[e])
            delay[k] = source[k, 0] / c - step["tx_delays"][e]
    return wavefront, source, delay


def _uff_flat_steps(steps, n):
    """The steps as the seq_* fields: one value or row per step, NaN where a kind has none,
    elements numbered from 1 (0: none)."""
    nan3, nan_n = np.full(3, np.nan), np.full(n, np.nan)

    def rows(name, empty):
        return np.array([empty if s.get(name) is None else s[name] for s in steps])

    return {"seq_kind": np.array([float(_KIND_CODE[s["kind"]]) for s in steps]),
            "seq_angle": np.array([s["angle"] for s in steps]),
            "seq_x": np.array([s["x"] for s in steps]),
            "seq_element": np.array([s.get("element", -1) + 1.0 for s in steps]),
            "seq_tx_apodization": rows("tx_apodization", nan_n),
            "seq_rx_apodization": rows("rx_apodization", nan_n),
            "seq_tx_focus": rows("tx_focus", nan3), "seq_rx_center": rows("rx_center", nan3),
            "seq_tx_delays": rows("tx_delays", nan_n), "seq_source": rows("source", nan3)}


def _uff_unflat_steps(flat):
    """The steps of the seq_* fields, as the scan_* functions make them."""
    kinds = {code: kind for kind, code in _KIND_CODE.items()}
    steps = []
    for k, code in enumerate(flat["seq_kind"]):
        kind = kinds[int(code)]
        row = {name: flat["seq_" + name][k] for name in ("tx_focus", "rx_center", "tx_delays")}
        step = {"kind": kind, "angle": float(flat["seq_angle"][k]), "x": float(flat["seq_x"][k]),
                "tx_apodization": flat["seq_tx_apodization"][k].copy(),
                "rx_apodization": flat["seq_rx_apodization"][k].copy()}
        for name, value in row.items():
            step[name] = None if np.isnan(value).all() else value.copy()
        if kind == "diverging":
            step["source"] = flat["seq_source"][k].copy()
        if kind == "element":
            step["element"] = int(flat["seq_element"][k]) - 1
        steps.append(step)
    return steps


def _normalise_channel(flat):
    """Numbers as floats, vectors 1-D and matrices 2-D, whichever file they came from."""
    out = dict(flat)
    for name in _CHANNEL_NUMBERS:
        out[name] = float(np.asarray(flat[name], dtype=np.float64).reshape(-1)[0])
    for name in _CHANNEL_VECTORS:
        out[name] = np.asarray(flat[name], dtype=np.float64).reshape(-1)
    for name in _CHANNEL_MATRICES:
        out[name] = np.atleast_2d(np.asarray(flat[name], dtype=np.float64))
    rf = np.asarray(flat["rf"])
    out["rf"] = rf if np.iscomplexobj(rf) else rf.astype(np.float64)
    return out


def _channel_result(flat):
    """What uff_read_channel returns, from the flat fields of any of its files."""
    flat = _normalise_channel(flat)
    order = {code: name for name, code in _ORDER_CODE.items()}[int(flat["seq_order"])]
    out = {name: flat[name] for name in ("rf", "t0", "lag", "fs", "c")}
    out["prf"] = None if math.isnan(flat["prf"]) else flat["prf"]
    out.update(modulation_frequency=flat["modulation_frequency"], elements=flat["elements"],
               element_size=flat["element_size"],
               sequence=_uff_unflat_steps(flat) if flat["seq_kind"].size else None,
               order=order, initial_time=flat["initial_time"],
               wave_wavefront=flat["wave_wavefront"], wave_source=flat["wave_source"],
               wave_delay=flat["wave_delay"])
    return out


# HDF5 in the format's layout.

def _h5_attrs(obj, cls, name, **numbers):
    obj.attrs["class"] = np.bytes_(cls)   # fixed-length text, as MATLAB's h5writeatt writes it
    obj.attrs["name"] = np.bytes_(name)
    for key, value in numbers.items():
        obj.attrs[key] = np.asarray(value, dtype=np.float64)


def _h5_group(parent, name, cls, size=(1, 1)):
    group = parent.create_group(name)
    _h5_attrs(group, cls, name, size=size, array=float(size != (1, 1)))
    return group


def _h5_numbers(parent, name, value, cls="double"):
    """A number or an array as MATLAB holds it (a vector as a column), in column-major order:
    the dataset's dimensions are MATLAB's reversed."""
    a = np.asarray(value)
    a = a.reshape(-1, 1) if a.ndim <= 1 else a
    if np.iscomplexobj(a):
        group = parent.create_group(name)
        _h5_attrs(group, cls, name, complex=1, imaginary=0)
        for part, values, imaginary in (("real", a.real, 0), ("imag", a.imag, 1)):
            dataset = group.create_dataset(part, data=values.astype(np.float64).T)
            _h5_attrs(dataset, cls, name, imaginary=imaginary)
    else:
        dataset = parent.create_dataset(name, data=a.astype(np.float64).T)
        if cls == "double":
            _h5_attrs(dataset, cls, name, complex=0, imaginary=0)
        else:
            _h5_attrs(dataset, cls, name)   # an enumeration's value


def _h5_point(parent, name, point):
    group = _h5_group(parent, name, "uff.point")
    for key, value in zip(("distance", "azimuth", "elevation"), point):
        _h5_numbers(group, key, value)


def _h5_wave(parent, name, wavefront, source, delay, c, apodization):
    wave = _h5_group(parent, name, "uff.wave")
    _h5_numbers(wave, "wavefront", wavefront, cls="uff.wavefront")
    _h5_point(wave, "source", source)
    _h5_point(wave, "origin", (0.0, 0.0, 0.0))
    _h5_numbers(_h5_group(wave, "apodization", "uff.apodization"), "apodization_vector",
                apodization)
    _h5_numbers(wave, "delay", delay)
    _h5_numbers(wave, "sound_speed", c)


def _h5_text(value):
    if isinstance(value, np.ndarray):
        value = value.reshape(-1)[0] if value.size else ""
    return value.decode("utf-8", "replace") if isinstance(value, bytes) else str(value)


def _h5_read(h5py, obj):
    """A dataset (or a complex array's group) in MATLAB's dimension order."""
    if isinstance(obj, h5py.Group):
        return _h5_read(h5py, obj["real"]) + 1j * _h5_read(h5py, obj["imag"])
    return np.asarray(obj[()]).T


def _h5_number(h5py, group, name, default):
    return float(np.reshape(_h5_read(h5py, group[name]), -1)[0]) if name in group else default


def _h5_find(fn, h5py, f, cls, name):
    """The object of class cls: at /name, or else the first at the root."""
    candidates = [name] + sorted(k for k in f if k != name)
    for key in candidates:
        if key in f and _h5_text(f[key].attrs.get("class", "")) == cls:
            return f[key]
    raise ValueError("%s: %s holds no object of class %s" % (fn, f.filename, cls))


def _h5_list(group):
    """The objects of a group that may be one object or a list of them (NAME_0001, ...)."""
    if "array" in group.attrs:
        listed = float(np.reshape(group.attrs["array"], -1)[0]) != 0
    else:
        listed = not any(k in group for k in ("wavefront", "source", "delay"))
    return [group[k] for k in sorted(group)] if listed else [group]


def _h5_point_read(h5py, group):
    return [_h5_number(h5py, group, key, 0.0) for key in ("distance", "azimuth", "elevation")]


def _read_channel_hdf5(fn, file):
    h5py = _h5py(fn)
    with h5py.File(file, "r") as f:
        g = _h5_find(fn, h5py, f, "uff.channel_data", "channel_data")
        geometry = np.atleast_2d(_h5_read(h5py, g["probe"]["geometry"]))
        waves = _h5_list(g["sequence"])
        flat = {"rf": _h5_read(h5py, g["data"]),
                "fs": _h5_number(h5py, g, "sampling_frequency", math.nan),
                "initial_time": _h5_number(h5py, g, "initial_time", 0.0),
                "c": _h5_number(h5py, g, "sound_speed", math.nan),
                "modulation_frequency": _h5_number(h5py, g, "modulation_frequency", 0.0),
                "prf": _h5_number(h5py, g, "PRF", math.nan),
                "elements": geometry[:, 0:3], "element_size": geometry[:, 5:7],
                "wave_wavefront": [_h5_number(h5py, w, "wavefront", 1.0) for w in waves],
                "wave_source": [_h5_point_read(h5py, w["source"]) if "source" in w
                                else [0.0, 0.0, 0.0] for w in waves],
                "wave_delay": [_h5_number(h5py, w, "delay", 0.0) for w in waves]}
        # Orvel's own description; a file from elsewhere has none: its data start at t0 =
        # initial_time with no pulse delay, and its steps are not known.
        flat.update(t0=flat["initial_time"], lag=0.0, seq_order=0.0)
        flat.update({name: np.zeros((0, 0)) for name in _ORVEL_FIELDS
                     if name.startswith("seq_") and name != "seq_order"})
        if "orvel" in f:
            flat.update({name: _h5_read(h5py, f["orvel"][name]) for name in _ORVEL_FIELDS})
    return flat


def _write_channel_hdf5(path, content, steps):
    h5py = _h5py("uff_write_channel")
    with h5py.File(path, "w") as f:
        f.attrs["version"] = _UFF_VERSION
        g = _h5_group(f, "channel_data", "uff.channel_data")
        _h5_numbers(g, "sampling_frequency", content["fs"])
        _h5_numbers(g, "initial_time", content["initial_time"])
        _h5_numbers(g, "sound_speed", content["c"])
        _h5_numbers(g, "modulation_frequency", content["modulation_frequency"])
        if not math.isnan(content["prf"]):
            _h5_numbers(g, "PRF", content["prf"])
        _h5_numbers(g, "data", content["rf"])
        probe = _h5_group(g, "probe", "uff.probe")
        n = content["elements"].shape[0]
        # One row per element: [x y z azimuth elevation width height] [m m m rad rad m m].
        _h5_numbers(probe, "geometry", np.column_stack(
            [content["elements"], np.zeros((n, 2)), content["element_size"]]))
        _h5_point(probe, "origin", (0.0, 0.0, 0.0))
        count = len(steps)
        parent, names = g, ["sequence"]
        if count > 1:
            parent = _h5_group(g, "sequence", "uff.wave", size=(1, count))
            names = ["sequence_%04d" % (k + 1) for k in range(count)]
        for k, name in enumerate(names):
            _h5_wave(parent, name, content["wave_wavefront"][k], content["wave_source"][k],
                     content["wave_delay"][k], content["c"], steps[k]["tx_apodization"])
        orvel = f.create_group("orvel")
        for name in _ORVEL_FIELDS:
            _h5_numbers(orvel, name, content[name])


def _read_flat(fn, file, kind):
    if kind == "npz":
        with np.load(file, allow_pickle=False) as z:
            return {k: z[k] for k in z.files}
    try:
        from scipy.io import loadmat
    except ImportError:
        raise ImportError("%s: .mat files need scipy (Debian: apt-get install python3-scipy)"
                          % fn) from None
    return {k: v for k, v in loadmat(file).items() if not k.startswith("__")}


@_within_memory
def uff_write_channel(file, rf, t0, fs, c, elements, seq, *, lag=0.0, prf=None,
                      element_size=None, modulation_frequency=0.0, order=None):
    """Writes channel data with its array and its scan sequence to a file that other tools
    read.

    file        .uff, .h5 or .hdf5: HDF5 in the layout of the ultrasound file format (UFF)
                of open beamforming toolboxes (the group channel_data, class
                uff.channel_data, and Orvel's own description of the steps in the group
                orvel); .npz: the same content as numpy arrays (fields below). The file is
                replaced whole, or left as it was when the call fails.
    rf          RF of each element in each step: samples x elements x steps (x frames), or
                samples x elements for one step; a firing sequence of scan_ensemble gives
                samples x elements x steps x firings (the firings as the format's frames).
                Complex for IQ data (with modulation_frequency). A sequence of lines needs
                the RF of each element too (scan_run's summed lines are not channel data).
    t0          time of rf's first row [s], as scan_run returns it; fs: sampling frequency
                [Hz]; c: speed of sound [m/s]
    elements    the elements' centres: N x 3 [m] (element_positions), or N x positions of a
                linear array along x [m]
    seq         the scan sequence rf was made with (scan_planewave, scan_diverging, scan_sta,
                scan_linear, scan_phased, scan_convex), or a firing sequence of scan_ensemble
    lag         the pulse's own delay [s] (as das_beamform takes it), default 0
    prf         pulse repetition frequency [Hz] (default: a firing sequence's, else none)
    element_size  N x 2 [width, height] of the elements [m] (or one pair for all; default 0)
    modulation_frequency  [Hz], 0 (default) for RF data
    order       'line' or 'frame': the firing order of the frames (default: a firing
                sequence's, else none), kept for uff_read_channel

    The format's time axis is t0 - lag + k/fs (initial_time = t0 - lag), so that a
    toolbox that knows no pulse delay focuses on the pulse's centre. Each step becomes a
    wave: plane waves (wavefront 0, source [Inf, angle, 0]), diverging waves (wavefront 1,
    source the virtual source), focused lines (wavefront 1, source the focus) and single
    elements (wavefront 1, source the element), each with its transmit weights as the
    apodization vector and the delay [s] with which the format's model of the wave (its
    source in spherical coordinates, time 0 as the wave passes the origin) meets Orvel's
    (help das_image). Sound speed c in every wave, the probe as one geometry row per element
    [x y z 0 0 width height], PRF when there is one.

    The fields of the .npz (and of Octave's .mat): rf, t0, lag, fs, c, prf (NaN: none),
    modulation_frequency, initial_time, elements (N x 3), element_size (N x 2),
    wave_wavefront, wave_source (W x 3: distance, azimuth, elevation), wave_delay, and the
    steps as seq_order (0 no firing order, 1 'line', 2 'frame'), seq_kind (1 line, 2 plane,
    3 diverging, 4 element), seq_angle, seq_x, seq_element (from 1; 0 none),
    seq_tx_apodization, seq_rx_apodization, seq_tx_delays (W x N), seq_tx_focus,
    seq_rx_center, seq_source (W x 3), NaN where a kind has none.
    """
    fn = "uff_write_channel"
    form = _file_format(fn, file, writing=True)
    rf = np.asarray(rf)
    if rf.dtype.kind not in "biufc":
        raise TypeError("%s: rf must be numbers, but is %s" % (fn, rf.dtype))
    if rf.ndim not in (2, 3, 4) or not np.isfinite(rf).all():
        raise ValueError("%s: rf must be finite samples x elements x steps (x firings), but "
                         "has shape %s" % (fn, rf.shape))
    e = _array(fn, "elements", elements)
    if e.ndim == 1 or (e.ndim == 2 and e.shape[1] != 3 and 1 in e.shape):
        e = np.column_stack([e.reshape(-1), np.zeros((e.size, 2))])
    if e.ndim != 2 or e.shape[1] != 3 or not np.isfinite(e).all():
        raise ValueError("%s: elements must be N x 3 finite positions [m] (or N x positions), "
                         "but has shape %s" % (fn, e.shape))
    n = e.shape[0]
    given_order = order
    steps, seq_prf, order = _uff_steps(fn, seq, n)
    if steps[0]["kind"] == "line" and rf.ndim == 2 and len(steps) > 1:
        raise ValueError("%s: rf of a line sequence must be samples x elements x lines, the RF "
                         "of each element (scan_run's samples x lines are lines, not channel "
                         "data)" % fn)
    if (rf.shape[1:3] + (1,))[:2] != (n, len(steps)):
        raise ValueError("%s: rf must be samples x %d elements x %d steps (x firings), but has "
                         "shape %s" % (fn, n, len(steps), rf.shape))
    if order is None and given_order is not None:
        if given_order not in ("line", "frame"):
            raise ValueError("%s: order must be None, 'line' or 'frame', but is %r"
                             % (fn, given_order))
        order = given_order
    size = np.zeros((n, 2)) if element_size is None else _array(fn, "element_size",
                                                                element_size)
    if size.shape == (2,):
        size = np.tile(size, (n, 1))
    if size.shape != (n, 2) or not np.isfinite(size).all():
        raise ValueError("%s: element_size must be N x 2 finite [width, height] [m], N = %d, "
                         "but has shape %s" % (fn, n, size.shape))
    t0, lag = _scalar(fn, "t0", t0), _scalar(fn, "lag", lag)
    fs, c = _scalar(fn, "fs", fs, positive=True), _scalar(fn, "c", c, positive=True)
    prf = seq_prf if prf is None else _scalar(fn, "prf", prf, positive=True)
    wavefront, source, delay = _uff_waves(steps, e, c)
    content = {"rf": rf if np.iscomplexobj(rf) else rf.astype(np.float64), "t0": t0,
               "lag": lag, "fs": fs, "c": c, "prf": math.nan if prf is None else prf,
               "modulation_frequency": _scalar(fn, "modulation_frequency",
                                               modulation_frequency),
               "initial_time": t0 - lag, "elements": e, "element_size": size,
               "wave_wavefront": wavefront, "wave_source": source, "wave_delay": delay,
               "seq_order": float(_ORDER_CODE[order])}
    content.update(_uff_flat_steps(steps, n))
    if form == "hdf5":
        _replace_file(file, lambda path: _write_channel_hdf5(path, content, steps))
    else:
        def write(path):
            with open(path, "wb") as f:
                np.savez(f, **content)
        _replace_file(file, write)


def uff_read_channel(file):
    """Reads channel data written by uff_write_channel (or by Octave's: .uff, .npz, .mat), or
    the channel data of another tool's file in the ultrasound file format.

    file  .uff, .h5, .hdf5 (HDF5; the object of class uff.channel_data at /channel_data, or
          else the first at the root), .npz, or .mat as Octave's uff_write_channel writes it

    Returns a dict: rf (samples x elements x steps (x firings)), t0 [s], lag [s], fs [Hz],
    c [m/s], prf [Hz] (None: none), modulation_frequency [Hz], elements (N x 3) [m],
    element_size (N x 2) [m], sequence (the steps as the scan_* functions make them; None
    for a file from elsewhere, which has no Orvel description), order ('line' or 'frame' for
    a firing sequence, else None; scan_ensemble(sequence, prf, firings, order) makes it
    again), and the format's view of the transmits: initial_time [s] (t0 - lag),
    wave_wavefront (0 plane, 1 spherical), wave_source (W x 3: distance [m], azimuth [rad],
    elevation [rad]) and wave_delay [s]. A file from elsewhere gives t0 = initial_time and
    lag 0.
    """
    fn = "uff_read_channel"
    form = _file_format(fn, file, writing=False)
    flat = _read_channel_hdf5(fn, file) if form == "hdf5" else _read_flat(fn, file, form)
    missing = [k for k in ("rf",) + _CHANNEL_NUMBERS + _CHANNEL_VECTORS + _CHANNEL_MATRICES
               if k not in flat]
    if missing:
        raise ValueError("%s: %s lacks the fields %s" % (fn, file, ", ".join(missing)))
    return _channel_result(flat)


def _image_points(fn, image, x, z):
    """(image, x, z, points): the image with its grid (points None) or with its points (x, z
    None)."""
    image = np.asarray(image)
    if image.dtype.kind not in "biufc" or not np.isfinite(image).all():
        raise ValueError("%s: image must be finite numbers" % fn)
    if z is None or np.size(z) == 0:
        points = _array(fn, "x", x)
        if points.ndim != 2 or points.shape[1] != 3 or not np.isfinite(points).all():
            raise ValueError("%s: with z None, x must be P x 3 finite points [m], but has shape "
                             "%s" % (fn, points.shape))
        if image.ndim not in (1, 2) or image.shape[0] != points.shape[0]:
            raise ValueError("%s: image must be P (x transmits) values, P = %d, but has shape "
                             "%s" % (fn, points.shape[0], image.shape))
        return image, None, None, points
    x, z = _array(fn, "x", x, ndim=1), _array(fn, "z", z, ndim=1)
    if not (np.isfinite(x).all() and np.isfinite(z).all()):
        raise ValueError("%s: x and z must be finite [m]" % fn)
    if image.ndim not in (2, 3) or image.shape[:2] != (z.size, x.size):
        raise ValueError("%s: image must be len(z) x len(x) (x transmits) = %d x %d, but has "
                         "shape %s" % (fn, z.size, x.size, image.shape))
    return image, x, z, None


@_within_memory
def uff_write_image(file, image, x, z, *, modulation_frequency=0.0):
    """Writes a beamformed image with its grid to a file that other tools read.

    file    .uff, .h5 or .hdf5: HDF5 in the layout of the ultrasound file format (the group
            beamformed_data, class uff.beamformed_data); .npz: the same content as numpy
            arrays (image, x, z or points, modulation_frequency). Replaced whole, or left as
            it was when the call fails.
    image   len(z) x len(x), or len(z) x len(x) x T (one image per transmit, das_beamform's
            per_transmit), as das_beamform returns it; complex for IQ images
    x, z    the grid [m] (vectors): the format's uff.linear_scan with x_axis and z_axis; or
            x the image's points, P x 3 [m], with z None (image P or P x T): uff.scan with
            the points' x, y and z
    modulation_frequency  [Hz], 0 (default) for RF images

    The format's data are pixels x channels x waves: the pixels in the order of the scan's,
    depth fastest (the image's column-major order), one channel, T waves.
    """
    fn = "uff_write_image"
    form = _file_format(fn, file, writing=True)
    image, x, z, points = _image_points(fn, image, x, z)
    f_mod = _scalar(fn, "modulation_frequency", modulation_frequency)
    image = image if np.iscomplexobj(image) else image.astype(np.float64)
    content = {"image": image, "modulation_frequency": f_mod}
    content.update({"points": points} if points is not None else {"x": x, "z": z})
    if form == "npz":
        def write(path):
            with open(path, "wb") as f:
                np.savez(f, **content)
        _replace_file(file, write)
        return
    per_transmit = image.ndim > (1 if points is not None else 2)
    transmits = image.shape[-1] if per_transmit else 1
    pixels = image.reshape((-1, 1, transmits) if transmits > 1 else (-1, 1), order="F")

    def write(path):
        with _h5py(fn).File(path, "w") as f:
            f.attrs["version"] = _UFF_VERSION
            g = _h5_group(f, "beamformed_data", "uff.beamformed_data")
            if points is None:
                scan = _h5_group(g, "scan", "uff.linear_scan")
                _h5_numbers(scan, "x_axis", x)
                _h5_numbers(scan, "z_axis", z)
            else:
                scan = _h5_group(g, "scan", "uff.scan")
                for k, name in enumerate("xyz"):
                    _h5_numbers(scan, name, points[:, k])
            _h5_numbers(g, "data", pixels)
            _h5_numbers(g, "modulation_frequency", f_mod)
    _replace_file(file, write)


def uff_read_image(file):
    """Reads a beamformed image written by uff_write_image (or by Octave's: .uff, .npz,
    .mat), or the beamformed data of another tool's file in the ultrasound file format with
    a linear scan (uff.linear_scan) or a list of pixels (uff.scan).

    Returns a dict: image (len(z) x len(x) (x T) on a linear scan; P (x T) for a list of
    points), x and z [m] (vectors) or points (P x 3) [m], modulation_frequency [Hz]. Of the
    format's channel and frame dimensions only single ones are taken.
    """
    fn = "uff_read_image"
    form = _file_format(fn, file, writing=False)
    if form != "hdf5":
        flat = _read_flat(fn, file, form)
        out = {"image": np.asarray(flat["image"]),
               "modulation_frequency": float(np.reshape(flat["modulation_frequency"], -1)[0])}
        if "points" in flat:
            out["points"] = np.atleast_2d(np.asarray(flat["points"], dtype=np.float64))
        else:
            out.update(x=np.reshape(flat["x"], -1).astype(np.float64),
                       z=np.reshape(flat["z"], -1).astype(np.float64))
        if form == "mat" and out["image"].ndim == 2 and "points" in flat \
                and out["image"].shape[1] == 1:
            out["image"] = out["image"][:, 0]    # MATLAB's column for a vector of pixels
        return out
    h5py = _h5py(fn)
    with h5py.File(file, "r") as f:
        g = _h5_find(fn, h5py, f, "uff.beamformed_data", "beamformed_data")
        data = _h5_read(h5py, g["data"])
        scan = g["scan"]
        out = {"modulation_frequency": _h5_number(h5py, g, "modulation_frequency", 0.0)}
        if "x_axis" in scan and "z_axis" in scan:
            out["x"] = np.reshape(_h5_read(h5py, scan["x_axis"]), -1).astype(np.float64)
            out["z"] = np.reshape(_h5_read(h5py, scan["z_axis"]), -1).astype(np.float64)
            grid = (out["z"].size, out["x"].size)
        else:
            out["points"] = np.column_stack([np.reshape(_h5_read(h5py, scan[k]), -1)
                                             for k in "xyz"]).astype(np.float64)
            grid = (out["points"].shape[0],)
    if data.ndim > 2 and data.shape[1] != 1 or data.ndim > 3 and data.shape[3] != 1:
        raise ValueError("%s: %s holds %s pixels x channels x waves x frames; only one channel "
                         "and one frame are read" % (fn, file, data.shape))
    transmits = data.shape[2] if data.ndim > 2 else 1
    shape = grid + ((transmits,) if transmits > 1 else ())
    data = data.reshape(shape, order="F")
    out["image"] = data if np.iscomplexobj(data) else data.astype(np.float64)
    return out
