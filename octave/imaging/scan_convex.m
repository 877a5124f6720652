function seq = scan_convex(no_elements, pitch, radius, no_active, angles, focus_r)
%SCAN_CONVEX  Scan sequence of a convex array: lines normal to the arc from a sliding window.
%   seq = scan_convex(no_elements, pitch, radius, no_active, angles, focus_r)
%
%   no_elements  number of physical elements, on an arc of radius `radius` centred at
%                (0, 0, -radius) (the top of the arc at the origin, as xdc_convex_array
%                lays them out)
%   pitch        arc length between element centres [m]: element k lies at the angle
%                theta_k = (k - (no_elements + 1)/2) * pitch / radius [rad] from the z axis.
%                The elements of xdc_convex_array are asin(width/radius) + asin(kerf/radius)
%                apart, so the pitch of such an array is
%                radius * (asin(width/radius) + asin(kerf/radius)), just above width + kerf
%   radius       convex radius of the arc [m]
%   no_active    elements used by each line, at most no_elements
%   angles       angles of the lines [rad] from the z axis towards +x, a vector; every line
%                passes through the centre of curvature
%   focus_r      distance of the transmit focus from the arc along the line [m]
%
%   seq          scan sequence [struct array, units below], one entry per line, fields
%     kind            'line'
%     angle           the line's angle a [rad]
%     x               x of the line's origin, radius * sin(a) [m]
%     tx_apodization  1 x no_elements weights: 1 on the line's window of no_active
%     rx_apodization  elements, 0 elsewhere
%     tx_focus        [(R + focus_r)*sin(a) 0 (R + focus_r)*cos(a) - R] [m], R the radius
%     rx_center       [R*sin(a) 0 R*cos(a) - R] [m]: where the line leaves the arc, the
%                     origin of the dynamic receive focus along the angle a
%     tx_delays       [] (transmits only)
%
%   The window holds the no_active elements whose middle is nearest to the line: as in
%   scan_linear with the arc length a*radius for x, it starts at element
%   floor(a*radius/pitch + (no_elements + 1)/2 - (no_active - 1)/2 + 0.5 + 1e-9) (a tie
%   goes to the +x side), moved inside the array at its ends. A line's samples lie at
%   radius + depth from the centre of curvature: scan_convert(lines, angles, radius + depth,
%   x, z, [0 -radius]) puts them on a grid.
%
%   See also SCAN_LINEAR, SCAN_PHASED, SCAN_APPLY, SCAN_RUN, SCAN_CONVERT, XDC_CONVEX_ARRAY.
if nargin < 6
  error('orvel:usage', ['scan_convex: needs 6 arguments: ' ...
                        'scan_convex(no_elements, pitch, radius, no_active, angles, focus_r)']);
end
whole = @(v) isnumeric(v) && isscalar(v) && isreal(v) && v == round(v) && v >= 1;
if ~whole(no_elements)
  error('orvel:badArgument', 'scan_convex: no_elements must be a positive whole number');
end
if no_elements > 2147483647
  error('orvel:badArgument', ['scan_convex: no_elements must be at most 2147483647 (the most ' ...
        'elements an aperture holds), but is %.17g'], no_elements);
end
if ~whole(no_active) || no_active > no_elements
  error('orvel:badArgument', 'scan_convex: no_active must be a whole number from 1 to no_elements (%d)', ...
        no_elements);
end
positive = @(v) isnumeric(v) && isreal(v) && isscalar(v) && v > 0 && isfinite(v);
if ~positive(pitch)
  error('orvel:badArgument', 'scan_convex: pitch must be a positive number [m]');
end
if ~positive(radius)
  error('orvel:badArgument', 'scan_convex: radius must be a positive number [m]');
end
if ~isnumeric(angles) || ~isreal(angles) || ~isvector(angles) || any(~isfinite(angles))
  error('orvel:badArgument', 'scan_convex: angles must be a vector of finite angles [rad]');
end
if ~isnumeric(focus_r) || ~isreal(focus_r) || ~isscalar(focus_r) || ~isfinite(focus_r)
  error('orvel:badArgument', 'scan_convex: focus_r must be a finite number [m]');
end
n = double(no_elements);
m = double(no_active);
R = double(radius);
f = double(focus_r);
angles = double(angles(:)');
% The 1e-9 (of a pitch) sends ties that rounding would split the same way.
first = floor(angles * R / double(pitch) + (n + 1) / 2 - (m - 1) / 2 + 0.5 + 1e-9);
first = min(max(first, 1), n - m + 1);
seq = struct('kind', 'line', 'angle', num2cell(angles), 'x', 0, 'tx_apodization', [], ...
             'rx_apodization', [], 'tx_focus', [], 'rx_center', [], 'tx_delays', []);
for k = 1:numel(angles)
  apodization = zeros(1, n);
  apodization(first(k):first(k) + m - 1) = 1;
  s = sin(angles(k));
  c = cos(angles(k));
  seq(k).x = R * s;
  seq(k).tx_apodization = apodization;
  seq(k).rx_apodization = apodization;
  seq(k).tx_focus = [(R + f) * s, 0, (R + f) * c - R];
  seq(k).rx_center = [R * s, 0, R * c - R];
end
end
