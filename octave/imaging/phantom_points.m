function [points, amplitudes] = phantom_points(xyz, amplitudes)
%PHANTOM_POINTS  Point targets in the plane y = 0, or anywhere in space.
%   [points, amplitudes] = phantom_points(xyz, amplitudes)
%
%   xyz         n x 2 matrix, one target position [x z] per row [m], put in the plane y = 0;
%               or n x 3, one position [x y z] per row [m], taken as it is
%   amplitudes  n scattering amplitudes, one per target (a row or a column); default ones
%
%   points      n x 3 matrix of positions [x y z] [m], as calc_scat takes them
%   amplitudes  n x 1 column of amplitudes [no unit]
%
%   See also PHANTOM_TISSUE, PHANTOM_FROM_MAP, CALC_SCAT.
if nargin < 1
  error('orvel:usage', ['phantom_points: needs at least 1 argument: ' ...
                        'phantom_points(xyz, amplitudes)']);
end
if ~isnumeric(xyz) || ~isreal(xyz) || ndims(xyz) ~= 2 ...
   || (columns(xyz) ~= 2 && columns(xyz) ~= 3 && rows(xyz) > 0)
  error('orvel:badArgument', ['phantom_points: xyz must be an n x 2 real matrix (rows [x z]) ' ...
        'or n x 3 (rows [x y z]), but is %s'], ...
        regexprep(mat2str(size(xyz)), {'[\[\]]', ' '}, {'', ' x '}));
end
n = rows(xyz);
if n == 0
  xyz = zeros(0, 2);   % [] (0 x 0): no points
end
xyz = double(xyz);
if nargin < 2 || (isempty(amplitudes) && n > 0)
  amplitudes = ones(n, 1);
end
if ~isnumeric(amplitudes) || ~isreal(amplitudes) || numel(amplitudes) ~= n
  error('orvel:badArgument', ['phantom_points: amplitudes must hold one value per point: ' ...
        '%d expected, %d received'], n, numel(amplitudes));
end
if columns(xyz) == 3
  points = xyz;
else
  points = [xyz(:, 1), zeros(n, 1), xyz(:, 2)];
end
amplitudes = double(amplitudes(:));
end
