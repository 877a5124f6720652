function hdf5 = uff_file_kind(fn, file)
%UFF_FILE_KIND  true for an HDF5 name (.uff, .h5, .hdf5), false for .mat; others refused.
if ~ischar(file) || isempty(file)
  error('orvel:badArgument', '%s: file must be a file name', fn);
end
[~, ~, suffix] = fileparts(file);
hdf5 = any(strcmpi(suffix, {'.uff', '.h5', '.hdf5'}));
if ~hdf5 && ~strcmpi(suffix, '.mat')
  error('orvel:badArgument', '%s: file must end in .uff, .h5, .hdf5 or .mat, but is %s', fn, file);
end
if ~exist(file, 'file')
  error('orvel:badArgument', '%s: %s does not exist', fn, file);
end
end
