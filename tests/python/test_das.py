# das_image against a delay-and-sum written here from the documented formulas, for every
# transmit model, window and interpolation, on elements of a 2-D layout and points in 3-D; the
# image is the same for every thread count; bad input is refused naming the argument.
import numpy as np
import pytest

import orvel

FS, C, T0, LAG = 50e6, 1540.0, 2e-6, 0.1e-6
RNG = np.random.default_rng(7)


def reference(rf, elements, points, transmits, f_number, window, alpha, cubic):
    """The image of each transmit, shape (points, transmits), point by point."""
    samples, R, T = rf.shape
    out = np.zeros((len(points), T))
    for i, p in enumerate(points):
        d = p - elements
        lateral, half = np.sqrt(d[:, 0] ** 2 + d[:, 1] ** 2), d[:, 2] / (2 * f_number)
        inside = (half > 0) & (lateral < half)
        r = np.where(inside, lateral / np.where(inside, half, 1), 0)
        if window == "hann":
            w = 0.5 + 0.5 * np.cos(np.pi * r)
        elif window == "tukey":
            w = np.where(r <= 1 - alpha, 1, 0.5 + 0.5 * np.cos(np.pi * (r - 1 + alpha) / alpha))
        else:
            w = np.ones(R)
        w = np.where(inside, w, 0.0)
        if not (w > 0).any():
            w[np.argmin(lateral)] = 1.0
        for t, (kind, sx, sy, sz, t_ref, ox, oy, oz) in enumerate(transmits):
            s, o = np.array([sx, sy, sz]), np.array([ox, oy, oz])
            if kind == 1:
                u = [np.sin(sx) * np.cos(sy), np.sin(sy), np.cos(sx) * np.cos(sy)]
                tx = t_ref + np.dot(u, p) / C
            elif kind == 3:
                sign = -1 if np.dot(p - s, s - o) < 0 else 1
                tx = t_ref + sign * np.linalg.norm(p - s) / C
            else:
                tx = t_ref + np.linalg.norm(p - s) / C
            for e in np.nonzero(w)[0]:
                at = (tx + np.linalg.norm(p - elements[e]) / C + LAG - T0) * FS
                out[i, t] += w[e] * interpolate(rf[:, e, t], at, cubic)
    return out


def interpolate(v, s, cubic):
    n = v.size
    if not 0 <= s <= n - 1:
        return 0.0
    i, f = int(np.floor(s)), s - np.floor(s)
    at = lambda k: v[k] if 0 <= k < n else 0.0  # noqa: E731
    if not cubic:
        return at(i) * (1 - f) + at(i + 1) * f
    # Keys' kernel, a = -0.5, at distances 1 + f, f, 1 - f, 2 - f.
    def keys(x):
        x = abs(x)
        if x <= 1:
            return 1.5 * x ** 3 - 2.5 * x ** 2 + 1
        return -0.5 * x ** 3 + 2.5 * x ** 2 - 4 * x + 2 if x < 2 else 0.0
    return sum(at(i + k) * keys(f - k) for k in (-1, 0, 1, 2))


def setup():
    # A 4 x 3 grid of elements in z = 0, one element raised a little, and points in a box.
    ex, ey = np.meshgrid(np.arange(4) * 0.4e-3 - 0.6e-3, np.arange(3) * 0.5e-3 - 0.5e-3)
    elements = np.column_stack([ex.ravel(), ey.ravel(), np.zeros(ex.size)])
    elements[5, 2] = 0.05e-3
    points = np.column_stack([RNG.uniform(-3e-3, 3e-3, 30), RNG.uniform(-1e-3, 1e-3, 30),
                              RNG.uniform(0.2e-3, 12e-3, 30)])
    points[0] = [8e-3, 0, 0.5e-3]  # beyond every aperture: the nearest element alone
    transmits = np.array([
        [1, 0.2, -0.1, 0, 1e-7, 0, 0, 0],              # plane, two angles
        [2, 0.5e-3, 0, -5e-3, -3e-6, 0, 0, 0],         # diverging, source behind
        [3, 0, 0, 6e-3, 4e-6, 0, 0, 0],                # focused at 6 mm, line along z
        [4, elements[7, 0], elements[7, 1], 0, 0, 0, 0, 0],  # element 8 alone
    ])
    rf = RNG.standard_normal((700, elements.shape[0], 4))
    return rf, elements, points, transmits


@pytest.mark.parametrize("window, alpha, interpolation", [
    ("hann", 0.5, "linear"), ("tukey", 0.3, "cubic"), ("boxcar", 0.5, "linear")])
def test_every_transmit_model_is_the_documented_sum(window, alpha, interpolation):
    rf, elements, points, transmits = setup()
    want = reference(rf, elements, points, transmits, 1.2, window, alpha,
                     interpolation == "cubic")
    each = orvel.das_image(rf, T0, FS, C, LAG, elements, points, transmits, f_number=1.2,
                           window=window, tukey_alpha=alpha, interpolation=interpolation,
                           per_transmit=True)
    assert each.shape == want.shape
    np.testing.assert_allclose(each, want, rtol=1e-12, atol=1e-12 * np.abs(want).max())
    total = orvel.das_image(rf, T0, FS, C, LAG, elements, points, transmits, f_number=1.2,
                            window=window, tukey_alpha=alpha, interpolation=interpolation)
    np.testing.assert_allclose(total, want.sum(axis=1), rtol=1e-12,
                               atol=1e-12 * np.abs(want).max())


