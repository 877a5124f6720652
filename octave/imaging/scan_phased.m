function seq = scan_phased(no_elements, angles, focus_r)
%SCAN_PHASED  Scan sequence of a phased array: lines fanning out from the array's centre.
%   seq = scan_phased(no_elements, angles, focus_r)
%
%   no_elements  number of physical elements of the array
%   angles       steering angles of the lines [rad], from the z axis towards +x, a vector
%   focus_r      distance of the transmit focus from the centre [m]
%
%   seq          scan sequence [struct array, units below], one entry per line, fields
%     kind            'line'
%     angle           the line's angle [rad]
%     x               0 [m]
%     tx_apodization  1 x no_elements ones: every element on transmit and on receive
%     rx_apodization
%     tx_focus        focus_r * [sin(angle) 0 cos(angle)] [m]
%     rx_center       [0 0 0] [m]: the dynamic receive focus follows the line from the centre
%     tx_delays       [] (plane waves only)
%
%   See also SCAN_LINEAR, SCAN_PLANEWAVE, SCAN_APPLY, SCAN_RUN, SCAN_CONVERT.
if nargin < 3
  error('orvel:usage', 'scan_phased: needs 3 arguments: scan_phased(no_elements, angles, focus_r)');
end
if ~isnumeric(no_elements) || ~isscalar(no_elements) || no_elements ~= round(no_elements) || no_elements < 1
  error('orvel:badArgument', 'scan_phased: no_elements must be a positive whole number');
end
if no_elements > 2147483647
  error('orvel:badArgument', ['scan_phased: no_elements must be at most 2147483647 (the most ' ...
        'elements an aperture holds), but is %.17g'], no_elements);
end
if ~isnumeric(angles) || ~isreal(angles) || ~isvector(angles) || any(~isfinite(angles))
  error('orvel:badArgument', 'scan_phased: angles must be a vector of finite angles [rad]');
end
if ~isnumeric(focus_r) || ~isreal(focus_r) || ~isscalar(focus_r) || ~isfinite(focus_r)
  error('orvel:badArgument', 'scan_phased: focus_r must be a finite number [m]');
end
angles = double(angles(:)');
weights = ones(1, double(no_elements));
seq = struct('kind', 'line', 'angle', num2cell(angles), 'x', 0, 'tx_apodization', weights, ...
             'rx_apodization', weights, 'tx_focus', [], 'rx_center', [0 0 0], 'tx_delays', []);
for k = 1:numel(angles)
  seq(k).tx_focus = double(focus_r) * [sin(angles(k)) 0 cos(angles(k))];
end
end
