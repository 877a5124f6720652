# Motion and Doppler against known truth: the colour-flow velocity of a plug flow along the
# beam, simulated; the spectrogram's peak at 2 v f0 cos(theta) / c for scatterers moving at an
# angle to the beam; a static phantom's echoes removed by the clutter filter; the positions of
# moving phantoms against their analytic paths; an ensemble spread over Dask workers equal to
# scan_run bit for bit, each firing where its step and firing belong; bad input refused.
import numpy as np
import pytest

import orvel
import orvel.distributed as od
import orvel.imaging as im
from test_distributed import cluster  # noqa: F401 (the fixture: two worker processes)
import doppler_numpy_reference as ref

F0, FS, C = 5e6, 100e6, 1540.0
PITCH = C / F0 / 2
PRF = 5000.0  # aliasing at c * prf / (4 f0) = 0.385 m/s
# An 8-cycle burst, as Doppler modes send: its echoes' mean frequency lies within 1.5% of f0
# (a 2-cycle pulse's lies 6% below it, and the Doppler shift with it).
T_IMPULSE = np.arange(0, 2 / F0 + 1e-12, 1 / FS)
IMPULSE = np.sin(2 * np.pi * F0 * T_IMPULSE) * np.hanning(T_IMPULSE.size)
EXCITATION = np.sin(2 * np.pi * F0 * np.arange(0, 8 / F0 + 1e-12, 1 / FS))
LAG = (2 * IMPULSE.size + EXCITATION.size - 3) / (2 * FS)
# Three lines 1 mm apart, 32 of 48 elements active, focused at 25 mm.
LINES = im.scan_linear(48, PITCH, 32, [-1e-3, 0.0, 1e-3], 25e-3)


def apertures():
    orvel.set_option("c", C)
    orvel.set_sampling(FS)
    tx = orvel.xdc_linear_array(48, PITCH - 0.02e-3, 5e-3, 0.02e-3, 1, 5, [0, 0, 25e-3])
    rx = orvel.xdc_linear_array(48, PITCH - 0.02e-3, 5e-3, 0.02e-3, 1, 5, [0, 0, 25e-3])
    orvel.xdc_impulse(tx, IMPULSE)
    orvel.xdc_excitation(tx, EXCITATION)
    orvel.xdc_impulse(rx, IMPULSE)
    return tx, rx


def gate_iq(phantom, ensemble, depth_from, depth_to):
    """IQ of the three lines over an ensemble, the samples between two depths: (samples x
    lines) x firings."""
    tx, rx = apertures()
    rf, t0 = im.scan_run(im.scan_ensemble(LINES, PRF, ensemble), tx, rx, phantom, None)
    assert rf.shape[1:] == (3, ensemble)
    iq, t0, fs_iq = im.iq_demodulate(rf, t0, FS, F0, decimation=5)
    depth = im.sample_depth(iq.shape[0], t0, fs_iq, C, LAG)
    return iq[(depth > depth_from) & (depth < depth_to)].reshape(-1, ensemble)


def test_plug_flow_along_the_beam_and_a_static_phantom(system):
    # A vessel of radius 2 mm along z, 20 mm long, blood towards the transducer at 0.1 m/s
    # (a quarter of the aliasing limit), tissue echoes 10 times stronger around it, three
    # scatterers per mm^3. Its central third holds about 15 independent resolution cells (8
    # cycles: 1.2 mm in depth), so the estimate's spread is near 1%.
    vessel = {"center": [0, 0, 25e-3], "direction": [0, 0, 1], "radius": 2e-3,
              "v_peak": -0.1, "profile": "plug", "clutter": 10}
    region = [-2.5e-3, 2.5e-3, -2.5e-3, 2.5e-3, 15e-3, 35e-3]
    power = {}
    for v_peak in (-0.1, 0.0):
        phantom = im.phantom_flow(region, dict(vessel, v_peak=v_peak), 1.0, 1 / 3e9, seed=1)
        iq = gate_iq(phantom, 16, 25e-3 - 10e-3 / 6, 25e-3 + 10e-3 / 6)
        velocity, power[v_peak], _ = im.color_flow(im.clutter_filter(iq, "polynomial", 1),
                                                   PRF, F0, C)
        if v_peak:
            assert np.mean(velocity) == pytest.approx(0.1, rel=0.05)
    # Static echoes are removed to rounding; the flow's stay.
    assert 10 * np.log10(np.mean(power[-0.1]) / np.mean(power[0.0])) > 40


