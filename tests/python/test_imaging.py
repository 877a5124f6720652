# orvel.imaging against independent results: a point scatterer imaged where it is, with the
# lateral width diffraction gives; the analytic envelope of a Gaussian pulse; known decibels;
# a field linear in radius and angle (about any apex); the scan sequences against their
# formulas and a convex array's geometry; echo times of diverging and single-element
# transmits; depths and time-gain compensation against a simulated attenuation; scan_run's
# lateral window; the counts
# and statistics of random phantoms; the acoustic output of tone bursts against the loss of
# derating, their spectra and their durations.
import re

import numpy as np
import pytest

import orvel
import orvel.imaging as im

F0, FS, C = 5e6, 100e6, 1540.0
LAMBDA = C / F0


def six_db_width(window):
    """-6 dB full width of the far-field amplitude of an aperture weighted by window(u),
    |u| <= 1/2, in units of wavelength * z / D: its Fourier transform, integrated numerically."""
    u = np.linspace(-0.5, 0.5, 2001)
    v = np.linspace(0.0, 2.0, 2001)
    a = np.trapz(window(u) * np.cos(2 * np.pi * np.outer(v, u)), u, axis=1)
    a /= a[0]
    k = np.argmax(a < 0.5)
    return 2 * np.interp(0.5, a[[k, k - 1]], v[[k, k - 1]])


def main_lobe_width(x, profile):
    """Full width of the contiguous part of profile above half its peak, by interpolation."""
    k = np.argmax(profile)
    half = profile[k] / 2
    right = k + np.argmax(profile[k:] < half)
    left = k - np.argmax(profile[k::-1] < half)
    x_right = np.interp(half, profile[[right, right - 1]], x[[right, right - 1]])
    x_left = np.interp(half, profile[[left, left + 1]], x[[left, left + 1]])
    return x_right - x_left


def test_a_point_is_imaged_where_it_is_with_the_width_diffraction_gives(system):
    # 64 elements at a pitch of 0.75 wavelengths (W = 14.8 mm), 2 mm high. A plane wave from
    # a finite aperture carries inverted edge waves from the array's ends, (sqrt(z^2 + W^2/4)
    # - z)/c behind it: with W = 14.8 mm they trail the echo from 30 mm by 0.9 mm; at half a
    # wavelength pitch (W = 9.9 mm) they overlap it and move its envelope by up to a tenth of
    # a wavelength. The elevation height delays an echo by about h^2/(24 z) per way (6 um).
    n, pitch, kerf, height = 64, 0.75 * LAMBDA, 0.02e-3, 2e-3
    t = np.arange(0, 2 / F0 + 1e-12, 1 / FS)
    impulse = np.sin(2 * np.pi * F0 * t) * np.hanning(t.size)
    excitation = np.sin(2 * np.pi * F0 * t)
    orvel.set_option("c", C)
    orvel.set_sampling(FS)
    tx = orvel.xdc_linear_array(n, pitch - kerf, height, kerf, 1, 5, [0, 0, 0.03])
    rx = orvel.xdc_linear_array(n, pitch - kerf, height, kerf, 1, 5, [0, 0, 0.03])
    orvel.xdc_impulse(tx, impulse)
    orvel.xdc_excitation(tx, excitation)
    orvel.xdc_impulse(rx, impulse)
    angles = [0.0, np.deg2rad(10)]
    points, amplitudes = im.phantom_points([[0.0, 0.03]])
    rf, t0 = im.scan_run(im.scan_planewave(n, pitch, angles, C), tx, rx, points, amplitudes)
    assert rf.shape[1:] == (n, 2)
    lag = (2 * impulse.size + excitation.size - 3) / (2 * FS)
    element_x = (np.arange(n) - (n - 1) / 2) * pitch
    x = np.arange(-150, 151) * 20e-6
    z = 28e-3 + np.arange(1001) * 4e-6

    # The plane wave's transmit field is nearly even across the main lobe, so the lateral
    # response is the one-way pattern of the receive aperture: -6 dB full width
    # k * wavelength * z / D, k from the aperture's Fourier transform (1.21 for even weights,
    # 2.00 for Hann). f-number 3: a Hann window over D = z/3 = 10 mm, inside the array.
    # f-number 0.05: a window of 600 mm, so the weights over the array are above 0.998 and
    # the aperture is the whole array, D = n * pitch.
    hann = six_db_width(lambda u: 0.5 + 0.5 * np.cos(2 * np.pi * u))
    even = six_db_width(np.ones_like)
    assert hann == pytest.approx(2.00, abs=0.01) and even == pytest.approx(1.207, abs=0.005)
    cases = [(0, 3.0, hann, 0.03 / 3.0), (0, 0.05, even, n * pitch), (1, 3.0, None, None)]
    for k, f_number, factor, aperture in cases:
        image = im.das_beamform(rf[:, :, k], t0, FS, element_x, x, z, C, f_number, angles[k],
                                lag)
        env = im.envelope(image)
        iz, ix = np.unravel_index(np.argmax(env), env.shape)
        assert abs(x[ix]) <= LAMBDA / 10 and abs(z[iz] - 0.03) <= LAMBDA / 10, (k, f_number)
        if factor is not None:
            expected = factor * LAMBDA * 0.03 / aperture
            assert main_lobe_width(x, env[iz]) == pytest.approx(expected, rel=0.1)
    # Plane waves compounded over sin(angle) from -D/2z to D/2z (25 steps of 0.021: the grating
    # lobe of the angle sampling lies 15 mm off, outside the grid) focus the transmit with
    # the whole array as well: the two-way pattern is sinc^2, whose -6 dB full width is
    # 0.886 wavelength * z / D, within 20% of wavelength * z / D.
    D = n * pitch
    many = np.arcsin(np.linspace(-1, 1, 25) * D / (2 * 0.03))
    rf_many, t0_many = im.scan_run(im.scan_planewave(n, pitch, many, C), tx, rx, points,
                                   amplitudes)
    env = im.envelope(im.das_beamform(rf_many, t0_many, FS, element_x, x, z, C, 0.05, many,
                                      lag))
    iz, ix = np.unravel_index(np.argmax(env), env.shape)
    assert abs(x[ix]) <= LAMBDA / 10 and abs(z[iz] - 0.03) <= LAMBDA / 10
    width = main_lobe_width(x, env[iz])
    assert width == pytest.approx(LAMBDA * 0.03 / D, rel=0.2)
    assert width == pytest.approx(0.886 * LAMBDA * 0.03 / D, rel=0.1)
    # Several transmits: their images summed.
    both = im.das_beamform(rf, t0, FS, element_x, x[::10], z[::10], C, 3.0, angles, lag)
    each = [im.das_beamform(rf[:, :, k], t0, FS, element_x, x[::10], z[::10], C, 3.0,
                            angles[k], lag) for k in (0, 1)]
    assert np.allclose(both, each[0] + each[1], rtol=0, atol=1e-12 * np.abs(both).max())


