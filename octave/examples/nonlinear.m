% Orvel example: what non-linear propagation does to a focused pulse. The pulse emitted by a
% focused linear array is computed at the focus once as in a linear medium (calc_hp) and once
% distorted over the focal distance (calc_hp_non_linear), for a source strong enough to give
% about 1 MPa at the focus in water-like tissue (B/A = 5.2). The compression phases travel
% faster than the rarefactions, so the wave steepens and energy moves into the harmonics.
%
% Writes orvel_nonlinear.png into the current folder (`make demo` runs it from the build
% folder): the two pulses over time, and their spectra in dB with the second harmonic marked.
%
% Run it as a script file:
%   octave-cli --no-gui --norc --no-history --quiet --path BUILD --path octave nonlinear.m
1;  % a script file, not a function file: the helpers below are local to it

function ok = have_plot_toolkit()
  ok = any(strcmp(available_graphics_toolkits(), 'gnuplot')) ...
       && ~isempty(file_in_path(getenv('PATH'), 'gnuplot'));
end

function img = draw_curves(img, x, ys, colours, box)
  % Curves drawn into the rows and columns box = [top bottom left right] of an RGB picture,
  % each y scaled to the box from the range of all of them: a picture without a toolkit.
  lo = min(ys(:));
  hi = max(ys(:));
  cols = round(box(3) + (x - min(x)) / (max(x) - min(x)) * (box(4) - box(3)));
  for k = 1:columns(ys)
    r = round(box(2) - (ys(:, k) - lo) / (hi - lo) * (box(2) - box(1)));
    for j = 1:numel(r) - 1  % joined by vertical runs, so that steep parts stay visible
      span = min(r(j), r(j + 1)):max(r(j), r(j + 1));
      for ch = 1:3
        img(span, cols(j), ch) = colours(k, ch);
      end
    end
  end
end

example_clock = tic();
f0 = 3e6;                 % centre frequency [Hz]
fs = 100e6;               % sampling frequency [Hz]
c = 1540;                 % speed of sound [m/s]
focus = [0 0 40e-3];      % focus of the array [m]
target = 1e6;             % peak pressure at the focus in the linear medium [Pa]

orvel_init(-1);
set_option('c', c);
set_sampling(fs);
set_option('BdivA', 5.2);  % non-linearity of soft tissue
set_option('dz', 0.1e-3);  % propagation step [m]

% A 64-element array of 0.27 mm elements focused at 40 mm, excited by six periods.
Th = xdc_focused_array(64, 0.27e-3, 5e-3, 0.025e-3, 40e-3, 1, 5, focus);
t_pulse = (0:1 / fs:6 / f0)';
excitation = sin(2 * pi * f0 * t_pulse) .* hanning(numel(t_pulse));
impulse = sin(2 * pi * f0 * (0:1 / fs:2 / f0)') .* hanning(numel(0:1 / fs:2 / f0));
xdc_impulse(Th, impulse');
xdc_excitation(Th, excitation');

% Scale the source so that the linear pulse peaks at the target pressure at the focus.
[p_lin, t_lin] = calc_hp(Th, focus);
xdc_excitation(Th, excitation' * target / max(abs(p_lin)));
[p_lin, t_lin] = calc_hp(Th, focus);
[p_nl, t_nl] = calc_hp_non_linear(Th, focus, norm(focus));

% The shock distance of a plane wave of this amplitude, for scale.
x_shock = 1000 * c^3 / ((1 + 5.2 / 2) * 2 * pi * f0 * target);
printf('Orvel non-linear example: %.1f MHz pulse, %.2f MPa at the focus, %.0f mm of propagation\n', ...
       f0 / 1e6, target / 1e6, norm(focus) * 1e3);
printf('  plane-wave shock distance at this amplitude: %.0f mm (sigma = %.2f)\n', ...
       x_shock * 1e3, norm(focus) / x_shock);

% Spectra on one common time axis, zero-padded.
n = 2^nextpow2(max(rows(p_lin), rows(p_nl)) * 4);
f = (0:n / 2 - 1)' * fs / n;
spectrum = @(p) abs(fft(p, n))(1:n / 2);
S_lin = spectrum(p_lin);
S_nl = spectrum(p_nl);
ref = max(S_lin);
level = @(S, fc) 20 * log10(max(S(abs(f - fc) < 0.5e6)) / ref);
printf('  second harmonic (6 MHz) relative to the linear fundamental: linear %.1f dB, non-linear %.1f dB\n', ...
       level(S_lin, 2 * f0), level(S_nl, 2 * f0));
printf('  third harmonic (9 MHz): linear %.1f dB, non-linear %.1f dB\n', ...
       level(S_lin, 3 * f0), level(S_nl, 3 * f0));

t_us_lin = (t_lin + (0:rows(p_lin) - 1)' / fs) * 1e6;
t_us_nl = (t_nl + (0:rows(p_nl) - 1)' / fs) * 1e6;
db_lin = max(20 * log10(S_lin / ref), -80);
db_nl = max(20 * log10(S_nl / ref), -80);
show = f <= 15e6;

file = fullfile(pwd(), 'orvel_nonlinear.png');
drawn = false;
if have_plot_toolkit()
  try
    warning('off', 'Octave:gnuplot-graphics');
    warning('off', 'print:nogs');
    graphics_toolkit('gnuplot');
    fig = figure('visible', 'off', 'position', [0 0 900 700]);
    subplot(2, 1, 1);
    plot(t_us_lin, p_lin / 1e6, 'b', t_us_nl, p_nl / 1e6, 'r');
    xlabel('time [us]');
    ylabel('pressure [MPa]');
    legend('linear', 'non-linear', 'location', 'northeast');
    title(sprintf('Pulse at the focus (%.0f mm), B/A = 5.2', norm(focus) * 1e3));
    subplot(2, 1, 2);
    plot(f(show) / 1e6, db_lin(show), 'b', f(show) / 1e6, db_nl(show), 'r');
    hold on;
    plot([2 2] * f0 / 1e6, [-80 0], 'k:');
    xlabel('frequency [MHz]');
    ylabel('spectrum [dB]');
    legend('linear', 'non-linear', 'second harmonic', 'location', 'northeast');
    axis([0 15 -80 5]);
    print(fig, file, '-dpngcairo', '-r96');
    close(fig);
    drawn = true;
  catch err
    printf('  plotting failed (%s): picture written without axes\n', err.message);
  end
else
  printf('  (gnuplot not found: picture written without axes)\n');
end
if ~drawn
  % Both plots as curves on white: pulses above, spectra below (blue linear, red non-linear).
  img = ones(600, 900, 3);
  colours = [0 0 1; 1 0 0];
  t_all = union(t_us_lin, t_us_nl);
  pulses = [interp1(t_us_lin, p_lin, t_all, 'linear', 0), interp1(t_us_nl, p_nl, t_all, 'linear', 0)];
  img = draw_curves(img, t_all, pulses, colours, [20 280 20 880]);
  img = draw_curves(img, f(show), [db_lin(show), db_nl(show)], colours, [320 580 20 880]);
  imwrite(img, file);
end
printf('  wrote %s\n', file);
xdc_free(Th);
orvel_end();
printf('Non-linear example finished in %.1f s\n', toc(example_clock));
