% Orvel demo: the emitted field of a focused linear array, and a small B-mode image of point
% scatterers made with the same array in transmit and receive.
%
% Writes two pictures into the current folder (`make demo` runs it from the build folder):
%   orvel_field.png        peak emitted pressure [dB] over x and z in the plane y = 0
%   orvel_scatterers.png   B-mode image of six point scatterers, and the RF line of the centre
%
% Run it as a script file:
%   octave-cli --no-gui --norc --no-history --quiet --path BUILD --path octave demo.m
1;  % a script file, not a function file: the helpers below are local to it

function env = envelope_of(rf)
  % Envelope of each column: the magnitude of the analytic signal, made by removing the
  % negative frequencies of the spectrum and doubling the positive ones.
  n = rows(rf);
  weight = zeros(n, 1);
  weight(1) = 1;                          % the mean is kept once
  if mod(n, 2) == 0
    weight(2:n / 2) = 2;
    weight(n / 2 + 1) = 1;                % Nyquist bin, shared by both halves
  else
    weight(2:(n + 1) / 2) = 2;
  end
  env = abs(ifft(fft(rf) .* weight));
end

function ok = have_plot_toolkit()
  % gnuplot is enough for pictures with axes when no display is present.
  ok = any(strcmp(available_graphics_toolkits(), 'gnuplot')) ...
       && ~isempty(file_in_path(getenv('PATH'), 'gnuplot'));
end

function write_indexed(file, db, lo, map, scale)
  % Picture without a plotting toolkit: the dB values mapped to the colours of map, each value
  % a scale by scale block of pixels, first row at the top.
  idx = round((min(max(db, lo), 0) - lo) / -lo * (rows(map) - 1)) + 1;
  idx = kron(idx, ones(scale));
  imwrite(ind2rgb(idx, map), file);
end

demo_clock = tic();

% ---- The system -----------------------------------------------------------------------------
f0 = 3e6;              % centre frequency [Hz]
fs = 100e6;            % sampling frequency [Hz]
c = 1540;              % speed of sound [m/s]
lambda = c / f0;       % wavelength, 0.513 mm

no_elements = 128;     % physical elements of the array
no_active = 64;        % elements used for one image line
width = 0.27e-3;       % element width [m]
kerf = 0.025e-3;       % gap between elements [m]
pitch = width + kerf;  % 0.295 mm, about 0.57 wavelengths
height = 5e-3;         % elevation height [m]
focus = [0 0 40e-3];   % transmit focus [m]

orvel_init(-1);
set_option('c', c);
set_sampling(fs);

% Two periods of the centre frequency, sampled at fs from time 0.
t_pulse = (0:1 / fs:2 / f0)';
impulse = sin(2 * pi * f0 * t_pulse) .* hanning(numel(t_pulse));
excitation = sin(2 * pi * f0 * t_pulse);

tx = xdc_linear_array(no_elements, width, height, kerf, 1, 10, focus);
rx = xdc_linear_array(no_elements, width, height, kerf, 1, 10, focus);
xdc_impulse(tx, impulse);
xdc_excitation(tx, excitation);
xdc_impulse(rx, impulse);

% Element centres along x; a line at x uses the no_active elements nearest to it.
x_element = ((1:no_elements) - (no_elements + 1) / 2) * pitch;
active_at = @(x_line) double(abs(x_element - x_line) < (no_active / 2) * pitch);

printf('Orvel demo: %d-element linear array, pitch %.3f mm (%.2f wavelengths), %d active\n', ...
       no_elements, pitch * 1e3, pitch / lambda, no_active);
printf('  %.1f MHz two-cycle pulse, fs = %.0f MHz, c = %.0f m/s, focus at %.0f mm\n', ...
       f0 / 1e6, fs / 1e6, c, focus(3) * 1e3);

use_plots = have_plot_toolkit();
if use_plots
  warning('off', 'Octave:gnuplot-graphics');  % the advice to use the qt toolkit instead
  warning('off', 'print:nogs');               % PNG through cairo needs no Ghostscript
  graphics_toolkit('gnuplot');
else
  printf('  (gnuplot not found: pictures written without axes)\n');
end
floor_db = -60;

% ---- Emitted field ---------------------------------------------------------------------------
% The centre 64 elements, focused at 40 mm. One calc_hp call per depth keeps the common time
% axis of the result short.
xdc_apodization(tx, 0, active_at(0));
x = (-20e-3:0.2e-3:20e-3)';
z = (5e-3:0.25e-3:80e-3)';
peak = zeros(numel(z), numel(x));
step_clock = tic();
for k = 1:numel(z)
  points = [x, zeros(size(x)), z(k) * ones(size(x))];
  hp = calc_hp(tx, points);
  peak(k, :) = max(abs(hp), [], 1);
end
field_time = toc(step_clock);
field_db = max(20 * log10(peak / max(peak(:))), floor_db);
printf('  emitted field: %d points (%d x %d) in %.1f s\n', numel(peak), numel(x), numel(z), ...
       field_time);

field_file = fullfile(pwd(), 'orvel_field.png');
drawn = false;
if use_plots
  try
    fig = figure('visible', 'off', 'position', [0 0 600 820]);
    imagesc(x * 1e3, z * 1e3, field_db, [floor_db 0]);
    axis image;
    colormap(jet(256));
    cb = colorbar();
    ylabel(cb, 'dB');
    xlabel('x [mm]');
    ylabel('z [mm]');
    title(sprintf('Peak pressure, %d of %d elements, focus %.0f mm', no_active, ...
                  no_elements, focus(3) * 1e3));
    set(findall(fig, '-property', 'fontsize'), 'fontsize', 12);
    print(fig, field_file, '-dpngcairo', '-r96');
    close(fig);
    drawn = true;
  catch err
    printf('  plotting failed (%s): picture written without axes\n', err.message);
  end