def test_scan_run_puts_lines_on_one_time_axis(system):
    fs = 100e6 / 3  # printed by orvel_info as 33.3333 MHz; read back exactly
    orvel.set_sampling(fs)
    assert orvel.get_option("fs") == fs
    tx = orvel.xdc_linear_array(16, 0.25e-3, 3e-3, 0.05e-3, 1, 2, [0, 0, 0.02])
    rx = orvel.xdc_linear_array(16, 0.25e-3, 3e-3, 0.05e-3, 1, 2, [0, 0, 0.02])
    seq = im.scan_linear(16, 0.3e-3, 8, [-1e-3, 0.0, 1.5e-3], 0.02)
    points = [[0.0, 0.0, 0.015], [1e-3, 0.0, 0.03]]
    rf, t0 = im.scan_run(seq, tx, rx, points, [1.0, -0.5])
    assert rf.shape[1] == 3
    for k, step in enumerate(seq):
        im.scan_apply(step, tx, rx)
        alone, start = orvel.calc_scat(tx, rx, points, [1.0, -0.5])
        row = int(round((start - t0) * fs))
        expected = np.zeros(rf.shape[0])
        expected[row:row + alone.size] = alone
        assert np.array_equal(rf[:, k], expected)


def test_envelope_of_gaussian_pulses_is_their_gaussian():
    # A Gaussian of 0.3 us on 5 MHz: its spectrum at negative frequencies is below 1e-18.
    def pulse(n, centre, phase):
        t = np.arange(n) / FS
        gauss = np.exp(-0.5 * ((t - centre) / 0.3e-6) ** 2)
        return gauss * np.cos(2 * np.pi * F0 * t + phase), gauss

    a, env_a = pulse(1000, 4e-6, 0.3)
    b, env_b = pulse(1000, 6e-6, -2.0)
    got = im.envelope(np.column_stack([a, 2 * b]))
    assert got.shape == (1000, 2)
    assert np.allclose(got, np.column_stack([env_a, 2 * env_b]), rtol=0, atol=1e-9)
    odd, env_odd = pulse(999, 5e-6, 1.0)
    assert np.allclose(im.envelope(odd), env_odd, rtol=0, atol=1e-9)
    # A constant and a tone at the Nyquist frequency are their own analytic signal.
    k = np.arange(8)
    assert np.allclose(im.envelope(1.5 + 0.5 * (-1.0) ** k), 1.5 + 0.5 * (-1.0) ** k)


