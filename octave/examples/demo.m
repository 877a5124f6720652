% Orvel demo: the emitted field of a focused linear array, and a small B-mode image of point
% scatterers made with the same array in transmit and receive.
%
% Writes two pictures into the current folder (`make demo` runs it from the build folder):
%   orvel_field.png        the emitted field over x and z in the plane y = 0 from one
%                          calc_hp_map call: the peak pressure [dB] of the pulse, the 3 MHz
%                          continuous-wave amplitude [dB], and the -6 dB beam width of both
%                          along depth; it prints both in pascals, for a surface velocity of
%                          0.1 m/s (the peak of the pulse, the amplitude of the wave)
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

function rgb = indexed_rgb(db, lo, map, scale)
  % Picture without a plotting toolkit: the dB values mapped to the colours of map, each value
  % a scale by scale block of pixels, first row at the top.
  idx = round((min(max(db, lo), 0) - lo) / -lo * (rows(map) - 1)) + 1;
  rgb = ind2rgb(kron(idx, ones(scale)), map);
end

function write_indexed(file, db, lo, map, scale)
  imwrite(indexed_rgb(db, lo, map, scale), file);
end

function w = beam_width(x, v)
  % The -6 dB width of the beam at each depth (row of v, values >= 0 along x): the
  % length of the run of x around the row's peak where v is at least half the peak, its ends
  % interpolated linearly between the samples on either side of half. NaN where the run
  % reaches an end of x, whose width the map cannot tell.
  w = nan(rows(v), 1);
  n = columns(v);
  for k = 1:rows(v)
    [top, i] = max(v(k, :));
    half = top / 2;
    left = find(v(k, 1:i) < half, 1, 'last');        % last sample below half before the peak
    right = i - 1 + find(v(k, i:n) < half, 1);      % first one after it
    if !(top > 0) || isempty(left) || isempty(right)
      continue;
    end
    at_half = @(a, b) x(a) + (half - v(k, a)) / (v(k, b) - v(k, a)) * (x(b) - x(a));
    w(k) = at_half(right - 1, right) - at_half(left, left + 1);
  end
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

rho = 1000;            % density [kg/m^3]
v_peak = 0.1;          % peak surface velocity [m/s]: rho*c*v_peak = 154 kPa at the surface

orvel_init(-1);
set_option('c', c);
set_option('rho', rho);
set_sampling(fs);

% Two periods of the centre frequency, sampled at fs from time 0. The impulse response
% convolved with the excitation (a time integral) is the surface velocity: the excitation is
% scaled so that it peaks at v_peak, which makes the field maps pascals. The B-mode image is
% shown in dB of its own maximum, so the scale leaves it unchanged.
t_pulse = (0:1 / fs:2 / f0)';
impulse = sin(2 * pi * f0 * t_pulse) .* hanning(numel(t_pulse));
excitation = sin(2 * pi * f0 * t_pulse);
excitation = excitation * v_peak / max(abs(conv(impulse, excitation) / fs));

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
% The centre 64 elements, focused at 40 mm. One calc_hp_map call gives, at every point of the
% plane, the peak pressure of the pulse and the amplitude of the 3 MHz continuous wave (per
% m/s of surface velocity amplitude; scaled here to v_peak, so that both maps are pascals for
% the same surface velocity). The signals themselves are never returned.
xdc_apodization(tx, 0, active_at(0));
x = (-20e-3:0.2e-3:20e-3)';
z = (5e-3:0.25e-3:80e-3)';
[X, Z] = meshgrid(x, z);                   % one depth per row, one x per column
step_clock = tic();
[~, field] = calc_hp_map(tx, [X(:), zeros(numel(X), 1), Z(:)], {'p_peak', {'cw', f0}});
field_time = toc(step_clock);
maps = {reshape(field.p_peak, size(X)), reshape(field.cw_amplitude, size(X)) * v_peak};
names = {'peak pressure', sprintf('%.0f MHz cw amplitude', f0 / 1e6)};
printf('  emitted field: %d points (%d x %d) by calc_hp_map in %.1f s\n', numel(X), numel(x), ...
       numel(z), field_time);

at_focus = find(abs(z - focus(3)) < 1e-9);
field_db = cell(1, 2);
widths = zeros(numel(z), 2);
peaks = zeros(1, 2);
for m = 1:2
  [peaks(m), top] = max(maps{m}(:));
  field_db{m} = max(20 * log10(maps{m} / peaks(m)), floor_db);
  widths(:, m) = beam_width(x, maps{m});
  [~, narrowest] = min(widths(:, m));
  printf(['  %-20s max %.3f MPa at x = %.1f mm, z = %.2f mm; -6 dB width %.2f mm at ' ...
          'z = %.0f mm (narrowest %.2f mm at z = %.2f mm)\n'], names{m}, peaks(m) / 1e6, ...
         X(top) * 1e3, Z(top) * 1e3, widths(at_focus, m) * 1e3, focus(3) * 1e3, ...
         widths(narrowest, m) * 1e3, z(narrowest) * 1e3);
end

field_file = fullfile(pwd(), 'orvel_field.png');
drawn = false;
if use_plots
  try
    % Each map's box is 40 mm by 75 mm to scale, so that its z axis lines up with (c).
    fig = figure('visible', 'off', 'position', [0 0 1400 760]);
    box_height = 0.82;
    box_width = box_height * 760 * (x(end) - x(1)) / ((z(end) - z(1)) * 1400);
    titles = {sprintf('(a) Peak pressure [dB re %.2f MPa]', peaks(1) / 1e6), ...
              sprintf('(b) %s [dB re %.2f MPa]', names{2}, peaks(2) / 1e6)};
    for m = 1:2
      left = 0.055 + 0.325 * (m - 1);
      axes('position', [left 0.09 box_width box_height]);
      imagesc(x * 1e3, z * 1e3, field_db{m}, [floor_db 0]);
      axis image;
      colormap(jet(256));
      % The colour bar beside the box (unlabelled: gnuplot leaves a label where the bar was
      % first drawn; the title gives the unit).
      cb = colorbar();
      set(gca(), 'position', [left 0.09 box_width box_height]);
      set(cb, 'position', [left + box_width + 0.01 0.09 0.012 box_height]);
      xlabel('x [mm]');
      ylabel('z [mm]');
      title(titles{m});
    end
    axes('position', [0.72 0.09 0.25 box_height]);
    plot(widths(:, 2) * 1e3, z * 1e3, 'r', 'linewidth', 2);
    hold on;
    plot(widths(:, 1) * 1e3, z * 1e3, 'b', 'linewidth', 2);
    hold off;
    set(gca(), 'ydir', 'reverse');
    axis([0 (x(end) - x(1)) / 2 z(1) z(end)] * 1e3);
    grid on;
    xlabel('-6 dB width [mm]');
    ylabel('z [mm]');
    legend({names{2}, names{1}}, 'location', 'east');
    title(sprintf('(c) -6 dB beam width, %d of %d elements', no_active, no_elements));
    set(findall(fig, '-property', 'fontsize'), 'fontsize', 12);
    print(fig, field_file, '-dpngcairo', '-r96');
    close(fig);
    drawn = true;
  catch err
    printf('  plotting failed (%s): picture written without axes\n', err.message);
  end
end
if !drawn
  % The two maps side by side, 3 pixels per value, 6 white columns between them.
  gap = ones(3 * numel(z), 6, 3);
  imwrite([indexed_rgb(field_db{1}, floor_db, jet(256), 3), gap, ...
           indexed_rgb(field_db{2}, floor_db, jet(256), 3)], field_file);
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
