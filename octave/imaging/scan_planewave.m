function seq = scan_planewave(no_elements, pitch, angles, c)
%SCAN_PLANEWAVE  Scan sequence of steered plane waves from a linear array.
%   seq = scan_planewave(no_elements, pitch, angles, c)
%
%   no_elements  number of physical elements, centred on x = 0; centre i is at
%                x_i = (i - (no_elements + 1)/2) * pitch
%   pitch        distance between element centres [m]
%   angles       steering angles of the transmits [rad], from the z axis towards +x
%   c            speed of sound [m/s]
%
%   seq          scan sequence [struct array, units below], one entry per transmit, fields
%     kind            'plane'
%     angle           the steering angle [rad]
%     x               0 [m]
%     tx_apodization  1 x no_elements ones
%     rx_apodization
%     tx_focus        [] (focused lines only)
%     rx_center       []
%     tx_delays       1 x no_elements transmit delays [s],
%                     x_i*sin(angle)/c - min(x_i*sin(angle)/c): all >= 0, the elements on
%                     the side the wave travels to emit later
%
%   See also DAS_BEAMFORM, SCAN_APPLY, SCAN_RUN, SCAN_LINEAR.
if nargin < 4
  error('orvel:usage', 'scan_planewave: needs 4 arguments: scan_planewave(no_elements, pitch, angles, c)');
end
if ~isnumeric(no_elements) || ~isscalar(no_elements) || no_elements ~= round(no_elements) || no_elements < 1
  error('orvel:badArgument', 'scan_planewave: no_elements must be a positive whole number');
end
if no_elements > 2147483647
  error('orvel:badArgument', ['scan_planewave: no_elements must be at most 2147483647 (the most ' ...
        'elements an aperture holds), but is %.17g'], no_elements);
end
if ~isnumeric(pitch) || ~isreal(pitch) || ~isscalar(pitch) || ~(pitch > 0)
  error('orvel:badArgument', 'scan_planewave: pitch must be a positive number [m]');
end
if ~isnumeric(angles) || ~isreal(angles) || ~isvector(angles) || any(~isfinite(angles))
  error('orvel:badArgument', 'scan_planewave: angles must be a vector of finite angles [rad]');
end
if ~isnumeric(c) || ~isreal(c) || ~isscalar(c) || ~(c > 0)
  error('orvel:badArgument', 'scan_planewave: c must be a positive speed [m/s]');
end
n = double(no_elements);
x_element = ((1:n) - (n + 1) / 2) * double(pitch);
angles = double(angles(:)');
weights = ones(1, n);
seq = struct('kind', 'plane', 'angle', num2cell(angles), 'x', 0, 'tx_apodization', weights, ...
             'rx_apodization', weights, 'tx_focus', [], 'rx_center', [], 'tx_delays', []);
for k = 1:numel(angles)
  delays = x_element * sin(angles(k)) / double(c);
  if ~all(isfinite(delays))
    error('orvel:badArgument', ['scan_planewave: the delays x_e*sin(angle)/c must be finite, ' ...
          'but pitch %g and c %g make them overflow'], pitch, c);
  end
  seq(k).tx_delays = delays - min(delays);
end
end