def test_the_spectrogram_peaks_at_the_doppler_shift_of_the_axial_velocity(system):
    # Scatterers moving at 0.2 m/s at 60 degrees to the beam, towards the transducer: axial
    # 0.1 m/s, Doppler shift 2 v f0 cos(theta) / c = 649 Hz. They start 0.6 mm to the left so
    # that the 1.1 mm they travel across the beam in 32 firings keeps the lines covered.
    theta, speed = np.deg2rad(60), 0.2
    velocity = speed * np.array([np.sin(theta), 0.0, -np.cos(theta)])
    rng = np.random.default_rng(1)
    n = 720  # 3 per mm^3
    points = np.column_stack([rng.uniform(-5.6e-3, 4.4e-3, n), rng.uniform(-1e-3, 1e-3, n),
                              rng.uniform(19e-3, 31e-3, n)])
    phantom = im.phantom_motion(points, rng.standard_normal(n),
                                lambda p: np.tile(velocity, (p.shape[0], 1)))
    iq = gate_iq(phantom, 32, 22e-3, 28e-3)
    spectrum, times, velocities = im.doppler_spectrum(iq, PRF, F0, C, 16, nfft=1024)
    assert spectrum.shape == (1024, 3)  # windows at 0, 8 and 16: overlap floor(16 / 2)
    peak = 2 * F0 * velocities[np.argmax(spectrum.sum(axis=1))] / C  # [Hz]
    assert peak == pytest.approx(2 * speed * F0 * np.cos(theta) / C, rel=0.05)


