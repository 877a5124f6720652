function orvel_usage(n, needed, usage)
%ORVEL_USAGE  Refuse a command called with too few arguments, showing how to call it.
%   orvel_usage(nargin, needed, 'xdc_focus(Th, times, points)') at the top of a command:
%   with fewer than needed arguments it fails with the identifier orvel:usage and the text
%   "xdc_focus: needs 3 arguments: xdc_focus(Th, times, points)". The command's name is the
%   text of usage before '('; arguments after the first needed ones are optional ("needs at
%   least 1 argument").
if n >= needed
  return;
end
name = strtok(usage, '(');
total = numel(strfind(usage, ',')) + 1;
if needed < total
  count = sprintf('at least %d argument', needed);
else
  count = sprintf('%d argument', needed);
end
if needed ~= 1
  count = [count 's'];
end
error('orvel:usage', '%s: needs %s: %s', name, count, usage);
end
