function d = uff_read_channel(file)
%UFF_READ_CHANNEL  Read channel data from a .uff (HDF5) or .mat file.
%   d = uff_read_channel(file)
%
%   file  .uff, .h5 or .hdf5: HDF5 in the layout of the ultrasound file format (UFF), as
%         uff_write_channel of orvel.imaging writes it or as another tool does; or .mat, as
%         uff_write_channel writes it. Octave reads HDF5 with load, which gives the groups
%         as structs and the datasets as arrays, in the format's order, but no attributes:
%         the channel data are the group channel_data (or else the first group at the root
%         with data, sampling_frequency and sequence), one wave or a list of them is told
%         apart by its fields.
%
%   d     struct: rf (samples x elements x steps (x frames)), t0 [s], lag [s], fs [Hz],
%         c [m/s], prf [Hz] ([]: none), modulation_frequency [Hz], elements (N x 3) [m],
%         element_size (N x 2) [m], sequence (the steps as the scan_* functions make them;
%         [] for a file from elsewhere, which has no Orvel description), order ('line' or
%         'frame' for a firing sequence, else []; scan_ensemble(d.sequence, d.prf, firings,
%         d.order) makes it again), and the format's view of the transmits: initial_time [s]
%         (t0 - lag), wave_wavefront (W x 1: 0 plane, 1 spherical), wave_source (W x 3:
%         distance [m], azimuth [rad], elevation [rad]), wave_delay (W x 1) [s]. A file from
%         elsewhere gives t0 = initial_time and lag 0.
%
%   See also UFF_WRITE_CHANNEL, UFF_READ_IMAGE.
if nargin < 1
  error('orvel:usage', 'uff_read_channel: needs 1 argument: uff_read_channel(file)');
end
fn = 'uff_read_channel';
hdf5 = uff_file_kind(fn, file);
s = load(file);
if hdf5
  f = from_hdf5(fn, file, s);
else
  f = s;
end
order = {[], 'line', 'frame'};
d = struct('rf', f.rf, 't0', f.t0, 'lag', f.lag, 'fs', f.fs, 'c', f.c, 'prf', [], ...
           'modulation_frequency', f.modulation_frequency, 'elements', f.elements, ...
           'element_size', f.element_size, 'sequence', [], 'order', [], ...
           'initial_time', f.initial_time, 'wave_wavefront', f.wave_wavefront(:), ...
           'wave_source', f.wave_source, 'wave_delay', f.wave_delay(:));
if ~isnan(f.prf)
  d.prf = f.prf;
end
d.order = order{f.seq_order + 1};
if ~isempty(f.seq_kind)
  d.sequence = unflat_steps(f);
end
end

% The flat fields (as uff_write_channel's .mat holds them) of an HDF5 file read by load.
function f = from_hdf5(fn, file, s)
g = [];
if isfield(s, 'channel_data')
  g = s.channel_data;
else
  for name = fieldnames(s)'
    v = s.(name{1});
    if isstruct(v) && all(isfield(v, {'data', 'sampling_frequency', 'sequence'}))
      g = v;
      break;
    end
  end
end
if isempty(g)
  error('orvel:badArgument', '%s: %s holds no channel data', fn, file);
end
f.rf = numbers(g.data);
f.fs = numbers(g.sampling_frequency);
f.initial_time = field_or(g, 'initial_time', 0);
f.c = field_or(g, 'sound_speed', NaN);
f.modulation_frequency = field_or(g, 'modulation_frequency', 0);
f.prf = field_or(g, 'PRF', NaN);
geometry = numbers(g.probe.geometry);
f.elements = geometry(:, 1:3);
f.element_size = geometry(:, 6:7);
waves = g.sequence;
if isfield(waves, 'wavefront') || isfield(waves, 'source') || isfield(waves, 'delay')
  waves = {waves};
else
  names = sort(fieldnames(waves));
  waves = cellfun(@(name) waves.(name), names, 'UniformOutput', false);
end
w = numel(waves);
f.wave_wavefront = ones(w, 1);
f.wave_source = zeros(w, 3);
f.wave_delay = zeros(w, 1);
for k = 1:w
  f.wave_wavefront(k) = field_or(waves{k}, 'wavefront', 1);
  f.wave_delay(k) = field_or(waves{k}, 'delay', 0);
  if isfield(waves{k}, 'source')
    p = waves{k}.source;
    f.wave_source(k, :) = [field_or(p, 'distance', 0) field_or(p, 'azimuth', 0) ...
                           field_or(p, 'elevation', 0)];
  end
end
% Orvel's own description; a file from elsewhere has none.
f.t0 = f.initial_time;
f.lag = 0;
f.seq_order = 0;
f.seq_kind = [];
if isfield(s, 'orvel')
  for name = fieldnames(s.orvel)'
    f.(name{1}) = numbers(s.orvel.(name{1}));
  end
end
end

% A dataset as doubles; a complex array's group of real and imag as complex numbers.
function v = numbers(v)
if isstruct(v) && isfield(v, 'real') && isfield(v, 'imag')
  v = complex(double(v.real), double(v.imag));
else
  v = double(v);
end
end

function v = field_or(s, name, default)
v = default;
if isfield(s, name)
  v = numbers(s.(name));
  v = v(1);
end
end

% The steps of the seq_* fields, as the scan_* functions make them.
function seq = unflat_steps(f)
kinds = {'line', 'plane', 'diverging', 'element'};
w = numel(f.seq_kind);
kind = kinds{f.seq_kind(1)};
seq = struct('kind', kind, 'angle', num2cell(f.seq_angle(:)'), 'x', num2cell(f.seq_x(:)'), ...
             'tx_apodization', [], 'rx_apodization', [], 'tx_focus', [], 'rx_center', [], ...
             'tx_delays', []);
for k = 1:w
  seq(k).kind = kinds{f.seq_kind(k)};
  for name = {'tx_apodization', 'rx_apodization', 'tx_focus', 'rx_center', 'tx_delays'}
    row = f.(['seq_' name{1}])(k, :);
    if ~all(isnan(row))
      seq(k).(name{1}) = row;
    end
  end
  if strcmp(kind, 'diverging')
    seq(k).source = f.seq_source(k, :);
  end
  if strcmp(kind, 'element')
    seq(k).element = f.seq_element(k);
  end
end
end
