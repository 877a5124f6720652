% Orvel sector image: a phased array scans a phantom of speckle with a dark cyst, a bright
% region and point targets, line by line; the lines are made into a B-mode picture.
%
% Writes orvel_sector.png into the current folder (`make demo` runs it from the build folder).
% Run it as a script file, with the imaging scripts on the path:
%   octave-cli --no-gui --norc --no-history --quiet --path BUILD --path octave \
%              --path octave/imaging sector.m
sector_clock = tic();

% ---- The system -----------------------------------------------------------------------------
f0 = 3e6;                 % centre frequency [Hz]
fs = 100e6;               % sampling frequency [Hz]
c = 1540;                 % speed of sound [m/s]
lambda = c / f0;          % wavelength, 0.513 mm
no_elements = 64;
pitch = lambda / 2;       % no grating lobes at any steering angle
kerf = 0.025e-3;
height = 8e-3;            % elevation height [m]
focus_r = 50e-3;          % transmit focus, on each line [m]
angles = (-35:1:35) * pi / 180;   % about two lines per lateral resolution lambda/D
depth = [10e-3 70e-3];    % radii shown [m]
dynamic_range = 50;       % [dB]

orvel_init(-1);
set_option('c', c);
set_sampling(fs);
t_pulse = (0:1 / fs:2 / f0);              % two periods of the centre frequency
impulse = sin(2 * pi * f0 * t_pulse) .* hanning(numel(t_pulse))';
excitation = sin(2 * pi * f0 * t_pulse);
tx = xdc_linear_array(no_elements, pitch - kerf, height, kerf, 1, 4, [0 0 focus_r]);
rx = xdc_linear_array(no_elements, pitch - kerf, height, kerf, 1, 4, [0 0 focus_r]);
xdc_impulse(tx, impulse);
xdc_excitation(tx, excitation);
xdc_impulse(rx, impulse);
printf('Orvel sector: %d elements, pitch %.3f mm (lambda/2), %.1f MHz, %d lines over +-%.0f deg\n', ...
       no_elements, pitch * 1e3, f0 / 1e6, numel(angles), max(angles) * 180 / pi);

% ---- The phantom ----------------------------------------------------------------------------
% Speckle in a 2 mm thick slice, 5 scatterers per resolution cell (lateral lambda*F at the
% focus, axial the two-way pulse), kept inside the sector with a margin: enough for speckle,
% few enough for a short run. A cyst without echoes, a region 4 times brighter, and point
% targets 40 times a speckle amplitude.
aperture = no_elements * pitch;
cell_volume = resolution_cell(lambda, focus_r / aperture, 2 * lambda, 2e-3);
cysts = [12e-3 50e-3 6e-3 0; -14e-3 34e-3 5e-3 4];
[points, amplitudes] = phantom_tissue([-45e-3 45e-3 -1e-3 1e-3 8e-3 72e-3], 5, cell_volume, ...
                                       cysts, 1);
radius = sqrt(points(:, 1).^2 + points(:, 3).^2);
keep = abs(atan2(points(:, 1), points(:, 3))) < max(angles) + 0.05 ...
       & radius > depth(1) - 2e-3 & radius < depth(2) + 2e-3;
points = points(keep, :);
amplitudes = amplitudes(keep);
xz = [0 20; 0 30; 0 40; 0 60; -20 50; 20 30; 25 62] * 1e-3;
[targets, strengths] = phantom_points(xz, 40 * ones(rows(xz), 1));
points = [points; targets];
amplitudes = [amplitudes; strengths];
printf('  phantom: %d scatterers\n', rows(points));

% ---- The scan -------------------------------------------------------------------------------
seq = scan_phased(no_elements, angles, focus_r);
scan_clock = tic();
[rf, t0] = scan_run(seq, tx, rx, points, amplitudes);
printf('  %d lines in %.1f s\n', numel(seq), toc(scan_clock));

% ---- The picture ----------------------------------------------------------------------------
% An echo from radius R comes back at 2R/c plus the lag of the pulse (to its centre).
lag = (2 * numel(impulse) + numel(excitation) - 3) / (2 * fs);
r = c * (t0 + (0:rows(rf) - 1)' / fs - lag) / 2;
shown = r >= depth(1) - 1e-3 & r <= depth(2) + 1e-3;
env = envelope(rf);
x = (-42e-3:0.15e-3:42e-3);
z = (0:0.15e-3:depth(2));
picture = log_compress(scan_convert(env(shown, :), angles, r(shown), x, z), dynamic_range);
file = fullfile(pwd(), 'orvel_sector.png');
show_image(file, picture, x, z, dynamic_range, ...
           sprintf('Phased array, %d elements, %.0f MHz, %d dB', no_elements, f0 / 1e6, ...
                   dynamic_range));
printf('  wrote %s\n', file);

xdc_free(tx);
xdc_free(rx);
orvel_end();
printf('Sector image finished in %.1f s\n', toc(sector_clock));
