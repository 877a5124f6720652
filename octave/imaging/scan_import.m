function [rf, t0] = scan_import(folder)
%SCAN_IMPORT  Read the result of a cluster run (python3 -m orvel.distributed).
%   [rf, t0] = scan_import(folder)
%
%   folder  the --out folder of the run: result.json (t0, fs, kind, shape) and rf.npy
%
%   rf      as scan_run returns it: kind 'line' samples x lines, kind 'plane'
%           samples x elements x transmits
%   t0      time of row 1 [s]; row k is at t0 + (k-1)/fs
%
%   See also SCAN_EXPORT, SCAN_RUN.
if nargin < 1
  error('orvel:usage', 'scan_import: needs 1 argument: scan_import(folder)');
end
info_file = fullfile(folder, 'result.json');
if ~exist(info_file, 'file')
  error('orvel:badArgument', 'scan_import: %s does not exist (has the run finished?)', info_file);
end
info = jsondecode(fileread(info_file));
fid = fopen(fullfile(folder, info.rf), 'r', 'ieee-le');
if fid < 0
  error('orvel:badArgument', 'scan_import: cannot read %s', fullfile(folder, info.rf));
end
magic = fread(fid, 8, 'uint8')';
if ~isequal(magic(1:6), [147 double('NUMPY')])
  fclose(fid);
  error('orvel:badArgument', 'scan_import: %s is not an .npy file', info.rf);
end
if magic(7) == 1
  len = fread(fid, 1, 'uint16');
else
  len = fread(fid, 1, 'uint32');
end
header = char(fread(fid, len, 'char')');
if isempty(strfind(header, '''<f8''')) || isempty(strfind(header, '''fortran_order'': True'))
  fclose(fid);
  error('orvel:badArgument', 'scan_import: %s must hold little-endian doubles in column order', ...
        info.rf);
end
shape = info.shape(:)';
rf = reshape(fread(fid, prod(shape), 'double'), shape);
fclose(fid);
if strcmp(info.kind, 'line')
  rf = reshape(rf, shape(1), shape(3));
end
t0 = info.t0;
end
