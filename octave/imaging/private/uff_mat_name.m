function uff_mat_name(fn, file)
%UFF_MAT_NAME  Refuse a file name that is not a .mat file, saying why for HDF5 names.
if ~ischar(file) || isempty(file)
  error('orvel:badArgument', '%s: file must be a file name', fn);
end
[~, ~, suffix] = fileparts(file);
if any(strcmpi(suffix, {'.uff', '.h5', '.hdf5'}))
  error('orvel:badArgument', ['%s: Octave 7 cannot write HDF5 in the ultrasound file ' ...
        'format''s layout (save -hdf5 writes Octave''s own groups; h5create, h5write and ' ...
        'h5writeatt are not part of Octave 7): write a .mat file, which orvel.imaging reads ' ...
        'in Python and writes as .uff'], fn);
end
if ~strcmpi(suffix, '.mat')
  error('orvel:badArgument', '%s: file must end in .mat, but is %s', fn, file);
end
end