def test_log_compress_gives_decibels_below_the_peak_and_show_image_draws_them(tmp_path):
    db = np.array([[0.0, -6.0, -20.0], [-45.0, -80.0, -300.0]])
    env = 3.7 * 10 ** (db / 20)
    env[1, 2] = 0.0
    assert np.allclose(im.log_compress(env, 60), np.maximum(db, -60), rtol=0, atol=1e-12)
    assert np.array_equal(im.log_compress(np.zeros((2, 3)), 40), np.full((2, 3), -40.0))
    image = pytest.importorskip("matplotlib.image")
    file = tmp_path / "picture.png"
    im.show_image(str(file), im.log_compress(env, 60), [-1e-3, 0, 1e-3], [1e-3, 2e-3], 60, "t")
    assert image.imread(str(file)).shape[0] > 100


def test_show_image_draws_nan_black_as_octave_does(tmp_path):
    # NaN (outside a sector) is drawn as -dynamic_range, the black end of the scale.
    image = pytest.importorskip("matplotlib.image")
    db = np.array([[0.0, -10.0, -40.0], [-20.0, -30.0, 0.0]])
    outside = np.array([[False, True, False], [True, False, False]])
    pictures = []
    for name, value in (("nan", np.nan), ("black", -40.0)):
        shown = np.where(outside, value, db)
        file = tmp_path / (name + ".png")
        im.show_image(str(file), shown, [-1e-3, 0, 1e-3], [1e-3, 2e-3], 40, "sector")
        pictures.append(image.imread(str(file)))
    assert np.array_equal(pictures[0], pictures[1])


def test_input_the_fuzz_found_is_refused_with_a_text_naming_the_function(tmp_path, monkeypatch):
    # Each of these used to give NaN, an OverflowError, an IndexError, an AttributeError or a
    # MemoryError; Octave refuses the first three with the same texts.
    refusals = [
        (lambda: im.log_compress([[0.5, -0.1]], 40), "log_compress: env must hold real "
         "non-negative values"),
        (lambda: im.scan_linear(8, 3e-4, 4, [np.inf, 0.0], 0.03), "scan_linear: x_lines must be a "
         "vector of finite positions [m]"),
        (lambda: im.scan_planewave(5, 3e-4, [np.nan], 1540), "scan_planewave: angles must be a "
         "vector of finite angles [rad]"),
        (lambda: im.scan_planewave(5, 3e-4, [0.1], 5e-324), "scan_planewave: the delays"),
        (lambda: im.scan_linear(2.0 ** 63, 3e-4, 4, [0.0], 0.03), "scan_linear: no_elements must "
         "be at most 2147483647 (the most elements an aperture holds), but is 9.2233720368547758e+18"),
        (lambda: im.scan_phased(2 ** 31, [0.0], 0.03), "scan_phased: no_elements must be at most "
         "2147483647"),
        (lambda: im.scan_phased(4, [0.1, np.nan], 0.03), "scan_phased: angles must be a vector of "
         "finite angles [rad]"),
        (lambda: im.phantom_tissue([0, 1e308, 0, 1, -1e308, 1e308], 1, 1), "phantom_tissue: "
         "density"),
        (lambda: im.phantom_from_map("", [0, 1e-3], [0.01, 0.02], 5), "phantom_from_map: no "
         "image file "),
    ]
    for call, text in refusals:
        with pytest.raises(ValueError) as refused:
            call()
        assert str(refused.value).startswith(text)
    with pytest.raises(TypeError, match="show_image: file must be a file name"):
        im.show_image(memoryview(b"ab"), np.zeros((1, 1)), [0.0], [0.01], 40)
    # RF without samples: every point lies outside the signal, as in Octave.
    image = im.das_beamform(np.zeros((0, 2)), 0, 1e8, [0, 1e-3], [0, 1e-3], [1e-2, 2e-2, 3e-2],
                            1540, 2, 0, 0)
    assert np.array_equal(image, np.zeros((3, 2)))
    # An array beyond this process's memory: a ValueError naming the function.
    with pytest.raises(ValueError, match="phantom_tissue: the arrays of this call need more"):
        im.phantom_tissue([0, 1, 0, 1, 0, 1], 1e15, 1.0)
    # A sequence beyond the memory left is refused before numpy fills it (2**31 elements took
    # 75 s of uninterruptible filling); the limit the module honours counts here too.
    monkeypatch.setenv("ORVEL_MEMORY_LIMIT", "1e6")
    with pytest.raises(ValueError, match="scan_planewave: a sequence of 6 steps for 10000 "
                       "elements needs 1040000 bytes, more than the 1000000 bytes"):
        im.scan_planewave(10000, 3e-4, np.zeros(6), 1540)
    assert len(im.scan_linear(10000, 3e-4, 4, np.zeros(5), 0.03)) == 5  # 880000 bytes


