function xdc_focus_delays(Th, times, delays)
%XDC_FOCUS_DELAYS  Set the focus time line of an aperture from given delays.
%   xdc_focus_delays(Th, times, delays)
%
%   times   the times [s] from which each row of delays is used (n values)
%   delays  n x (number of physical elements) matrix of delays [s], one row per time
%
%   The delays are used as given: no reference point and no quantization. A positive delay
%   makes the element emit later and, on receive, adds to the time its signal is received.
%   The row in force for element i is chosen by its one-way time of flight to the field point
%   or scatterer, as for xdc_focus. The whole focus time line is replaced.
%
%   See also XDC_FOCUS, XDC_APODIZATION, ELE_DELAY, ORVEL.
orvel_usage(nargin, 3, 'xdc_focus_delays(Th, times, delays)');
orvel_per_element('xdc_focus_delays', 'delays', delays, Th);
Orvel_mex(1061, orvel_num(Th), orvel_num(times(:)), orvel_num(delays));
end
