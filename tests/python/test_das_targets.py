# das_image on echoes Orvel simulates: point scatterers imaged by every transmit model (plane,
# steered plane, diverging, focused line, synthetic aperture) on a linear, a convex and a 2-D
# array have their envelope peak within a tenth of a wavelength of where they were put. The
# transmit rows follow Orvel's own delays (help das_image); the element positions come from
# the apertures and are checked against their geometry.
import numpy as np

import orvel
import orvel.imaging as im

F0, FS, C = 5e6, 100e6, 1540.0
LAMBDA = C / F0
STEP = LAMBDA / 20        # image grid spacing, lateral and axial [m]
PLANE, DIVERGING, FOCUSED, ELEMENT = 1, 2, 3, 4


def pulse(tx, rx):
    """A 2-cycle excitation and a Hann-weighted 2-cycle impulse response on both apertures;
    returns the lag of the pulse-echo pulse's centre [s]."""
    t = np.arange(0, 2 / F0 + 1e-12, 1 / FS)
    impulse = np.sin(2 * np.pi * F0 * t) * np.hanning(t.size)
    orvel.set_option("c", C)
    orvel.set_sampling(FS)
    for th in (tx, rx):
        orvel.xdc_impulse(th, impulse)
    orvel.xdc_excitation(tx, np.sin(2 * np.pi * F0 * t))
    # The three symmetric pieces convolved: 2*len(impulse) + len(excitation) - 2 samples,
    # centred half a sample less than half of that.
    return (3 * t.size - 3) / (2 * FS)


def centres(th):
    """Centres of an aperture's physical elements: the mean of its rectangles' corners (rows
    10-21 of xdc_get 'rect', one corner after the other; row 0 the element)."""
    rect = orvel.xdc_get(th, "rect")
    n = int(rect[0].max()) + 1
    return np.array([rect[10:22, rect[0] == e].T.reshape(-1, 3).mean(axis=0)
                     for e in range(n)])


def per_element_receive(rx, n):
    """Every element of rx its own channel: weight 1, no focusing delay."""
    orvel.xdc_apodization(rx, 0.0, np.ones((1, n)))
    orvel.xdc_focus_delays(rx, 0.0, np.zeros((1, n)))


def peak_offsets(rf, t0, lag, elements, transmits, targets, lateral=20, with_y=False,
                 each=True):
    """The envelope peak of each transmit's image (or, each=False, of their sum) near each
    target, minus the target, in wavelengths: shape (targets, transmits or 1, 3). The grid is
    anchored at whole steps, so a target falls between its points: +-lateral steps across
    (in x, and in y with_y), +-3 wavelengths in depth, which hold the whole echo for the
    envelope along depth. Receive f-number 2."""
    out = []
    for p in np.atleast_2d(targets):
        axis = lambda v, k: (np.round(v / STEP) + np.arange(-k, k + 1)) * STEP  # noqa: E731
        x, z = axis(p[0], lateral), axis(p[2], 60)
        y = axis(p[1], lateral) if with_y else np.array([p[1]])
        points = np.stack(np.meshgrid(z, x, y, indexing="ij"), axis=-1)[..., [1, 2, 0]]
        image = orvel.das_image(rf, t0, FS, C, lag, elements, points.reshape(-1, 3),
                                transmits, per_transmit=each)
        env = im.envelope(image.reshape(points.shape[:3] + (-1,)))
        for t in range(env.shape[-1]):
            k = np.unravel_index(np.argmax(env[..., t]), points.shape[:3])
            out.append((points[k] - p) / LAMBDA)
    return np.array(out).reshape(len(np.atleast_2d(targets)), -1, 3)


def assert_near(offsets, label):
    assert np.abs(offsets).max() <= 0.1, (label, offsets)


