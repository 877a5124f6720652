function [points, amplitudes] = phantom_from_map(map, x_range, z_range, count, y_range, seed)
%PHANTOM_FROM_MAP  Random scatterers whose amplitudes follow a map or a picture.
%   [points, amplitudes] = phantom_from_map(map, x_range, z_range, count, y_range, seed)
%
%   map      matrix of non-negative amplitudes [no unit], rows along z (first row at
%            z_range(1), last at z_range(2)), columns along x (first at x_range(1), last at
%            x_range(2)); or the name of an image file, read with imread and made grey in
%            [0, 1]: integer pixels divided by the largest value of their class, colour
%            pixels 0.299*R + 0.587*G + 0.114*B, indexed pixels through their colour map
%   x_range  [x_min x_max] [m]
%   z_range  [z_min z_max] [m]
%   count    number of scatterers, a whole number
%   y_range  [y_min y_max] [m], default [0 0] (a plane)
%   seed     whole number seeding the random generators (default 0); their earlier states
%            are restored afterwards
%
%   points      count x 3 positions [x y z] [m], uniform in x_range x y_range x z_range
%   amplitudes  count x 1 amplitudes [no unit]: Gaussian (mean 0, standard deviation 1)
%               times the map's value at (x, z), interpolated bilinearly between the map's
%               entries; scatterers where the map is 0 have amplitude 0
%
%   See also PHANTOM_TISSUE, PHANTOM_POINTS, IMREAD.
if nargin < 4
  error('orvel:usage', ['phantom_from_map: needs at least 4 arguments: ' ...
                        'phantom_from_map(map, x_range, z_range, count, y_range, seed)']);
end
if nargin < 5 || isempty(y_range)
  y_range = [0 0];
end
if nargin < 6
  seed = 0;
end
if ischar(map)
  file = map;
  if ~exist(file, 'file')
    error('orvel:badArgument', 'phantom_from_map: no image file %s', file);
  end
  [map, colours] = imread(file);
  if ~isempty(colours)
    map = ind2rgb(map, colours);
  end
  if isinteger(map)
    map = double(map) / double(intmax(class(map)));
  else
    map = double(map);
  end
  if size(map, 3) == 3
    map = 0.299 * map(:, :, 1) + 0.587 * map(:, :, 2) + 0.114 * map(:, :, 3);
  elseif size(map, 3) ~= 1
    error('orvel:badArgument', 'phantom_from_map: %s is neither grey nor RGB', file);
  end
end
if ~(isnumeric(map) || islogical(map)) || ~isreal(map) || ndims(map) ~= 2 || isempty(map) ...
   || any(~isfinite(map(:))) || any(map(:) < 0)
  error('orvel:badArgument', 'phantom_from_map: map must be a non-empty matrix of finite non-negative values');
end
ranges = {x_range, z_range, y_range};
names = {'x_range', 'z_range', 'y_range'};
for k = 1:3
  r = ranges{k};
  if ~isnumeric(r) || ~isreal(r) || numel(r) ~= 2 || any(~isfinite(r)) || r(2) < r(1)
    error('orvel:badArgument', 'phantom_from_map: %s must be [min max] with min <= max', names{k});
  end
end
if ~isnumeric(count) || ~isscalar(count) || count ~= round(count) || count < 0
  error('orvel:badArgument', 'phantom_from_map: count must be a non-negative whole number');
end
if ~isnumeric(seed) || ~isscalar(seed) || seed ~= round(seed) || seed < 0
  error('orvel:badArgument', 'phantom_from_map: seed must be a non-negative whole number');
end
[nz, nx] = size(map);
if (nx > 1 && x_range(2) == x_range(1)) || (nz > 1 && z_range(2) == z_range(1))
  error('orvel:badArgument', 'phantom_from_map: a map of several columns (rows) needs x_range (z_range) of non-zero width');
end
map = double(map);
low = double([x_range(1) y_range(1) z_range(1)]);
sides = double([x_range(2) y_range(2) z_range(2)]) - low;

[u, amplitudes] = seeded_draws(count, seed);
points = low + u .* sides;

% Position in the map counted in entries from 0: the entry at or before it and the fraction of
% the way to the next one (a single row or column is constant along its axis).
sizes = [nx nz];
lows = [x_range(1) z_range(1)];
highs = [x_range(2) z_range(2)];
below = zeros(count, 2);
frac = zeros(count, 2);
step = double(sizes > 1);
for k = find(sizes > 1)
  s = (points(:, 2 * k - 1) - lows(k)) / (highs(k) - lows(k)) * (sizes(k) - 1);
  below(:, k) = min(max(floor(s), 0), sizes(k) - 2);
  frac(:, k) = s - below(:, k);
end
ix = below(:, 1);
iz = below(:, 2);
fx = frac(:, 1);
fz = frac(:, 2);
at = @(i, j) map(j + 1 + nz * i);     % map(j + 1, i + 1) for vectors of indices
value = (1 - fx) .* ((1 - fz) .* at(ix, iz) + fz .* at(ix, iz + step(2))) ...
        + fx .* ((1 - fz) .* at(ix + step(1), iz) + fz .* at(ix + step(1), iz + step(2)));
amplitudes = amplitudes .* value;
end
