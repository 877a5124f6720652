function [rf, t0, info] = scan_import(folder)
%SCAN_IMPORT  Read the result of a cluster run (python3 -m orvel.distributed).
%   [rf, t0, info] = scan_import(folder)
%
%   folder  the --out folder of the run (result.json and rf.npy), or its --store folder (a
%           Zarr store that the workers wrote, read here chunk by chunk)
%
%   rf      as scan_run returns it: kind 'line' samples x lines, kind 'plane'
%           samples x elements x transmits
%   t0      time of row 1 [s]; row k is at t0 + (k-1)/fs
%   info    fs [Hz] and kind; from a store that holds an image (orvel.distributed.beamform),
%           also image (numel(z) x numel(x), or x numel(y) for a volume) and its x, z and y
%
%   See also SCAN_EXPORT, SCAN_RUN.
if nargin < 1
  error('orvel:usage', 'scan_import: needs 1 argument: scan_import(folder)');
end
if ~ischar(folder) || isempty(folder)
  error('orvel:badArgument', 'scan_import: folder must be the name of a folder');
end
if exist(fullfile(folder, '.zgroup'), 'file')
  [rf, t0, info] = read_store(folder);
  return;
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
info = struct('fs', info.fs, 'kind', info.kind);
end

function [rf, t0, info] = read_store(folder)
attrs = jsondecode(fileread(fullfile(folder, '.zattrs')));
if ~isfield(attrs, 'orvel') || ~isfield(attrs.orvel, 'format') ...
   || ~strcmp(attrs.orvel.format, 'orvel.store/1')
  error('orvel:badArgument', ...
        'scan_import: %s is a Zarr store, but not one of orvel.distributed', ...
        folder);
end
a = attrs.orvel;
if ~a.complete
  error('orvel:badArgument', ['scan_import: the store %s holds no complete result (its run ' ...
                              'has not finished or failed)'], folder);
end
rf = read_zarr(fullfile(folder, 'rf'));
t0 = a.t0;
info = struct('fs', a.fs, 'kind', a.kind);
if isfield(a, 'image')
  info.image = read_zarr(fullfile(folder, 'image'));
  info.x = a.image.x(:)';
  info.z = a.image.z(:)';
  if isempty(a.image.y)
    info.y = [];
  else
    info.y = a.image.y(:)';
  end
end
end

% An array of a Zarr store as orvel.distributed writes it: little-endian doubles, chunks not
% compressed, '.' between chunk indices; a chunk never written holds the fill value.
function data = read_zarr(folder)
meta = jsondecode(fileread(fullfile(folder, '.zarray')));
if ~strcmp(meta.dtype, '<f8') || ~isempty(meta.compressor) || ~isempty(meta.filters)
  error('orvel:badArgument', ['scan_import: %s must hold uncompressed little-endian ' ...
                              'doubles'], folder);
end
shape = meta.shape(:)';
chunks = meta.chunks(:)';
fill = meta.fill_value;
if isempty(fill)
  fill = 0;
end
if isscalar(shape)
  shape(2) = 1;
  chunks(2) = 1;
end
data = repmat(fill, shape);
counts = ceil(shape ./ chunks);
for n = 0:prod(counts) - 1
  index = cell(1, numel(shape));
  [index{:}] = ind2sub(counts, n + 1);
  index = [index{:}] - 1;
  name = fullfile(folder, strjoin(arrayfun(@num2str, index(1:numel(meta.shape)), ...
                                           'UniformOutput', false), '.'));
  fid = fopen(name, 'r', 'ieee-le');
  if fid < 0
    continue;  % never written: the fill value
  end
  block = fread(fid, prod(chunks), 'double');
  fclose(fid);
  if numel(block) ~= prod(chunks)
    error('orvel:badArgument', 'scan_import: the chunk %s is truncated', name);
  end
  block = reshape(block, chunks);
  if strcmp(meta.order, 'C')
    block = reshape(permute(reshape(block, fliplr(chunks)), numel(chunks):-1:1), chunks);
  end
  lo = index .* chunks + 1;
  hi = min(lo + chunks - 1, shape);
  sub = arrayfun(@(l, h) l:h, lo, hi, 'UniformOutput', false);
  take = arrayfun(@(l, h) 1:h - l + 1, lo, hi, 'UniformOutput', false);
  data(sub{:}) = block(take{:});
end
end
