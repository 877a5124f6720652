# Channel data and images as HDF5 in the layout of the ultrasound file format (UFF), as .npz
# and as Octave's .mat: round trips in Python, the groups and attributes of a written file as
# plain h5py lists them against the layout the format documents, the format's wave model
# (read with h5py alone) focusing simulated echoes on their target, and Python -> Octave ->
# Python through Octave's reading of HDF5 and its .mat files.
import os
import subprocess

import h5py
import numpy as np
import pytest

import orvel
import orvel.imaging as im

RNG = np.random.default_rng(20260611)
C, FS, N, PITCH = 1540.0, 40e6, 8, 0.3e-3
X_E = (np.arange(1, N + 1) - (N + 1) / 2) * PITCH


def cases():
    """name: (seq, rf, keywords): every kind of step, one wave, a firing sequence, IQ data."""
    sources = [[0.0, 0.0, -4e-3], [1e-3, 0.5e-3, -6e-3]]
    fired = im.scan_ensemble(im.scan_planewave(N, PITCH, [0.0, 0.1], C), 4e3, 3, "frame")
    iq = RNG.normal(size=(40, N, N)) + 1j * RNG.normal(size=(40, N, N))
    return {
        "plane": (im.scan_planewave(N, PITCH, [-0.1, 0.05, 0.2], C),
                  RNG.normal(size=(40, N, 3)),
                  dict(lag=0.3e-6, element_size=RNG.uniform(1e-4, 5e-3, (N, 2)))),
        "diverging": (im.scan_diverging(N, PITCH, sources, C), RNG.normal(size=(40, N, 2)),
                      dict(prf=2.5e3)),
        "element": (im.scan_sta(N), iq, dict(modulation_frequency=5e6)),
        "line": (im.scan_linear(N, PITCH, 4, [-1e-3, 0.0, 1e-3], 20e-3),
                 RNG.normal(size=(40, N, 3)), {}),
        "one_wave": (im.scan_phased(N, [0.1], 30e-3), RNG.normal(size=(40, N)), {}),
        "ensemble": (fired, RNG.normal(size=(40, N, 2, 3)), {}),
    }


def same_steps(mine, expected):
    assert len(mine) == len(expected)
    for a, b in zip(mine, expected):
        assert list(a) == list(b), "the steps' fields differ"
        for key in b:
            assert (a[key] is None) == (b[key] is None), key
            assert b[key] is None or np.array_equal(a[key], b[key]), key


@pytest.mark.parametrize("name", sorted(cases()))
@pytest.mark.parametrize("suffix", [".uff", ".npz"])
def test_channel_round_trip(tmp_path, name, suffix):
    seq, rf, keywords = cases()[name]
    file = tmp_path / ("data" + suffix)
    im.uff_write_channel(file, rf, 2.1e-6, FS, C, X_E, seq, **keywords)
    d = im.uff_read_channel(file)
    assert d["rf"].dtype == rf.dtype and np.array_equal(d["rf"], rf)
    assert (d["t0"], d["fs"], d["c"]) == (2.1e-6, FS, C)
    assert d["lag"] == keywords.get("lag", 0.0)
    assert d["initial_time"] == 2.1e-6 - d["lag"]
    assert d["prf"] == keywords.get("prf", 4e3 if name == "ensemble" else None)
    assert d["order"] == ("frame" if name == "ensemble" else None)
    assert d["modulation_frequency"] == keywords.get("modulation_frequency", 0.0)
    assert np.array_equal(d["elements"], np.column_stack([X_E, np.zeros((N, 2))]))
    assert np.array_equal(d["element_size"], keywords.get("element_size", np.zeros((N, 2))))
    steps = [s for s in seq if s.get("firing", 0) == 0]
    base = ("kind", "angle", "x", "tx_apodization", "rx_apodization", "tx_focus", "rx_center",
            "tx_delays", "source", "element")
    same_steps(d["sequence"], [{k: s[k] for k in base if k in s} for s in steps])
    assert d["wave_source"].shape == (len(steps), 3) and d["wave_delay"].shape == (len(steps),)


