function uff_write_channel(file, rf, t0, fs, c, elements, seq, options)
%UFF_WRITE_CHANNEL  Write channel data with its array and scan sequence to a .mat file.
%   uff_write_channel(file, rf, t0, fs, c, elements, seq, options)
%
%   file      a .mat file (MAT v7): the content that uff_write_channel of orvel.imaging
%             writes as HDF5 in the layout of the ultrasound file format (UFF), field for
%             field (below). Octave 7 cannot write that layout itself: save -hdf5 writes
%             Octave's own groups, and h5create, h5write and h5writeatt are not part of it,
%             so a .uff, .h5 or .hdf5 name is refused. In Python,
%             d = uff_read_channel('x.mat') reads the file back and uff_write_channel('x.uff',
%             d['rf'], ...) writes the UFF file. The file is replaced whole, or left as it
%             was when the call fails.
%   rf        RF of each element in each step: samples x elements x steps (x frames); a
%             firing sequence of scan_ensemble gives samples x elements x steps x firings.
%             Complex for IQ data. A sequence of lines needs the RF of each element too
%             (scan_run's samples x lines are lines, not channel data).
%   t0        time of rf's first row [s], as scan_run returns it
%   fs        sampling frequency [Hz];  c: speed of sound [m/s]
%   elements  the elements' centres, N x 3 [m] (element_positions), or a vector of N x
%             positions of a linear array [m]
%   seq       the scan sequence of rf (scan_planewave, scan_diverging, scan_sta,
%             scan_linear, scan_phased, scan_convex, scan_diverging_2d, scan_planewave_2d
%             with angle_y 0: plane waves steered in two angles are refused), or a firing
%             sequence of scan_ensemble
%   options   struct (optional): lag, the pulse's own delay [s] (0); prf [Hz] (a firing
%             sequence's, else none); element_size, N x 2 [width height] [m] (or one pair;
%             0); modulation_frequency [Hz] (0); order, 'line' or 'frame' (a firing
%             sequence's, else none)
%
%   Fields of the file: rf, t0, lag, fs, c, prf (NaN: none), modulation_frequency,
%   initial_time = t0 - lag (the format's time of the first row: a toolbox that knows no
%   pulse delay then focuses on the pulse's centre), elements (N x 3), element_size (N x 2),
%   the format's waves, one per step: wave_wavefront (0 plane, 1 spherical), wave_source
%   (W x 3: distance [m], azimuth [rad], elevation [rad]; plane waves [Inf angle 0],
%   diverging waves their virtual source, lines their focus, single elements the element),
%   wave_delay [s] (the format puts a wave at p at tx(p)/c - delay, time 0 as it passes the
%   origin; the delay makes that Orvel's arrival, help das_image), and the steps: seq_order
%   (0 none, 1 'line', 2 'frame'), seq_kind (1 line, 2 plane, 3 diverging, 4 element),
%   seq_angle, seq_x, seq_element (from 1; 0 none), seq_tx_apodization, seq_rx_apodization,
%   seq_tx_delays (W x N), seq_tx_focus, seq_rx_center, seq_source (W x 3), NaN where a
%   kind has none.
%
%   See also UFF_READ_CHANNEL, UFF_WRITE_IMAGE, SCAN_RUN, ELEMENT_POSITIONS.
if nargin < 7
  error('orvel:usage', ['uff_write_channel: needs at least 7 arguments: uff_write_channel(' ...
                        'file, rf, t0, fs, c, elements, seq, options)']);
end
fn = 'uff_write_channel';
uff_mat_name(fn, file);
if nargin < 8 || isempty(options)
  options = struct();
end
opt = struct('lag', 0, 'prf', [], 'element_size', [], 'modulation_frequency', 0, 'order', []);
if ~isstruct(options) || ~isscalar(options)
  error('orvel:badArgument', '%s: options must be a struct', fn);
end
for name = fieldnames(options)'
  if ~isfield(opt, name{1})
    error('orvel:badArgument', ['%s: options has no field %s; its fields are lag, prf, ' ...
          'element_size, modulation_frequency, order'], fn, name{1});
  end
  opt.(name{1}) = options.(name{1});
end
if ~isnumeric(rf) || ndims(rf) > 4 || ~all(isfinite(rf(:)))
  error('orvel:badArgument', '%s: rf must be finite samples x elements x steps (x frames)', fn);
end
if ~isnumeric(elements) || ~isreal(elements) || ~all(isfinite(elements(:))) || ndims(elements) > 2
  error('orvel:badArgument', '%s: elements must be N x 3 finite positions [m]', fn);
end
if columns(elements) ~= 3 && isvector(elements)
  elements = [double(elements(:)) zeros(numel(elements), 2)];   % x positions
end
if columns(elements) ~= 3
  error('orvel:badArgument', '%s: elements must be N x 3 positions [m], but is %s', fn, ...
        mat2str(size(elements)));
end
elements = double(elements);
n = rows(elements);
[steps, seq_prf, order] = checked_steps(fn, seq, n);
if size(rf, 2) ~= n || size(rf, 3) ~= numel(steps)
  error('orvel:badArgument', ['%s: rf must be samples x %d elements x %d steps (x frames), ' ...
        'but is %s'], ...
        fn, n, numel(steps), mat2str(size(rf)));
end
if strcmp(steps(1).kind, 'line') && numel(steps) > 1 && ndims(rf) == 2
  error('orvel:badArgument', '%s: rf of a line sequence must be samples x elements x lines', fn);
end
if isempty(order) && ~isempty(opt.order)
  if ~any(strcmp(opt.order, {'line', 'frame'}))
    error('orvel:badArgument', '%s: options.order must be ''line'' or ''frame''', fn);
  end
  order = opt.order;
end
number = @(name, v, positive) checked_number(fn, name, v, positive);
size_ = opt.element_size;
if isempty(size_)
  size_ = zeros(n, 2);
elseif isequal(size(size_), [1 2]) || isequal(size(size_), [2 1])
  size_ = repmat(size_(:)', n, 1);
end
if ~isnumeric(size_) || ~isequal(size(size_), [n 2]) || ~all(isfinite(size_(:)))
  error('orvel:badArgument', '%s: options.element_size must be %d x 2 [width height] [m]', fn, n);
end
prf = seq_prf;
if ~isempty(opt.prf)
  prf = number('options.prf', opt.prf, true);
end
if isempty(prf)
  prf = NaN;
end
c = number('c', c, true);
d = struct('rf', double(rf), 't0', number('t0', t0, false), ...
           'lag', number('options.lag', opt.lag, false), 'fs', number('fs', fs, true), 'c', c, ...
           'prf', prf, 'modulation_frequency', ...
           number('options.modulation_frequency', opt.modulation_frequency, false));
d.initial_time = d.t0 - d.lag;
d.elements = elements;
d.element_size = double(size_);
[d.wave_wavefront, d.wave_source, d.wave_delay] = uff_waves(steps, elements, c);
d.seq_order = find(strcmp(order, {'line', 'frame'}));
if isempty(d.seq_order)
  d.seq_order = 0;
end
d = flat_steps(d, steps, n);
uff_save_mat(fn, file, d);
end

function v = checked_number(fn, name, v, positive)
if ~isnumeric(v) || ~isreal(v) || ~isscalar(v) || ~isfinite(v) || (positive && ~(v > 0))
  error('orvel:badArgument', '%s: %s must be one finite%s number', fn, name, ...
        repmat(' positive', 1, positive));
end
v = double(v);
end

% The steps of seq (of the sequence a firing sequence was made from), checked.
function [steps, prf, order] = checked_steps(fn, seq, n)
if ~isstruct(seq) || isempty(seq) || ~isfield(seq, 'kind')
  error('orvel:badArgument', '%s: seq must be a non-empty scan sequence', fn);
end
kinds = unique({seq.kind});
if numel(kinds) > 1 || ~any(strcmp(kinds{1}, {'line', 'plane', 'diverging', 'element'}))
  error('orvel:badArgument', ['%s: seq must hold steps of one kind: line, plane, diverging ' ...
        'or element'], fn);
end
prf = [];
order = [];
steps = seq(:)';
if isfield(seq, 'ensemble')
  steps = seq([seq.firing] == 1);
  [~, k] = sort([steps.step_index]);
  steps = steps(k);
  if numel(steps) ~= seq(1).steps
    error('orvel:badArgument', ['%s: the firing sequence must hold the first firing of ' ...
          'each step'], fn);
  end
  prf = seq(1).prf;
  order = seq(1).order;
end
if isfield(steps, 'angle_y') && any(cellfun(@(a) any(a(:) ~= 0), {steps.angle_y}))
  % The format's plane wave here holds one angle: refused rather than written without ay.
  error('orvel:badArgument', ['%s: plane waves steered in two angles (scan_planewave_2d''s ' ...
        'angle_y) are not written yet'], fn);
end
for k = 1:numel(steps)
  s = steps(k);
  what = sprintf('step %d of seq', k);
  vector(fn, what, 'tx_apodization', s.tx_apodization, n);
  vector(fn, what, 'rx_apodization', s.rx_apodization, n);
  if strcmp(s.kind, 'line')
    vector(fn, what, 'tx_focus', s.tx_focus, 3);
    vector(fn, what, 'rx_center', s.rx_center, 3);
  else
    vector(fn, what, 'tx_delays', s.tx_delays, n);
  end
  if strcmp(s.kind, 'diverging')
    vector(fn, what, 'source', s.source, 3);
  end
  if strcmp(s.kind, 'element') && ~(isscalar(s.element) && any(s.element == 1:n))
    error('orvel:badArgument', '%s: %s''s element must be an element''s number from 1 to %d', ...
          fn, what, n);
  end
end
end

function vector(fn, what, name, v, count)
if ~isnumeric(v) || ~isreal(v) || numel(v) ~= count || ~all(isfinite(v(:)))
  error('orvel:badArgument', '%s: %s''s %s must be %d finite values', fn, what, name, count);
end
end

% The format's waves of the steps (help orvel.imaging.uff_write_channel for the model): the
% delay that puts the format's wave where Orvel's is, t_ref + u.p/c (plane), t_ref + |p - s|/c
% (diverging, element), t_ref -+ |p - s|/c (focus, t_ref = |s - o|/c with o the line's origin).
function [wavefront, source, delay] = uff_waves(steps, elements, c)
w = numel(steps);
wavefront = ones(w, 1);
source = zeros(w, 3);
delay = zeros(w, 1);
for k = 1:w
  s = steps(k);
  switch s.kind
    case 'plane'
      u = [sin(s.angle); 0; cos(s.angle)];
      % Each element fires as the front passes it: t_ref = d_e - u.e/c for every e.
      t_ref = mean(s.tx_delays(:) - elements * u / c);
      wavefront(k) = 0;
      source(k, :) = [Inf s.angle 0];
      delay(k) = -t_ref;
    case 'diverging'
      p = s.source(:)';
      t_ref = mean(s.tx_delays(:) - sqrt(sum((elements - p).^2, 2)) / c);
      source(k, :) = point(p);
      delay(k) = -source(k, 1) / c - t_ref;
    case 'line'
      source(k, :) = point(s.tx_focus(:)');
      delay(k) = (source(k, 1) - norm(s.tx_focus(:) - s.rx_center(:))) / c;
    otherwise
      source(k, :) = point(elements(s.element, :));
      delay(k) = source(k, 1) / c - s.tx_delays(s.element);
  end
end
end

% [x y z] as the format's point [distance azimuth elevation].
function q = point(p)
d = sqrt(p(1)^2 + p(2)^2 + p(3)^2);
elevation = 0;
if d > 0
  elevation = asin(p(2) / d);
end
q = [d atan2(p(1), p(3)) elevation];
end

function d = flat_steps(d, steps, n)
w = numel(steps);
[~, kind] = ismember({steps.kind}, {'line', 'plane', 'diverging', 'element'});
d.seq_kind = kind(:);
d.seq_angle = [steps.angle]';
d.seq_x = [steps.x]';
d.seq_element = zeros(w, 1);
names = {'tx_apodization', n; 'rx_apodization', n; 'tx_focus', 3; 'rx_center', 3; ...
         'tx_delays', n; 'source', 3};
for j = 1:rows(names)
  m = NaN(w, names{j, 2});
  for k = 1:w
    if isfield(steps, names{j, 1}) && ~isempty(steps(k).(names{j, 1}))
      m(k, :) = steps(k).(names{j, 1})(:)';
    end
  end
  d.(['seq_' names{j, 1}]) = m;
end
if isfield(steps, 'element')
  d.seq_element = [steps.element]';
end
end
