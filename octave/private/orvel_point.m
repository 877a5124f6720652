function p = orvel_point(cmd, name, p)
%ORVEL_POINT  One point [x y z], given as a row or a column of 3 real numbers, as a 1 x 3 row.
%   Anything else is refused with a text that starts with cmd and names the argument.
if (isnumeric(p) || islogical(p)) && isreal(p) && numel(p) == 3
  p = orvel_num(reshape(p, 1, 3));
else
  error('orvel:badArgument', '%s: %s must be one point [x y z] (3 real numbers), but is %s', ...
        cmd, name, orvel_describe(p));
end
end
