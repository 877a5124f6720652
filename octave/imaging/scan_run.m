function [rf, t0] = scan_run(seq, tx, rx, points, amplitudes, window)
%SCAN_RUN  Simulate the echoes of a whole scan sequence.
%   [rf, t0] = scan_run(seq, tx, rx, points, amplitudes, window)
%
%   seq         scan sequence (scan_linear, scan_phased, scan_convex, scan_planewave,
%               scan_diverging, scan_sta), all entries of one kind, or such a sequence
%               fired as an ensemble (scan_ensemble)
%   tx, rx      handles of the transmit and the receive aperture
%   points      n x 3 scatterer positions [x y z] [m], or a moving phantom (phantom_flow,
%               phantom_motion): each step then simulates phantom_positions(points, t) at
%               its firing time t (t = 0 for a step without one)
%   amplitudes  n scattering amplitudes [no unit]; [] with a phantom
%   window      lateral margin [m], >= 0, optional (default [], every scatterer in every
%               step). With a window, a step simulates only the scatterers whose distance
%               across its line lies within the extent of the active elements (the corners
%               of every element with a transmit or a receive weight, in both apertures)
%               widened by window on both sides: for kind 'line' measured normal to the line
%               in the x-z plane from rx_center, for transmits along x. This is the rule of
%               orvel.distributed, whose window is counted in aperture widths instead.
%
%   rf          received signals [unit of calc_scat]; kind 'line': samples x lines, the
%               calc_scat signal of each line; kinds 'plane', 'diverging', 'element':
%               samples x elements x transmits, the calc_scat_multi signals of each
%               transmit. All on one time axis: each signal lies at the rows of its own
%               start time, zeros elsewhere; a step without scatterers adds none.
%               For an ensemble slow time is the last dimension, firing j of step i at
%               rf(:, i, j) (lines: samples x S x ensemble) or rf(:, :, i, j) (transmits:
%               samples x elements x S x ensemble), whatever the order of firing.
%   t0          time of row 1 [s] (0 when no step has any); row k is at t0 + (k-1)/fs, fs
%               the sampling frequency set with set_sampling
%
%   Each step is set with scan_apply, so the apertures keep the last step's settings.
%   Progress is printed as "scan_run: line k of n (elapsed s, about left s left)"
%   ("transmit" for transmits), the time left estimated at the pace so far, at most about
%   once a second and after the last step.
%
%   See also SCAN_APPLY, CALC_SCAT, CALC_SCAT_MULTI, ENVELOPE, DAS_BEAMFORM, SAMPLE_DEPTH.
if nargin < 5
  error('orvel:usage', 'scan_run: needs 5 arguments: scan_run(seq, tx, rx, points, amplitudes, window)');
end
if nargin < 6
  window = [];
end
if ~isstruct(seq) || isempty(seq) || ~isfield(seq, 'kind')
  error('orvel:badArgument', 'scan_run: seq must be a non-empty scan sequence');
end
kinds = {seq.kind};
kind = kinds{1};
if ~all(strcmp(kinds, kind)) || ~any(strcmp(kind, {'line', 'plane', 'diverging', 'element'}))
  error('orvel:badArgument', ['scan_run: the entries of seq must all be of one kind: ''line'', ' ...
                              '''plane'', ''diverging'' or ''element''']);
end
line = strcmp(kind, 'line');
if line
  word = 'line';
else
  word = 'transmit';
end
moving = isstruct(points);
if moving && ~isempty(amplitudes)
  error('orvel:badArgument', 'scan_run: amplitudes must be [] when points is a moving phantom');
end
n = numel(seq);
% Where each step's signal goes: column k, or for an ensemble the column of its step and
% firing, slow time last.
slot = 1:n;
ensemble = isfield(seq, 'ensemble');
if ensemble
  S = seq(1).steps;
  E = seq(1).ensemble;
  slot = [seq.step_index] + ([seq.firing] - 1) * S;
  if ~isequal(sort(slot), 1:S * E)
    error('orvel:badArgument', ['scan_run: seq must hold each firing of its ensemble (%d steps, ' ...
          '%d firings each) once, as scan_ensemble gives them'], S, E);
  end
end
times = zeros(1, n);
if isfield(seq, 't')
  times = [seq.t];
end
if moving
  % The phantom and the times refused before the first step, not during the run.
  phantom_positions(points, min(times));
  phantom_positions(points, max(times));