def test_scan_convert_interpolates_a_field_linear_in_radius_and_angle():
    # About the origin, and about the centre of curvature of a convex array 20 mm behind it
    # (off x = 0 too, so that a swapped coordinate shows).
    r = np.linspace(10e-3, 50e-3, 81)
    angles = np.linspace(-0.6, 0.6, 49)
    lines = 2.0 + 300.0 * r[:, np.newaxis] + 0.7 * angles
    # Odd millimetres in z and multiples of 3 mm in x: no point on the sector's arcs.
    x = np.arange(-13, 14) * 3e-3
    z = np.arange(1, 60, 2) * 1e-3
    for apex in (None, (1.5e-3, -20e-3)):
        got = (im.scan_convert(lines, angles, r, x, z) if apex is None
               else im.scan_convert(lines, angles, r, x, z, apex))
        xa, za = apex or (0.0, 0.0)
        X, Z = np.meshgrid(x, z)
        radius, angle = np.hypot(X - xa, Z - za), np.arctan2(X - xa, Z - za)
        inside = (radius >= 10e-3) & (radius <= 50e-3) & (np.abs(angle) <= 0.6)
        assert got.shape == (z.size, x.size) and 100 < inside.sum() < inside.size - 100
        assert np.array_equal(np.isnan(got), ~inside), apex
        assert np.allclose(got[inside], (2.0 + 300.0 * radius + 0.7 * angle)[inside],
                           atol=1e-12)


def test_scan_sequences_follow_their_formulas():
    pitch, c = 0.3e-3, 1500.0
    for a, step in zip([-0.2, 0.0, 0.3], im.scan_planewave(8, pitch, [-0.2, 0.0, 0.3], c)):
        delays = step["tx_delays"]
        # A plane wave: the delay steps by pitch*sin(a)/c from element to element, the first
        # element to emit at 0.
        assert step["kind"] == "plane" and step["angle"] == a and delays.min() == 0
        assert np.allclose(np.diff(delays), pitch * np.sin(a) / c, rtol=0, atol=1e-18)
        assert np.array_equal(step["tx_apodization"], np.ones(8))
        assert np.array_equal(step["rx_apodization"], np.ones(8))

    # 16 elements 1 mm apart: the window of 4 is the one whose middle is nearest the line.
    element_x = np.arange(16) - 7.5
    x_lines = np.array([-20.0, -7.5, 0.2, 0.6, 3.1, 20.0])
    seq = im.scan_linear(16, 1e-3, 4, x_lines * 1e-3, 0.03)
    for x, step in zip(x_lines, seq):
        first = np.argmin([abs(element_x[s:s + 4].mean() - x) for s in range(13)])
        expected = np.zeros(16)
        expected[first:first + 4] = 1
        assert np.array_equal(step["tx_apodization"], expected), x
        assert np.array_equal(step["rx_apodization"], expected)
        assert np.allclose(step["tx_focus"], [x * 1e-3, 0, 0.03])
        assert np.allclose(step["rx_center"], [x * 1e-3, 0, 0])
        assert step["kind"] == "line" and step["angle"] == 0

    for a, step in zip([-0.5, 0.0, 0.4], im.scan_phased(8, [-0.5, 0.0, 0.4], 0.05)):
        focus = step["tx_focus"]
        assert np.linalg.norm(focus) == pytest.approx(0.05) and focus[1] == 0
        assert np.arctan2(focus[0], focus[2]) == pytest.approx(a)
        assert np.array_equal(step["rx_center"], np.zeros(3)) and step["angle"] == a


