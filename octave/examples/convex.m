% Orvel convex-array image: an abdominal-style sector of a phantom with speckle, a dark cyst and
% point targets, scanned line by line by a curved array, each line normal to the arc from a
% sliding window of elements; the lines are made into a B-mode picture about the centre of
% curvature.
%
% Writes orvel_convex.png into the current folder (`make demo` runs it from the build folder).
% Run it as a script file, with the imaging scripts on the path:
%   octave-cli --no-gui --norc --no-history --quiet --path BUILD --path octave \
%              --path octave/imaging convex.m
convex_clock = tic();

% ---- The system -----------------------------------------------------------------------------
f0 = 3.5e6;               % centre frequency [Hz]
fs = 100e6;               % sampling frequency [Hz]
c = 1540;                 % speed of sound [m/s]
lambda = c / f0;          % wavelength, 0.44 mm
no_elements = 128;
width = 0.40e-3;          % element width [m]
kerf = 0.04e-3;
height = 10e-3;           % elevation height [m]
R = 40e-3;                % convex radius [m]
no_active = 48;           % elements of one line
focus_r = 45e-3;          % transmit focus, from the arc along each line [m]
pitch = R * (asin(width / R) + asin(kerf / R));   % arc length between element centres
span = (no_elements - no_active) / 2 * pitch / R;   % the lines' angles stay inside the array
angles = linspace(-span, span, 61);
depth = [5e-3 75e-3];     % shown, from the arc [m]
dynamic_range = 50;       % [dB]

orvel_init(-1);
set_option('c', c);
set_sampling(fs);
t_pulse = (0:1 / fs:2 / f0);              % two periods of the centre frequency
impulse = sin(2 * pi * f0 * t_pulse) .* hanning(numel(t_pulse))';
excitation = sin(2 * pi * f0 * t_pulse);
tx = xdc_convex_array(no_elements, width, height, kerf, R, 1, 4, [0 0 focus_r]);
rx = xdc_convex_array(no_elements, width, height, kerf, R, 1, 4, [0 0 focus_r]);
xdc_impulse(tx, impulse);
xdc_excitation(tx, excitation);
xdc_impulse(rx, impulse);
printf(['Orvel convex: %d elements on a %.0f mm radius, %.1f MHz, %d lines over +-%.0f deg, ' ...
        '%d active\n'], no_elements, R * 1e3, f0 / 1e6, numel(angles), span * 180 / pi, no_active);

% ---- The phantom ----------------------------------------------------------------------------
% Speckle in a 2 mm slice, 2 scatterers per resolution cell (enough for speckle, few enough for
% a run of half a minute), inside the sector; an anechoic
% cyst and point targets 40 times a speckle amplitude. Depths are from the arc's top.
cell_volume = resolution_cell(lambda, focus_r / (no_active * pitch), 2 * lambda, 2e-3);
[points, amplitudes] = phantom_tissue([-50e-3 50e-3 -1e-3 1e-3 3e-3 78e-3], 2, cell_volume, ...
                                       [8e-3 45e-3 6e-3 0], 1);
r_of = @(p) hypot(p(:, 1), p(:, 3) + R);        % from the centre of curvature
keep = abs(atan2(points(:, 1), points(:, 3) + R)) < span + 0.03 ...
       & r_of(points) > R + depth(1) - 2e-3 & r_of(points) < R + depth(2) + 2e-3;
points = points(keep, :);
amplitudes = amplitudes(keep);
xz = [0 20; 0 35; 0 55; -15 40; 18 62] * 1e-3;
[targets, strengths] = phantom_points(xz, 40 * ones(rows(xz), 1));
points = [points; targets];
amplitudes = [amplitudes; strengths];
printf('  phantom: %d scatterers\n', rows(points));

% ---- The scan -------------------------------------------------------------------------------
seq = scan_convex(no_elements, pitch, R, no_active, angles, focus_r);
scan_clock = tic();
[rf, t0] = scan_run(seq, tx, rx, points, amplitudes);
printf('  %d lines in %.1f s\n', numel(seq), toc(scan_clock));

% ---- The picture ----------------------------------------------------------------------------
% The lines start on the arc, so a sample's depth from the arc adds to R about the apex.
lag = (2 * numel(impulse) + numel(excitation) - 3) / (2 * fs);
d = sample_depth(rows(rf), t0, fs, c, lag);
shown = d >= depth(1) - 1e-3 & d <= depth(2) + 1e-3;
env = envelope(rf);
x = (-55e-3:0.2e-3:55e-3);
z = (0:0.2e-3:depth(2) + 5e-3);
picture = log_compress(scan_convert(env(shown, :), angles, R + d(shown), x, z, [0 -R]), ...
                       dynamic_range);
file = fullfile(pwd(), 'orvel_convex.png');
show_image(file, picture, x, z, dynamic_range, ...
           sprintf('Convex array, R %.0f mm, %d elements, %.1f MHz, %d dB', R * 1e3, ...
                   no_elements, f0 / 1e6, dynamic_range));
printf('  wrote %s\n', file);
xdc_free(tx);
xdc_free(rx);
orvel_end();
printf('Convex image finished in %.1f s\n', toc(convex_clock));
