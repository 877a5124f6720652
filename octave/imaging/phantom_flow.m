function phantom = phantom_flow(region, vessel, density, cell_volume, seed)
%PHANTOM_FLOW  A straight vessel of flowing blood in a block of tissue.
%   phantom = phantom_flow(region, vessel, density, cell_volume, seed)
%
%   region       box [x_min x_max y_min y_max z_min z_max] [m], as for phantom_tissue
%   vessel       struct with the fields
%     center           [x y z] [m], a point on the vessel's axis, inside the region
%     direction        [dx dy dz], the axis's direction (normalised here; not 0); any angle
%                      to the beam
%     radius           the vessel's radius [m], > 0
%     v_peak           the speed on the axis [m/s], along direction (negative: the other way)
%     profile          'parabolic' (default): v(r) = v_peak * (1 - (r/radius)^2) at the
%                      distance r from the axis; 'plug': v = v_peak everywhere
%     clutter          amplitude of the tissue's scatterers over the blood's, >= 0 (default 1)
%     tissue_velocity  [vx vy vz] [m/s] (default [0 0 0]): the tissue moves as one block
%   density      scatterers per resolution cell [no unit], in blood and tissue alike
%   cell_volume  volume of a resolution cell [m^3] (resolution_cell)
%   seed         whole number seeding the random generators (default 0); the same seed gives
%                the same phantom. The generators' earlier states are restored afterwards.
%
%   phantom      moving phantom [struct, units below] for phantom_positions and scan_run:
%     kind               'flow'
%     tissue_points      n_t x 3 positions at t = 0 [m]
%     tissue_amplitudes  n_t x 1 amplitudes [no unit]: Gaussian (mean 0, sd 1) times clutter
%     tissue_velocity    1 x 3 [m/s]
%     center             1 x 3 [m]
%     direction          1 x 3 unit vector u along the axis [no unit]
%     s_lo, s_hi         the axis's segment inside the region [m]: the points center + s*u
%                        with s_lo <= s < s_hi, both by the slab method (each coordinate
%                        bounds s where u has a component along it); L = s_hi - s_lo > 0
%     blood_s0           n_b x 1 positions along the axis at t = 0 [m], uniform in [s_lo, s_hi)
%     blood_offset       n_b x 3 offsets from the axis [m], uniform over the vessel's disc:
%                        r = radius*sqrt(U1), angle 2*pi*U2, along a = u x e normalised (e the
%                        coordinate axis of the smallest |u_k|, the first of equals) and
%                        b = u x a: r*cos(angle)*a + r*sin(angle)*b
%     blood_speed        n_b x 1 speed v(r) of each along u [m/s]
%     blood_amplitudes   n_b x 1 amplitudes [no unit]: Gaussian, mean 0, sd 1
%
%   n_b = round(density * pi * radius^2 * L / cell_volume) blood scatterers; the tissue
%   holds round(density * box volume / cell_volume) points uniform in the box less those in
%   the vessel (distance from the axis < radius and s_lo <= s < s_hi). Blood leaving the
%   segment at one end comes back at the other (phantom_positions).
%
%   See also PHANTOM_MOTION, PHANTOM_POSITIONS, PHANTOM_TISSUE, SCAN_ENSEMBLE, SCAN_RUN.
if nargin < 4
  error('orvel:usage', ['phantom_flow: needs at least 4 arguments: ' ...
                        'phantom_flow(region, vessel, density, cell_volume, seed)']);
end
if nargin < 5
  seed = 0;
end
if ~isnumeric(region) || ~isreal(region) || numel(region) ~= 6 || any(~isfinite(region(:))) ...
   || any(region([2 4 6]) < region([1 3 5]))
  error('orvel:badArgument', ['phantom_flow: region must be [x_min x_max y_min y_max ' ...
                              'z_min z_max] with finite values, each minimum <= its maximum']);
end
fields = {'center', 'direction', 'radius', 'v_peak', 'profile', 'clutter', 'tissue_velocity'};
if ~isstruct(vessel) || ~isscalar(vessel)
  error('orvel:badArgument', ['phantom_flow: vessel must be a struct with the fields center, ' ...
                              'direction, radius and v_peak']);
end
for name = fieldnames(vessel)'
  if ~any(strcmp(name{1}, fields))
    error('orvel:badArgument', ['phantom_flow: vessel has no field %s; its fields are ' ...
          'center, direction, radius, v_peak, profile, clutter, tissue_velocity'], name{1});
  end
end
for name = fields(1:4)
  if ~isfield(vessel, name{1})
    error('orvel:badArgument', 'phantom_flow: vessel needs the field %s', name{1});
  end
end
defaults = struct('profile', 'parabolic', 'clutter', 1, 'tissue_velocity', [0 0 0]);
for name = fieldnames(defaults)'
  if ~isfield(vessel, name{1})
    vessel.(name{1}) = defaults.(name{1});
  end
