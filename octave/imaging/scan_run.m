function [rf, t0] = scan_run(seq, tx, rx, points, amplitudes)
%SCAN_RUN  Simulate the echoes of a whole scan sequence.
%   [rf, t0] = scan_run(seq, tx, rx, points, amplitudes)
%
%   seq         scan sequence (scan_linear, scan_phased, scan_planewave), all entries of one
%               kind
%   tx, rx      handles of the transmit and the receive aperture
%   points      n x 3 scatterer positions [x y z] [m]
%   amplitudes  n scattering amplitudes [no unit]
%
%   rf          received signals [unit of calc_scat]; kind 'line': samples x lines, the
%               calc_scat signal of each line; kind 'plane': samples x elements x transmits,
%               the calc_scat_multi signals of each transmit. All on one time axis: each
%               signal lies at the rows of its own start time, zeros elsewhere.
%   t0          time of row 1 [s]; row k is at t0 + (k-1)/fs, fs the sampling frequency set
%               with set_sampling
%
%   Each step is set with scan_apply, so the apertures keep the last step's settings.
%   Progress is printed as "scan_run: line k of n" ("transmit" for plane waves), at most
%   about once a second and after the last step.
%
%   See also SCAN_APPLY, CALC_SCAT, CALC_SCAT_MULTI, ENVELOPE, DAS_BEAMFORM.
if nargin < 5
  error('orvel:usage', 'scan_run: needs 5 arguments: scan_run(seq, tx, rx, points, amplitudes)');
end
if ~isstruct(seq) || isempty(seq) || ~isfield(seq, 'kind')
  error('orvel:badArgument', 'scan_run: seq must be a non-empty scan sequence');
end
kinds = {seq.kind};
kind = kinds{1};
if ~all(strcmp(kinds, kind)) || ~any(strcmp(kind, {'line', 'plane'}))
  error('orvel:badArgument', 'scan_run: the entries of seq must all be ''line'' or all ''plane''');
end
plane = strcmp(kind, 'plane');
if plane
  word = 'transmit';
else
  word = 'line';
end

fs = get_option('fs');  % exact, to place every result on one sample grid

n = numel(seq);
signals = cell(1, n);
starts = zeros(1, n);
clock = tic();
shown = -Inf;
for k = 1:n
  scan_apply(seq(k), tx, rx);
  if plane
    [signals{k}, starts(k)] = calc_scat_multi(tx, rx, points, amplitudes);
  else
    [signals{k}, starts(k)] = calc_scat(tx, rx, points, amplitudes);
  end
  if toc(clock) - shown >= 1 || k == n
    shown = toc(clock);
    printf('scan_run: %s %d of %d\n', word, k, n);
    fflush(stdout);
  end
end

% One time axis from the earliest start; empty signals (no scatterers) take no part.
lengths = cellfun(@rows, signals);
used = lengths > 0;
if ~any(used)
  t0 = 0;
  rf = zeros(0, n);
  if plane
    rf = zeros(0, columns(signals{1}), n);
  end
  return;
end
t0 = min(starts(used));
offsets = round((starts - t0) * fs);
total = max(offsets(used) + lengths(used));
if plane
  rf = zeros(total, max(cellfun(@columns, signals)), n);
  for k = find(used)
    rf(offsets(k) + (1:lengths(k)), 1:columns(signals{k}), k) = signals{k};
  end
else
  rf = zeros(total, n);
  for k = find(used)
    rf(offsets(k) + (1:lengths(k)), k) = signals{k};
  end
end
end