def test_phantoms_have_their_count_cysts_and_statistics(tmp_path):
    points, amplitudes = im.phantom_points([[1e-3, 20e-3], [-2e-3, 30e-3]])
    assert np.array_equal(points, [[1e-3, 0, 20e-3], [-2e-3, 0, 30e-3]])
    assert np.array_equal(amplitudes, [1.0, 1.0])
    assert im.resolution_cell(0.3e-3, 2, 0.5e-3, 1e-3) == pytest.approx(3e-10, rel=1e-12)

    # 400 mm^3 at 10 scatterers per 1 mm^3 cell: 4000 scatterers.
    region = [-5e-3, 5e-3, -1e-3, 1e-3, 10e-3, 30e-3]
    cysts = [[0.0, 20e-3, 3e-3, 0.0], [3e-3, 12e-3, 1e-3, 2.5]]
    points, amplitudes = im.phantom_tissue(region, 10, 1e-9, cysts, 7)
    plain_points, plain = im.phantom_tissue(region, 10, 1e-9, None, 7)
    n = amplitudes.size
    assert n == 4000 and np.array_equal(points, plain_points)
    assert (points.min(axis=0) >= [-5e-3, -1e-3, 10e-3]).all()
    assert (points.max(axis=0) <= [5e-3, 1e-3, 30e-3]).all()
    assert abs(plain.mean()) < 4 / np.sqrt(n) and abs(plain.std() - 1) < 4 / np.sqrt(2 * n)
    gain = np.ones(n)
    for xc, zc, radius, g in cysts:
        gain[np.hypot(points[:, 0] - xc, points[:, 2] - zc) <= radius] = g
    assert np.array_equal(amplitudes, gain * plain)
    # The anechoic cyst holds its share of the area, pi * 9 / 200 mm^2.
    share, p = np.mean(gain == 0), np.pi * 9 / 200
    assert abs(share - p) < 4 * np.sqrt(p * (1 - p) / n)
    assert not np.array_equal(im.phantom_tissue(region, 10, 1e-9, None, 8)[1], plain)

    # A map linear along both axes: the amplitudes over those of a map of ones (the same
    # seed, so the same positions and Gaussians) are the map's value at each point.
    nz, nx = 5, 7
    rows, cols = np.mgrid[0:nz, 0:nx]
    ramp = 1.0 + cols + 2.0 * rows
    args = ([-2e-3, 2e-3], [10e-3, 20e-3], 500, [-1e-3, 1e-3], 3)
    points, amplitudes = im.phantom_from_map(ramp, *args)
    _, gauss = im.phantom_from_map(np.ones((nz, nx)), *args)
    expected = (1.0 + (points[:, 0] + 2e-3) / 4e-3 * (nx - 1)
                + 2.0 * (points[:, 2] - 10e-3) / 10e-3 * (nz - 1))
    assert np.allclose(amplitudes / gauss, expected, rtol=1e-12)
    assert (np.abs(points[:, 1]) <= 1e-3).all() and np.abs(points[:, 1]).max() > 0
    # From a picture: grey values in [0, 1].
    image = pytest.importorskip("matplotlib.image")
    image.imsave(str(tmp_path / "map.png"), ramp, cmap="gray", vmin=0, vmax=ramp.max())
    _, from_file = im.phantom_from_map(str(tmp_path / "map.png"), *args)
    assert np.allclose(from_file / gauss, expected / ramp.max(), atol=0.01)


def test_acoustic_output_derates_the_field_and_measures_the_pulse(system):
    # A 1 mm square (far field beyond 2 mm at 3 MHz), its impulse response one sample of fs:
    # the convolutions are time integrals, so the pulse is the excitation, a velocity [m/s].
    fs, f0 = 120e6, 3e6
    orvel.set_sampling(fs)
    th = orvel.xdc_linear_array(1, 1e-3, 1e-3, 0.0, 1, 1, [0, 0, 0.04])
    orvel.xdc_impulse(th, [fs])
    t = np.arange(8 * 40 + 1) / fs                      # 8 cycles, 40 samples each
    burst = np.sin(2 * np.pi * f0 * t) * np.hanning(t.size)
    orvel.xdc_excitation(th, burst)
    points = np.array([[0, 0, 0.06], [0, 0, 0.04], [3e-3, 0, 0.05]])
    plain = orvel.calc_hp_map(th, points, ["p_minus", "pii"])   # no attenuation
    out = im.acoustic_output(th, points, 1e3)

    # 0.3 dB/(cm MHz) at f0 over the depth. The loss differs over the burst's band (1.5
    # dB/MHz at 5 cm, the -3 dB band about 0.5 MHz wide), which moves the peak and the energy
    # by well under 2 %.
    loss = 10 ** (-0.3 * (f0 / 1e6) * (points[:, 2] * 100) / 20)
    p, pii = plain["p_minus"] * loss, plain["pii"] * loss ** 2
    assert out["p_r3"] == pytest.approx(p.max(), rel=0.02)
    assert out["pii_3"] == pytest.approx(pii.max(), rel=0.02)
    assert np.array_equal(out["mi_point"], points[np.argmax(p)])
    assert np.array_equal(out["pii_point"], points[np.argmax(pii)])
    # The pressure is the velocity's derivative: its spectrum is f times the burst's (the
    # point's impulse response lasts 4 ns, flat over the band). The -3 dB band of that
    # spectrum on a 100 Hz grid, without attenuation, gives the working frequency.
    f = np.arange(1.5e6, 4.5e6, 100.0)
    spectrum = f * np.abs(np.exp(-2j * np.pi * np.outer(f, t)) @ burst)
    band = f[spectrum >= spectrum.max() * 10 ** (-3 / 20)]
    f_awf = (band[0] + band[-1]) / 2
    assert out["f_awf"] == pytest.approx(f0, rel=0.02)
    assert out["f_awf"] == pytest.approx(f_awf, rel=1e-3)
    assert out["mi"] == pytest.approx((p.max() / 1e6) / np.sqrt(f_awf / 1e6), rel=0.02)

    # A rectangular burst of 10 cycles: p^2 averages evenly over its duration T, and its 10 %
    # and 90 % of energy fall on whole cycles, where cos^2 has no running excess: pd = T, up
    # to edges blurred over a few samples of 400 (derating at 1 cm).
    orvel.xdc_excitation(th, np.sin(2 * np.pi * f0 * np.arange(10 * 40 + 1) / fs))
    out = im.acoustic_output(th, [0, 0, 0.01], 2e3)
    assert out["pd"] == pytest.approx(10 / f0, rel=0.01)
    assert out["ispta_3"] == pytest.approx(2e3 * out["pii_3"], rel=1e-12)
    assert out["isppa_3"] == pytest.approx(out["pii_3"] / out["pd"], rel=1e-12)