def test_phantom_positions_follow_the_analytic_paths():
    # Flow: a parabolic profile on an oblique axis, backwards and faster than one length per
    # t, wraps round the segment (several times for the fastest); the blood lies on the
    # axis's chord through the box, within the radius; tissue outside the cylinder moves
    # rigidly.
    region = [-4e-3, 4e-3, -2e-3, 2e-3, 10e-3, 30e-3]
    vessel = {"center": [1e-3, 0.5e-3, 18e-3], "direction": [2, 0.5, -1], "radius": 1e-3,
              "v_peak": -0.3, "tissue_velocity": [1e-3, 0, -2e-3]}
    flow = im.phantom_flow(region, vessel, 2.0, 1e-10, seed=4)
    u = np.array([2, 0.5, -1]) / np.sqrt(5.25)
    center = np.array(vessel["center"])
    # The axis leaves the box through x = -4 mm (s = -5 mm * sqrt(5.25) / 2) and x = 4 mm.
    s_lo, s_hi = -5e-3 * np.sqrt(5.25) / 2, 3e-3 * np.sqrt(5.25) / 2
    length = s_hi - s_lo
    assert np.allclose([flow["s_lo"], flow["s_hi"]], [s_lo, s_hi], rtol=0, atol=1e-15)
    assert flow["blood_s0"].size == np.floor(2.0 * np.pi * 1e-6 * length / 1e-10 + 0.5)
    offset = flow["blood_offset"]
    r2 = np.sum(offset ** 2, axis=1) / 1e-6
    assert np.abs(offset @ u).max() < 1e-15 and r2.max() < 1
    assert np.allclose(flow["blood_speed"], -0.3 * (1 - r2), rtol=0, atol=1e-15)
    d = flow["tissue_points"] - center
    along = d @ u
    across = d - np.outer(along, u)
    inside = (np.sum(across ** 2, axis=1) < 1e-6) & (along >= s_lo) & (along < s_hi)
    assert not inside.any() and flow["tissue_points"].shape[0] > 0
    t = 0.05  # up to 15 mm of travel, 2.5 segment lengths
    points, amplitudes = im.phantom_positions(flow, t)
    n_t = flow["tissue_points"].shape[0]
    s = flow["blood_s0"] + t * flow["blood_speed"]
    for k in range(s.size):
        while s[k] < s_lo:
            s[k] += length
        while s[k] >= s_hi:
            s[k] -= length
    assert (flow["blood_s0"] + t * flow["blood_speed"] < s_lo - length).any()
    blood = center + np.outer(s, u) + offset
    assert np.allclose(points[n_t:], blood, rtol=0, atol=1e-12)
    assert np.allclose(points[:n_t], flow["tissue_points"] + t * np.array([1e-3, 0, -2e-3]),
                       rtol=0, atol=1e-12)
    assert np.array_equal(amplitudes, np.concatenate([flow["tissue_amplitudes"],
                                                      flow["blood_amplitudes"]]))

    # Velocity form: a rotation about the y axis, each point on the tangent of its start.
    p0 = np.random.default_rng(2).uniform(-1e-2, 1e-2, (50, 3))
    spin = im.phantom_motion(p0, np.ones(50), lambda p: 20.0 * np.cross([0, 1, 0], p))
    for t in (0.0, 1e-3, -2.5e-2):
        expected = p0 + t * 20.0 * np.column_stack([p0[:, 2], np.zeros(50), -p0[:, 0]])
        assert np.allclose(im.phantom_positions(spin, t)[0], expected, rtol=0, atol=1e-12)

    # Frames: each frame exactly at its time, straight between frames.
    times = np.array([0.0, 1e-3, 3e-3])
    frames = np.random.default_rng(3).uniform(-1e-2, 1e-2, (3, 50, 3))
    framed = im.phantom_motion(frames[0], np.ones(50), {"times": times, "positions": frames})
    for j in range(3):
        assert np.array_equal(im.phantom_positions(framed, times[j])[0], frames[j])
    for t, j in ((0.25e-3, 0), (2.5e-3, 1)):
        w = (t - times[j]) / (times[j + 1] - times[j])
        expected = (1 - w) * frames[j] + w * frames[j + 1]
        assert np.allclose(im.phantom_positions(framed, t)[0], expected, rtol=0, atol=1e-12)


def test_an_ensemble_spread_over_workers_equals_scan_run(cluster):  # noqa: F811
    # Two lines, three firings each, over a parabolic flow: serial and on two workers, in
    # chunks, bit for bit; in one chunk, scan_run's own calls. Each firing [:, i, j] is the
    # line i alone over the phantom's scatterers at its time t (frame order: (j * 2 + i) /
    # prf). Plane waves: (samples, elements, steps, firings).
    make = ("xdc_linear_array", 16, PITCH - 0.02e-3, 5e-3, 0.02e-3, 1, 3, [0, 0, 20e-3])
    tx = od.transducer(*make, impulse=IMPULSE, excitation=EXCITATION)
    rx = od.transducer(*make, impulse=IMPULSE)
    vessel = {"center": [0, 0, 20e-3], "direction": [1, 0, 1], "radius": 1e-3, "v_peak": 0.4}
    phantom = im.phantom_flow([-2e-3, 2e-3, -1e-3, 1e-3, 18e-3, 22e-3], vessel, 1.0, 1e-10)
    lines = im.scan_linear(16, PITCH, 8, [-0.3e-3, 0.3e-3], 20e-3)
    seq = im.scan_ensemble(lines, 4000, 3, "frame")
    options = {"c": C, "fs": FS}
    chunked = od.describe(seq, tx, rx, options, window=None, chunk=100)
    serial, t_serial = od.simulate(chunked, phantom, client="serial", progress=False)
    spread, t_spread = od.simulate(chunked, phantom, client=cluster, threads=1, progress=False)
    assert spread.tobytes() == serial.tobytes() and t_spread == t_serial
    plane = im.scan_ensemble(im.scan_planewave(16, PITCH, [0.0, 0.1], C), 4000, 2)
    for sequence, shape in ((seq, (2, 3)), (plane, (16, 2, 2))):
        whole = od.describe(sequence, tx, rx, options, window=None, chunk=10 ** 6)
        result, t_result = od.simulate(whole, phantom, client="serial", progress=False)
        orvel.orvel_init(-1)
        try:
            orvel.set_option("c", C)
            orvel.set_sampling(FS)
            th_tx, th_rx = od._build(tx), od._build(rx)
            reference, t0 = im.scan_run(sequence, th_tx, th_rx, phantom, None)
            if sequence is seq:
                for i, j in ((0, 0), (1, 0), (0, 2), (1, 2)):
                    at = im.phantom_positions(phantom, (j * 2 + i) / 4000)
                    alone, t_alone = im.scan_run(lines[i], th_tx, th_rx, *at)
                    row = int(round((t_alone - t0) * FS))
                    column = reference[row:row + alone.shape[0], i, j]
                    assert column.any() and np.array_equal(column, alone[:, 0])
        finally:
            orvel.orvel_end()
        assert result.shape == reference.shape == (reference.shape[0],) + shape
        assert result.tobytes() == reference.tobytes() and t_result == t0