def test_a_refused_write_leaves_the_file(tmp_path):
    file = tmp_path / "data.uff"
    seq, rf, _ = cases()["plane"]
    im.uff_write_channel(file, rf, 0.0, FS, C, X_E, seq)
    before = file.read_bytes()
    with pytest.raises(ValueError, match="rf must be samples x 8 elements x 3 steps"):
        im.uff_write_channel(file, rf[:, :, :2], 0.0, FS, C, X_E, seq)
    with pytest.raises(ValueError, match="must end in"):
        im.uff_write_channel(tmp_path / "data.txt", rf, 0.0, FS, C, X_E, seq)
    assert file.read_bytes() == before and os.listdir(tmp_path) == ["data.uff"]


# The layout as the format describes it (groups: class; datasets: class and shape as h5py
# sees it, MATLAB's dimensions reversed) for three plane waves of 8 elements and 40 samples.
def documented_channel_layout(waves):
    numbers = ("double", (1, 1))
    point = {"": "uff.point", "/distance": numbers, "/azimuth": numbers, "/elevation": numbers}
    layout = {"channel_data": "uff.channel_data", "channel_data/data": ("double", (waves, N, 40)),
              "channel_data/sampling_frequency": numbers, "channel_data/initial_time": numbers,
              "channel_data/sound_speed": numbers, "channel_data/modulation_frequency": numbers,
              "channel_data/probe": "uff.probe",
              "channel_data/probe/geometry": ("double", (7, N)),
              "channel_data/sequence": "uff.wave"}
    layout.update({"channel_data/probe/origin" + k: v for k, v in point.items()})
    for w in range(1, waves + 1):
        wave = "channel_data/sequence/sequence_%04d" % w
        layout.update({wave: "uff.wave", wave + "/wavefront": ("uff.wavefront", (1, 1)),
                       wave + "/delay": numbers, wave + "/sound_speed": numbers,
                       wave + "/apodization": "uff.apodization",
                       wave + "/apodization/apodization_vector": ("double", (1, N))})
        layout.update({wave + "/source" + k: v for k, v in point.items()})
        layout.update({wave + "/origin" + k: v for k, v in point.items()})
    return layout


def listed_layout(f, under):
    found = {}

    def visit(name, obj):
        cls = obj.attrs["class"].decode()
        found[under + "/" + name] = (cls, obj.shape) if isinstance(obj, h5py.Dataset) else cls
    f[under].visititems(visit)
    found[under] = f[under].attrs["class"].decode()
    return found


def test_the_file_has_the_documented_groups_and_attributes(tmp_path):
    seq, rf, _ = cases()["plane"]
    file = tmp_path / "plane.uff"
    im.uff_write_channel(file, rf, 1e-6, FS, C, X_E, seq, element_size=[0.27e-3, 4e-3])
    with h5py.File(file, "r") as f:
        assert f.attrs["version"] == "v1.2.0"
        assert set(f) == {"channel_data", "orvel"} and "class" not in f["orvel"].attrs
        assert listed_layout(f, "channel_data") == documented_channel_layout(3)
        g = f["channel_data"]
        assert list(g["sequence"].attrs["size"]) == [1, 3] and g["sequence"].attrs["array"] == 1
        assert g["probe"].attrs["array"] == 0 and list(g["probe"].attrs["size"]) == [1, 1]
        assert g["data"].attrs["complex"] == 0 and g["data"].attrs["name"] == b"data"
        assert np.array_equal(g["data"][()], rf.T)            # samples fastest, as in MATLAB
        geometry = g["probe/geometry"][()].T                  # [x y z az el width height]
        assert np.array_equal(geometry, np.column_stack(
            [X_E, np.zeros((N, 4)), np.full(N, 0.27e-3), np.full(N, 4e-3)]))
        wave = g["sequence/sequence_0003"]
        assert wave["wavefront"][()].item() == 0 and wave["source/azimuth"][()].item() == 0.2
        assert wave["source/distance"][()].item() == np.inf
    image = RNG.normal(size=(5, 4, 2)) + 1j * RNG.normal(size=(5, 4, 2))
    file = tmp_path / "image.uff"
    im.uff_write_image(file, image, np.arange(4) * 1e-3, 10e-3 + np.arange(5) * 1e-3)
    with h5py.File(file, "r") as f:
        found = listed_layout(f, "beamformed_data")
        data = f["beamformed_data/data"]
        pixels = data["real"][()] + 1j * data["imag"][()]
        assert data.attrs["complex"] == 1 and data["imag"].attrs["imaginary"] == 1
    numbers = ("double", (1, 1))
    assert found == {"beamformed_data": "uff.beamformed_data",
                     "beamformed_data/scan": "uff.linear_scan",
                     "beamformed_data/scan/x_axis": ("double", (1, 4)),
                     "beamformed_data/scan/z_axis": ("double", (1, 5)),
                     "beamformed_data/data": "double",
                     "beamformed_data/data/real": ("double", (2, 1, 20)),
                     "beamformed_data/data/imag": ("double", (2, 1, 20)),
                     "beamformed_data/modulation_frequency": numbers}
    # Pixels depth first, as the linear scan orders them (x slowest).
    assert np.array_equal(pixels[1, 0], image[:, :, 1].ravel(order="F"))


