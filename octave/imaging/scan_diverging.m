function seq = scan_diverging(no_elements, pitch, sources, c)
%SCAN_DIVERGING  Scan sequence of diverging waves from virtual sources behind a linear array.
%   seq = scan_diverging(no_elements, pitch, sources, c)
%
%   no_elements  number of physical elements, centred on x = 0; centre i is at
%                x_i = (i - (no_elements + 1)/2) * pitch
%   pitch        distance between element centres [m]
%   sources      k x 3 virtual sources, one row [x y z] each, z < 0 (behind the array) [m]
%   c            speed of sound [m/s]
%
%   seq          scan sequence [struct array, units below], one entry per source, fields
%     kind            'diverging'
%     angle           atan2(-x_s, -z_s) [rad]: the direction from the source through the
%                     array's centre
%     x               0 [m]
%     tx_apodization  1 x no_elements ones
%     rx_apodization
%     tx_focus        [] (focused lines only)
%     rx_center       []
%     tx_delays       1 x no_elements transmit delays [s], (d_i - min(d_i))/c with d_i the
%                     distance from centre i to the source: the wave seems to come from the
%                     source, the element nearest to it emits first
%     source          the virtual source [x y z] [m]
%
%   See also SCAN_PLANEWAVE, SCAN_STA, SCAN_APPLY, SCAN_RUN.
if nargin < 4
  error('orvel:usage', 'scan_diverging: needs 4 arguments: scan_diverging(no_elements, pitch, sources, c)');
end
if ~isnumeric(no_elements) || ~isscalar(no_elements) || no_elements ~= round(no_elements) || no_elements < 1
  error('orvel:badArgument', 'scan_diverging: no_elements must be a positive whole number');
end
if no_elements > 2147483647
  error('orvel:badArgument', ['scan_diverging: no_elements must be at most 2147483647 (the most ' ...
        'elements an aperture holds), but is %.17g'], no_elements);
end
if ~isnumeric(pitch) || ~isreal(pitch) || ~isscalar(pitch) || ~(pitch > 0)
  error('orvel:badArgument', 'scan_diverging: pitch must be a positive number [m]');
end
if ~isnumeric(sources) || ~isreal(sources) || ndims(sources) ~= 2 || columns(sources) ~= 3
  error('orvel:badArgument', 'scan_diverging: sources must be a k x 3 matrix, one row [x y z] per source, but is %s', ...
        mat2str(size(sources)));
end
if any(~isfinite(sources(:))) || ~all(sources(:, 3) < 0)
  error('orvel:badArgument', 'scan_diverging: sources must be finite and lie behind the array (z < 0) [m]');
end
if ~isnumeric(c) || ~isreal(c) || ~isscalar(c) || ~(c > 0)
  error('orvel:badArgument', 'scan_diverging: c must be a positive speed [m/s]');
end
n = double(no_elements);
x_element = ((1:n) - (n + 1) / 2) * double(pitch);
sources = double(sources);
k = rows(sources);
weights = ones(1, n);
seq = struct('kind', 'diverging', 'angle', num2cell(zeros(1, k)), 'x', 0, ...
             'tx_apodization', weights, 'rx_apodization', weights, 'tx_focus', [], ...
             'rx_center', [], 'tx_delays', [], 'source', []);
for j = 1:k
  s = sources(j, :);
  d = sqrt((x_element - s(1)).^2 + s(2)^2 + s(3)^2);
  delays = (d - min(d)) / double(c);
  if ~all(isfinite(delays))
    error('orvel:badArgument', ['scan_diverging: the delays (d_e - min(d_e))/c must be finite, ' ...
          'but pitch %g, the sources and c %g make them overflow'], pitch, c);
  end
  seq(j).angle = atan2(-s(1), -s(3));
  seq(j).tx_delays = delays;
  seq(j).source = s;
end
end
