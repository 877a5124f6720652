function [x, front, vector] = slow_time(a)
%SLOW_TIME  An array as one slow-time signal per row.
%   Slow time is the last dimension of a (of ndims(a)); a vector is one slow-time signal.
%   x is prod(front) x N in double, front the sizes of the other dimensions ([] for a
%   vector), vector whether a was one.
vector = isvector(a);
if vector
  front = [];
  x = double(a(:).');
else
  dims = size(a);
  front = dims(1:end - 1);
  x = reshape(double(a), prod(front), dims(end));
end
end
