function folder = shadow_function(name, body)
%SHADOW_FUNCTION  Put a function of one's own named name first on the path.
%   folder = shadow_function('drawnow', body) writes "function name()" with the body text
%   (escapes such as \n interpreted) into a new temporary folder and adds it to the path; shadow_function([], folder) removes
%   the folder from the path and deletes it.
if isempty(name)
  folder = body;
  rmpath(folder);
  confirm_recursive_rmdir(false, 'local');
  rmdir(folder, 's');
  return;
end
folder = tempname();
mkdir(folder);
fid = fopen(fullfile(folder, [name '.m']), 'w');
fprintf(fid, 'function %s(varargin)\n', name);
fprintf(fid, [body '\nend\n']);  % the body's escapes (\n) are lines
fclose(fid);
warning('off', 'Octave:shadowed-function');
addpath(folder);
end
