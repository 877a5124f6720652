# The same array and points through the Python package and through Orvel_mex in Octave: the
# same core gives the same numbers, bit for bit, and the same start times.
import os
import subprocess

import numpy as np

ARRAY = (16, 0.3e-3, 5e-3, 0.05e-3, 2, 3, [0.0, 0.0, 0.03])
POINTS = np.array([[0.0, 0.0, 0.02], [1e-3, 0.5e-3, 0.03], [-2e-3, 0.0, 0.045]])
AMPLITUDES = np.array([1.0, -0.5, 2.0])

OCTAVE = """
orvel_init(-1);
Th = xdc_linear_array(16, 0.3e-3, 5e-3, 0.05e-3, 2, 3, [0 0 0.03]);
f = fopen(getenv('ORVEL_PULSES'), 'r');
pulses = fread(f, Inf, 'double')';
fclose(f);
xdc_excitation(Th, pulses(1:67));
xdc_impulse(Th, pulses(68:end));
points = [0 0 0.02; 1e-3 0.5e-3 0.03; -2e-3 0 0.045];
[h, th] = calc_h(Th, points);
[hp, thp] = calc_hp(Th, points);
[sm, tsm] = calc_scat_multi(Th, Th, points, [1 -0.5 2]);
f = fopen(getenv('ORVEL_OUT'), 'w');
for m = {h, hp, sm}
  fwrite(f, size(m{1}), 'double');
  fwrite(f, m{1}, 'double');
end
fwrite(f, [th thp tsm], 'double');
fclose(f);
orvel_end();
"""


def octave_results(tmp_path, excitation, impulse):
    out = tmp_path / "octave.bin"
    pulses = tmp_path / "pulses.bin"
    np.concatenate([excitation, impulse]).tofile(pulses)  # the same bits on both sides
    script = tmp_path / "same_numbers.m"
    script.write_text(OCTAVE)
    env = dict(os.environ, ORVEL_OUT=str(out), ORVEL_PULSES=str(pulses))
    done = subprocess.run(
        [os.environ["ORVEL_OCTAVE"], "--no-gui", "--norc", "--no-history", "--quiet",
         "--path", os.environ["ORVEL_MEX_DIR"], "--path", os.environ["ORVEL_SCRIPTS"],
         str(script)], stdin=subprocess.DEVNULL, capture_output=True, text=True, env=env,
        timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    v = np.fromfile(out, dtype=np.float64)
    matrices = []
    for _ in range(3):
        rows, cols = int(v[0]), int(v[1])
        matrices.append(v[2:2 + rows * cols].reshape((rows, cols), order="F"))
        v = v[2 + rows * cols:]
    return matrices, list(v)


def test_python_and_octave_give_the_same_bits(system, tmp_path):
    orvel = system
    Th = orvel.xdc_linear_array(*ARRAY)
    excitation = np.sin(2 * np.pi * 3e6 * np.arange(67) / 100e6)  # two periods at 100 MHz
    impulse = 0.5 * (1 - np.cos(2 * np.pi * np.arange(1, 22) / 22))  # a 21-sample Hanning
    orvel.xdc_excitation(Th, excitation)
    orvel.xdc_impulse(Th, impulse)
    h, th = orvel.calc_h(Th, POINTS)
    hp, thp = orvel.calc_hp(Th, POINTS)
    sm, tsm = orvel.calc_scat_multi(Th, Th, POINTS, AMPLITUDES)
    (oh, ohp, osm), times = octave_results(tmp_path, excitation, impulse)
    for mine, theirs in ((h, oh), (hp, ohp), (sm, osm)):
        assert mine.shape == theirs.shape
        assert np.array_equal(mine, theirs)
    assert [th, thp, tsm] == times
    assert h.shape[1] == 3 and sm.shape[1] == 16 and np.abs(hp).max() > 0