def test_images_do_not_depend_on_the_thread_count(system):
    rf, elements, points, transmits = setup()
    images = []
    for threads in (1, 3):
        system.set_option("threads", threads)
        images.append(orvel.das_image(rf, T0, FS, C, LAG, elements, points, transmits,
                                      interpolation="cubic", per_transmit=True))
    assert np.array_equal(images[0], images[1])


def test_bad_input_is_refused_naming_the_argument():
    rf, elements, points, transmits = setup()
    with pytest.raises(orvel.OrvelError, match="The RF data must have one column per element "
                       "and transmit: 12 x 4 = 48 expected, 44 received"):
        orvel.das_image(rf[:, :11], T0, FS, C, LAG, elements, points, transmits)
    with pytest.raises(orvel.OrvelError, match="The sampling frequency fs must be positive"):
        orvel.das_image(rf, T0, 0.0, C, LAG, elements, points, transmits)
    with pytest.raises(orvel.OrvelError, match="The speed of sound c must be positive"):
        orvel.das_image(rf, T0, FS, -C, LAG, elements, points, transmits)
    with pytest.raises(orvel.OrvelError, match="The element positions must be an n x 3 "
                       r"matrix \(one row per element, n >= 1\), but is a 0 x 3 matrix"):
        orvel.das_image(rf, T0, FS, C, LAG, np.zeros((0, 3)), points, transmits)
    bad = rf.copy()
    bad[3, 2, 1] = np.nan
    with pytest.raises(orvel.OrvelError, match="The RF data must hold finite values"):
        orvel.das_image(bad, T0, FS, C, LAG, elements, points, transmits)
    kinds = transmits.copy()
    kinds[2, 0] = 5
    with pytest.raises(orvel.OrvelError, match=r"kind in column 1 as 1 \(plane\).*row 3 has 5"):
        orvel.das_image(rf, T0, FS, C, LAG, elements, points, kinds)
    with pytest.raises(ValueError, match="window must be one of hann, tukey, boxcar"):
        orvel.das_image(rf, T0, FS, C, LAG, elements, points, transmits, window="hamming")


def test_das_beamform_keeps_the_numbers_of_its_numpy_predecessor():
    import orvel.imaging as im
    from das_numpy_reference import das_numpy
    element_x = (np.arange(16) - 7.5) * 0.3e-3
    rf = RNG.standard_normal((900, 16, 3))
    x, z = np.linspace(-4e-3, 4.5e-3, 23), np.linspace(0.2e-3, 12e-3, 31)
    angles = [-0.1, 0.0, 0.15]
    got = im.das_beamform(rf, T0, FS, element_x, x, z, C, 1.5, angles, LAG)
    want = das_numpy(rf, T0, FS, element_x, x, z, C, 1.5, angles, LAG)
    np.testing.assert_allclose(got, want, rtol=1e-12, atol=1e-12 * np.abs(want).max())


def test_element_positions_are_the_centres_of_the_array(system):
    import orvel.imaging as im
    th = system.xdc_linear_array(8, 0.25e-3, 4e-3, 0.05e-3, 2, 3, [0, 0, 0.02])
    want = np.column_stack([(np.arange(8) - 3.5) * 0.3e-3, np.zeros((8, 2))])
    np.testing.assert_allclose(im.element_positions(th), want, rtol=0, atol=1e-15)
    system.xdc_convert(th)  # its triangles hold the same centres
    np.testing.assert_allclose(im.element_positions(th), want, rtol=0, atol=1e-15)


def test_a_full_matrix_of_calc_scat_all_images_its_point_target(system):
    # Every element alone in transmit (no focusing delays), every element in receive: the
    # samples x (T x R) matrix of calc_scat_all is das_image's input as it comes, with one
    # kind-4 row per transmitting element. The envelope peaks within a tenth of a wavelength.
    import orvel.imaging as im
    fs, f0, n = 100e6, 5e6, 16
    t = np.arange(0, 2 / f0, 1 / fs)
    excitation = np.sin(2 * np.pi * f0 * t)
    impulse = excitation * np.hanning(t.size)
    tx, rx = (system.xdc_linear_array(n, 0.27e-3, 4e-3, 0.03e-3, 1, 3, [0, 0, 1.0])
              for _ in range(2))
    for th in (tx, rx):
        system.xdc_impulse(th, impulse)
        system.xdc_focus_delays(th, 0.0, np.zeros((1, n)))
    system.xdc_excitation(tx, excitation)
    target, wavelength = np.array([1e-3, 0, 12e-3]), C / f0
    rf, t0 = system.calc_scat_all(tx, rx, target[np.newaxis], [1.0], 1)
    elements = im.element_positions(tx)
    transmits = np.zeros((n, 8))
    transmits[:, 0], transmits[:, 1:4] = 4, elements
    x = np.arange(-1.5e-3, 3.5e-3, wavelength / 20)
    z = np.arange(11e-3, 13e-3, wavelength / 20)
    X, Z = np.meshgrid(x, z)
    points = np.column_stack([X.ravel("F"), np.zeros(X.size), Z.ravel("F")])
    lag = (2 * impulse.size + excitation.size - 3) / (2 * fs)
    image = orvel.das_image(rf, t0, fs, C, lag, elements, points, transmits, f_number=0.8)
    iz, ix = np.unravel_index(np.argmax(im.envelope(image.reshape(X.shape, order="F"))), X.shape)
    assert abs(x[ix] - target[0]) <= wavelength / 10 and abs(z[iz] - target[2]) <= wavelength / 10


