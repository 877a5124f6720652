% Benchmark S1M: a field map of a million points, which no signal matrix could hold.
%
% The S1 array (64 elements, 2 x 10 rectangles each, focus at 30 mm, fs = 100 MHz, one-sample
% impulse response and excitation) and 1000 x 1000 points of its plane y = 0, x from -20 to
% 20 mm and z from 2 to 80 mm: calc_hp_map with p_peak, once, on every core. Reported: the
% time, and the peak resident memory the call added to the process (the kernel's peak-RSS mark
% is reset just before the call, then read after it). The signals themselves would take about
% 28 GB as one matrix of calc_hp.
%
% Run with `make bench`, or as a script file from any folder:
%   octave-cli --no-gui --norc --no-history --quiet --path BUILD --path octave --path bench \
%     bench/field_map_million.m
1;  % a script file, not a function file: the helper below is local to it

function kib = status_kib(field)
  % A field of /proc/self/status ("VmRSS", "VmHWM") [KiB].
  text = fileread('/proc/self/status');
  kib = str2double(regexp(text, [field ':\s*(\d+)'], 'tokens', 'once'){1});
end

orvel_init(-1);
set_option('c', 1540);
set_sampling(100e6);
Th = xdc_linear_array(64, 0.28e-3, 5e-3, 0.03e-3, 2, 10, [0 0 30e-3]);
[X, Z] = meshgrid(linspace(-20e-3, 20e-3, 1000), linspace(2e-3, 80e-3, 1000));
points = [X(:), zeros(numel(X), 1), Z(:)];
clear X Z;

bench_machine('Orvel benchmark S1M: a million-point field map');
printf('  scenario: the S1 array, %d points (1000 x 1000, x -20..20 mm, z 2..80 mm, y = 0), ', ...
       rows(points));
printf('%d threads\n', get_option('threads'));
before = status_kib('VmRSS');
f = fopen('/proc/self/clear_refs', 'w');  % resets the peak-RSS mark (VmHWM) to the RSS now
reset = f >= 0 && fprintf(f, '5') > 0;
if f >= 0
  fclose(f);
end
started = tic();
map = calc_hp_map(Th, points, 'p_peak');
seconds = toc(started);
if reset
  printf('  calc_hp_map p_peak: %.1f s, %.0f points/s; peak memory added %.0f MB\n', seconds, ...
         rows(points) / seconds, (status_kib('VmHWM') - before) / 1024);
else
  printf('  calc_hp_map p_peak: %.1f s, %.0f points/s (peak memory not measurable here)\n', ...
         seconds, rows(points) / seconds);
end
printf('  result %d x %d; largest p_peak %.4g Pa\n', size(map), max(map));
xdc_free(Th);
orvel_end();
