% Benchmark: calc_h and calc_hp of a focused linear array over a plane of field points.
%
% Fixed scenario, so that figures from different builds and machines can be compared:
% a 64-element linear array (width 0.28 mm, height 5 mm, kerf 0.03 mm, 2 by 10 rectangles per
% element) focused at (0, 0, 30) mm, c = 1540 m/s, fs = 100 MHz, the default one-sample impulse
% response and excitation; 101 by 101 points at y = 0, x from -10 to 10 mm, z from 5 to 55 mm.
% Each command runs over all the points in one call, three times; the median is reported.
%
% Run with `make bench`, or as a script file from any folder:
%   octave-cli --no-gui --norc --no-history --quiet --path BUILD --path octave \
%     bench/field_linear_array.m
1;  % a script file, not a function file: the helpers below are local to it

function text = cpu_model()
  text = 'unknown CPU';
  [fid, msg] = fopen('/proc/cpuinfo', 'r');
  if fid < 0
    return;
  end
  line = fgetl(fid);
  while ischar(line)
    if strncmp(line, 'model name', 10)
      text = strtrim(line(index(line, ':') + 1:end));
      break;
    end
    line = fgetl(fid);
  end
  fclose(fid);
end

function text = build_type()
  % The build type and its flags, from the CMake cache beside the module that is loaded.
  text = 'unknown build type';
  cache = fullfile(fileparts(which('Orvel_mex')), 'CMakeCache.txt');
  [fid, msg] = fopen(cache, 'r');
  if fid < 0
    return;
  end
  entries = textscan(fid, '%s', 'delimiter', "\n");
  fclose(fid);
  entries = entries{1};
  type = regexp(entries, '^CMAKE_BUILD_TYPE:\w+=(.*)$', 'tokens', 'once');
  type = [type{!cellfun('isempty', type)}];
  if isempty(type)
    return;
  end
  text = type{1};
  flag_name = ['^CMAKE_CXX_FLAGS_' upper(text) ':\w+=(.*)$'];
  flags = regexp(entries, flag_name, 'tokens', 'once');
  flags = [flags{!cellfun('isempty', flags)}];
  if !isempty(flags)
    text = sprintf('%s (%s)', text, flags{1});
  end
end

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

printf('Orvel benchmark: field of a focused linear array\n');
printf('  machine: %d cores (nproc), %s\n', nproc(), cpu_model());
printf('  build:   %s, Octave %s\n', build_type(), OCTAVE_VERSION);
printf('  scenario: 64 elements, 2 x 10 rectangles each, focus 30 mm, fs 100 MHz, ');
printf('%d points (101 x 101, y = 0)\n', no_points);

commands = {'calc_h', @calc_h; 'calc_hp', @calc_hp};
for k = 1:rows(commands)
  seconds = zeros(1, no_runs);
  for attempt = 1:no_runs
    started = tic();
    [result, start_time] = commands{k, 2}(Th, points);
    seconds(attempt) = toc(started);
    result_size = size(result);
    clear result;
  end
  middle = median(seconds);
  printf('  %-8s median %7.3f s  %10.0f points/s   (runs:%s s; result %d x %d)\n', ...
         commands{k, 1}, middle, no_points / middle, sprintf(' %.3f', seconds), ...
         result_size(1), result_size(2));
end

xdc_free(Th);
orvel_end();
