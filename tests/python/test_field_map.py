# Field maps against the documented reduction done here, in numpy, on the signals calc_hp and
# calc_hhp return at the same points: a focused, apodized array in an attenuating medium. The
# map is the same for every thread count; the forms of the quantity list.
import numpy as np
import pytest

F0, FS, C, RHO = 3e6, 100e6, 1540.0, 1060.0
ALL = ["p_plus", "p_minus", "p_peak", "t_peak", "pii", "p_rms", "cw_amplitude", "cw_phase",
       "raw_peak", "raw_energy"]


def spectrum_at(x, first_sample, f):
    """sum x_k exp(-i 2 pi f t_k) / fs over samples at t_k = (first_sample + k) / fs."""
    k = first_sample + np.arange(x.shape[0])
    return np.exp(-2j * np.pi * f / FS * k) @ x / FS


def reduce(signals, start_time, pulse, f):
    """Every quantity of every column of an aligned result (row 0 at start_time), by the
    formulas of help calc_hp_map; pulse is the pulse of the calculation, from sample 0."""
    S = round(start_time * FS)
    u = np.pad(signals, ((4, 4), (0, 0)))
    # p_j = rho fs ((s_{j-2} - s_{j+2}) + 8 (s_{j+1} - s_{j-1})) / 12, row k at j = k - 2
    p = RHO * FS / 12 * ((u[:-4] - u[4:]) + 8.0 * (u[3:-1] - u[1:-3]))
    energy = (p ** 2).sum(axis=0) / FS
    peak = np.abs(p).max(axis=0)
    cw = spectrum_at(p, S - 2, f) / spectrum_at(pulse, 0, f)
    return {
        "p_plus": np.maximum(p.max(axis=0), 0), "p_minus": np.maximum(-p.min(axis=0), 0),
        "p_peak": peak,
        "t_peak": np.where(peak > 0, (S + np.abs(p).argmax(axis=0) - 2) / FS, np.nan),
        "pii": energy / (RHO * C), "p_rms": np.sqrt(energy / (pulse.size / FS)),
        "cw_amplitude": np.abs(cw), "cw_phase": np.angle(cw),
        "raw_peak": np.abs(signals).max(axis=0), "raw_energy": (signals ** 2).sum(axis=0) / FS,
    }


def assert_same(got, want):
    for name in ALL:
        if name == "cw_phase":  # compared as the complex wave, its phase undefined where small
            continue
        scale = np.nanmax(np.abs(want[name]))
        np.testing.assert_allclose(got[name], want[name], rtol=1e-12, atol=1e-12 * scale,
                                   err_msg=name)
    wave = lambda m: m["cw_amplitude"] * np.exp(1j * m["cw_phase"])  # noqa: E731
    assert np.abs(wave(got) - wave(want)).max() <= 1e-12 * want["cw_amplitude"].max()


@pytest.fixture
def array(system):
    orvel = system
    orvel.set_option("c", C)
    orvel.set_option("rho", RHO)
    for name, value in [("use_att", 1), ("att", 150.0), ("freq_att", 5e-5), ("att_f0", F0)]:
        orvel.set_option(name, value)
    t = np.arange(0, 2 / F0, 1 / FS)
    impulse = np.sin(2 * np.pi * F0 * t) * np.hanning(t.size)
    excitation = np.sin(2 * np.pi * F0 * t)
    tx = orvel.xdc_linear_array(32, 0.27e-3, 5e-3, 0.03e-3, 1, 5, [0, 0, 25e-3])
    rx = orvel.xdc_linear_array(32, 0.27e-3, 5e-3, 0.03e-3, 1, 5, [0, 0, 25e-3])
    for th in (tx, rx):
        orvel.xdc_impulse(th, impulse)
    orvel.xdc_excitation(tx, excitation)
    orvel.xdc_apodization(tx, 0.0, np.hanning(34)[1:-1])
    orvel.xdc_dynamic_focusing(rx, 0.0, 0.0, 0.0)
    x, z = np.meshgrid(np.linspace(-6e-3, 6e-3, 7), np.linspace(5e-3, 45e-3, 5))
    points = np.column_stack([x.ravel(), 0.5e-3 * np.ones(x.size), z.ravel()])
    pulse = np.convolve(impulse, excitation) / FS
    return orvel, tx, rx, points, pulse, np.convolve(pulse, impulse) / FS


def test_maps_are_the_reduced_signals(array):
    orvel, tx, rx, points, pulse, echo_pulse = array
    asked = ALL + [("cw", 2.5e6)]
    hp, t0 = orvel.calc_hp(tx, points)
    assert_same(orvel.calc_hp_map(tx, points, asked), reduce(hp, t0, pulse, 2.5e6))
    hhp, t1 = orvel.calc_hhp(tx, rx, points)
    assert_same(orvel.calc_hhp_map(tx, rx, points, asked), reduce(hhp, t1, echo_pulse, 2.5e6))


def test_maps_do_not_depend_on_the_thread_count(array):
    orvel, tx, rx, points, _, _ = array
    maps = []
    for threads in (1, 3):
        orvel.set_option("threads", threads)
        maps.append((orvel.calc_hp_map(tx, points, ALL + [("cw", F0)]),
                     orvel.calc_hhp_map(tx, rx, points, ALL + [("cw", F0)])))
    for one, three in zip(*maps):
        for name in ALL:
            assert np.array_equal(one[name], three[name], equal_nan=True), name


def test_quantity_lists(array):
    orvel, tx, rx, points, _, _ = array
    both = orvel.calc_hp_map(tx, points, ["P_PEAK", ("cw", F0), "pii"])
    assert list(both) == ["p_peak", "cw_amplitude", "cw_phase", "pii"]
    assert all(v.shape == (points.shape[0],) for v in both.values())
    alone = orvel.calc_hp_map(tx, points, ("cw", F0))
    assert np.array_equal(alone["cw_phase"], both["cw_phase"])
    assert np.array_equal(orvel.calc_hp_map(tx, points, "p_peak")["p_peak"], both["p_peak"])
    # A silent aperture: no pressure anywhere, so no time of a peak.
    orvel.xdc_apodization(tx, 0.0, np.zeros(32))
    silent = orvel.calc_hp_map(tx, points[:2], ["p_peak", "t_peak"])
    assert np.all(silent["p_peak"] == 0) and np.all(np.isnan(silent["t_peak"]))
    with pytest.raises(ValueError, match="more than once"):
        orvel.calc_hp_map(tx, points, [("cw", 1e6), ("cw", 2e6)])
    with pytest.raises(orvel.OrvelError, match="'p_max' is not a field quantity; the quant"):
        orvel.calc_hhp_map(tx, rx, points, ["p_max"])
