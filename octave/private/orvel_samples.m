function x = orvel_samples(cmd, name, x)
%ORVEL_SAMPLES  A pulse given as a row or a column of samples, as a row of doubles.
%   A matrix is refused with a text that starts with cmd: read as one row it would be its
%   columns one after the other. Values that are not numbers pass unchanged, for the module
%   to refuse.
if ~(isnumeric(x) || islogical(x))
  return;
end
if ~(isvector(x) || isempty(x))
  error('orvel:badArgument', '%s: %s must be a row or a column of samples, but is %s', ...
        cmd, name, orvel_describe(x));
end
x = orvel_num(reshape(x, 1, []));
end
