function seq = scan_phased_2d(no_elements, angles, focus_r)
%SCAN_PHASED_2D  Scan sequence of a pyramidal sector: focused lines from a 2-D array's centre.
%   seq = scan_phased_2d(no_elements, angles, focus_r)
%
%   no_elements  number of physical elements of the array (those enabled in a sparse one),
%                all used for every line
%   angles       T x 2 matrix, one line [ax ay] per row [rad] (one line: a vector of 2): the
%                line runs along d = [sin(ax)*cos(ay), sin(ay), cos(ax)*cos(ay)], ax from the
%                z axis towards +x, ay towards +y (as xdc_dynamic_focusing's angles and
%                scan_planewave_2d's). For scan_convert_3d they must form a grid of ax values
%                by ay values, e.g. [AX(:) AY(:)] with [AX, AY] = ndgrid(ax, ay)
%   focus_r      distance of the transmit focus from the centre [m]
%
%   seq          scan sequence [struct array, units below], one entry per line, fields
%     kind            'line'
%     angle           ax [rad]
%     x               0 [m]
%     tx_apodization  1 x no_elements ones: every element on transmit and on receive
%     rx_apodization
%     tx_focus        focus_r * d [m]
%     rx_center       [0 0 0] [m]: the dynamic receive focus follows the line from the centre
%     tx_delays       [] (transmits only)
%     angle_y         ay [rad]
%
%   scan_apply focuses the receive aperture dynamically along d; scan_run gives samples x
%   lines, each sample at the range sample_depth from the centre.
%
%   See also SCAN_PHASED, SCAN_CONVERT_3D, SCAN_APPLY, SCAN_RUN, XDC_2D_ARRAY.
if nargin < 3
  error('orvel:usage', ['scan_phased_2d: needs 3 arguments: ' ...
                        'scan_phased_2d(no_elements, angles, focus_r)']);
end
if ~isnumeric(no_elements) || ~isreal(no_elements) || ~isscalar(no_elements) ...
   || no_elements ~= round(no_elements) || no_elements < 1
  error('orvel:badArgument', 'scan_phased_2d: no_elements must be a positive whole number');
end
if no_elements > 2147483647
  error('orvel:badArgument', ['scan_phased_2d: no_elements must be at most 2147483647 (the ' ...
        'most elements an aperture holds), but is %.17g'], no_elements);
end
if isnumeric(angles) && isvector(angles) && numel(angles) == 2
  angles = angles(:)';
end
if ~isnumeric(angles) || ~isreal(angles) || ndims(angles) ~= 2 || columns(angles) ~= 2 ...
   || rows(angles) < 1 || any(~isfinite(angles(:)))
  error('orvel:badArgument', ['scan_phased_2d: angles must be a T x 2 matrix of finite rows ' ...
        '[ax ay] [rad], but is %s'], ...
        regexprep(mat2str(size(angles)), {'[\[\]]', ' '}, {'', ' x '}));
end
if ~isnumeric(focus_r) || ~isreal(focus_r) || ~isscalar(focus_r) || ~isfinite(focus_r)
  error('orvel:badArgument', 'scan_phased_2d: focus_r must be a finite number [m]');
end
angles = double(angles);
weights = ones(1, double(no_elements));
seq = struct('kind', 'line', 'angle', num2cell(angles(:, 1)'), 'x', 0, ...
             'tx_apodization', weights, 'rx_apodization', weights, 'tx_focus', [], ...
             'rx_center', [0 0 0], 'tx_delays', [], 'angle_y', num2cell(angles(:, 2)'));
for k = 1:rows(angles)
  ax = angles(k, 1);
  ay = angles(k, 2);
  seq(k).tx_focus = double(focus_r) * [sin(ax) * cos(ay), sin(ay), cos(ax) * cos(ay)];
end
end