def test_acoustic_output_keeps_the_attenuation_options_and_refuses_bad_input(system):
    th = orvel.xdc_linear_array(4, 0.3e-3, 3e-3, 0.05e-3, 1, 1, [0, 0, 0.02])
    points = [[0, 0, 0.02], [1e-3, 0, 0.03]]
    plain = im.acoustic_output(th, points, 5e3)
    names = ("use_att", "att", "freq_att", "att_f0")
    mine = (1.0, 2.5, 1e-6, 1e6)
    for name, value in zip(names, mine):
        orvel.set_option(name, value)
    # The caller's attenuation neither changes the results nor is lost, also when the
    # calculation fails after the derating was set (a freed aperture).
    out = im.acoustic_output(th, points, 5e3)
    assert out.keys() == plain.keys()
    assert all(np.array_equal(out[k], plain[k]) for k in plain)
    assert tuple(orvel.get_option(name) for name in names) == mine
    other = orvel.xdc_linear_array(4, 0.3e-3, 3e-3, 0.05e-3, 1, 1, [0, 0, 0.02])
    orvel.xdc_free(other)
    with pytest.raises(orvel.OrvelError):
        im.acoustic_output(other, points, 5e3)
    assert tuple(orvel.get_option(name) for name in names) == mine
    refusals = [
        (0.0, points, ValueError, "acoustic_output: prf must be > 0, but is 0"),
        ([1e3, 2e3], points, ValueError, "acoustic_output: prf must be one finite number"),
        ("1e3", points, TypeError, "acoustic_output: prf must be real numbers"),
        (1e3, np.zeros((3, 5)), ValueError, "acoustic_output: points must be an n x 3 real "
         "array (one row [x y z] per point), but is a 3 x 5 array; transpose it (points.T)"),
        (1e3, np.zeros((0, 3)), ValueError, "acoustic_output: points must hold at least one"),
        (1e3, [[0, 0, 0.02], [0, np.inf, 0.02]], ValueError, "acoustic_output: points must be "
         "finite, but row 2 is not"),
    ]
    for prf, where, error, text in refusals:
        with pytest.raises(error) as refused:
            im.acoustic_output(th, where, prf)
        assert str(refused.value).startswith(text), str(refused.value)
    # A field that is zero everywhere has no working frequency.
    orvel.xdc_excitation(th, np.zeros(10))
    with pytest.raises(ValueError, match="acoustic_output: the pressure is 0 at every point"):
        im.acoustic_output(th, points, 5e3)


def test_scan_convex_lines_leave_the_arc_normal_to_it_from_the_nearest_elements(system):
    # An array of xdc_convex_array: its element centres, read back, give the angles; its
    # pitch along the arc is R (asin(w/R) + asin(k/R)) (help scan_convex).
    n, w, kerf, R, active = 24, 0.4e-3, 0.1e-3, 20e-3, 6
    th = orvel.xdc_convex_array(n, w, 4e-3, kerf, R, 1, 1, [0, 0, 0.05])
    rect = orvel.xdc_get(th, "rect")
    centres = np.array([rect[23:26, rect[0] == e][:, 0] for e in range(n)])
    theta = np.arctan2(centres[:, 0], centres[:, 2] + R)
    assert np.allclose(np.hypot(centres[:, 0], centres[:, 2] + R), R, rtol=1e-12)
    pitch = R * (np.arcsin(w / R) + np.arcsin(kerf / R))
    # Lines between element angles, and beyond the array's ends (windows kept inside it).
    angles = np.array([-0.5, -0.31, -0.04, 0.012, 0.2, 0.33, 0.6])
    seq = im.scan_convex(n, pitch, R, active, angles, 30e-3)
    centre = np.array([0.0, 0.0, -R])
    for a, step in zip(angles, seq):
        u = np.array([np.sin(a), 0.0, np.cos(a)])     # the line's direction
        origin, focus = step["rx_center"], step["tx_focus"]
        assert step["kind"] == "line" and step["angle"] == a and step["x"] == origin[0]
        assert np.allclose(origin - centre, R * u, rtol=0, atol=1e-15), a
        assert np.allclose(focus - origin, 30e-3 * u, rtol=0, atol=1e-15), a
        first = np.argmin([abs(theta[s:s + active].mean() - a) for s in range(n - active + 1)])
        expected = np.zeros(n)
        expected[first:first + active] = 1
        assert np.array_equal(step["tx_apodization"], expected), a
        assert np.array_equal(step["rx_apodization"], expected), a


