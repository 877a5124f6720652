function [points, amplitudes] = phantom_points(xz, amplitudes)
%PHANTOM_POINTS  Point targets in the plane y = 0.
%   [points, amplitudes] = phantom_points(xz, amplitudes)
%
%   xz          n x 2 matrix, one target position [x z] per row [m]
%   amplitudes  n scattering amplitudes, one per target (a row or a column); default ones
%
%   points      n x 3 matrix of positions [x 0 z] [m], as calc_scat takes them
%   amplitudes  n x 1 column of amplitudes [no unit]
%
%   See also PHANTOM_TISSUE, PHANTOM_FROM_MAP, CALC_SCAT.
if nargin < 1
  error('orvel:usage', 'phantom_points: needs at least 1 argument: phantom_points(xz, amplitudes)');
end
if ~isnumeric(xz) || ~isreal(xz) || ndims(xz) ~= 2 || (columns(xz) ~= 2 && ~isempty(xz))
  error('orvel:badArgument', 'phantom_points: xz must be an n x 2 real matrix, but is %s', ...
        regexprep(mat2str(size(xz)), {'[\[\]]', ' '}, {'', ' x '}));
end
n = rows(xz);
xz = double(reshape(xz, n, 2));
if nargin < 2 || (isempty(amplitudes) && n > 0)
  amplitudes = ones(n, 1);
end
if ~isnumeric(amplitudes) || ~isreal(amplitudes) || numel(amplitudes) ~= n
  error('orvel:badArgument', 'phantom_points: amplitudes must hold one value per point: %d expected, %d received', ...
        n, numel(amplitudes));
end
points = [xz(:, 1), zeros(n, 1), xz(:, 2)];
amplitudes = double(amplitudes(:));
end
