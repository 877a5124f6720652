function [x, n] = orvel_points(cmd, name, x, per)
%ORVEL_POINTS  A table of points, one row [x y z] per point, as doubles, and its row count n.
%   [x, n] = orvel_points(cmd, name, x) for the argument called name of command cmd;
%   orvel_points(cmd, name, x, per) names what a row stands for (default 'point'). An empty
%   matrix is no points and a column of 3 values is one point. Anything else but an n x 3
%   matrix of real numbers is refused with a text that starts with cmd and gives the size
%   received; a 3 x n matrix most likely holds one point per column, so the text then
%   suggests transposing it.
if nargin < 4
  per = 'point';
end
numbers = (isnumeric(x) || islogical(x)) && isreal(x);
if numbers && isempty(x)
  x = zeros(0, 3);
elseif numbers && isequal(size(x), [3 1])
  x = x.';
elseif ~numbers || ndims(x) ~= 2 || size(x, 2) ~= 3
  hint = '';
  if numbers && ndims(x) == 2 && size(x, 1) == 3
    hint = sprintf('; transpose it (%s.'')', name);
  end
  error('orvel:badArgument', ...
        '%s: %s must be an n x 3 real matrix (one row [x y z] per %s), but is %s%s', ...
        cmd, name, per, orvel_describe(x), hint);
end
x = orvel_num(x);
n = size(x, 1);
end
