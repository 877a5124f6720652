function phantom = phantom_motion(points, amplitudes, motion)
%PHANTOM_MOTION  Given scatterers in a given motion.
%   phantom = phantom_motion(points, amplitudes, motion)
%
%   points      n x 3 positions [x y z] [m] (at t = 0 for a velocity field)
%   amplitudes  n scattering amplitudes [no unit]
%   motion      either
%               a function handle velocity(points) giving an n x 3 matrix of finite
%               velocities [m/s] for the n x 3 points: each scatterer moves on a straight
%               line at the velocity it had at its starting point, at t p0 + t*velocity(p0)
%               (the field is evaluated once, here);
%               or a struct with fields times (K >= 2 increasing times [s]) and positions
%               (n x 3 x K, the positions at those times [m]): linear in time between them,
%               exact at each of the times, and only within times(1) .. times(K). points
%               then only fixes n.
%
%   phantom     moving phantom [struct, units below] for phantom_positions and scan_run:
%     kind        'motion' (velocity field) or 'frames'
%     points      n x 3 starting positions [m] ('motion')
%     velocities  n x 3 velocities [m/s] ('motion')
%     times       1 x K times [s] ('frames')
%     positions   n x 3 x K positions [m] ('frames')
%     amplitudes  n x 1 amplitudes [no unit]
%
%   See also PHANTOM_FLOW, PHANTOM_POSITIONS, SCAN_RUN.
if nargin < 3
  error('orvel:usage', 'phantom_motion: needs 3 arguments: phantom_motion(points, amplitudes, motion)');
end
if ~isnumeric(points) || ~isreal(points) || ndims(points) ~= 2 || columns(points) ~= 3
  error('orvel:badArgument', 'phantom_motion: points must be an n x 3 real matrix [m], but is %s', ...
        mat2str(size(points)));
end
if ~all(isfinite(points(:)))
  error('orvel:badArgument', 'phantom_motion: points must be finite [m]');
end
n = rows(points);
if ~isnumeric(amplitudes) || ~isreal(amplitudes) || numel(amplitudes) ~= n
  error('orvel:badArgument', ['phantom_motion: amplitudes must hold one value per point: ' ...
        '%d expected, %d received'], n, numel(amplitudes));
end
points = double(points);
amplitudes = double(amplitudes(:));
if is_function_handle(motion)
  velocities = motion(points);
  if ~isnumeric(velocities) || ~isreal(velocities) || ~isequal(size(velocities), [n 3]) ...
     || ~all(isfinite(velocities(:)))
    error('orvel:badArgument', ['phantom_motion: motion(points) must return an n x 3 = %d x 3 ' ...
          'matrix of finite real velocities [m/s], but returned %s'], n, mat2str(size(velocities)));
  end
  phantom = struct('kind', 'motion', 'points', points, 'velocities', double(velocities), ...
                   'amplitudes', amplitudes);
elseif isstruct(motion) && isscalar(motion) && isfield(motion, 'times') ...
       && isfield(motion, 'positions')
  times = motion.times;
  if ~isnumeric(times) || ~isreal(times) || ~isvector(times) || numel(times) < 2 ...
     || ~all(isfinite(times)) || ~all(diff(times(:)) > 0)
    error('orvel:badArgument', ['phantom_motion: motion.times must be at least 2 finite times, ' ...
                                'increasing [s]']);
  end
  K = numel(times);
  positions = motion.positions;
  if ~isnumeric(positions) || ~isreal(positions) || ~isequal(size(positions), [n 3 K]) ...
     || ~all(isfinite(positions(:)))
    error('orvel:badArgument', ['phantom_motion: motion.positions must be n x 3 x K = %d x 3 x %d ' ...
          'finite positions [m], but is %s'], n, K, mat2str(size(positions)));
  end
  phantom = struct('kind', 'frames', 'times', double(times(:)'), ...
                   'positions', double(positions), 'amplitudes', amplitudes);
else
  error('orvel:badArgument', ['phantom_motion: motion must be a function handle velocity(points) ' ...
                              'or a struct with the fields times and positions']);
end
end
