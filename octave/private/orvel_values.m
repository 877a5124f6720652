function v = orvel_values(cmd, name, v, n, per)
%ORVEL_VALUES  A vector of one value per item (per is 'point', 'row', ...), as a column.
%   A row and a column are both accepted. Another count, or a matrix, is refused with a
%   text that starts with cmd and gives the expected and the received count.
numbers = isnumeric(v) || islogical(v);
if numbers && (isvector(v) || isempty(v)) && numel(v) == n
  v = orvel_num(v(:));
  return;
end
if numbers && (isvector(v) || isempty(v))
  got = sprintf('%d received', numel(v));
else
  got = ['received ' orvel_describe(v)];
end
error('orvel:badArgument', '%s: %s must hold one value per %s: %d expected, %s', ...
      cmd, name, per, n, got);
end
