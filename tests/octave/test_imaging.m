% The imaging scripts on real apertures and files: what a scan step sets in the apertures,
% scan_run's common time axis against calc_scat of each line alone, phantoms from a matrix
% and from picture files, the PNG pictures of show_image, acoustic_output's struct, its
% refusals and the attenuation options it sets back, and das_beamform's layout of das_image.
orvel_init(-1);
fs = 100e6;
c = 1540;
set_sampling(fs);
set_option('c', c);
n = 16;
p = 0.35e-3;                                  % pitch: width 0.3 mm + kerf 0.05 mm
x_e = ((1:n) - (n + 1) / 2) * p;              % element centres
tx = xdc_linear_array(n, 0.3e-3, 5e-3, 0.05e-3, 1, 1, [0 0 30e-3]);
rx = xdc_linear_array(n, 0.3e-3, 5e-3, 0.05e-3, 1, 1, [0 0 30e-3]);
pulse = sin(2 * pi * 5e6 * (0:39) / fs) .* hanning(40)';
xdc_impulse(tx, pulse);
xdc_impulse(rx, pulse);
xdc_excitation(tx, sin(2 * pi * 5e6 * (0:19) / fs));

% ---- scan_apply puts a step into the apertures (the steps' own numbers are checked against
% their formulas in tests/python, test_imaging.py, and equal to these in test_imaging_octave.py).
% A line: its apodizations, the transmit delays of xdc_focus for its focus point (up to the
% common term of the reference point), the receive reference point and direction of the dynamic
% focus, and no stored receive delays. A plane wave: its delays, and none on receive.
for step = {scan_linear(n, p, 8, [0 2e-3], 25e-3)(2), scan_phased(n, [-0.3 0.25], 20e-3)(2)}
  step = step{1};
  scan_apply(step, tx, rx);
  assert(isequal(xdc_get(tx, 'apod'), [0; step.tx_apodization(:)]) ...
         && isequal(xdc_get(rx, 'apod'), [0; step.rx_apodization(:)]) ...
         && nnz(step.tx_apodization) > 0, 'line at %g rad, %g mm: apodization', step.angle, step.x);
  focus = xdc_get(tx, 'focus');
  travel = sqrt((step.tx_focus(1) - x_e').^2 + step.tx_focus(3)^2) / c;  % element to focus
  assert(columns(focus) == 1 && max(abs((focus(2:end) - focus(2)) - (travel(1) - travel))) < 1e-16, ...
         'line at %g rad, %g mm: transmit delays', step.angle, step.x);
  assert(isequal(xdc_get(rx, 'focus'), zeros(n + 1, 1)));
  shown = evalc('xdc_show(rx, ''focus'')');
  ref = regexp(shown, 'reference point for focusing is at\s+\(x,y,z\) = \(\s*([-\d.]+),\s*([-\d.]+),\s*([-\d.]+)\) mm', 'tokens', 'once');
  assert(~isempty(ref) && max(abs(str2double(ref(:)') - step.rx_center * 1e3)) < 1e-4, shown);
  assert(~isempty(regexp(shown, sprintf('Dynamic along:\\s+%.4f deg\\.', step.angle * 180 / pi), 'once')), shown);
end
step = scan_planewave(n, p, -0.2, c);
scan_apply(step, tx, rx);
assert(isequal(xdc_get(tx, 'focus'), [0; step.tx_delays(:)]) && any(step.tx_delays ~= 0) ...
       && isequal(xdc_get(rx, 'focus'), zeros(n + 1, 1)), 'plane-wave delays');
assert(isequal(xdc_get(tx, 'apod'), [0; ones(n, 1)]) && isequal(xdc_get(rx, 'apod'), [0; ones(n, 1)]));

% ---- scan_run: each line is calc_scat of that line alone, placed by its start time on one
% axis starting at the earliest; plane waves likewise with calc_scat_multi, one page each.
points = [0 0 12e-3; -3e-3 0 16e-3; 4e-3 0.5e-3 20e-3];
amplitudes = [1 -0.7 0.5];
tests = {scan_phased(n, [-0.4 0 0.35], 15e-3), scan_linear(n, p, 6, [-2e-3 1.5e-3], 14e-3), ...
         scan_planewave(n, p, [-0.15 0.1], c)};
words = {'line', 'line', 'transmit'};
set_sampling(100e6 / 3);  % printed by orvel_info as 33.3333 MHz; scan_run reads it exactly
fs = 100e6 / 3;
for s = 1:numel(tests)
  seq = tests{s};
  out = evalc('[rf, t0] = scan_run(seq, tx, rx, points, amplitudes);');
  assert(~isempty(strfind(out, sprintf('scan_run: %s %d of %d', words{s}, numel(seq), numel(seq)))), out);
  starts = zeros(1, numel(seq));
  last = 0;
  for k = 1:numel(seq)
    scan_apply(seq(k), tx, rx);
    if strcmp(seq(k).kind, 'line')
      [alone, starts(k)] = calc_scat(tx, rx, points, amplitudes);
      got = rf(:, k);
    else
      [alone, starts(k)] = calc_scat_multi(tx, rx, points, amplitudes);
      got = rf(:, :, k);
    end
    offset = round((starts(k) - t0) * fs);
    expected = zeros(rows(rf), columns(alone));
    expected(offset + (1:rows(alone)), :) = alone;
    assert(isequal(got, expected), '%s step %d: not calc_scat of the step alone at its start time', ...
           seq(k).kind, k);
    last = max(last, offset + rows(alone));
  end
  assert(t0 == min(starts) && numel(unique(starts)) > 1 && rows(rf) == last, ...
         'time axis of the sequence');
end
set_sampling(100e6);
fs = 100e6;

% ---- The scan helpers' scripts: usage and a unit for each result in the help (test_scripts
% checks only the scripts of octave/), shapes, and their refusals (their numbers are checked in
% tests/python, test_imaging.py, and equal to Python's in test_imaging_octave.py).
for name = {'scan_convex', 'scan_diverging', 'scan_sta', 'sample_depth', 'tgc', 'phantom_flow', ...
            'phantom_motion', 'phantom_positions', 'scan_ensemble', 'iq_demodulate', ...
            'clutter_filter', 'color_flow', 'doppler_spectrum'}
  name = name{1};
  try
    feval(name);
    error('%s with no arguments did not fail', name);
  catch err
    assert(strcmp(err.identifier, 'orvel:usage') ...
           && ~isempty(regexp(err.message, ['^' name ': needs .*: ' name '\('], 'once')), ...
           '%s with no arguments: %s', name, err.message);
  end
  outputs = regexp(fileread(which(name)), '^function\s+\[?([\w, ]*?)\]?\s*=', 'tokens', 'once', ...
                   'lineanchors');
  for out = strtrim(strsplit(outputs{1}, ','))
    assert(~isempty(regexp(get_help_text(name), ['^\s*' out{1} '\s[^\n]*\[[^\]\n]+\]'], ...
                           'lineanchors', 'once')), 'help %s gives no unit for %s', name, out{1});
  end
end
seq = scan_convex(20, 0.4e-3, 40e-3, 8, [-0.1; 0.1], 30e-3);
assert(isequal(size(seq), [1 2]) && all(strcmp({seq.kind}, 'line')) ...
       && isequal(size(seq(2).rx_center), [1 3]) && isequal(size(seq(2).tx_apodization), [1 20]));
seq = scan_diverging(8, 0.3e-3, [0 0 -5e-3; 1e-3 0 -6e-3], c);
assert(isequal(size(seq), [1 2]) && all(strcmp({seq.kind}, 'diverging')) ...
       && isequal(size(seq(2).tx_delays), [1 8]) && isequal(seq(2).source, [1e-3 0 -6e-3]));
seq = scan_sta(5);
assert(isequal([seq.element], 1:5) && isequal(vertcat(seq.tx_apodization), eye(5)));
assert(isequal(size(sample_depth(4, 0, fs, c)), [4 1]) && isempty(sample_depth(0, 0, fs, c)));
assert(isequal(size(tgc(ones(5, 2, 3), 0, fs, c, 0.5, 5e6)), [5 2 3]) ...
       && isequal(size(tgc(ones(1, 5), 0, fs, c, 0.5, 5e6)), [1 5]));
expect_error(@() scan_convex(20, 0.4e-3, 40e-3, 21, 0, 30e-3), ...
             'scan_convex: no_active must be a whole number from 1 to no_elements (20)');
expect_error(@() scan_convex(20, 0.4e-3, 0, 8, 0, 30e-3), 'scan_convex: radius must be a positive number [m]');
expect_error(@() scan_convex(20, 0.4e-3, 40e-3, 8, [0 NaN], 30e-3), ...
             'scan_convex: angles must be a vector of finite angles [rad]');
expect_error(@() scan_diverging(8, 0.3e-3, [0 0 5e-3], c), ...
             'scan_diverging: sources must be finite and lie behind the array (z < 0) [m]');
expect_error(@() scan_diverging(8, 0.3e-3, [0 -5e-3], c), ...
             'scan_diverging: sources must be a k x 3 matrix, one row [x y z] per source, but is [1 2]');
expect_error(@() scan_sta(2.5), 'scan_sta: no_elements must be a positive whole number');
expect_error(@() sample_depth(-1, 0, fs, c), 'sample_depth: no_samples must be a whole number >= 0');
expect_error(@() tgc(ones(3, 1), 0, fs, c, -0.5, 5e6), 'tgc: db_per_cm_mhz must be >= 0 [dB/(cm MHz)]');
expect_error(@() tgc(ones(3, 1), 0, fs, c, 0.5, 0), 'tgc: f0 must be a positive frequency [Hz]');
expect_error(@() scan_convert(ones(2), [0 1], [1 2], 0, 1, [0 0 0]), ...
             'scan_convert: apex must be [x z], two finite numbers [m]');
expect_error(@() scan_run(scan_sta(n), tx, rx, [0 0 1e-2], 1, -1), ...
             'scan_run: window must be [] or a margin >= 0 [m]');
expect_error(@() scan_run(scan_sta(n), tx, rx, [0 0 1e-2]', [1 1 1], 1e-3), ...
             'scan_run: points must be an n x 3 real matrix [m], but is [3 1]');
mixed = scan_sta(n)(1:2);
mixed(2).kind = 'plane';
expect_error(@() scan_run(mixed, tx, rx, [0 0 1e-2], 1), ['scan_run: the entries of seq must ' ...
             'all be of one kind: ''line'', ''plane'', ''diverging'' or ''element''']);
% scan_apply: a single element's transmit, and a diverging wave's delays.
step = scan_sta(n)(4);
scan_apply(step, tx, rx);
assert(isequal(xdc_get(tx, 'apod'), [0; step.tx_apodization(:)]) ...
       && isequal(xdc_get(tx, 'focus'), zeros(n + 1, 1)) && isequal(xdc_get(rx, 'apod'), [0; ones(n, 1)]));
step = scan_diverging(n, p, [1e-3 0 -4e-3], c);
scan_apply(step, tx, rx);
assert(isequal(xdc_get(tx, 'focus'), [0; step.tx_delays(:)]) && isequal(xdc_get(tx, 'apod'), [0; ones(n, 1)]));

% ---- phantom_from_map: with one seed the positions and Gaussians are shared, so a map
% multiplies the amplitudes of a map of ones by its bilinear interpolation (interp2 here).
map = [0 0 0 0; 0 2 1 0; 0 0.5 0 0];
x_range = [-2e-3 4e-3];
z_range = [10e-3 11e-3];
[q1, g] = phantom_from_map(ones(3, 4), x_range, z_range, 400, [-1e-3 1e-3], 7);
[q, a] = phantom_from_map(map, x_range, z_range, 400, [-1e-3 1e-3], 7);
assert(isequal(q, q1) && isequal(size(q), [400 3]) && isequal(size(a), [400 1]));
assert(all(q(:, 1) >= x_range(1) & q(:, 1) <= x_range(2) & q(:, 3) >= z_range(1) ...
           & q(:, 3) <= z_range(2) & abs(q(:, 2)) <= 1e-3) && std(q(:, 2)) > 0);
value = interp2(linspace(x_range(1), x_range(2), 4), linspace(z_range(1), z_range(2), 3), ...
                map, q(:, 1), q(:, 3), 'linear');
assert(max(abs(a - g .* value)) < 1e-12 && abs(std(g) - 1) < 0.15, 'amplitudes from the map');
[~, other] = phantom_from_map(map, x_range, z_range, 400, [-1e-3 1e-3], 8);
assert(~isequal(other, a), 'another seed gives the same phantom');

% From picture files: a grey one with a white square (scatterers only in it and the one-pixel
% ramp around it, all of those inside it) and a colour one, whose red is 0.299 grey.
folder = tempname();
mkdir(folder);
picture = zeros(20, 30, 'uint8');
picture(6:15, 11:20) = 255;
grey_file = fullfile(folder, 'square.png');
imwrite(picture, grey_file);
colour = zeros(20, 30, 3, 'uint8');
colour(6:15, 11:20, 1) = 255;
colour_file = fullfile(folder, 'red.png');
imwrite(colour, colour_file);
x_pixel = linspace(0, 29e-3, 30);               % 1 mm a pixel, rows from z = 10 mm
z_pixel = 10e-3 + linspace(0, 19e-3, 20);
[q, a] = phantom_from_map(grey_file, [0 29e-3], z_pixel([1 end]), 3000, [], 3);
[~, g] = phantom_from_map(ones(2), [0 29e-3], z_pixel([1 end]), 3000, [], 3);
[~, r] = phantom_from_map(colour_file, [0 29e-3], z_pixel([1 end]), 3000, [], 3);
near = q(:, 1) > x_pixel(10) & q(:, 1) < x_pixel(21) & q(:, 3) > z_pixel(5) & q(:, 3) < z_pixel(16);
core = q(:, 1) >= x_pixel(11) & q(:, 1) <= x_pixel(20) & q(:, 3) >= z_pixel(6) & q(:, 3) <= z_pixel(15);
assert(all(q(:, 2) == 0) && all(a(~near) == 0) && all(a(core) == g(core)) && nnz(core) > 100, ...
       'scatterers of the grey picture');
assert(max(abs(r - 0.299 * a)) < 1e-12, 'a red pixel is 0.299 grey');
expect_error(@() phantom_from_map(-map, x_range, z_range, 10), ...
             'phantom_from_map: map must be a non-empty matrix of finite non-negative values');
expect_error(@() scan_phased(2^31, 0, 0.03), ['scan_phased: no_elements must be at most ' ...
             '2147483647 (the most elements an aperture holds), but is 2147483648']);

% ---- show_image: a PNG with axes through gnuplot where it is installed, and the image alone
% without it (no gnuplot on the PATH): a 10 x 20 image as 20 x 20 pixel blocks, the top row
% first, -dynamic_range and NaN black, 0 dB white, -20 of 40 dB mid-grey.
db = -40 * ones(10, 20);
db(1, :) = 0;
db(2, 1:10) = -20;
db(3, 1) = NaN;
file = fullfile(folder, 'plain.png');
path_before = getenv('PATH');
setenv('PATH', folder);
show_image(file, db, (0:19) * 1e-3, (0:9) * 1e-3, 40, 'plain');
setenv('PATH', path_before);
pixels = imread(file);
assert(isequal(size(pixels), [200 400]), 'picture without axes: %s', mat2str(size(pixels)));
assert(all(pixels(1:20, :)(:) == 255) && all(pixels(21:40, 1:200)(:) == 128) ...
       && all(pixels(21:end, 201:end)(:) == 0) && all(pixels(41:end, :)(:) == 0), 'grey levels');
if ~isempty(file_in_path(getenv('PATH'), 'gnuplot'))
  file = fullfile(folder, 'axes.png');
  show_image(file, db, (0:19) * 1e-3, (0:9) * 1e-3, 40, 'with axes');
  pixels = imread(file);
  assert(rows(pixels) > 250 && columns(pixels) > 400 && numel(unique(pixels(:))) > 10, ...
         'picture with axes: %s', mat2str(size(pixels)));
end
confirm_recursive_rmdir(false, 'local');
rmdir(folder, 's');

% ---- acoustic_output (its numbers are checked in tests/python, test_imaging.py, and equal
% to Python's in test_imaging_octave.py): the struct's fields, the caller's attenuation
% options back after a call and after a call that fails once the derating is set (a freed
% aperture), and the refusals of bad points and prf.
names = {'use_att', 'att', 'freq_att', 'att_f0'};
mine = {1, 2.5, 1e-6, 1e6};
cellfun(@set_option, names, mine);
out = acoustic_output(tx, [0 0 20e-3; 1e-3 0 30e-3], 5e3);
assert(isequal(fieldnames(out)', {'p_r3', 'mi_point', 'f_awf', 'mi', 'pii_3', 'pii_point', ...
                                  'pd', 'isppa_3', 'ispta_3'}) ...
       && isequal(size(out.mi_point), [1 3]) && isequal(size(out.pii_point), [1 3]) ...
       && out.mi > 0, 'acoustic_output: struct');
assert(isequal(cellfun(@get_option, names, 'UniformOutput', false), mine), 'options after a call');
freed = xdc_linear_array(2, 0.3e-3, 5e-3, 0.05e-3, 1, 1, [0 0 30e-3]);
xdc_free(freed);
expect_error(@() acoustic_output(freed, [0 0 20e-3], 5e3), ...
             'Orvel error: This aperture has been freed and is not defined');
assert(isequal(cellfun(@get_option, names, 'UniformOutput', false), mine), ...
       'options after a failed call');
shape = 'points must be an n x 3 real matrix (one row [x y z] per point), but is';
refusals = {{[0 0 20e-3; 0 0 30e-3]', 5e3}, [shape ' 3 x 2; transpose it (points.'')'], ...
            {ones(2, 4), 5e3}, [shape ' 2 x 4'], ...
            {zeros(0, 3), 5e3}, 'points must hold at least one point', ...
            {[0 0 20e-3; 0 NaN 1], 5e3}, 'points must be finite, but row 2 is not', ...
            {[0 0 20e-3], 0}, 'prf must be a positive finite number [Hz]', ...
            {[0 0 20e-3], [1 2] * 1e3}, 'prf must be a positive finite number [Hz]', ...
            {[0 0 20e-3], '5e3'}, 'prf must be a positive finite number [Hz]'};
for k = 1:2:numel(refusals)
  expect_error(@() acoustic_output(tx, refusals{k}{:}), ['acoustic_output: ' refusals{k + 1}]);
end
expect_error(@() acoustic_output(tx, [0 0 20e-3]), ...
             'acoustic_output: needs 3 arguments: acoustic_output(Th, points, prf)');

% element_positions: the centres of a linear array's elements, from its rectangles and, once
% converted, from its triangles.
th = xdc_linear_array(8, 0.25e-3, 4e-3, 0.05e-3, 2, 3, [0 0 0.02]);
centres = [((0:7)' - 3.5) * 0.3e-3, zeros(8, 2)];
assert(max(max(abs(element_positions(th) - centres))) < 1e-15);
xdc_convert(th);
assert(max(max(abs(element_positions(th) - centres))) < 1e-15);
xdc_free(th);

% das_image's options: the struct's fields are checked by name, the windows by name; the
% image of one element, single-element transmit, boxcar and cubic, is the sample at the round
% trip (0.4 us, sample 40 of the ramp 0, 1, 2, ...).
one = {(0:99)', 0, 1e8, 1540, 0, [0 0 0], [0 0 1540 * 0.2e-6], [4 0 0 0 0 0 0 0]};
assert(abs(das_image(one{:}, struct('window', 'boxcar', 'interpolation', 'cubic')) - 40) < 1e-9);
expect_error(@() das_image(one{:}, struct('window', 'hamming')), ...
             'das_image: options.window must be ''hann'', ''tukey'' or ''boxcar''');
expect_error(@() das_image(one{:}, struct('fnumber', 2)), ['das_image: options has no field ' ...
             'fnumber; its fields are f_number, window, tukey_alpha, interpolation, per_transmit']);

% das_beamform only lays out das_image's values: a 3-D grid of two rows of elements with a
% transmit table, one image per transmit, is das_image at each pixel's point (z, x, y of
% different lengths, so that a swapped axis shows); a list of points is a column.
randn('state', 5);
e = [repmat(x_e', 2, 1), kron([-0.4e-3; 0.4e-3], ones(n, 1)), zeros(2 * n, 1)];
rf = randn(500, 2 * n, 2);
table = [2 0 0 -5e-3 -2e-6 0 0 0; 4 e(3, :) 0 0 0 0];
gx = [-1e-3 0.5e-3 2e-3];
gy = [-0.2e-3 0.3e-3];
gz = [2e-3 4e-3 6e-3 8e-3];
image = das_beamform(rf, 1e-6, fs, e, gx, gz, c, 1.5, table, 0.2e-6, ...
                     struct('y', gy, 'per_transmit', true));
want = zeros(4, 3, 2, 2);
for i = 1:4
  for j = 1:3
    for k = 1:2
      want(i, j, k, :) = das_image(rf, 1e-6, fs, c, 0.2e-6, e, [gx(j) gy(k) gz(i)], table, ...
                                   struct('f_number', 1.5, 'per_transmit', true));
    end
  end
end
assert(isequal(image, want) && any(want(:) ~= 0));
list = das_beamform(rf, 1e-6, fs, e, [gx' gy([1 2 2])' gz(1:3)'], [], c, 1.5, table, 0.2e-6);
assert(isequal(list, [sum(want(1, 1, 1, :)); sum(want(2, 2, 2, :)); sum(want(3, 3, 2, :))]));
expect_error(@() das_beamform(rf, 1e-6, fs, e, gx, gz, c, 1.5, table', 0.2e-6), ...
             ['das_beamform: angle must be one angle per transmit (2 values), 2 x 2 angle ' ...
              'pairs or a 2 x 8 transmit table, but is 8 x 2']);

xdc_free(tx);
xdc_free(rx);
orvel_end();
disp('test_imaging: passed');
