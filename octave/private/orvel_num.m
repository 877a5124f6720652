function x = orvel_num(x)
%ORVEL_NUM  Numeric and logical arguments as doubles, the class Orvel_mex reads.
%   Other values (text, cells, ...) pass unchanged, so that the module refuses them with a
%   message naming the argument.
if isnumeric(x) || islogical(x)
  x = double(x);
end
end
