function e = element_rows(fn, positions)
% The N x 3 element centres, finite, at least one and at most as many as an aperture holds.
if ~isnumeric(positions) || ~isreal(positions) || ndims(positions) ~= 2 ...
   || columns(positions) ~= 3 || rows(positions) < 1 || any(~isfinite(positions(:)))
  error('orvel:badArgument', ['%s: element_positions must be N x 3 finite element centres ' ...
        '[m] (element_positions(Th)), but is %s'], fn, size_text(positions));
end
if rows(positions) > 2147483647
  error('orvel:badArgument', ['%s: element_positions holds %d elements, more than an ' ...
        'aperture holds (2147483647)'], fn, rows(positions));
end
e = double(positions);
end