def test_linear_array_every_transmit_model(system):
    # 96 elements at 0.75 wavelengths (W = 22.2 mm), 1 mm high (the elevation adds about
    # h^2/(24 z) = 3 um per way at 15 mm). The array is wide enough that the edge waves of the
    # plane waves trail them at both targets by more than a wavelength and a half, and the
    # receive apertures (z/2 at f-number 2) stay inside it.
    n, pitch, kerf = 96, 0.75 * LAMBDA, 0.02e-3
    tx = orvel.xdc_linear_array(n, pitch - kerf, 1e-3, kerf, 1, 2, [0, 0, 0.02])
    rx = orvel.xdc_linear_array(n, pitch - kerf, 1e-3, kerf, 1, 2, [0, 0, 0.02])
    lag = pulse(tx, rx)
    e = np.column_stack([(np.arange(n) - (n - 1) / 2) * pitch, np.zeros(n), np.zeros(n)])
    assert np.allclose(centres(rx), e, rtol=0, atol=1e-12)
    targets = np.array([[-2e-3, 0.0, 15e-3], [2.5e-3, 0.0, 24e-3]])
    ones = np.ones(len(targets))

    angles = np.deg2rad([0.0, 10.0])
    rf, t0 = im.scan_run(im.scan_planewave(n, pitch, angles, C), tx, rx, targets, ones)
    rows = [[PLANE, a, 0, 0, -np.min(e[:, 0] * np.sin(a)) / C, 0, 0, 0] for a in angles]
    assert_near(peak_offsets(rf, t0, lag, e, rows, targets), "linear plane")

    sources = np.array([[0.0, 0.0, -10e-3], [3e-3, 0.0, -6e-3]])
    rf, t0 = im.scan_run(im.scan_diverging(n, pitch, sources, C), tx, rx, targets, ones)
    rows = [[DIVERGING, *s, -np.linalg.norm(e - s, axis=1).min() / C, 0, 0, 0]
            for s in sources]
    assert_near(peak_offsets(rf, t0, lag, e, rows, targets), "linear diverging")

    rf, t0 = im.scan_run(im.scan_sta(n), tx, rx, targets, ones)
    rows = [[ELEMENT, *s, 0, 0, 0, 0] for s in e]
    assert_near(peak_offsets(rf, t0, lag, e, rows, targets, each=False), "linear sta")

    # A focused line through two targets, one before its focus and one beyond: the transmit
    # of scan_linear's line (its reference point at the line's origin), received on every
    # element, since das_image focuses the receive itself.
    x_line, focus_z = 0.7e-3, 20e-3
    step = im.scan_linear(n, pitch, 32, [x_line], focus_z)[0]
    im.scan_apply(step, tx, rx)
    per_element_receive(rx, n)
    on_line = np.array([[x_line, 0.0, 15e-3], [x_line, 0.0, 26e-3]])
    rf, t0 = orvel.calc_scat_multi(tx, rx, on_line, ones)
    o, s = step["rx_center"], step["tx_focus"]
    rows = [[FOCUSED, *s, np.linalg.norm(s - o) / C, *o]]
    assert_near(peak_offsets(rf, t0, lag, e, rows, on_line), "linear focused")