def refused(call, text):
    with pytest.raises((ValueError, orvel.OrvelError)) as error:
        call()
    assert str(error.value) == text


def test_bad_input_is_refused_with_its_reason():
    region = [-2e-3, 2e-3, -1e-3, 1e-3, 10e-3, 20e-3]
    vessel = {"center": [0, 0, 15e-3], "direction": [1, 0, 0], "radius": 1e-3, "v_peak": 0.1}
    flow = lambda **change: im.phantom_flow(region, dict(vessel, **change), 1.0, 1e-9)
    refused(lambda: im.scan_ensemble(LINES, -1000, 8),
            "scan_ensemble: prf must be > 0, but is -1000")
    refused(lambda: im.scan_ensemble(LINES, 1000, 0), "scan_ensemble: ensemble must be at least "
                                                      "1, but is 0")
    seq = im.scan_ensemble(LINES, 1000, 2)
    refused(lambda: im.scan_ensemble(seq, 1000, 2), "scan_ensemble: seq is a firing sequence "
            "already (its steps have firing times t); give the sequence it was made from")
    # A firing missing would shift every later firing in slow time.
    refused(lambda: im.scan_run(seq[:-1], None, None, flow(), None),
            "scan_run: seq must hold each firing of its ensemble once (3 steps x 2 firings, as "
            "scan_ensemble makes them), but holds 5 firings")
    refused(lambda: im.scan_run(seq, None, None, flow(), [1.0]), "scan_run: amplitudes must be "
            "None when points is a moving phantom (it holds them)")
    refused(lambda: flow(center=[0, 0, 25e-3]),
            "phantom_flow: vessel.center must lie inside the region")
    refused(lambda: flow(direction=[0, 0, 0]), "phantom_flow: vessel.direction must not be zero")
    refused(lambda: im.phantom_flow([-2e-3, 2e-3, 0, 0, 10e-3, 20e-3],
                                    dict(vessel, center=[0, 0, 15e-3], direction=[1, 1, 0]),
                                    1.0, 1e-9),
            "phantom_flow: the vessel's axis must cross the region over a length > 0, but the "
            "region is flat across it")
    refused(lambda: flow(radius_mm=1), "phantom_flow: vessel has no field 'radius_mm' (its "
            "fields: center, direction, radius, v_peak, profile, clutter, tissue_velocity)")
    refused(lambda: im.phantom_motion(np.zeros((4, 3)), np.ones(4), lambda p: p[:, :2]),
            "phantom_motion: motion(points) must give an n x 3 array of finite velocities "
            "[m/s], n = 4, but gave float64 of shape (4, 2)")
    frames = im.phantom_motion(np.zeros((1, 3)), [1.0], {"times": [0, 1e-3],
                                                         "positions": np.zeros((2, 1, 3))})
    refused(lambda: im.phantom_positions(frames, 2e-3), "phantom_positions: t = 0.002 s lies "
            "outside the frames' times, from 0 to 0.001 s")
    refused(lambda: im.iq_demodulate(np.ones(64), 0.0, 100e6, 5e6, 50e6),
            "Error: The cutoff must lie between 0 and fs/2 = 5e+07 Hz, but is 5e+07")
    refused(lambda: im.iq_demodulate(np.ones(58), 0.0, 100e6, 4e6, 3.0, 5),  # 1.3e8 taps
            "Error: The cutoff 3 Hz is too low for fs = 1e+08 Hz: its filter would need more "
            "than 33554433 taps; the cutoff must be at least 2 fs / 16777216 = 11.9209 Hz")
    refused(lambda: im.clutter_filter(np.ones((2, 4)), "polynomial", 3),
            "Error: The ensemble (4 firings) must be longer than order + 1 = 4")
    refused(lambda: im.clutter_filter(np.ones(11), "fir", 0.1), "Error: The ensemble (11 "
            "firings) must be longer than the filter's 11 taps by at least one, for two outputs")
    refused(lambda: im.color_flow(np.ones((5, 1)), PRF, F0, C),
            "Error: The ensemble must hold at least 2 firings, but holds 1")
    refused(lambda: im.doppler_spectrum(np.ones(8), 0.0, F0, C, 4),  # Inf times, once
            "doppler_spectrum: prf must be a positive finite number [Hz]")
    refused(lambda: im.doppler_spectrum(np.ones(8), PRF, F0, C, 9), "Error: The window length "
            "must be from 2 to the ensemble's 8 firings, but is 9")
    refused(lambda: im.doppler_spectrum(np.full(8, 1e300), PRF, F0, C, 8), "Error: The "
            "spectrum's powers overflow the range of numbers; scale the data down")


