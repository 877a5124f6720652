function [names, f, columns] = orvel_quantities(cmd, quantities)
%ORVEL_QUANTITIES  The quantity list of a field map as the module takes it.
%   [names, f, columns] = orvel_quantities(cmd, quantities): quantities is one name, or a cell
%   of names and at most one {'cw', f}. names is the comma-separated text of the columns, f
%   the cw frequency ([] when none was given) and columns a cell of the column names in order.
%   A {'cw', f} in a list that names neither cw_amplitude nor cw_phase stands for both, in
%   its place. The module checks the names themselves.
if ischar(quantities)
  quantities = {quantities};
end
if ~iscell(quantities)
  error('orvel:argument', ['%s: quantities must be a name or a cell of names (and {''cw'', f}),' ...
                           ' but is %s'], cmd, orvel_describe(quantities));
end
quantities = quantities(:)';
f = [];
columns = {};
cw_at = 0;
for k = 1:numel(quantities)
  q = quantities{k};
  if iscell(q)
    if numel(q) ~= 2 || ~ischar(q{1}) || ~strcmpi(q{1}, 'cw') || ~isnumeric(q{2}) ...
       || ~isreal(q{2}) || numel(q{2}) ~= 1
      error('orvel:argument', ['%s: a cell among the quantities must be {''cw'', f} with one ' ...
                               'frequency f [Hz], but item %d is not'], cmd, k);
    end
    if ~isempty(f)
      error('orvel:argument', '%s: the quantities give {''cw'', f} more than once', cmd);
    end
    f = double(q{2});
    cw_at = numel(columns);
  elseif ischar(q) && rows(q) <= 1
    columns{end + 1} = strtrim(q);
  else
    error('orvel:argument', '%s: item %d of the quantities must be a name, but is %s', cmd, k, ...
          orvel_describe(q));
  end
end
if ~isempty(f) && ~any(strcmpi(columns, 'cw_amplitude') | strcmpi(columns, 'cw_phase'))
  columns = [columns(1:cw_at), {'cw_amplitude', 'cw_phase'}, columns(cw_at + 1:end)];
end
names = strjoin(columns, ',');
end