def test_diverging_and_single_element_transmits_echo_when_their_geometry_says(system):
    # The delays make the wave of a virtual source s: each element fires when the sphere
    # from s reaches it, the nearest first. An echo from p then reaches element e at
    # (|p - s| - min_e |e - s| + |p - e|)/c after the pulse's start, and for element k
    # firing alone at (|p - e_k| + |p - e|)/c, the pulse's own lag later.
    n, pitch = 16, 0.3e-3
    sources = np.array([[0.0, 0.0, -6e-3], [2e-3, 0.0, -4e-3], [-1e-3, 0.5e-3, -9e-3]])
    seq = im.scan_diverging(n, pitch, sources, C)
    e = np.column_stack([(np.arange(n) - (n - 1) / 2) * pitch, np.zeros(n), np.zeros(n)])
    for s, step in zip(sources, seq):
        d = np.linalg.norm(e - s, axis=1)
        assert step["kind"] == "diverging" and np.array_equal(step["source"], s)
        assert np.allclose(step["tx_delays"] - d / C, -d.min() / C, rtol=0, atol=1e-18)
        assert step["tx_delays"][np.argmin(np.abs(e[:, 0] - s[0]))] == 0
        assert np.array_equal(step["tx_apodization"], np.ones(n))
    sta = im.scan_sta(n)
    assert [step["element"] for step in sta] == list(range(n))
    assert np.array_equal([step["tx_apodization"] for step in sta], np.eye(n))
    assert all(step["kind"] == "element" and np.array_equal(step["rx_apodization"], np.ones(n))
               and np.array_equal(step["tx_delays"], np.zeros(n)) for step in sta)

    orvel.set_option("c", C)
    orvel.set_sampling(FS)
    tx = orvel.xdc_linear_array(n, pitch - 0.02e-3, 2e-3, 0.02e-3, 1, 1, [0, 0, 0.02])
    rx = orvel.xdc_linear_array(n, pitch - 0.02e-3, 2e-3, 0.02e-3, 1, 1, [0, 0, 0.02])
    t = np.arange(0, 2 / F0 + 1e-12, 1 / FS)
    impulse = np.sin(2 * np.pi * F0 * t) * np.hanning(t.size)
    for th in (tx, rx):
        orvel.xdc_impulse(th, impulse)
    orvel.xdc_excitation(tx, np.sin(2 * np.pi * F0 * t))
    lag = (3 * t.size - 3) / (2 * FS)
    p = np.array([0.5e-3, 0.0, 15e-3])
    receive = np.linalg.norm(p - e, axis=1)
    cases = [(seq[:2], [np.linalg.norm(p - s) - np.linalg.norm(e - s, axis=1).min()
                        for s in sources[:2]]),
             ([sta[0], sta[2]], [np.linalg.norm(p - e[k]) for k in (0, 2)])]
    for steps, transmit in cases:
        rf, t0 = im.scan_run(steps, tx, rx, p, [1.0])
        env = im.envelope(rf)
        for j, out in enumerate(transmit):
            arrival = t0 + np.argmax(env[:, :, j], axis=0) / FS - lag
            # Within a quarter period: the envelope peak of an element 0.3 mm wide.
            assert np.abs(arrival - (out + receive) / C).max() < 0.25 / F0, steps[j]["kind"]