def test_the_fir_clutter_filter_keeps_flow_and_removes_what_is_static():
    # A cutoff of 0.1 prf (K = 5): a constant is removed to rounding, a tone at 0.3 prf passes
    # within 1%, its phase kept (the low-pass it is made from is 50 dB down there).
    n = np.arange(40)
    tone = np.exp(2j * np.pi * 0.3 * n)
    out = im.clutter_filter(np.vstack([np.full(40, 3.0 + 1j), tone]), "fir", 0.1)
    assert out.shape == (2, 30) and np.abs(out[0]).max() < 1e-14
    assert np.abs(out[1] / tone[5:35] - 1).max() < 0.01


def test_the_core_gives_the_numbers_of_the_numpy_formulas():
    """The core's four commands against their formulas written in numpy, on data of several
    shapes and every option, to 1e-12 of the largest value."""
    rng = np.random.default_rng(3)

    def same(a, b):
        a, b = np.asarray(a), np.asarray(b)
        assert a.shape == b.shape
        assert np.abs(a - b).max() <= 1e-12 * max(np.abs(b).max(), 1e-300)

    rf = rng.standard_normal((301, 3, 2))
    for cutoff, decimation in ((None, 1), (3e6, 4), (9e6, 7)):
        for core, numpy in zip(im.iq_demodulate(rf, 1.3e-6, 40e6, 5e6, cutoff, decimation),
                               ref.iq_demodulate(rf, 1.3e-6, 40e6, 5e6, cutoff, decimation)):
            same(core, numpy)
    iq = rng.standard_normal((4, 5, 24)) + 1j * rng.standard_normal((4, 5, 24))
    for method, parameter in (("polynomial", 0), ("polynomial", 3), ("fir", 0.1), ("fir", 0.3)):
        same(im.clutter_filter(iq, method, parameter), ref.clutter_filter(iq, method, parameter))
    for core, numpy in zip(im.color_flow(iq, 5e3, 5e6, 1540), ref.color_flow(iq, 5e3, 5e6, 1540)):
        same(core, numpy)
    gate = iq[0]
    for L, overlap, nfft in ((8, None, None), (10, 7, 33), (24, 0, 64)):
        for core, numpy in zip(im.doppler_spectrum(gate, 5e3, 5e6, 1540, L, overlap, nfft),
                               ref.doppler_spectrum(gate, 5e3, 5e6, 1540, L, overlap, nfft)):
            same(core, numpy)
