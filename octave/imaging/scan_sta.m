function seq = scan_sta(no_elements)
%SCAN_STA  Scan sequence of a synthetic transmit aperture: each element emits alone.
%   seq = scan_sta(no_elements)
%
%   no_elements  number of physical elements
%
%   seq          scan sequence [struct array, units below], one entry per element, fields
%     kind            'element'
%     angle           0 [rad]
%     x               0 [m]
%     tx_apodization  1 x no_elements weights [no unit]: 1 on the emitting element, 0 elsewhere
%     rx_apodization  1 x no_elements ones: every element receives
%     tx_focus        [] (focused lines only)
%     rx_center       []
%     tx_delays       1 x no_elements zeros [s]
%     element         the emitting element's number, from 1 [no unit]
%
%   See also SCAN_PLANEWAVE, SCAN_DIVERGING, SCAN_APPLY, SCAN_RUN.
if nargin < 1
  error('orvel:usage', 'scan_sta: needs 1 argument: scan_sta(no_elements)');
end
if ~isnumeric(no_elements) || ~isscalar(no_elements) || ~isreal(no_elements) ...
   || no_elements ~= round(no_elements) || no_elements < 1
  error('orvel:badArgument', 'scan_sta: no_elements must be a positive whole number');
end
if no_elements > 2147483647
  error('orvel:badArgument', ['scan_sta: no_elements must be at most 2147483647 (the most ' ...
        'elements an aperture holds), but is %.17g'], no_elements);
end
n = double(no_elements);
seq = struct('kind', 'element', 'angle', 0, 'x', 0, 'tx_apodization', [], ...
             'rx_apodization', ones(1, n), 'tx_focus', [], 'rx_center', [], ...
             'tx_delays', zeros(1, n), 'element', num2cell(1:n));
for k = 1:n
  seq(k).tx_apodization = double((1:n) == k);
end
end
