% Orvel pyramidal sector volume: a 2-D array scans a small phantom (speckle, a spherical cyst
% without echoes and three bright points) with focused lines steered in two angles; the lines
% are put on a Cartesian grid (scan_convert_3d) and written as slices through the brightest
% voxel and maximum-intensity projections (show_volume).
%
% Writes orvel_sector3d.png into the current folder (`make demo-3d` runs it from the build
% folder) and prints where the bright points and the cyst are found. About a minute on two
% cores. Run it as a script file, with the imaging scripts on the path:
%   octave-cli --no-gui --norc --no-history --quiet --path BUILD --path octave \
%              --path octave/imaging sector3d.m
sector3d_clock = tic();

% ---- The system -----------------------------------------------------------------------------
f0 = 3e6;                 % centre frequency [Hz]
fs = 100e6;               % sampling frequency [Hz]
c = 1540;                 % speed of sound [m/s]
lambda = c / f0;          % wavelength, 0.513 mm
n = 16;                   % elements along x and along y
pitch = lambda / 2;       % no grating lobes at any steering angle
kerf = 0.02e-3;
aperture = n * pitch;     % 4.1 mm square
focus_r = 12e-3;          % transmit focus, on each line [m]
% 15 x 15 lines 0.05 rad apart, about 2.5 per beam width lambda/aperture (0.125 rad); ax runs
% fastest, the grid scan_convert_3d reads.
steps = (-0.35:0.05:0.35);
[AX, AY] = ndgrid(steps, steps);
angles = [AX(:) AY(:)];
depth = [5e-3 18e-3];     % ranges shown [m]
dynamic_range = 40;       % [dB]

orvel_init(-1);
set_option('c', c);
set_sampling(fs);
t_pulse = (0:1 / fs:2 / f0);              % two periods of the centre frequency
impulse = sin(2 * pi * f0 * t_pulse) .* hanning(numel(t_pulse))';
excitation = sin(2 * pi * f0 * t_pulse);
tx = xdc_2d_array(n, n, pitch - kerf, pitch - kerf, kerf, kerf, ones(n, n), 1, 1, [0 0 focus_r]);
rx = xdc_2d_array(n, n, pitch - kerf, pitch - kerf, kerf, kerf, ones(n, n), 1, 1, [0 0 focus_r]);
xdc_impulse(tx, impulse);
xdc_excitation(tx, excitation);
xdc_impulse(rx, impulse);
printf(['Orvel pyramidal sector: %d x %d elements, pitch %.3f mm (lambda/2), %.1f MHz, ' ...
        '%d lines over +-%.2f rad in x and in y\n'], n, n, pitch * 1e3, f0 / 1e6, ...
       rows(angles), max(steps));

% ---- The phantom ----------------------------------------------------------------------------
% Speckle, 3 scatterers per resolution cell (lambda*F across in x and y at the focus, a
% wavelength along the line), kept inside the pyramid with a margin: few scatterers for a
% short run. A ball without echoes on the axis, and three points 12 to 15 times a speckle
% amplitude, the brightest on the axis above the ball (so that the slices through the
% brightest voxel cut the ball too).
f_number = focus_r / aperture;
cell_volume = resolution_cell(lambda, f_number, lambda, lambda * f_number);
cyst = [0 0 13e-3 2.5e-3 0];              % [x y z radius gain]
half = depth(2) * tan(max(steps)) + 1e-3;
[points, amplitudes] = phantom_tissue([-half half -half half depth(1) - 2e-3 depth(2) + 2e-3], ...
                                      3, cell_volume, [], 1, cyst);
range = sqrt(sum(points.^2, 2));
ax = atan2(points(:, 1), points(:, 3));
ay = atan2(points(:, 2), sqrt(points(:, 1).^2 + points(:, 3).^2));
keep = abs(ax) < max(steps) + 0.05 & abs(ay) < max(steps) + 0.05 ...
       & range > depth(1) - 2e-3 & range < depth(2) + 2e-3;
points = points(keep, :);
amplitudes = amplitudes(keep);
bright = [0 0 8e-3; -3e-3 2.5e-3 10e-3; 3e-3 -2.5e-3 15e-3];
[targets, strengths] = phantom_points(bright, [15 12 12]);
points = [points; targets];
amplitudes = [amplitudes; strengths];
printf('  phantom: %d scatterers\n', rows(points));

% ---- The scan -------------------------------------------------------------------------------
seq = scan_phased_2d(n * n, angles, focus_r);
scan_clock = tic();
[rf, t0] = scan_run(seq, tx, rx, points, amplitudes);
printf('  %d lines in %.1f s\n', numel(seq), toc(scan_clock));

% ---- The volume -----------------------------------------------------------------------------
lag = (2 * numel(impulse) + numel(excitation) - 3) / (2 * fs);
r = sample_depth(rows(rf), t0, fs, c, lag);
shown = r >= depth(1) - 1e-3 & r <= depth(2) + 1e-3;
env = envelope(rf);
x = (-50:50) * 0.14e-3;   % through 0, where the brightest point and the cyst are
y = (-50:50) * 0.14e-3;
z = (depth(1):0.1e-3:depth(2));
volume = scan_convert_3d(env(shown, :), angles, r(shown), x, y, z);
volume_db = log_compress(volume, dynamic_range);
file = fullfile(pwd(), 'orvel_sector3d.png');
show_volume(file, volume_db, x, y, z, dynamic_range, ...
            sprintf('Pyramidal sector, %d x %d elements, %d lines, %.0f MHz, %d dB', n, n, ...
                    rows(angles), f0 / 1e6, dynamic_range));
printf('  wrote %s\n', file);

% ---- What the volume shows ------------------------------------------------------------------
% Each bright point: the brightest voxel within 2 mm of where it was put.
[Z, X, Y] = ndgrid(z, x, y);
for k = 1:rows(bright)
  near = abs(X - bright(k, 1)) <= 2e-3 & abs(Y - bright(k, 2)) <= 2e-3 ...
         & abs(Z - bright(k, 3)) <= 2e-3;
  values = volume;
  values(~near | isnan(values)) = -Inf;
  [~, at] = max(values(:));
  printf('  point at (%5.1f, %5.1f, %5.1f) mm found at (%5.1f, %5.1f, %5.1f) mm\n', ...
         bright(k, :) * 1e3, [X(at) Y(at) Z(at)] * 1e3);
end
% The cyst: the mean envelope inside 0.6 of its radius against a shell from 1.4 to 2 radii.
distance = sqrt((X - cyst(1)).^2 + (Y - cyst(2)).^2 + (Z - cyst(3)).^2);
inside = distance < 0.6 * cyst(4) & ~isnan(volume);
shell = distance > 1.4 * cyst(4) & distance < 2 * cyst(4) & ~isnan(volume);
printf('  cyst contrast %.1f dB (inside 0.6 r against a shell 1.4 r to 2 r)\n', ...
       20 * log10(mean(volume(inside)) / mean(volume(shell))));

xdc_free(tx);
xdc_free(rx);
orvel_end();
printf('Pyramidal sector volume finished in %.1f s\n', toc(sector3d_clock));