def test_a_file_of_another_writer_is_read_by_its_layout(tmp_path):
    """Attributes as variable-length text and integers, one wave as a list of one, no orvel
    group: channel data of two elements, one plane wave, 5 samples."""
    file = tmp_path / "other.uff"
    data = RNG.normal(size=(5, 2, 1))
    with h5py.File(file, "w") as f:
        f.attrs["version"] = "v1.2.0"

        def group(parent, name, cls, listed=0):
            g = parent.create_group(name)
            g.attrs.update({"class": cls, "name": name, "size": np.array([1, 1]),
                            "array": np.array([listed])})
            return g
        g = group(f, "channel_data", "uff.channel_data")
        for name, value in (("sampling_frequency", [[20e6]]), ("initial_time", [[4e-6]]),
                            ("sound_speed", [[1500.0]]), ("PRF", [[1e3]]), ("data", data.T)):
            g.create_dataset(name, data=np.array(value, dtype=np.float32))
        group(g, "probe", "uff.probe").create_dataset(
            "geometry", data=np.array([[-1e-3, 0, 0, 0, 0, 2e-4, 3e-3],
                                       [1e-3, 0, 0, 0, 0, 2e-4, 3e-3]]).T)
        wave = group(group(g, "sequence", "uff.wave", 1), "sequence_0001", "uff.wave")
        wave.create_dataset("wavefront", data=np.array([[0]]))
        source = group(wave, "source", "uff.point")
        for name, value in (("distance", np.inf), ("azimuth", 0.25), ("elevation", 0.0)):
            source.create_dataset(name, data=np.array([[value]]))
    d = im.uff_read_channel(file)
    assert np.array_equal(d["rf"], data.astype(np.float32))
    assert (d["fs"], d["t0"], d["initial_time"], d["lag"], d["c"], d["prf"]) == (
        20e6, np.float32(4e-6), np.float32(4e-6), 0.0, 1500.0, 1e3)
    assert np.array_equal(d["elements"], [[-1e-3, 0, 0], [1e-3, 0, 0]])
    assert np.array_equal(d["element_size"], [[2e-4, 3e-3]] * 2)
    assert d["sequence"] is None and d["order"] is None
    assert list(d["wave_wavefront"]) == [0] and list(d["wave_delay"]) == [0]
    assert np.array_equal(d["wave_source"], [[np.inf, 0.25, 0.0]])


@pytest.mark.parametrize("points", [False, True])
@pytest.mark.parametrize("suffix", [".uff", ".npz"])
def test_image_round_trip(tmp_path, points, suffix):
    x, z = np.linspace(-2e-3, 2e-3, 6), np.linspace(5e-3, 9e-3, 7)
    image = RNG.normal(size=(7, 6) if not points else (9, 3))
    where = (RNG.normal(size=(9, 3)), None) if points else (x, z)
    im.uff_write_image(tmp_path / ("i" + suffix), image, *where, modulation_frequency=3e6)
    d = im.uff_read_image(tmp_path / ("i" + suffix))
    assert np.array_equal(d["image"], image) and d["modulation_frequency"] == 3e6
    if points:
        assert np.array_equal(d["points"], where[0]) and "x" not in d
    else:
        assert np.array_equal(d["x"], x) and np.array_equal(d["z"], z)