end
triple = @(v) isnumeric(v) && isreal(v) && numel(v) == 3 && all(isfinite(v(:)));
number = @(v) isnumeric(v) && isreal(v) && isscalar(v) && isfinite(v);
if ~triple(vessel.center)
  error('orvel:badArgument', 'phantom_flow: vessel.center must be [x y z], three finite numbers [m]');
end
if ~triple(vessel.direction) || ~any(vessel.direction(:) ~= 0)
  error('orvel:badArgument', ['phantom_flow: vessel.direction must be [dx dy dz], three finite ' ...
                              'numbers, not all 0']);
end
if ~number(vessel.radius) || ~(vessel.radius > 0)
  error('orvel:badArgument', 'phantom_flow: vessel.radius must be a positive finite number [m]');
end
if ~number(vessel.v_peak)
  error('orvel:badArgument', 'phantom_flow: vessel.v_peak must be a finite number [m/s]');
end
if ~ischar(vessel.profile) || ~any(strcmp(vessel.profile, {'parabolic', 'plug'}))
  error('orvel:badArgument', 'phantom_flow: vessel.profile must be ''parabolic'' or ''plug''');
end
if ~number(vessel.clutter) || ~(vessel.clutter >= 0)
  error('orvel:badArgument', 'phantom_flow: vessel.clutter must be a finite number >= 0');
end
if ~triple(vessel.tissue_velocity)
  error('orvel:badArgument', ['phantom_flow: vessel.tissue_velocity must be [vx vy vz], three ' ...
                              'finite numbers [m/s]']);
end
if ~isnumeric(density) || ~isreal(density) || ~isscalar(density) || ~(density >= 0) || ~isfinite(density)
  error('orvel:badArgument', 'phantom_flow: density must be a non-negative number');
end
if ~isnumeric(cell_volume) || ~isreal(cell_volume) || ~isscalar(cell_volume) || ~(cell_volume > 0)
  error('orvel:badArgument', 'phantom_flow: cell_volume must be a positive number [m^3]');
end
if ~isnumeric(seed) || ~isscalar(seed) || seed ~= round(seed) || seed < 0
  error('orvel:badArgument', 'phantom_flow: seed must be a non-negative whole number');
end
region = double(region(:)');
low = region([1 3 5]);
high = region([2 4 6]);
center = double(vessel.center(:)');
if any(center < low) || any(center > high)
  error('orvel:badArgument', 'phantom_flow: vessel.center must lie inside the region');
end
u = double(vessel.direction(:)');
u = u / norm(u);
radius = double(vessel.radius);

% The axis's chord through the box: each slab low_k <= center_k + s*u_k <= high_k bounds s
% where u_k is not 0 (the centre lies inside, so the other slabs hold for every s).
s_lo = -Inf;
s_hi = Inf;
for k = 1:3
  if u(k) ~= 0
    ends = ([low(k) high(k)] - center(k)) / u(k);
    s_lo = max(s_lo, min(ends));
    s_hi = min(s_hi, max(ends));
  end
end
L = s_hi - s_lo;
if ~(L > 0)
  error('orvel:badArgument', 'phantom_flow: the vessel''s axis crosses the region over no length (L = 0)');
end

% The disc across the vessel: a normal to u and to the coordinate axis least parallel to it.
[~, least] = min(abs(u));
e = zeros(1, 3);
e(least) = 1;
a = cross(u, e);
a = a / norm(a);
b = cross(u, a);

sides = high - low;
n_t = round(double(density) * prod(sides) / double(cell_volume));
n_b = round(double(density) * pi * radius^2 * L / double(cell_volume));
% One stream of draws: the tissue's rows first, then the blood's.
[draws, gauss] = seeded_draws(n_t + n_b, seed);

tissue = low + draws(1:n_t, :) .* sides;
along = (tissue - center) * u';
across = (tissue - center) - along .* u;
inside = sqrt(sum(across .^ 2, 2)) < radius & along >= s_lo & along < s_hi;
tissue_amplitudes = gauss(1:n_t) * double(vessel.clutter);

blood = draws(n_t + 1:end, :);
s0 = s_lo + blood(:, 1) * L;
r = radius * sqrt(blood(:, 2));
angle = 2 * pi * blood(:, 3);
offset = (r .* cos(angle)) .* a + (r .* sin(angle)) .* b;
if strcmp(vessel.profile, 'parabolic')
  speed = double(vessel.v_peak) * (1 - (r / radius) .^ 2);
else
  speed = double(vessel.v_peak) * ones(n_b, 1);
end

phantom = struct('kind', 'flow', 'tissue_points', tissue(~inside, :), ...
                 'tissue_amplitudes', tissue_amplitudes(~inside), ...
                 'tissue_velocity', double(vessel.tissue_velocity(:)'), 'center', center, ...
                 'direction', u, 's_lo', s_lo, 's_hi', s_hi, 'blood_s0', s0, ...
                 'blood_offset', offset, 'blood_speed', speed, ...
                 'blood_amplitudes', gauss(n_t + 1:end));
end
