function seq = scan_diverging_2d(element_positions, sources, c)
%SCAN_DIVERGING_2D  Scan sequence of diverging waves from virtual sources behind any array.
%   seq = scan_diverging_2d(element_positions, sources, c)
%
%   element_positions  N x 3 element centres [x y z] [m] (element_positions(Th)), in the
%                      order of the aperture's physical elements; a 2-D array for volumes
%   sources            k x 3 virtual sources, one row [x y z] each [m], with z below every
%                      element's z: behind the array
%   c                  speed of sound [m/s]
%
%   seq                scan sequence [struct array, units below], one entry per source, all
%                      elements in receive; fields
%     kind            'diverging'
%     angle           atan2(-x_s, -z_s) [rad], as scan_diverging gives it
%     x               0 [m]
%     tx_apodization  1 x N ones
%     rx_apodization
%     tx_focus        [] (focused lines only)
%     rx_center       []
%     tx_delays       1 x N transmit delays [s], (d_e - min(d_e))/c with d_e the distance
%                     from element e's centre to the source: the wave seems to come from the
%                     source, the element nearest to it emits first
%     source          the virtual source [x y z] [m]
%
%   scan_run simulates it; das_beamform takes its transmits as the table rows
%   [2 x_s y_s z_s t_ref 0 0 0], t_ref = -min(d_e)/c (help das_image), with the element
%   positions. For a linear array along x the delays are those of scan_diverging.
%
%   See also SCAN_DIVERGING, SCAN_PLANEWAVE_2D, ELEMENT_POSITIONS, SCAN_RUN, DAS_BEAMFORM.
if nargin < 3
  error('orvel:usage', ['scan_diverging_2d: needs 3 arguments: ' ...
                        'scan_diverging_2d(element_positions, sources, c)']);
end
e = element_rows('scan_diverging_2d', element_positions);
n = rows(e);
if ~isnumeric(sources) || ~isreal(sources) || ndims(sources) ~= 2 || columns(sources) ~= 3
  error('orvel:badArgument', ['scan_diverging_2d: sources must be a k x 3 matrix, one row ' ...
        '[x y z] per source, but is %s'], size_text(sources));
end
if any(~isfinite(sources(:))) || ~all(sources(:, 3) < min(e(:, 3)))
  error('orvel:badArgument', ['scan_diverging_2d: sources must be finite and lie behind the ' ...
        'array (z below every element''s) [m]']);
end
if ~isnumeric(c) || ~isreal(c) || ~isscalar(c) || ~(c > 0) || ~isfinite(c)
  error('orvel:badArgument', 'scan_diverging_2d: c must be a positive speed [m/s]');
end
sources = double(sources);
c = double(c);
k = rows(sources);
weights = ones(1, n);
seq = struct('kind', 'diverging', 'angle', num2cell(zeros(1, k)), 'x', 0, ...
             'tx_apodization', weights, 'rx_apodization', weights, 'tx_focus', [], ...
             'rx_center', [], 'tx_delays', [], 'source', []);
for j = 1:k
  s = sources(j, :);
  d = sqrt((e(:, 1) - s(1)).^2 + (e(:, 2) - s(2)).^2 + (e(:, 3) - s(3)).^2)';
  delays = (d - min(d)) / c;
  if ~all(isfinite(delays))
    error('orvel:badArgument', ['scan_diverging_2d: the delays (d_e - min(d_e))/c must be ' ...
          'finite, but the positions, the sources and c %g make them overflow'], c);
  end
  seq(j).angle = atan2(-s(1), -s(3));
  seq(j).tx_delays = delays;
  seq(j).source = s;
end
end
