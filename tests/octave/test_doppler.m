% Motion and Doppler scripts (their usage and units in the help: test_imaging.m): each
% Doppler step against its formula evaluated plainly term by term on one small case,
% scan_ensemble's firing order, scan_run of a moving phantom with slow time last (each firing
% calc_scat of the positions at its time), the flow phantom's geometry, and refusals. The
% physics (velocities recovered from simulated flow) is checked in tests/python, and the
% numbers equal to Python's in test_imaging_octave.py.
close_to = @(a, b) isequal(size(a), size(b)) && max(abs(a(:) - b(:))) <= 1e-12 * max(abs(b(:)));
sinc = @(v) (v == 0) + (v ~= 0) .* sin(pi * v) ./ (pi * v + (v == 0));
randn('state', 11);

% ---- iq_demodulate: mix, centred low-pass (taps beyond the ends see zeros), decimate.
rf = randn(40, 2, 2);
[t0, fs, f0, fc, D] = deal(0.3e-6, 20e6, 4e6, 5e6, 3);
[iq, t0_iq, fs_iq] = iq_demodulate(rf, t0, fs, f0, fc, D);
K = ceil(2 * fs / fc);
h = zeros(1, 2 * K + 1);
for k = -K:K
  h(k + K + 1) = 2 * fc / fs * sinc(2 * fc * k / fs) * (0.5 + 0.5 * cos(pi * k / (K + 1)));
end
h = h / sum(h);
want = zeros(14, 2, 2);
for col = 1:4
  for n = 0:3:39
    y = 0;
    for k = -K:K
      if n - k >= 0 && n - k < 40
        y = y + h(k + K + 1) * 2 * rf(n - k + 1, col) * exp(-2i * pi * f0 * (t0 + (n - k) / fs));
      end
    end
    want(n / 3 + 1 + 14 * (col - 1)) = y;
  end
end
assert(close_to(iq, want) && t0_iq == t0 && fs_iq == fs / D, 'iq_demodulate');
assert(isequal(size(iq_demodulate(randn(1, 9), 0, fs, f0)), [1 9]), 'a row stays a row');

