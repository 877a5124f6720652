function scan_apply(step, tx, rx)
%SCAN_APPLY  Set the apertures for one step of a scan sequence.
%   scan_apply(step, tx, rx)
%
%   step  one entry of a sequence from scan_linear, scan_phased, scan_phased_2d,
%         scan_convex, scan_planewave, scan_planewave_2d, scan_diverging or scan_sta
%   tx    handle of the transmit aperture
%   rx    handle of the receive aperture
%
%   kind 'line':  tx gets the apodization tx_apodization, the reference point rx_center (the
%                 line's origin) and the fixed focus tx_focus (xdc_focus at time 0); rx gets
%                 rx_apodization, the reference point rx_center and dynamic focusing along
%                 the line's angles (xdc_dynamic_focusing(rx, 0, angle, angle_y), angle_y 0
%                 when the step has none, as in the sequences of a linear array).
%   kind 'plane', 'diverging', 'element': tx gets the apodization tx_apodization (ones
%                 as the scan functions make them, but scan_sta's one element) and the
%                 delays tx_delays [s] (xdc_focus_delays); rx unit apodization and zero
%                 delays, so that calc_scat_multi gives the unfocused signal of each element.
%
%   The time lines set replace those the apertures had.
%
%   See also SCAN_RUN, XDC_FOCUS, XDC_DYNAMIC_FOCUSING, XDC_FOCUS_DELAYS, XDC_APODIZATION.
if nargin < 3
  error('orvel:usage', 'scan_apply: needs 3 arguments: scan_apply(step, tx, rx)');
end
if ~isstruct(step) || ~isscalar(step) || ~isfield(step, 'kind')
  error('orvel:badArgument', 'scan_apply: step must be one entry of a scan sequence');
end
switch step.kind
  case 'line'
    xdc_apodization(tx, 0, step.tx_apodization);
    % The line's origin as the reference point: its echoes then come back at the time of the
    % depth they lie at, whatever x the line has.
    xdc_center_focus(tx, step.rx_center);
    xdc_focus(tx, 0, step.tx_focus);
    xdc_apodization(rx, 0, step.rx_apodization);
    xdc_center_focus(rx, step.rx_center);
    angle_y = 0;
    if isfield(step, 'angle_y') && ~isempty(step.angle_y)
      angle_y = step.angle_y;
    end
    xdc_dynamic_focusing(rx, 0, step.angle, angle_y);
  case {'plane', 'diverging', 'element'}
    xdc_apodization(tx, 0, step.tx_apodization);
    xdc_focus_delays(tx, 0, step.tx_delays);
    xdc_apodization(rx, 0, ones(1, numel(step.rx_apodization)));
    xdc_focus_delays(rx, 0, zeros(1, numel(step.rx_apodization)));
  otherwise
    error('orvel:badArgument', ['scan_apply: unknown kind ''%s'' (''line'', ''plane'', ' ...
                              '''diverging'' or ''element'')'], ...
          num2str(step.kind));
end
end
