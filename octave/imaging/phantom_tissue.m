function [points, amplitudes] = phantom_tissue(region, density, cell_volume, cysts, seed, spheres)
%PHANTOM_TISSUE  Randomly placed scatterers filling a box, with cylindrical and spherical cysts.
%   [points, amplitudes] = phantom_tissue(region, density, cell_volume, cysts, seed, spheres)
%
%   region       box [x_min x_max y_min y_max z_min z_max] [m]
%   density      scatterers per resolution cell [no unit], e.g. 10 for developed speckle
%   cell_volume  volume of a resolution cell [m^3] (resolution_cell)
%   cysts        k x 4 matrix, one cyst [x z radius gain] per row ([m m m], gain no unit),
%                or [] for none (the default). A cyst is a cylinder along y; the amplitude of
%                a scatterer inside it, (x - x_c)^2 + (z - z_c)^2 <= radius^2, is
%                multiplied by gain: 0 anechoic, > 1 hyperechoic. Overlapping cysts multiply.
%   seed         whole number seeding the random generators (default 0); the same seed gives
%                the same phantom. The generators' earlier states are restored afterwards.
%   spheres      k x 5 matrix, one ball [x y z radius gain] per row ([m m m m], gain no unit),
%                or [] for none (the default), for volumes: the amplitude of a scatterer
%                inside it, |p - [x y z]| <= radius, is multiplied by gain. A scatterer inside
%                several cysts or spheres takes the product of their gains. Spheres change
%                amplitudes only: the positions and the draws are those without them.
%
%   points       n x 3 positions [x y z] [m], uniform in the box,
%                n = round(density * box volume / cell_volume)
%   amplitudes   n x 1 amplitudes [no unit]: Gaussian, mean 0, standard deviation 1, times
%                the gains of the cysts and spheres containing the scatterer
%
%   See also RESOLUTION_CELL, PHANTOM_POINTS, PHANTOM_FROM_MAP, CALC_SCAT.
if nargin < 3
  error('orvel:usage', ['phantom_tissue: needs at least 3 arguments: ' ...
                        'phantom_tissue(region, density, cell_volume, cysts, seed, spheres)']);
end
if nargin < 4
  cysts = [];
end
if nargin < 5
  seed = 0;
end
if nargin < 6
  spheres = [];
end
if ~isnumeric(region) || ~isreal(region) || numel(region) ~= 6 || any(~isfinite(region(:))) ...
   || any(region([2 4 6]) < region([1 3 5]))
  error('orvel:badArgument', ['phantom_tissue: region must be [x_min x_max y_min y_max ' ...
                              'z_min z_max] with finite values, each minimum <= its maximum']);
end
if ~isnumeric(density) || ~isreal(density) || ~isscalar(density) || ~(density >= 0) ...
   || ~isfinite(density)
  error('orvel:badArgument', 'phantom_tissue: density must be a non-negative number');
end
if ~isnumeric(cell_volume) || ~isreal(cell_volume) || ~isscalar(cell_volume) ...
   || ~(cell_volume > 0)
  error('orvel:badArgument', 'phantom_tissue: cell_volume must be a positive number [m^3]');
end
if ~isempty(cysts) && (~isnumeric(cysts) || ~isreal(cysts) || ndims(cysts) ~= 2 ...
                       || columns(cysts) ~= 4)
  error('orvel:badArgument', ['phantom_tissue: cysts must be a k x 4 matrix of rows ' ...
                              '[x z radius gain]']);
end
if ~isempty(spheres) && (~isnumeric(spheres) || ~isreal(spheres) || ndims(spheres) ~= 2 ...
                         || columns(spheres) ~= 5)
  error('orvel:badArgument', ['phantom_tissue: spheres must be a k x 5 matrix of rows ' ...
        '[x y z radius gain], but is %s'], regexprep(mat2str(size(spheres)), ...
        {'[\[\]]', ' '}, {'', ' x '}));
end
if ~isnumeric(seed) || ~isscalar(seed) || seed ~= round(seed) || seed < 0
  error('orvel:badArgument', 'phantom_tissue: seed must be a non-negative whole number');
end
region = double(region(:)');
sides = region([2 4 6]) - region([1 3 5]);
count = round(density * prod(sides) / cell_volume);

[u, amplitudes] = seeded_draws(count, seed);

points = region([1 3 5]) + u .* sides;
for k = 1:rows(cysts)
  cyst = double(cysts(k, :));
  inside = (points(:, 1) - cyst(1)).^2 + (points(:, 3) - cyst(2)).^2 <= cyst(3)^2;
  amplitudes(inside) = amplitudes(inside) * cyst(4);
end
for k = 1:rows(spheres)
  ball = double(spheres(k, :));
  inside = (points(:, 1) - ball(1)).^2 + (points(:, 2) - ball(2)).^2 ...
           + (points(:, 3) - ball(3)).^2 <= ball(4)^2;
  amplitudes(inside) = amplitudes(inside) * ball(5);
end
end