# The format's model, read from the file with h5py alone: the wave reaches p at tx(p)/c - delay
# on the data's axis initial_time + k/fs, tx = u.p (plane), |p - s| - |s| (source behind the
# array), |s| -+ |p - s| (source in front or on it, minus before it), and the echo of p comes
# back |p - e|/c later at element e.
def format_das(file, grid):
    with h5py.File(file, "r") as f:
        g = f["channel_data"]
        rf = g["data"][()].T.reshape(g["data"].shape[::-1][:2] + (-1,))
        t_first, fs, c = (g[k][()].item() for k in ("initial_time", "sampling_frequency",
                                                    "sound_speed"))
        e = g["probe/geometry"][()].T[:, :3]
        waves = g["sequence"]
        waves = [waves[k] for k in sorted(waves)] if waves.attrs["array"] else [waves]
        image = np.zeros(len(grid))
        for w, wave in enumerate(waves):
            d, az, el = (wave["source/" + k][()].item() for k in ("distance", "azimuth",
                                                                  "elevation"))
            u = np.array([np.sin(az) * np.cos(el), np.sin(el), np.cos(az) * np.cos(el)])
            if wave["wavefront"][()].item() == 0:
                tx = grid @ u
            else:
                r = np.linalg.norm(grid - d * u, axis=1)
                tx = r - d if d * u[2] < 0 else d + np.where(grid[:, 2] < d * u[2], -r, r)
            t = (tx[:, None] / c - wave["delay"][()].item()
                 + np.linalg.norm(grid[:, None, :] - e[None], axis=2) / c)
            k = (t - t_first) * fs
            i = np.floor(k).astype(int)
            inside = (i >= 0) & (i + 1 < rf.shape[0])
            i, a, cols = np.where(inside, i, 0), k - np.floor(k), np.arange(len(e))
            image += np.where(inside, (1 - a) * rf[i, cols, w] + a * rf[i + 1, cols, w], 0).sum(1)
    return image


def test_the_format_model_focuses_simulated_echoes_on_the_target(tmp_path, system):
    fs, f0, n, kerf = 100e6, 5e6, 16, 0.03e-3
    excitation = np.sin(2 * np.pi * f0 * np.arange(0, 2 / f0, 1 / fs))
    impulse = excitation * np.hanning(excitation.size)
    lag = (2 * impulse.size + excitation.size - 3) / (2 * fs)
    orvel.set_sampling(fs)
    tx, rx = (orvel.xdc_linear_array(n, PITCH - kerf, 4e-3, kerf, 1, 1, [0, 0, 20e-3])
              for _ in range(2))
    for th in (tx, rx):
        orvel.xdc_impulse(th, impulse)
    orvel.xdc_excitation(tx, excitation)
    target = np.array([1e-3, 0.0, 14e-3])
    runs = {"plane": im.scan_planewave(n, PITCH, [-0.15, 0.1], C),
            "diverging": im.scan_diverging(n, PITCH, [[0.5e-3, 0.0, -6e-3]], C),
            "element": im.scan_sta(n)}
    for name, seq in runs.items():
        runs[name] = (target, seq) + im.scan_run(seq, tx, rx, target[None], [1.0])
    # A focused line of scan_linear off the centre (so that the format's time origin, the
    # wave at (0, 0, 0), and Orvel's, the line's origin, differ by 230 ns), its transmit as
    # scan_apply sets it, each element received alone (no receive focusing).
    line, beside = im.scan_linear(n, PITCH, 8, [2.1e-3], 6e-3), np.array([2.2e-3, 0.0, 14e-3])
    orvel.xdc_apodization(tx, 0.0, line[0]["tx_apodization"].reshape(1, -1))
    orvel.xdc_center_focus(tx, line[0]["rx_center"])
    orvel.xdc_focus(tx, 0.0, line[0]["tx_focus"])
    orvel.xdc_focus_delays(rx, 0.0, np.zeros((1, n)))
    runs["line"] = (beside, line) + orvel.calc_scat_multi(tx, rx, beside[None], [1.0])
    step = 0.025e-3
    for name, (target, seq, rf, t0) in runs.items():
        file = tmp_path / (name + ".uff")
        im.uff_write_channel(file, rf, t0, fs, C, im.element_positions(rx), seq, lag=lag)
        x, z = np.meshgrid(target[0] + np.arange(-40, 41) * step,
                           target[2] + np.arange(-40, 41) * step)
        grid = np.column_stack([x.ravel(), np.zeros(x.size), z.ravel()])
        peak = grid[np.argmax(np.abs(format_das(file, grid)))]
        # A timing error of dt moves the echo c*dt/2 in depth: within lambda/6 (0.05 mm, two
        # grid steps) the arrival times agree to 65 ns of the 585 ns pulse delay and of the
        # 100 - 300 ns wave delays. Laterally the 4.8 mm aperture resolves about 0.9 mm at
        # 14 mm: within half a wavelength.
        assert abs(peak[2] - target[2]) <= 2 * step + 1e-12, (name, peak - target)
        assert abs(peak[0] - target[0]) <= 0.154e-3, (name, peak - target)


