% Benchmark S1: calc_h, calc_hp and the map calc_hp_map (p_peak) of a focused linear array over
% a plane of field points.
%
% Fixed scenario, so that figures from different builds and machines can be compared:
% a 64-element linear array (width 0.28 mm, height 5 mm, kerf 0.03 mm, 2 by 10 rectangles per
% element) focused at (0, 0, 30) mm, c = 1540 m/s, fs = 100 MHz, the default one-sample impulse
% response and excitation; 101 by 101 points at y = 0, x from -10 to 10 mm, z from 5 to 55 mm.
% Each command runs over all the points in one call, three times, on one thread and on every
% core; the median is reported. The result is a large matrix (3481 x 10201): the last line
% gives what Octave itself takes to make a matrix of that size and copy it once, a floor under
% both commands that no module can go below. calc_hp_map returns one value per point: its time
% is the drivers' own (compare the drivers-alone benchmark).
%
% Run with `make bench`, or as a script file from any folder:
%   octave-cli --no-gui --norc --no-history --quiet --path BUILD --path octave --path bench \
%     bench/field_linear_array.m
no_runs = 3;

orvel_init(-1);
set_option('c', 1540);
set_sampling(100e6);
Th = xdc_linear_array(64, 0.28e-3, 5e-3, 0.03e-3, 2, 10, [0 0 30e-3]);

x = linspace(-10e-3, 10e-3, 101);
z = linspace(5e-3, 55e-3, 101);
[X, Z] = meshgrid(x, z);
points = [X(:), zeros(numel(X), 1), Z(:)];
no_points = rows(points);

bench_machine('Orvel benchmark S1: field of a focused linear array');
printf('  scenario: 64 elements, 2 x 10 rectangles each, focus 30 mm, fs 100 MHz, ');
printf('%d points (101 x 101, y = 0)\n', no_points);

commands = {'calc_h', @calc_h; 'calc_hp', @calc_hp
            'calc_hp_map', @(Th, points) calc_hp_map(Th, points, 'p_peak')};
for threads = unique([1, nproc()])
  set_option('threads', threads);
  for k = 1:rows(commands)
    [middle, result_size, seconds] = bench_median(@() commands{k, 2}(Th, points), no_runs);
    printf(['  %-11s threads %2d  median %7.3f s  %10.0f points/s   (runs:%s s; ' ...
            'result %d x %d)\n'], commands{k, 1}, threads, middle, no_points / middle, sprintf(' %.3f', seconds), ...
           result_size(1), result_size(2));
    if k == 2
      signals_size = result_size;
    end
  end
end
host = bench_median(@() zeros(signals_size) + 0, no_runs);
printf('  Octave making and copying a %d x %d matrix: median %.3f s\n', signals_size, host);

xdc_free(Th);
orvel_end();