end
windowed = ~isempty(window);
if windowed
  if ~isnumeric(window) || ~isreal(window) || ~isscalar(window) || ~(window >= 0) ...
     || ~isfinite(window)
    error('orvel:badArgument', 'scan_run: window must be [] or a margin >= 0 [m]');
  end
  if ~moving
    if ~isnumeric(points) || ~isreal(points) || ndims(points) ~= 2 || columns(points) ~= 3
      error('orvel:badArgument', 'scan_run: points must be an n x 3 real matrix [m], but is %s', ...
            mat2str(size(points)));
    end
    if ~isnumeric(amplitudes) || numel(amplitudes) ~= rows(points)
      error('orvel:badArgument', ['scan_run: amplitudes must hold one value per point: ' ...
            '%d expected, %d received'], rows(points), numel(amplitudes));
    end
    points = double(points);
  end
end

fs = get_option('fs');  % exact, to place every result on one sample grid

signals = cell(1, n);
starts = zeros(1, n);
clock = tic();
shown = -Inf;
for k = 1:n
  scan_apply(seq(k), tx, rx);
  if moving
    [these, weights] = phantom_positions(points, times(k));
  else
    these = points;
    weights = amplitudes;
  end
  if windowed
    [origin, across, low, high] = lateral_extent(seq(k), tx, rx);
    s = (these - origin) * across';
    inside = s >= low - window & s <= high + window;
    if ~all(inside)  % all inside: the same matrices, so the same sums
      these = these(inside, :);
      weights = weights(inside);
    end
  end
  if windowed && rows(these) == 0
    if line
      signals{k} = zeros(0, 1);
    else
      signals{k} = zeros(0, numel(seq(k).rx_apodization));
    end
  elseif line
    [signals{k}, starts(k)] = calc_scat(tx, rx, these, weights);
  else
    [signals{k}, starts(k)] = calc_scat_multi(tx, rx, these, weights);
  end
  if toc(clock) - shown >= 1 || k == n
    shown = toc(clock);
    printf('scan_run: %s %d of %d (%.1f s, about %.0f s left)\n', word, k, n, shown, ...
           shown / k * (n - k));
    fflush(stdout);
  end
end

% One time axis from the earliest start; empty signals (no scatterers) take no part.
lengths = cellfun(@rows, signals);
used = lengths > 0;
if ~any(used)
  t0 = 0;
  rf = zeros(0, n);
  if ~line
    rf = zeros(0, max(cellfun(@columns, signals)), n);
  end
else
  t0 = min(starts(used));
  offsets = round((starts - t0) * fs);
  total = max(offsets(used) + lengths(used));
  if ~line
    rf = zeros(total, max(cellfun(@columns, signals)), n);
    for k = find(used)
      rf(offsets(k) + (1:lengths(k)), 1:columns(signals{k}), slot(k)) = signals{k};
    end
  else
    rf = zeros(total, n);
    for k = find(used)
      rf(offsets(k) + (1:lengths(k)), slot(k)) = signals{k};
    end
  end
end
if ensemble
  % Slots run over the steps first, so the columns fold into steps x firings.
  if line
    rf = reshape(rf, rows(rf), S, E);
  else
    rf = reshape(rf, rows(rf), columns(rf), S, E);
  end
end
end

function [origin, across, low, high] = lateral_extent(step, tx, rx)
% Where a step's active elements lie across its line: normal to a line in the x-z plane
% from its origin, along x for transmits; low and high bound the corners of every rectangle
% of an element with a transmit or a receive weight, in both apertures.
if strcmp(step.kind, 'line')
  a = step.angle;
  across = [cos(a) 0 -sin(a)];
  origin = step.rx_center(:)';
else
  across = [1 0 0];
  origin = [0 0 0];
end
active = step.tx_apodization(:) ~= 0 | step.rx_apodization(:) ~= 0;
s = [];
for th = {tx, rx}
  rect = xdc_get(th{1}, 'rect');
  on = active(rect(1, :) + 1);          % row 1: the physical element, from 0
  corners = reshape(rect(11:22, on), 3, []);   % rows 11 to 22: x y z of the 4 corners
  s = [s, across * (corners - origin')];
end
if isempty(s)
  low = 0;
  high = 0;
else
  low = min(s);
  high = max(s);
end
end