% ---- clutter_filter: the polynomial fit removed (least squares on the plain powers of n),
% and the FIR's fully overlapped outputs.
x = randn(3, 10) + 1i * randn(3, 10);
V = (0:9)' .^ (0:2);
assert(close_to(clutter_filter(x, 'polynomial', 2), x - (V * (V \ x.')).'), 'polynomial');
cutoff = 0.2;
K = ceil(0.5 / cutoff);
g = zeros(1, 2 * K + 1);
for k = -K:K
  g(k + K + 1) = 2 * cutoff * sinc(2 * cutoff * k) * (0.5 + 0.5 * cos(pi * k / (K + 1)));
end
g = -g / sum(g);
g(K + 1) = 1 + g(K + 1);
x = reshape(randn(2, 12) + 1i * randn(2, 12), 2, 1, 12);
want = zeros(2, 1, 12 - 2 * K);
for n = 0:11 - 2 * K
  for k = -K:K
    want(:, 1, n + 1) = want(:, 1, n + 1) + g(k + K + 1) * x(:, 1, n + K - k + 1);
  end
end
assert(close_to(clutter_filter(x, 'fir', cutoff), want), 'fir');
assert(isequal(size(clutter_filter(randn(12, 1), 'fir', cutoff)), [12 - 2 * K, 1]));

% ---- color_flow: lag-one autocorrelation per signal; a silent signal gives zeros.
x = randn(2, 3, 6) + 1i * randn(2, 3, 6);
x(2, 3, :) = 0;
[prf, c] = deal(5e3, 1540);
[v, p, s] = color_flow(x, prf, f0, c);
want = zeros(2, 3, 3);
for i = 1:2
  for j = 1:3
    R0 = sum(abs(x(i, j, :)) .^ 2) / 6;
    R1 = 0;
    for n = 1:5
      R1 = R1 + conj(x(i, j, n)) * x(i, j, n + 1) / 5;
    end
    if R0 > 0
      want(i, j, :) = [c * prf / (4 * pi * f0) * atan2(imag(R1), real(R1)), R0, ...
                       2 * prf ^ 2 * (1 - abs(R1) / R0)];
    end
  end
end
assert(close_to(v, want(:, :, 1)) && close_to(p, want(:, :, 2)) && close_to(s, want(:, :, 3)), ...
       'color_flow');
assert(v(2, 3) == 0 && s(2, 3) == 0 && isscalar(color_flow(x(1, 1, :)(:), prf, f0, c)));

% ---- doppler_spectrum: Hann-windowed DFTs of the gate's rows, powers summed, frequencies
% from -prf/2 (odd nfft: floor(nfft/2) bins below 0).
x = randn(2, 20) + 1i * randn(2, 20);
[L, overlap, nfft] = deal(8, 3, 11);
[spectrum, times, velocities] = doppler_spectrum(x, prf, f0, c, L, overlap, nfft);
want = zeros(nfft, 3);
for m = 0:2
  for j = 0:nfft - 1
    for gate = 1:2
      F = 0;
      for k = 0:L - 1
        F = F + (0.5 - 0.5 * cos(2 * pi * k / L)) * x(gate, 5 * m + k + 1) ...
                * exp(-2i * pi * (j - 5) * k / nfft);
      end
      want(j + 1, m + 1) = want(j + 1, m + 1) + abs(F) ^ 2;
    end
  end
end
assert(close_to(spectrum, want), 'doppler_spectrum');
assert(close_to(velocities, c * ((-5:5)' * prf / nfft) / (2 * f0)) ...
       && close_to(times, ((0:2) * 5 + 3.5) / prf), 'doppler_spectrum: axes');
assert(isequal(size(doppler_spectrum(x(1, :).', prf, f0, c, 8)), [8 4]), 'defaults: hop 4');

% ---- phantom_positions: a flow phantom built by hand; blood wraps round the segment [-2, 3)
% mm (here by repeated steps of L, not floor), the tissue moves rigidly.
u = [3 0 4] / 5;
phantom = struct('kind', 'flow', 'tissue_points', [1 2 3; -1 0 2] * 1e-3, ...
                 'tissue_amplitudes', [0.5; -2], 'tissue_velocity', [0 0 -0.01], ...
                 'center', [0 0 20e-3], 'direction', u, 's_lo', -2e-3, 's_hi', 3e-3, ...
                 'blood_s0', [-2e-3; 0; 2.9e-3], 'blood_offset', [0 1e-3 0; 4e-4 0 -3e-4; 0 0 0], ...
                 'blood_speed', [0.3; -0.7; 0.05], 'blood_amplitudes', [1; 2; 3]);
for t = [0 0.01 -0.023 0.17]
  [q, a] = phantom_positions(phantom, t);
  want = [phantom.tissue_points + t * [0 0 -0.01]; zeros(3, 3)];
  for b = 1:3
    s = phantom.blood_s0(b) + t * phantom.blood_speed(b);
    while s >= 3e-3
      s = s - 5e-3;
    end
    while s < -2e-3
      s = s + 5e-3;
    end
    want(2 + b, :) = [0 0 20e-3] + s * u + phantom.blood_offset(b, :);
  end
  assert(close_to(q, want) && isequal(a, [0.5; -2; 1; 2; 3]), 'flow phantom at t = %g', t);
end
% Frames: exact at each frame, linear between; a velocity field moves each point straight on.
frames = cat(3, [0 0 10e-3; 1e-3 0 12e-3], [0.1 0.7 1.3; 2.9 0.3 1.1] * 1e-3, ...
             [0.35 0.2 2.3; 0.6 1.7 0.45] * 1e-3);
moving = phantom_motion(zeros(2, 3), [1 -1], struct('times', [0 1e-3 3e-3], 'positions', frames));
assert(isequal(phantom_positions(moving, 1e-3), frames(:, :, 2)) ...
       && isequal(phantom_positions(moving, 3e-3), frames(:, :, 3)) ...
       && close_to(phantom_positions(moving, 2e-3), (frames(:, :, 2) + frames(:, :, 3)) / 2), 'frames');
drift = phantom_motion([0 0 1; 0 2 3], [1 2], @(p) [p(:, 3), -p(:, 2), 0 * p(:, 1)]);
assert(isequal(phantom_positions(drift, 0.5), [0.5 0 1; 1.5 1 3]), 'velocity field');

% ---- scan_ensemble: firing order and times, in both orders.
seq = scan_linear(8, 0.3e-3, 4, [-0.6e-3 0.6e-3], 15e-3);
for order = {'line', 'frame'}
  fired = scan_ensemble(seq, 2e3, 3, order{1});
  if strcmp(order{1}, 'line')
    steps = [1 1 1 2 2 2];
    firings = [1 2 3 1 2 3];
  else
    steps = [1 2 1 2 1 2];
    firings = [1 1 2 2 3 3];
  end
  assert(isequal([fired.step_index], steps) && isequal([fired.firing], firings) ...
         && close_to([fired.t], (0:5) / 2e3) && isequal([fired.x], [seq(steps).x]) ...
         && all([fired.steps] == 2 & [fired.ensemble] == 3 & [fired.prf] == 2e3) ...
         && all(strcmp({fired.order}, order{1})), 'scan_ensemble, order %s', order{1});
end

% ---- scan_run of a moving phantom: firing j of line i at rf(:, i, j), the calc_scat of the
% positions at its time alone, placed by its start (fired line by line, so that the firing
% order is not the layout's); transmits with slow time last too.
orvel_init(-1);
fs = 100e6;
set_sampling(fs);
tx = xdc_linear_array(8, 0.25e-3, 3e-3, 0.05e-3, 1, 1, [0 0 15e-3]);
rx = xdc_linear_array(8, 0.25e-3, 3e-3, 0.05e-3, 1, 1, [0 0 15e-3]);
xdc_impulse(tx, sin(2 * pi * 5e6 * (0:39) / fs) .* hanning(40)');
flow = phantom_motion([0 0 12e-3; 0.5e-3 0 14e-3; -1e-3 0 16e-3], [1 -0.5 0.8], ...
                      @(p) [0 * p(:, 1), 0 * p(:, 1), -0.5 + 20 * p(:, 1)]);
fired = scan_ensemble(seq, 1e3, 3, 'line');
evalc('[rf, t0] = scan_run(fired, tx, rx, flow, []);');
assert(isequal(size(rf, [2 3]), [2 3]) && numel(unique([fired.t])) == 6);
for k = 1:6
  scan_apply(fired(k), tx, rx);
  [q, a] = phantom_positions(flow, fired(k).t);
  [alone, start] = calc_scat(tx, rx, q, a);
  want = zeros(rows(rf), 1);
  want(round((start - t0) * fs) + (1:rows(alone))) = alone;
  assert(isequal(rf(:, fired(k).step_index, fired(k).firing), want), 'scan_run firing %d', k);
end
evalc('rf = scan_run(scan_ensemble(scan_planewave(8, 0.3e-3, 0, 1540), 1e3, 2), tx, rx, flow, []);');
assert(isequal(size(rf, [2 3 4]), [8 1 2]) && any(rf(:, :, 1, 1)(:) ~= rf(:, :, 1, 2)(:)));
expect_error(@() scan_run(fired, tx, rx, flow, [1 2 3]), ...
             'scan_run: amplitudes must be [] when points is a moving phantom');
expect_error(@() scan_run(fired([1:5 5]), tx, rx, flow, []), ['scan_run: seq must hold ' ...
             'each firing of its ensemble (2 steps, 3 firings each) once, as scan_ensemble gives them']);
xdc_free(tx);
xdc_free(rx);
orvel_end();

% ---- phantom_flow: the axis's chord through the box (here 8/sin(60 deg) long, bounded by
% x), blood inside the vessel at its parabolic speed, no tissue inside it; the caller's
% random state kept.
vessel = struct('center', [0 0 20e-3], 'direction', [sin(pi / 3) 0 -cos(pi / 3)], ...
                'radius', 1e-3, 'v_peak', 0.4, 'clutter', 10);
rand('state', 3);
before = rand('state');
ph = phantom_flow([-4e-3 4e-3 -3e-3 3e-3 14e-3 26e-3], vessel, 5, 0.2e-9, 2);
assert(isequal(rand('state'), before), 'phantom_flow changed the caller''s generator');
half = 4e-3 / sin(pi / 3);
assert(abs(ph.s_lo + half) < 1e-15 && abs(ph.s_hi - half) < 1e-15 ...
       && numel(ph.blood_s0) == round(5 * pi * 1e-6 * 2 * half / 0.2e-9), 'chord and count');
r = sqrt(sum(ph.blood_offset .^ 2, 2));
along = (ph.tissue_points - [0 0 20e-3]) * ph.direction';
across = sqrt(sum((ph.tissue_points - [0 0 20e-3] - along .* ph.direction) .^ 2, 2));
assert(max(abs(ph.blood_offset * ph.direction')) < 1e-18 && all(r < 1e-3) ...
       && all(ph.blood_s0 >= ph.s_lo & ph.blood_s0 < ph.s_hi) ...
       && close_to(ph.blood_speed, 0.4 * (1 - (r / 1e-3) .^ 2)) ...
       && all(across >= 1e-3 | along < ph.s_lo | along >= ph.s_hi) ...
       && std(ph.tissue_amplitudes) > 5, 'flow phantom');

% ---- Refusals.
expect_error(@() phantom_flow([0 1 0 1 0 1] * 1e-2, setfield(vessel, 'center', [0 0 0.02]), 1, 1e-9), ...
             'phantom_flow: vessel.center must lie inside the region');
expect_error(@() clutter_filter(ones(2, 4), 'polynomial', 3), ...
             'clutter_filter: the ensemble (4 firings) must be longer than order + 1 = 4');
expect_error(@() clutter_filter(ones(1, 11), 'fir', 0.1), ['clutter_filter: the ensemble ' ...
             '(11 firings) must be longer than the filter''s 2K + 1 = 11 taps by at least one ' ...
             '(12 firings), for two outputs']);
expect_error(@() iq_demodulate(ones(8, 1), 0, 20e6, 12e6), ...
             'iq_demodulate: cutoff must lie between 0 and fs/2 = 1e+07 Hz, but is 1.2e+07');
expect_error(@() color_flow(1 + 1i, 1e3, 5e6, 1540), ...
             'color_flow: the ensemble must hold at least 2 firings, but holds 1');
expect_error(@() doppler_spectrum(ones(2, 10), 1e3, 5e6, 1540, 11), ...
             'doppler_spectrum: window_length must be a whole number from 2 to the ensemble''s 10 firings');
expect_error(@() phantom_positions(moving, 3.5e-3), ['phantom_positions: t must lie within the ' ...
             'frames'' times, 0 to 0.003 s, but is 0.0035']);
expect_error(@() phantom_motion([0 0 1], 1, @(p) [1 2]), ['phantom_motion: motion(points) must ' ...
             'return an n x 3 = 1 x 3 matrix of finite real velocities [m/s], but returned [1 2]']);
expect_error(@() scan_ensemble(seq, 1e3, 2, 'step'), 'scan_ensemble: order must be ''line'' or ''frame''');
disp('test_doppler: passed');
