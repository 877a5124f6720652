function volume = scan_convert_3d(lines, angles, r, x, y, z)
%SCAN_CONVERT_3D  Pyramidal sector lines (scan_phased_2d) to a Cartesian volume.
%   volume = scan_convert_3d(lines, angles, r, x, y, z)
%
%   lines   numel(r) x T matrix: one column per line, one row per range (e.g. the envelope
%           of scan_run's rf)
%   angles  T x 2 matrix, the lines' angles [ax ay] [rad] as scan_phased_2d takes them. They
%           must form a full grid: every pair of nx distinct ax values and ny distinct ay
%           values (nx, ny >= 2) once, in any order; e.g. ax running fastest,
%           [AX(:) AY(:)] with [AX, AY] = ndgrid(ax, ay)
%   r       distances of the samples from the apex, the array's centre [m], increasing, at
%           least 2
%   x, y, z the grid [m], vectors
%
%   volume  numel(z) x numel(x) x numel(y) array [unit of lines], the layout of das_beamform's
%           volumes (show_volume): the voxel (x, y, z) lies at the range
%           sqrt(x^2 + y^2 + z^2) and the angles ax = atan2(x, z),
%           ay = atan2(y, sqrt(x^2 + z^2)) (its direction is
%           [sin(ax)*cos(ay), sin(ay), cos(ax)*cos(ay)]); its value is interpolated linearly
%           in range, in ax and in ay between the 8 surrounding samples of the grid of lines,
%           as scan_convert does in range and angle; NaN outside the pyramid (range outside
%           [r(1), r(end)] or an angle outside the grid's span)
%
%   See also SCAN_PHASED_2D, SCAN_CONVERT, SHOW_VOLUME.
if nargin < 6
  error('orvel:usage', ['scan_convert_3d: needs 6 arguments: ' ...
                        'scan_convert_3d(lines, angles, r, x, y, z)']);
end
if ~isnumeric(r) || ~isreal(r) || ~isvector(r) || numel(r) < 2 || any(~isfinite(r(:))) ...
   || ~all(diff(r(:)) > 0)
  error('orvel:badArgument', ['scan_convert_3d: r must be an increasing vector of at least ' ...
        '2 finite radii [m]']);
end
if ~isnumeric(lines) || ~isreal(lines) || ndims(lines) ~= 2 || rows(lines) ~= numel(r)
  error('orvel:badArgument', ['scan_convert_3d: lines must be numel(r) x T = %d x T, but is ' ...
        '%d x %d'], numel(r), rows(lines), columns(lines));
end
count = columns(lines);
if isnumeric(angles) && isvector(angles) && numel(angles) == 2
  angles = angles(:)';
end
if ~isnumeric(angles) || ~isreal(angles) || ndims(angles) ~= 2 || columns(angles) ~= 2 ...
   || any(~isfinite(angles(:)))
  error('orvel:badArgument', ['scan_convert_3d: angles must be a T x 2 matrix of finite rows ' ...
        '[ax ay] [rad]']);
end
if rows(angles) ~= count
  error('orvel:badArgument', ['scan_convert_3d: angles must hold one row [ax ay] per line: %d ' ...
        'rows expected (the columns of lines), %d received'], count, rows(angles));
end
[ax, ~, ix] = unique(double(angles(:, 1)));
[ay, ~, iy] = unique(double(angles(:, 2)));
nx = numel(ax);
ny = numel(ay);
cells = numel(unique(ix(:) + nx * (iy(:) - 1)));
if nx < 2 || ny < 2 || nx * ny ~= count || cells ~= count
  error('orvel:badArgument', ['scan_convert_3d: angles must form a grid of at least 2 ax ' ...
        'values by at least 2 ay values, each pair [ax ay] once (in any order), but its %d ' ...
        'rows hold %d ax values, %d ay values and %d distinct pairs'], count, nx, ny, cells);
end
if ~all(cellfun(@(v) isnumeric(v) && isreal(v) && (isvector(v) || isempty(v)), {x, y, z}))
  error('orvel:badArgument', 'scan_convert_3d: x, y and z must be vectors [m]');
end
r = double(r(:));
n = numel(r);
% The lines on their grid: samples x ax x ay.
grid = zeros(n, nx, ny);
grid(:, ix(:) + nx * (iy(:) - 1)) = double(lines);
[Z, X, Y] = ndgrid(double(z(:)), double(x(:)), double(y(:)));
radius = sqrt(X.^2 + Y.^2 + Z.^2);
theta_x = atan2(X, Z);
theta_y = atan2(Y, sqrt(X.^2 + Z.^2));
inside = radius >= r(1) & radius <= r(end) & theta_x >= ax(1) & theta_x <= ax(end) ...
         & theta_y >= ay(1) & theta_y <= ay(end);
volume = NaN(size(X));
radius = radius(inside);
theta_x = theta_x(inside);
theta_y = theta_y(inside);

% The sample at or before each voxel along each axis, and the fraction of the way to the next.
i = min(max(lookup(r, radius), 1), n - 1);
j = min(max(lookup(ax, theta_x), 1), nx - 1);
k = min(max(lookup(ay, theta_y), 1), ny - 1);
fr = (radius - r(i)) ./ (r(i + 1) - r(i));
fx = (theta_x - ax(j)) ./ (ax(j + 1) - ax(j));
fy = (theta_y - ay(k)) ./ (ay(k + 1) - ay(k));
weights_r = {1 - fr, fr};
weights_x = {1 - fx, fx};
weights_y = {1 - fy, fy};
value = zeros(size(radius));
for dr = 0:1
  for dx = 0:1
    for dy = 0:1
      at = (i + dr) + n * (j + dx - 1) + n * nx * (k + dy - 1);
      value = value + weights_r{dr + 1} .* weights_x{dx + 1} .* weights_y{dy + 1} .* grid(at);
    end
  end
end
volume(inside) = value;
end
