% Benchmark S2: the RF signals of point scatterers, per receive element and summed.
%
% Fixed scenario: a 128-element linear array (width 0.27 mm, kerf 0.03 mm, height 5 mm, 1 by 5
% rectangles per element) for transmit and, as a second aperture, for receive; every focusing
% delay 0 (a plane wave); excitation two cycles of 5 MHz, impulse response 40 samples of a
% Hann-weighted 5 MHz sine on both; fs = 100 MHz; scatterers uniform in x from -10 to 10 mm,
% y = 0, z from 20 to 40 mm, amplitudes uniform in [-0.5, 0.5] (fixed seed). Median of three
% runs, on one thread and on every core.
%
% Run with `make bench`, or as a script file from any folder:
%   octave-cli --no-gui --norc --no-history --quiet --path BUILD --path octave --path bench \
%     bench/scat_linear_array.m
no_runs = 3;
f0 = 5e6;
fs = 100e6;

orvel_init(-1);
set_option('c', 1540);
set_sampling(fs);
impulse = hanning(40)' .* sin(2 * pi * f0 * (0:39) / fs);
excitation = sin(2 * pi * f0 * (0:1 / fs:2 / f0));
apertures = zeros(1, 2);
for k = 1:2
  apertures(k) = xdc_linear_array(128, 0.27e-3, 5e-3, 0.03e-3, 1, 5, [0 0 30e-3]);
  xdc_focus_delays(apertures(k), 0, zeros(1, 128));
  xdc_impulse(apertures(k), impulse);
  xdc_excitation(apertures(k), excitation);
end
[Tx, Rx] = deal(apertures(1), apertures(2));

rand('state', 7);
n = 10000;
positions = [-10e-3 + 20e-3 * rand(n, 1), zeros(n, 1), 20e-3 + 20e-3 * rand(n, 1)];
amplitudes = rand(n, 1) - 0.5;

bench_machine('Orvel benchmark S2: scattered signals of a plane-wave linear array');
printf('  scenario: 128 elements, 1 x 5 rectangles each, plane wave, fs 100 MHz, ');
printf('scatterers in x -10..10 mm, z 20..40 mm\n');

cases = {'calc_scat_multi', @calc_scat_multi, 1000; 'calc_scat_multi', @calc_scat_multi, n; ...
         'calc_scat', @calc_scat, n};
for threads = unique([1, nproc()])
  set_option('threads', threads);
  for k = 1:rows(cases)
    m = cases{k, 3};
    run = @() cases{k, 2}(Tx, Rx, positions(1:m, :), amplitudes(1:m));
    [middle, result_size, seconds] = bench_median(run, no_runs);
    printf('  %-15s %5d scatterers  threads %2d  median %7.3f s  %8.0f scatterers/s', ...
           cases{k, 1}, m, threads, middle, m / middle);
    printf('   (runs:%s s; result %d x %d)\n', sprintf(' %.3f', seconds), result_size);
  end
end

xdc_free(Tx);
xdc_free(Rx);
orvel_end();