def test_das_beamform_lays_out_das_image_of_any_array_grid_and_transmits():
    # das_beamform only reshapes: each pixel must be das_image's value at that pixel's point.
    # Three grid lengths that differ, so that a swapped axis or a C-order ravel shows.
    import orvel.imaging as im
    rf, elements, _, transmits = setup()
    x, y, z = [-1e-3, 0.5e-3, 2e-3], [-0.4e-3, 0.3e-3], [3e-3, 6e-3, 9e-3, 11e-3]
    options = dict(window="tukey", tukey_alpha=0.3, interpolation="cubic")
    got = im.das_beamform(rf, T0, FS, elements, x, z, C, 1.2, transmits, LAG, y=y,
                          per_transmit=True, **options)
    index = [(i, j, k) for k in range(2) for j in range(3) for i in range(4)]
    points = np.array([[x[j], y[k], z[i]] for i, j, k in index])
    each = orvel.das_image(rf, T0, FS, C, LAG, elements, points, transmits, f_number=1.2,
                           per_transmit=True, **options)
    want = np.zeros((4, 3, 2, 4))
    for (i, j, k), v in zip(index, each):
        want[i, j, k] = v
    assert got.shape == want.shape and np.array_equal(got, want)
    # The columns of calc_scat_all, transmit after transmit, and a list of points.
    columns = rf.reshape(rf.shape[0], -1, order="F")
    summed = im.das_beamform(columns, T0, FS, elements, x, z, C, 1.2, transmits, LAG, y=y,
                             **options)
    assert np.array_equal(summed, want.sum(axis=3))
    listed = im.das_beamform(rf, T0, FS, elements, points[::-1], None, C, 1.2, transmits, LAG,
                             **options)
    assert listed.shape == (24,) and np.array_equal(listed, each.sum(axis=1)[::-1])


def test_das_beamform_plane_waves_by_angles_start_at_the_first_element_to_fire():
    # [ax, ay] per transmit: the wave leaves the elements with the delays (u.e - min u.e)/c,
    # so its front crosses the point p at (u.p - min u.e)/c: t_ref = -min(u.e)/c.
    import orvel.imaging as im
    rf, elements, points, _ = setup()
    # Off-centre in y and curved in x (radius 10 mm): each component of u.e moves the min.
    elements[:, 1] += 0.3e-3
    elements[:, 2] = -elements[:, 0] ** 2 / 20e-3
    pairs = np.array([[0.2, -0.1], [-0.15, 0.05], [0.0, 0.3], [0.1, 0.0]])
    table = np.zeros((4, 8))
    for t, (ax, ay) in enumerate(pairs):
        u = np.array([np.sin(ax) * np.cos(ay), np.sin(ay), np.cos(ax) * np.cos(ay)])
        table[t, :5] = [1, ax, ay, 0, -min(elements @ u) / C]
    want = orvel.das_image(rf, T0, FS, C, LAG, elements, points, table, per_transmit=True)
    got = im.das_beamform(rf, T0, FS, elements, points, None, C, 2.0, pairs, LAG,
                          per_transmit=True)
    np.testing.assert_allclose(got, want, rtol=0, atol=1e-12 * np.abs(want).max())
    # One angle per transmit is the pair with ay = 0, for elements out of the plane z = 0 too.
    flat = pairs.copy()
    flat[:, 1] = 0
    assert np.array_equal(im.das_beamform(rf, T0, FS, elements, points, None, C, 2.0,
                                          flat[:, 0], LAG),
                          im.das_beamform(rf, T0, FS, elements, points, None, C, 2.0, flat,
                                          LAG))
    with pytest.raises(ValueError, match=r"das_beamform: angle must be one angle per transmit "
                       r"\(4 values\), 4 x 2 angle pairs or a 4 x 8 transmit table, but has "
                       r"shape \(4, 3\)"):
        im.das_beamform(rf, T0, FS, elements, points, None, C, 2.0, pairs[:, [0, 1, 1]], LAG)
    with pytest.raises(ValueError, match=r"das_beamform: element_x must hold R x positions or "
                       r"be R x 3 element positions, R = 12 \(the element columns of rf\), but "
                       r"has shape \(12, 2\)"):
        im.das_beamform(rf, T0, FS, elements[:, :2], points, None, C, 2.0, pairs, LAG)