def test_depths_and_time_gain_compensation(system):
    # c = 1600 m/s and fs = 80 kHz: a sample every 1 cm of depth; t0 = 12.5 us is 1 cm.
    assert np.allclose(im.sample_depth(3, 12.5e-6, 80e3, 1600), [0.01, 0.02, 0.03],
                       rtol=1e-15)
    assert np.allclose(im.sample_depth(2, 20e-6, 1e6, 1500, 2e-6), [13.5e-3, 14.25e-3],
                       rtol=1e-15)
    assert im.sample_depth(0, 0, 1e6, 1500).shape == (0,)
    # 0.5 dB/(cm MHz) at 2 MHz: 1 dB per cm, 2 dB per cm of depth there and back.
    rf = np.arange(12.0).reshape(3, 2, 2)
    gain = 10 ** (np.array([2.0, 4.0, 6.0]) / 20)
    assert np.allclose(im.tgc(rf, 12.5e-6, 80e3, 1600, 0.5, 2e6),
                       rf * gain[:, None, None], rtol=1e-14)
    for alpha, f0, text in ((-0.1, 2e6, "tgc: db_per_cm_mhz must be >= 0"),
                            (0.5, 0.0, "tgc: f0 must be > 0")):
        with pytest.raises(ValueError, match=text.replace("(", r"\(")):
            im.tgc(rf, 0, 1e6, 1500, alpha, f0)

    # The module's attenuation of alpha dB/(m Hz), alpha * f, weakens an echo from 30 mm by
    # alpha * f0 * 6 cm at the pulse's centre frequency; tgc at f0 gives its height back. A
    # burst of 12 cycles is narrow enough (1/12 of f0) for the loss to be the one at f0
    # within about 1 %. The echo's centre comes the burst's half length (its lag) after the
    # depth's time, so t0 - lag places the gain of 30 mm on it.
    fs, f0, alpha = 100e6, 3e6, 0.5
    orvel.set_sampling(fs)
    orvel.set_option("c", C)
    th = orvel.xdc_linear_array(1, 2e-3, 2e-3, 0.0, 1, 1, [0, 0, 0.03])
    orvel.xdc_impulse(th, [fs])
    cycles = np.arange(12 * round(fs / f0) + 1) / fs
    orvel.xdc_excitation(th, np.sin(2 * np.pi * f0 * cycles) * np.hanning(cycles.size))
    lag = (cycles.size - 1) / (2 * fs)
    point = [0.0, 0.0, 0.03]
    plain, _ = orvel.calc_scat(th, th, point, [1.0])
    for name, value in (("use_att", 1.0), ("att", 0.0), ("freq_att", alpha * 1e-4),
                        ("att_f0", 0.0)):
        orvel.set_option(name, value)
    weak, t_weak = orvel.calc_scat(th, th, point, [1.0])
    peak = im.envelope(plain).max()
    assert im.envelope(weak).max() == pytest.approx(10 ** (-alpha * 3 * 6 / 20) * peak,
                                                    rel=0.01)
    back = im.tgc(weak, t_weak - lag, fs, C, alpha, f0)
    assert im.envelope(back).max() == pytest.approx(peak, rel=0.01)


def test_scan_run_window_keeps_the_scatterers_near_each_line_or_transmit(system, capsys):
    # 16 elements of 0.3 mm (4.8 mm wide); a line's window of 6 is 1.8 mm wide. A scatterer
    # 12 mm to the side lies outside a window of 2 mm for every line and, widened by
    # 2 mm, outside the whole array's 2.4 mm half-width as well.
    orvel.set_sampling(FS)
    tx = orvel.xdc_linear_array(16, 0.25e-3, 3e-3, 0.05e-3, 1, 2, [0, 0, 0.02])
    rx = orvel.xdc_linear_array(16, 0.25e-3, 3e-3, 0.05e-3, 1, 2, [0, 0, 0.02])
    near = [[0.0, 0.0, 0.015], [0.5e-3, 0.0, 0.02]]
    far = [12e-3, 0.0, 0.018]
    for seq in (im.scan_linear(16, 0.3e-3, 6, [-0.6e-3, 0.3e-3], 0.02),
                im.scan_phased(16, [-0.05, 0.04], 0.02),
                im.scan_planewave(16, 0.3e-3, [0.0, 0.1], C), im.scan_sta(16)[5:7]):
        every, t_every = im.scan_run(seq, tx, rx, near + [far], [1.0, 0.7, 2.0])
        wide, t_wide = im.scan_run(seq, tx, rx, near + [far], [1.0, 0.7, 2.0], window=1.0)
        assert t_wide == t_every and np.array_equal(wide, every), seq[0]["kind"]
        alone, t_alone = im.scan_run(seq, tx, rx, near, [1.0, 0.7])
        narrow, t_narrow = im.scan_run(seq, tx, rx, near + [far], [1.0, 0.7, 2.0],
                                       window=2e-3)
        assert t_narrow == t_alone and np.array_equal(narrow, alone), seq[0]["kind"]
        assert not np.array_equal(every, alone)   # the far scatterer's echo was there
    # Every step outside: nothing to simulate, no samples.
    rf, t0 = im.scan_run(im.scan_linear(16, 0.3e-3, 6, [0.0], 0.02), tx, rx, [far], [1.0],
                         window=0.0)
    assert rf.shape == (0, 1) and t0 == 0
    with pytest.raises(ValueError, match="scan_run: window must be None or a margin >= 0"):
        im.scan_run(im.scan_sta(16), tx, rx, near, [1.0, 1.0], window=-1e-3)
    # Progress: the count, the time so far and the time left.
    lines = capsys.readouterr().out.splitlines()
    assert lines and all(re.fullmatch(r"scan_run: (line|transmit) (\d+) of (\d+) "
                                      r"\(\d+\.\d s, about \d+ s left\)", s) for s in lines)
    assert lines[-1].startswith("scan_run: line 1 of 1 (")
