function scan_export(name, seq, tx, rx, points, amplitudes, options, window, chunk)
%SCAN_EXPORT  Write a scan simulation for a Dask cluster (python3 -m orvel.distributed).
%   scan_export(name, seq, tx, rx, points, amplitudes, options, window, chunk)
%
%   name        file name without extension: writes name.json (the description) and
%               name.npy (the phantom, n x 4 [x y z amplitude], little-endian doubles)
%   seq         scan sequence (scan_linear, scan_phased, scan_planewave)
%   tx, rx      the apertures as descriptions, not handles: structs with the fields
%                 make        {constructor, arguments...}, e.g.
%                             {'xdc_linear_array', 128, w, h, kerf, 1, 5, [0 0 0.03]}
%                 impulse     impulse response (optional; [] for the module's default)
%                 excitation  excitation pulse (optional)
%                 setup       further settings (optional): a cell of {name, args...}, the
%                             aperture implied, e.g. {{'xdc_baffle', 0}}
%   points, amplitudes  the scatterers, as for scan_run
%   options     struct of set_option values, with fs for set_sampling (default: struct())
%   window      lateral margin of a line's scatterers in active-aperture widths on each side
%               (default 1), or [] for every scatterer; see help of orvel.distributed
%   chunk       most scatterers per task (default 50000)
%
%   Then, in a shell (a local cluster; --scheduler tcp://host:8786 for a running one):
%     python3 -m orvel.distributed name.json name.npy --out name_rf
%   and read the result with [rf, t0] = scan_import('name_rf'): the same rf and t0 as
%   scan_run(seq, ...) with those windows and chunks. Numbers are written with 17 digits, so
%   the cluster computes with exactly these values.
%
%   See also SCAN_IMPORT, SCAN_RUN.
if nargin < 6
  error('orvel:usage', ['scan_export: needs at least 6 arguments: scan_export(name, seq, ' ...
                        'tx, rx, points, amplitudes, options, window, chunk)']);
end
if nargin < 7 || isempty(options)
  options = struct();
end
if nargin < 8
  window = 1;
end
if nargin < 9
  chunk = 50000;
end
if ~ischar(name) || isempty(name)
  error('orvel:badArgument', 'scan_export: name must be a file name without extension');
end
if ~isstruct(seq) || isempty(seq) || ~isfield(seq, 'kind')
  error('orvel:badArgument', 'scan_export: seq must be a non-empty scan sequence');
end
if ~isnumeric(points) || ndims(points) ~= 2 || columns(points) ~= 3
  error('orvel:badArgument', 'scan_export: points must be an n x 3 matrix [x y z], but is %s', ...
        mat2str(size(points)));
end
if numel(amplitudes) ~= rows(points)
  error('orvel:badArgument', ['scan_export: amplitudes must hold one value per point (%d), ' ...
                              'but holds %d'], rows(points), numel(amplitudes));
end
if ~isstruct(options) || ~isscalar(options)
  error('orvel:badArgument', 'scan_export: options must be a struct of option values');
end
desc = struct('format', 'orvel.distributed/1', 'tx', transducer('tx', tx), ...
              'rx', transducer('rx', rx), 'options', options, 'window', window, ...
              'chunk', chunk);
desc.sequence = num2cell(seq(:)');   % always a list, even of one step
write_text([name '.json'], encode(desc));
write_npy([name '.npy'], [double(points) double(amplitudes(:))]);
end

function t = transducer(which, a)
if ~isstruct(a) || ~isscalar(a) || ~isfield(a, 'make') || ~iscell(a.make) || isempty(a.make)
  error('orvel:badArgument', ['scan_export: %s must be a struct whose field make is ' ...
                              '{constructor, arguments...}'], which);
end
setup = {};
if isfield(a, 'impulse') && ~isempty(a.impulse)
  setup{end + 1} = {'xdc_impulse', a.impulse};
end
if isfield(a, 'excitation') && ~isempty(a.excitation)
  setup{end + 1} = {'xdc_excitation', a.excitation};
end
if isfield(a, 'setup')
  setup = [setup a.setup(:)'];
end
t = struct('make', {a.make}, 'setup', {setup});
end

% JSON with every double in 17 significant digits (exact when read back).
function s = encode(v)
if ischar(v)
  s = ['"' strrep(strrep(v, '\', '\\'), '"', '\"') '"'];
elseif iscell(v)
  parts = cellfun(@encode, v, 'UniformOutput', false);
  s = ['[' strjoin(parts, ',') ']'];
elseif isstruct(v) && ~isscalar(v)
  s = encode(num2cell(v(:)'));
elseif isstruct(v)
  f = fieldnames(v);
  parts = cell(1, numel(f));
  for k = 1:numel(f)
    parts{k} = [encode(f{k}) ':' encode(v.(f{k}))];
  end
  s = ['{' strjoin(parts, ',') '}'];
elseif isnumeric(v) || islogical(v)
  v = double(v);
  if ~all(isfinite(v(:)))
    error('orvel:badArgument', 'scan_export: values must be finite, but one is %g', ...
          v(find(~isfinite(v), 1)));
  end
  if isempty(v)
    s = 'null';
  elseif isscalar(v)
    s = sprintf('%.17g', v);
  elseif isvector(v)
    s = ['[' strjoin(strsplit(sprintf('%.17g ', v)(1:end - 1), ' '), ',') ']'];
  else
    rowtexts = arrayfun(@(r) encode(v(r, :)), 1:rows(v), 'UniformOutput', false);
    s = ['[' strjoin(rowtexts, ',') ']'];
  end
else
  error('orvel:badArgument', 'scan_export: cannot write a value of class %s', class(v));
end
end

function write_text(file, text)
fid = fopen(file, 'w');
if fid < 0
  error('orvel:badArgument', 'scan_export: cannot write %s', file);
end
fputs(fid, text);
fclose(fid);
end

% An .npy file (format 1.0) in column-major order, as Octave holds the matrix.
function write_npy(file, m)
header = sprintf('{''descr'': ''<f8'', ''fortran_order'': True, ''shape'': (%d, %d), }', ...
                 rows(m), columns(m));
pad = 64 - mod(10 + numel(header) + 1, 64);
header = [header repmat(' ', 1, mod(pad, 64)) "\n"];
fid = fopen(file, 'w');
if fid < 0
  error('orvel:badArgument', 'scan_export: cannot write %s', file);
end
fwrite(fid, [147 double('NUMPY') 1 0], 'uint8');   % numbers: no implicit char conversion
fwrite(fid, numel(header), 'uint16', 0, 'ieee-le');
fwrite(fid, header, 'char');
fwrite(fid, m, 'double', 0, 'ieee-le');
fclose(fid);
end