end
if !drawn
  write_indexed(field_file, field_db, floor_db, jet(256), 3);
end
printf('  wrote %s\n', field_file);

% ---- Point scatterers, B-mode ----------------------------------------------------------------
% Five scatterers on the axis every 10 mm and one off the axis. Each image line: the active
% elements centred on the line, fixed transmit focus at 40 mm, dynamic receive focus, Hann
% receive apodization.
scatterers = [0 0 20; 0 0 30; 0 0 40; 0 0 50; 0 0 60; -8 0 35] * 1e-3;
amplitudes = ones(rows(scatterers), 1);
x_lines = (-12e-3:0.25e-3:12e-3)';
depth = [10e-3 70e-3];
% An echo peaks when the middle of the two-way pulse (excitation, transmit and receive impulse
% responses in sequence) comes back: that long after the round trip to its depth.
pulse_lag = (numel(excitation) - 1 + 2 * (numel(impulse) - 1)) / 2 / fs;   % [s]
t0 = 2 * depth(1) / c + pulse_lag;              % time of the first image sample [s]
no_samples = round(2 * diff(depth) / c * fs);   % samples between the two depths
rf = zeros(no_samples, numel(x_lines));

step_clock = tic();
for k = 1:numel(x_lines)
  x_line = x_lines(k);
  active = active_at(x_line);
  receive = active;
  receive(active > 0) = hanning(sum(active))';
  xdc_apodization(tx, 0, active);
  xdc_apodization(rx, 0, receive);
  xdc_center_focus(tx, [x_line 0 0]);
  xdc_focus(tx, 0, [x_line 0 focus(3)]);
  xdc_center_focus(rx, [x_line 0 0]);
  xdc_dynamic_focusing(rx, 0, 0, 0);
  [line, start_time] = calc_scat(tx, rx, scatterers, amplitudes);

  % Place the line on the image's time axis: its first sample is start_time.
  first = round((start_time - t0) * fs) + 1;
  rows_line = (first:first + numel(line) - 1)';
  inside = rows_line >= 1 & rows_line <= no_samples;
  rf(rows_line(inside), k) = line(inside);
end
scat_time = toc(step_clock);
printf('  B-mode: %d lines of %d scatterers in %.1f s\n', numel(x_lines), rows(scatterers), ...
       scat_time);

bmode_range = 50;  % displayed dynamic range [dB]
env = envelope_of(rf);
bmode_db = max(20 * log10(env / max(env(:)) + eps), -bmode_range);
z_image = (depth(1) + (0:no_samples - 1)' / fs * c / 2);   % depth of each sample [m]
centre = find(abs(x_lines) == min(abs(x_lines)), 1);

% Where the echoes of the centre line peak: each should be at its scatterer's depth.
on_axis = find(scatterers(:, 1) == 0)';
found = zeros(size(on_axis));
for k = 1:numel(on_axis)
  near = find(abs(z_image - scatterers(on_axis(k), 3)) < 3e-3);
  [~, top] = max(env(near, centre));
  found(k) = z_image(near(top));
end
printf('  centre line: echoes peak at%s mm (scatterers at%s mm)\n', ...
       sprintf(' %.2f', found * 1e3), sprintf(' %.0f', scatterers(on_axis, 3) * 1e3));

scat_file = fullfile(pwd(), 'orvel_scatterers.png');
drawn = false;
if use_plots
  try
    fig = figure('visible', 'off', 'position', [0 0 900 820]);
    axes('position', [0.08 0.08 0.5 0.84]);
    imagesc(x_lines * 1e3, z_image * 1e3, bmode_db, [-bmode_range 0]);
    axis image;
    colormap(gray(256));
    cb = colorbar();
    ylabel(cb, 'dB');
    xlabel('x [mm]');
    ylabel('depth [mm]');
    title(sprintf('B-mode, %d lines, %d dB range', numel(x_lines), bmode_range));
    axes('position', [0.74 0.08 0.22 0.84]);
    scale = max(abs(rf(:, centre)));
    plot(rf(:, centre) / scale, z_image * 1e3, 'color', [0.6 0.6 0.6], ...
         env(:, centre) / scale, z_image * 1e3, 'r', 'linewidth', 1.5);
    set(gca(), 'ydir', 'reverse');
    axis([-1.1 1.1 depth * 1e3]);
    xlabel('amplitude');
    ylabel('depth [mm]');
    title('Centre line: RF, envelope');
    set(findall(fig, '-property', 'fontsize'), 'fontsize', 12);
    print(fig, scat_file, '-dpngcairo', '-r96');
    close(fig);
    drawn = true;
  catch err
    printf('  plotting failed (%s): picture written without axes\n', err.message);
  end
end
if !drawn
  % Lines are 0.25 mm apart and samples 7.7 um deep: show 1 line as 4 pixels across and
  % 1 pixel per 8 samples (62 um) down, so that depth and width are nearly to scale.
  rows_shown = 1:8:no_samples;
  write_indexed(scat_file, kron(bmode_db(rows_shown, :), ones(1, 4)), -bmode_range, ...
                gray(256), 1);
end
printf('  wrote %s\n', scat_file);

xdc_free(tx);
xdc_free(rx);
orvel_end();
printf('Demo finished in %.1f s\n', toc(demo_clock));
