function [points, amplitudes] = phantom_positions(phantom, t)
%PHANTOM_POSITIONS  Where the scatterers of a moving phantom are at a time.
%   [points, amplitudes] = phantom_positions(phantom, t)
%
%   phantom     a phantom of phantom_flow or phantom_motion
%   t           slow time [s] (a step's firing time t of scan_ensemble)
%
%   points      n x 3 positions at t [m], computed from t directly (never by adding steps):
%               'flow': the tissue first, tissue_points + t*tissue_velocity; then the blood,
%                 center + s*u + blood_offset with s = s_lo + mod(blood_s0 + t*blood_speed
%                 - s_lo, L), L = s_hi - s_lo, mod(a, L) = a - L*floor(a/L) in [0, L): blood
%                 leaving the segment at one end comes in at the other
%               'motion': points + t*velocities
%               'frames': (1 - w)*positions(:, :, k) + w*positions(:, :, k+1) with
%                 w = (t - times(k))/(times(k+1) - times(k)), k the last frame at or before t
%                 (k = K - 1 at t = times(K)); refused outside times(1) .. times(K)
%   amplitudes  n x 1 amplitudes [no unit], in the order of points
%
%   See also PHANTOM_FLOW, PHANTOM_MOTION, SCAN_RUN.
if nargin < 2
  error('orvel:usage', 'phantom_positions: needs 2 arguments: phantom_positions(phantom, t)');
end
needs = struct('flow', {{'tissue_points', 'tissue_amplitudes', 'tissue_velocity', 'center', ...
                         'direction', 's_lo', 's_hi', 'blood_s0', 'blood_offset', ...
                         'blood_speed', 'blood_amplitudes'}}, ...
               'motion', {{'points', 'velocities', 'amplitudes'}}, ...
               'frames', {{'times', 'positions', 'amplitudes'}});
if ~isstruct(phantom) || ~isscalar(phantom) || ~isfield(phantom, 'kind') ...
   || ~ischar(phantom.kind) || ~isfield(needs, phantom.kind)
  error('orvel:badArgument', ['phantom_positions: phantom must be a phantom of phantom_flow ' ...
                              'or phantom_motion (kind ''flow'', ''motion'' or ''frames'')']);
end
missing = needs.(phantom.kind)(~isfield(phantom, needs.(phantom.kind)));
if ~isempty(missing)
  error('orvel:badArgument', 'phantom_positions: a phantom of kind ''%s'' needs the field %s', ...
        phantom.kind, missing{1});
end
if ~isnumeric(t) || ~isreal(t) || ~isscalar(t) || ~isfinite(t)
  error('orvel:badArgument', 'phantom_positions: t must be a finite number [s]');
end
t = double(t);
switch phantom.kind
  case 'flow'
    u = phantom.direction(:)';
    tissue = phantom.tissue_points + t * phantom.tissue_velocity(:)';
    L = phantom.s_hi - phantom.s_lo;
    travelled = phantom.blood_s0(:) + t * phantom.blood_speed(:) - phantom.s_lo;
    s = phantom.s_lo + (travelled - L * floor(travelled / L));
    blood = phantom.center(:)' + s .* u + phantom.blood_offset;
    points = [tissue; blood];
    amplitudes = [phantom.tissue_amplitudes(:); phantom.blood_amplitudes(:)];
  case 'motion'
    points = phantom.points + t * phantom.velocities;
    amplitudes = phantom.amplitudes(:);
  case 'frames'
    times = phantom.times;
    if ~(t >= times(1) && t <= times(end))
      error('orvel:badArgument', ['phantom_positions: t must lie within the frames'' times, ' ...
            '%g to %g s, but is %g'], times(1), times(end), t);
    end
    k = min(find(times <= t, 1, 'last'), numel(times) - 1);
    w = (t - times(k)) / (times(k + 1) - times(k));
    % (1 - w) and w, not a step from frame k: exact at both frames.
    points = (1 - w) * phantom.positions(:, :, k) + w * phantom.positions(:, :, k + 1);
    amplitudes = phantom.amplitudes(:);
end
end
