function orvel_per_element(cmd, name, table, Th)
%ORVEL_PER_ELEMENT  Refuse a time-line table without one column per physical element of Th.
%   The count of physical elements is the height of the aperture's apodization time line
%   (xdc_get type 5) less its row of times; a handle the module does not know gets the
%   module's own refusal from that call. A table that is not numbers passes, for the module
%   to refuse.
if ~(isnumeric(table) || islogical(table))
  return;
end
n = rows(Orvel_mex(1101, orvel_num(Th), 5)) - 1;
if columns(table) ~= n
  error('orvel:badArgument', ...
        '%s: %s must have one column per physical element: %d expected, %d received', ...
        cmd, name, n, columns(table));
end
end