def read_octave_dump(path):
    """The arrays that Octave's save_array wrote, by name (column-major)."""
    v, out = np.fromfile(path, dtype=np.float64), {}
    while v.size:
        k = int(v[0])
        name = "".join(chr(int(ch)) for ch in v[1:1 + k])
        ndim = int(v[1 + k])
        shape = tuple(int(d) for d in v[2 + k:2 + k + ndim])
        start, size = 2 + k + ndim, int(np.prod(shape))
        out[name] = v[start:start + size].reshape(shape, order="F")
        v = v[start + size:]
    return out


OCTAVE = r"""
1;
function save_array(f, name, a)
  fwrite(f, [numel(name) double(name) ndims(a) size(a)], 'double');
  fwrite(f, double(a), 'double');
end
function save_read(f, name, d)
  for field = {'rf', 'elements', 'element_size', 'wave_source', 'image', 'points', 'x', 'z'}
    if isfield(d, field{1})
      save_array(f, [name '.' field{1} '.re'], real(d.(field{1})));
      save_array(f, [name '.' field{1} '.im'], imag(d.(field{1})));
    end
  end
  numbers = {'t0', 'lag', 'fs', 'c', 'prf', 'modulation_frequency', 'initial_time', ...
             'wave_wavefront', 'wave_delay'};
  for field = numbers
    if isfield(d, field{1})
      save_array(f, [name '.' field{1}], d.(field{1}));
    end
  end
  if isfield(d, 'sequence')
    s = d.sequence;
    [~, kind] = ismember({s.kind}, {'line', 'plane', 'diverging', 'element'});
    save_array(f, [name '.order'], find(strcmp(d.order, {'line', 'frame'})));
    save_array(f, [name '.seq.kind'], kind);
    for field = {'angle', 'x', 'element'}
      if isfield(s, field{1})
        save_array(f, [name '.seq.' field{1}], [s.(field{1})]);
      end
    end
    for field = {'tx_apodization', 'rx_apodization', 'tx_focus', 'rx_center', 'tx_delays', ...
                 'source'}
      if isfield(s, field{1})
        save_array(f, [name '.seq.' field{1}], vertcat(s.(field{1})));
      end
    end
  end
end
f = fopen(getenv('ORVEL_OUT'), 'w');
folder = getenv('ORVEL_IN');
for name = strsplit(getenv('ORVEL_CHANNELS'), ',')
  d = uff_read_channel(fullfile(folder, [name{1} '.uff']));
  save_read(f, name{1}, d);
  uff_write_channel(fullfile(folder, [name{1} '.mat']), d.rf, d.t0, d.fs, d.c, d.elements, ...
                    d.sequence, struct('lag', d.lag, 'prf', d.prf, 'element_size', ...
                    d.element_size, 'modulation_frequency', d.modulation_frequency, ...
                    'order', d.order));
end
for name = {'grid', 'points'}
  d = uff_read_image(fullfile(folder, [name{1} '.uff']));
  save_read(f, name{1}, d);
  if isfield(d, 'x')
    [x, z] = deal(d.x, d.z);
  else
    [x, z] = deal(d.points, []);
  end
  uff_write_image(fullfile(folder, [name{1} '.mat']), d.image, x, z, ...
                  struct('modulation_frequency', d.modulation_frequency));
end
try
  uff_write_channel(fullfile(folder, 'refused.uff'), d.image, 0, 1, 1, [0 0 0], scan_sta(1));
catch err
  save_array(f, 'refused', double(err.message));
end
fclose(f);
"""


