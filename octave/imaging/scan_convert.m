function image = scan_convert(lines, angles, r, x, z, apex)
%SCAN_CONVERT  Sector image lines to a Cartesian grid.
%   image = scan_convert(lines, angles, r, x, z, apex)
%
%   lines   numel(r) x numel(angles) matrix: one column per line, one row per radius
%           (e.g. the envelope or its dB values)
%   angles  angles of the lines [rad] from the z axis towards +x, increasing, at least 2
%   r       distances of the samples from the sector's apex [m], increasing, at least 2
%   x       lateral positions of the grid [m], a vector
%   z       depths of the grid [m], a vector
%   apex    [x_a z_a], the point all lines come from [m], optional (default [0 0], a phased
%           array's centre; [0 -radius] for scan_convex, whose samples then lie at
%           r = radius + depth)
%
%   image   numel(z) x numel(x) matrix [unit of lines]: the point (x, z) lies at radius
%           sqrt((x - x_a)^2 + (z - z_a)^2) and angle atan2(x - x_a, z - z_a) from the
%           apex; its value is interpolated bilinearly in
%           radius and angle between the four surrounding samples; NaN outside the sector
%           (radius outside [r(1), r(end)] or angle outside [angles(1), angles(end)])
%
%   See also SCAN_PHASED, SHOW_IMAGE.
if nargin < 5
  error('orvel:usage', 'scan_convert: needs 5 arguments: scan_convert(lines, angles, r, x, z, apex)');
end
if nargin < 6
  apex = [0 0];
end
if ~isnumeric(apex) || ~isreal(apex) || numel(apex) ~= 2 || any(~isfinite(apex(:)))
  error('orvel:badArgument', 'scan_convert: apex must be [x z], two finite numbers [m]');
end
if ~isnumeric(angles) || ~isreal(angles) || ~isvector(angles) || numel(angles) < 2 ...
   || any(diff(angles(:)) <= 0)
  error('orvel:badArgument', 'scan_convert: angles must be an increasing vector of at least 2 angles [rad]');
end
if ~isnumeric(r) || ~isreal(r) || ~isvector(r) || numel(r) < 2 || any(diff(r(:)) <= 0)
  error('orvel:badArgument', 'scan_convert: r must be an increasing vector of at least 2 radii [m]');
end
if ~isnumeric(lines) || ~isreal(lines) || ndims(lines) ~= 2 || ~isequal(size(lines), [numel(r) numel(angles)])
  error('orvel:badArgument', 'scan_convert: lines must be numel(r) x numel(angles) = %d x %d, but is %d x %d', ...
        numel(r), numel(angles), rows(lines), columns(lines));
end
if ~isnumeric(x) || ~isreal(x) || ~(isvector(x) || isempty(x)) || ~isnumeric(z) || ~isreal(z) ...
   || ~(isvector(z) || isempty(z))
  error('orvel:badArgument', 'scan_convert: x and z must be vectors [m]');
end
lines = double(lines);
angles = double(angles(:));
r = double(r(:));
[X, Z] = meshgrid(double(x(:)') - double(apex(1)), double(z(:)) - double(apex(2)));
radius = sqrt(X.^2 + Z.^2);
theta = atan2(X, Z);
inside = radius >= r(1) & radius <= r(end) & theta >= angles(1) & theta <= angles(end);
image = NaN(size(X));
radius = radius(inside);
theta = theta(inside);

% The sample at or before each point, and the fraction of the way to the next one.
i = min(max(lookup(r, radius), 1), numel(r) - 1);
j = min(max(lookup(angles, theta), 1), numel(angles) - 1);
fr = (radius - r(i)) ./ (r(i + 1) - r(i));
fa = (theta - angles(j)) ./ (angles(j + 1) - angles(j));
n = numel(r);
k = i + n * (j - 1);                  % lines(i, j)
image(inside) = (1 - fa) .* ((1 - fr) .* lines(k) + fr .* lines(k + 1)) ...
                + fa .* ((1 - fr) .* lines(k + n) + fr .* lines(k + n + 1));
end
