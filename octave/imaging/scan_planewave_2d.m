function seq = scan_planewave_2d(element_positions, angles, c, apodization)
%SCAN_PLANEWAVE_2D  Scan sequence of plane waves steered in two angles, from any array.
%   seq = scan_planewave_2d(element_positions, angles, c, apodization)
%
%   element_positions  N x 3 element centres [x y z] [m] (element_positions(Th)), in the
%                      order of the aperture's physical elements; a 2-D array for volumes
%   angles             T x 2 matrix, one transmit [ax ay] per row [rad]: the wave travels
%                      along u = [sin(ax)*cos(ay), sin(ay), cos(ax)*cos(ay)], ax from the z
%                      axis towards +x, ay towards +y
%   c                  speed of sound [m/s]
%   apodization        N transmit weights, one per element (default [] : ones). A weight
%                      falling to the array's edges (e.g. a Hann window in x and in y)
%                      weakens the edge waves, which on a small array trail the plane wave
%                      closely and move the echo of a near point by a tenth of a wavelength
%                      or more
%
%   seq                scan sequence [struct array, units below], one entry per transmit,
%                      all elements in receive; fields
%     kind            'plane'
%     angle           ax [rad]
%     x               0 [m]
%     tx_apodization  1 x N transmit weights (apodization)
%     rx_apodization  1 x N ones
%     tx_focus        [] (focused lines only)
%     rx_center       []
%     tx_delays       1 x N transmit delays [s], (u.e - min(u.e))/c for element e: all >= 0,
%                     the element the wave leaves first emits at 0
%     angle_y         ay [rad]
%
%   scan_run simulates it; das_beamform with the element positions and the T x 2 angles
%   forms the image (options.y for a volume). For a linear array along x and ay = 0 the
%   delays are those of scan_planewave.
%
%   See also SCAN_PLANEWAVE, SCAN_DIVERGING_2D, ELEMENT_POSITIONS, SCAN_RUN, DAS_BEAMFORM.
if nargin < 3
  error('orvel:usage', ['scan_planewave_2d: needs at least 3 arguments: ' ...
                        'scan_planewave_2d(element_positions, angles, c, apodization)']);
end
if nargin < 4
  apodization = [];
end
e = element_rows('scan_planewave_2d', element_positions);
n = rows(e);
if ~isnumeric(angles) || ~isreal(angles) || ndims(angles) ~= 2 || columns(angles) ~= 2 ...
   || any(~isfinite(angles(:)))
  error('orvel:badArgument', ['scan_planewave_2d: angles must be a T x 2 matrix of finite ' ...
        'rows [ax ay] [rad], but is %s'], size_text(angles));
end
if ~isnumeric(c) || ~isreal(c) || ~isscalar(c) || ~(c > 0) || ~isfinite(c)
  error('orvel:badArgument', 'scan_planewave_2d: c must be a positive speed [m/s]');
end
if isempty(apodization)
  weights = ones(1, n);
elseif ~isnumeric(apodization) || ~isreal(apodization) || ~isvector(apodization) ...
       || numel(apodization) ~= n || any(~isfinite(apodization))
  error('orvel:badArgument', ['scan_planewave_2d: apodization must hold %d finite weights, ' ...
        'one per element, but is %s'], n, size_text(apodization));
else
  weights = double(apodization(:)');
end
angles = double(angles);
c = double(c);
seq = struct('kind', 'plane', 'angle', num2cell(angles(:, 1)'), 'x', 0, ...
             'tx_apodization', weights, 'rx_apodization', ones(1, n), 'tx_focus', [], ...
             'rx_center', [], 'tx_delays', [], 'angle_y', num2cell(angles(:, 2)'));
for k = 1:rows(angles)
  ax = angles(k, 1);
  ay = angles(k, 2);
  u = [sin(ax) * cos(ay), sin(ay), cos(ax) * cos(ay)];
  ue = (e(:, 1) * u(1) + e(:, 2) * u(2) + e(:, 3) * u(3))' / c;
  delays = ue - min(ue);
  if ~all(isfinite(delays))
    error('orvel:badArgument', ['scan_planewave_2d: the delays (u.e - min(u.e))/c must be ' ...
          'finite, but the positions and c %g make them overflow'], c);
  end
  seq(k).tx_delays = delays;
end
end