@pytest.fixture(scope="module")
def octave(tmp_path_factory):
    """Python writes .uff files; Octave reads them (its fields dumped) and writes them again
    as .mat: (folder, Octave's fields by name)."""
    folder = tmp_path_factory.mktemp("uff_octave")
    channels = cases()
    for name, (seq, rf, keywords) in channels.items():
        im.uff_write_channel(folder / (name + ".uff"), rf, 3.3e-6, FS, C, X_E, seq, **keywords)
    image = RNG.normal(size=(7, 6, 2)) + 1j * RNG.normal(size=(7, 6, 2))
    im.uff_write_image(folder / "grid.uff", image, np.linspace(-2e-3, 3e-3, 6),
                       np.linspace(5e-3, 9e-3, 7), modulation_frequency=4e6)
    im.uff_write_image(folder / "points.uff", RNG.normal(size=(5, 3)), RNG.normal(size=(5, 3)),
                       None)
    script = folder / "uff.m"
    script.write_text(OCTAVE)
    out = folder / "octave.bin"
    scripts = os.environ["ORVEL_SCRIPTS"]
    env = dict(os.environ, ORVEL_IN=str(folder), ORVEL_OUT=str(out),
               ORVEL_CHANNELS=",".join(channels))
    done = subprocess.run(
        [os.environ["ORVEL_OCTAVE"], "--no-gui", "--norc", "--no-history", "--quiet",
         "--path", os.environ["ORVEL_MEX_DIR"], "--path", scripts,
         "--path", os.path.join(scripts, "imaging"), str(script)],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, env=env, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    return folder, read_octave_dump(out)


def octave_value(dump, key):
    if key + ".re" in dump:
        return dump[key + ".re"] + 1j * dump[key + ".im"]
    return dump[key]


def test_octave_reads_the_hdf5_that_python_writes(octave):
    folder, dump = octave
    kinds = ["line", "plane", "diverging", "element"]
    for name in cases():
        mine = im.uff_read_channel(folder / (name + ".uff"))
        for key in ("rf", "elements", "element_size", "wave_source", "t0", "lag", "fs", "c",
                    "modulation_frequency", "initial_time", "wave_wavefront", "wave_delay"):
            theirs = octave_value(dump, name + "." + key)
            assert np.array_equal(np.reshape(theirs, np.shape(mine[key])), mine[key]), key
            assert np.ndim(mine[key]) < 2 or theirs.shape[:2] == np.shape(mine[key])[:2], key
        prf = dump[name + ".prf"]
        assert (prf.size == 0) if mine["prf"] is None else prf.item() == mine["prf"]
        assert dump[name + ".order"].size == (mine["order"] is not None)
        seq = mine["sequence"]
        assert np.array_equal(dump[name + ".seq.kind"].ravel(),
                              [kinds.index(s["kind"]) + 1 for s in seq])
        for key in seq[0]:
            if key != "kind" and seq[0][key] is not None:
                rows = np.array([np.asarray(s[key], dtype=np.float64) for s in seq])
                rows += (key == "element")             # Octave counts elements from 1
                assert np.array_equal(dump[name + ".seq." + key].reshape(rows.shape), rows), key
    for name in ("grid", "points"):
        mine = im.uff_read_image(folder / (name + ".uff"))
        for key, value in mine.items():
            assert np.array_equal(np.reshape(octave_value(dump, name + "." + key),
                                             np.shape(value)), value), (name, key)
    assert "write a .mat file" in "".join(map(chr, dump["refused"].astype(int).ravel()))


def test_python_reads_the_mat_that_octave_writes(octave):
    folder, _ = octave
    for name in cases():
        mine = im.uff_read_channel(folder / (name + ".uff"))
        theirs = im.uff_read_channel(folder / (name + ".mat"))
        assert list(theirs) == list(mine)
        for key, value in mine.items():
            if key == "sequence":
                same_steps(theirs[key], value)
            elif key in ("wave_source", "wave_delay"):
                # Computed again, in Octave: a delay is the difference of times of some
                # microseconds, so a few of their last digits (4 ulps of 10 us).
                np.testing.assert_allclose(theirs[key], value, rtol=1e-14,
                                           atol=4 * np.spacing(1e-5))
            else:
                assert type(theirs[key]) is type(value), key
                assert value is None or np.array_equal(theirs[key], value), (name, key)
    for name in ("grid", "points"):
        mine = im.uff_read_image(folder / (name + ".uff"))
        theirs = im.uff_read_image(folder / (name + ".mat"))
        assert sorted(theirs) == sorted(mine)
        for key, value in mine.items():
            assert np.array_equal(np.reshape(theirs[key], np.shape(value)), value), (name, key)