def test_convex_array_lines_and_synthetic_aperture(system):
    # Elements k = 1..n at the angles (k - (n+1)/2) * (asin(w/R) + asin(kerf/R)) on an arc
    # of radius R about (0, 0, -R); each a flat chord spanning the angle asin(w/R), whose
    # middle lies at R cos(asin(w/R)/2) from the centre of curvature.
    n, w, kerf, R = 96, 0.25e-3, 0.03e-3, 20e-3
    tx = orvel.xdc_convex_array(n, w, 1e-3, kerf, R, 1, 2, [0, 0, 0.02])
    rx = orvel.xdc_convex_array(n, w, 1e-3, kerf, R, 1, 2, [0, 0, 0.02])
    lag = pulse(tx, rx)
    step_angle = np.arcsin(w / R) + np.arcsin(kerf / R)
    theta = (np.arange(n) - (n - 1) / 2) * step_angle
    chord = R * np.cos(np.arcsin(w / R) / 2)
    e = np.column_stack([chord * np.sin(theta), np.zeros(n), chord * np.cos(theta) - R])
    assert np.allclose(centres(rx), e, rtol=0, atol=1e-12)
    # Targets on a line 8.6 degrees off the axis, before and beyond the focus; their receive
    # apertures end within the array's 12.3 mm (an aperture cut by the array's end pulls the
    # peak towards the side that keeps more elements).
    a = 0.15
    u = np.array([np.sin(a), 0.0, np.cos(a)])
    targets = np.array([0, 0, -R]) + np.outer([R + 14e-3, R + 24e-3], u)
    ones = np.ones(len(targets))

    step = im.scan_convex(n, R * step_angle, R, 32, [a], 19e-3)[0]
    im.scan_apply(step, tx, rx)
    per_element_receive(rx, n)
    rf, t0 = orvel.calc_scat_multi(tx, rx, targets, ones)
    o, s = step["rx_center"], step["tx_focus"]
    rows = [[FOCUSED, *s, np.linalg.norm(s - o) / C, *o]]
    assert_near(peak_offsets(rf, t0, lag, e, rows, targets), "convex focused")

    rf, t0 = im.scan_run(im.scan_sta(n), tx, rx, targets, ones)
    rows = [[ELEMENT, *p, 0, 0, 0, 0] for p in e]
    assert_near(peak_offsets(rf, t0, lag, e, rows, targets, each=False), "convex sta")


def test_2d_array_plane_waves_steered_in_two_angles(system):
    # 16 x 16 elements at about a wavelength; plane waves steered in x and y, the first
    # element firing at 0, so that the wave passes p at (u . p - min(u . e))/c.
    nx = ny = 16
    pitch, kerf = 0.3e-3, 0.02e-3
    tx = orvel.xdc_2d_array(nx, ny, pitch - kerf, pitch - kerf, kerf, kerf, np.ones((nx, ny)),
                            1, 1, [0, 0, 0.02])
    rx = orvel.xdc_2d_array(nx, ny, pitch - kerf, pitch - kerf, kerf, kerf, np.ones((nx, ny)),
                            1, 1, [0, 0, 0.02])
    lag = pulse(tx, rx)
    e = centres(rx)
    grid = (np.arange(16) - 7.5) * pitch
    assert np.allclose(np.sort(e[:, 0]), np.repeat(grid, ny), rtol=0, atol=1e-12)
    assert np.allclose(np.sort(e[:, 1]), np.repeat(grid, nx), rtol=0, atol=1e-12)
    assert np.allclose(e[:, 2], 0, rtol=0, atol=1e-12)
    per_element_receive(rx, len(e))
    # A Hann-weighted transmit aperture: the edge waves of an even one trail the plane wave at
    # the target by only 0.4 to 1.4 wavelengths (W = 4.8 mm at 6 mm depth), inside the echo.
    W = nx * pitch
    orvel.xdc_apodization(tx, 0.0, (np.cos(np.pi * e[:, 0] / W) * np.cos(np.pi * e[:, 1] / W))
                          .reshape(1, -1) ** 2)
    target = np.array([0.6e-3, -0.4e-3, 6e-3])
    for ax, ay in np.deg2rad([[6.0, -4.0], [-5.0, 7.0]]):
        u = np.array([np.sin(ax) * np.cos(ay), np.sin(ay), np.cos(ax) * np.cos(ay)])
        orvel.xdc_focus_delays(tx, 0.0, ((e @ u - np.min(e @ u)) / C).reshape(1, -1))
        rf, t0 = orvel.calc_scat_multi(tx, rx, target, [1.0])
        row = [PLANE, ax, ay, 0, -np.min(e @ u) / C, 0, 0, 0]
        assert_near(peak_offsets(rf, t0, lag, e, [row], target, lateral=12, with_y=True),
                    "2-D plane %s" % np.rad2deg([ax, ay]))
