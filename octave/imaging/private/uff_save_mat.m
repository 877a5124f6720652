function uff_save_mat(fn, file, d)
%UFF_SAVE_MAT  Saves the fields of d to the .mat file (save -v7) through a temporary file, so
%   that a failed write leaves an existing file as it was; a failure names fn and the reason.
part = [file '.part'];
try
  save('-v7', part, '-struct', 'd');
catch err
  if exist(part, 'file')
    delete(part);
  end
  error('orvel:badArgument', '%s: cannot write %s (%s)', fn, file, err.message);
end
[status, message] = rename(part, file);
if status ~= 0
  delete(part);
  error('orvel:badArgument', '%s: cannot write %s (%s)', fn, file, message);
end
end
