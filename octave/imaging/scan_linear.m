function seq = scan_linear(no_elements, pitch, no_active, x_lines, focus_z)
%SCAN_LINEAR  Scan sequence of a linear array: parallel lines from a sliding window.
%   seq = scan_linear(no_elements, pitch, no_active, x_lines, focus_z)
%
%   no_elements  number of physical elements of the array, centred on x = 0
%   pitch        distance between element centres [m]; centre i is at
%                x_i = (i - (no_elements + 1)/2) * pitch
%   no_active    elements used by each line, at most no_elements
%   x_lines      lateral positions of the lines [m], a vector
%   focus_z      depth of the transmit focus [m]
%
%   seq          scan sequence [struct array, units below], one entry per line, fields
%     kind            'line'
%     angle           0 [rad]
%     x               the line's position [m]
%     tx_apodization  1 x no_elements weights: 1 on the line's window of no_active
%     rx_apodization  elements, 0 elsewhere
%     tx_focus        [x 0 focus_z] [m]
%     rx_center       [x 0 0] [m], the origin of the dynamic receive focus
%     tx_delays       [] (plane waves only)
%
%   The window holds the no_active elements nearest to x: it starts at element
%   floor(x/pitch + (no_elements + 1)/2 - (no_active - 1)/2 + 0.5 + 1e-9) (a tie goes to
%   the +x side), moved inside the array at its ends, so that every line uses no_active
%   elements.
%
%   See also SCAN_PHASED, SCAN_PLANEWAVE, SCAN_APPLY, SCAN_RUN.
if nargin < 5
  error('orvel:usage', ['scan_linear: needs 5 arguments: ' ...
                        'scan_linear(no_elements, pitch, no_active, x_lines, focus_z)']);
end
whole = @(v) isnumeric(v) && isscalar(v) && isreal(v) && v == round(v) && v >= 1;
if ~whole(no_elements)
  error('orvel:badArgument', 'scan_linear: no_elements must be a positive whole number');
end
if no_elements > 2147483647
  error('orvel:badArgument', ['scan_linear: no_elements must be at most 2147483647 (the most ' ...
        'elements an aperture holds), but is %.17g'], no_elements);
end
if ~whole(no_active) || no_active > no_elements
  error('orvel:badArgument', 'scan_linear: no_active must be a whole number from 1 to no_elements (%d)', ...
        no_elements);
end
if ~isnumeric(pitch) || ~isreal(pitch) || ~isscalar(pitch) || ~(pitch > 0)
  error('orvel:badArgument', 'scan_linear: pitch must be a positive number [m]');
end
if ~isnumeric(x_lines) || ~isreal(x_lines) || ~isvector(x_lines) || any(~isfinite(x_lines))
  error('orvel:badArgument', 'scan_linear: x_lines must be a vector of finite positions [m]');
end
if ~isnumeric(focus_z) || ~isreal(focus_z) || ~isscalar(focus_z) || ~isfinite(focus_z)
  error('orvel:badArgument', 'scan_linear: focus_z must be a finite number [m]');
end
n = double(no_elements);
m = double(no_active);
x_lines = double(x_lines(:)');
% The 1e-9 (of a pitch) sends ties that rounding would split the same way.
first = floor(x_lines / pitch + (n + 1) / 2 - (m - 1) / 2 + 0.5 + 1e-9);
first = min(max(first, 1), n - m + 1);
seq = struct('kind', 'line', 'angle', 0, 'x', num2cell(x_lines), 'tx_apodization', [], ...
             'rx_apodization', [], 'tx_focus', [], 'rx_center', [], 'tx_delays', []);
for k = 1:numel(x_lines)
  apodization = zeros(1, n);
  apodization(first(k):first(k) + m - 1) = 1;
  seq(k).tx_apodization = apodization;
  seq(k).rx_apodization = apodization;
  seq(k).tx_focus = [x_lines(k) 0 double(focus_z)];
  seq(k).rx_center = [x_lines(k) 0 0];
end
end
