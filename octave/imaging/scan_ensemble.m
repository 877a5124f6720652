function fired = scan_ensemble(seq, prf, ensemble, order)
%SCAN_ENSEMBLE  A scan sequence fired repeatedly: slow time for motion and Doppler.
%   fired = scan_ensemble(seq, prf, ensemble, order)
%
%   seq       a scan sequence of any kind (scan_linear, scan_phased, scan_convex,
%             scan_planewave, scan_diverging, scan_sta), S steps
%   prf       pulse repetition frequency [Hz]: one firing every 1/prf
%   ensemble  firings of each step, a whole number >= 1
%   order     'line' (default): each step fired ensemble times in a row, firing j of step i
%             at t = ((i-1)*ensemble + (j-1))/prf; 'frame': the whole sequence repeated,
%             firing j of step i at t = ((j-1)*S + (i-1))/prf
%
%   fired     the S*ensemble steps in the order they are fired [struct array, units below]:
%             each a copy of its step of seq with the fields
%     t           the firing time [s]
%     firing      j, from 1
%     step_index  i, the step's index in seq, from 1
%     prf         prf [Hz]
%     ensemble    ensemble
%     order       order
%     steps       S
%
%   scan_run gives the RF of such a sequence with slow time as the last dimension, each
%   step simulated with a moving phantom's positions at its t.
%
%   See also SCAN_RUN, PHANTOM_FLOW, PHANTOM_POSITIONS, IQ_DEMODULATE.
if nargin < 3
  error('orvel:usage', 'scan_ensemble: needs at least 3 arguments: scan_ensemble(seq, prf, ensemble, order)');
end
if nargin < 4
  order = 'line';
end
if ~isstruct(seq) || isempty(seq) || ~isfield(seq, 'kind')
  error('orvel:badArgument', 'scan_ensemble: seq must be a non-empty scan sequence');
end
if isfield(seq, 't')
  error('orvel:badArgument', 'scan_ensemble: seq is fired already (its steps have a firing time t)');
end
if ~isnumeric(prf) || ~isreal(prf) || ~isscalar(prf) || ~(prf > 0) || ~isfinite(prf)
  error('orvel:badArgument', 'scan_ensemble: prf must be a positive finite number [Hz]');
end
if ~isnumeric(ensemble) || ~isreal(ensemble) || ~isscalar(ensemble) || ~isfinite(ensemble) ...
   || ensemble ~= round(ensemble) || ensemble < 1
  error('orvel:badArgument', 'scan_ensemble: ensemble must be a whole number >= 1');
end
if ~ischar(order) || ~any(strcmp(order, {'line', 'frame'}))
  error('orvel:badArgument', 'scan_ensemble: order must be ''line'' or ''frame''');
end
S = numel(seq);
E = double(ensemble);
prf = double(prf);
if strcmp(order, 'line')
  step_index = kron(1:S, ones(1, E));
  firing = repmat(1:E, 1, S);
  t = ((step_index - 1) * E + (firing - 1)) / prf;
else
  step_index = repmat(1:S, 1, E);
  firing = kron(1:E, ones(1, S));
  t = ((firing - 1) * S + (step_index - 1)) / prf;
end
fired = reshape(seq(step_index), 1, []);
t = num2cell(t);
[fired.t] = t{:};
firing = num2cell(firing);
[fired.firing] = firing{:};
step_index = num2cell(step_index);
[fired.step_index] = step_index{:};
[fired.prf] = deal(prf);
[fired.ensemble] = deal(E);
[fired.order] = deal(order);
[fired.steps] = deal(S);
end
