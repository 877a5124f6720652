function xdc_focus_delays(Th, times, delays)
%XDC_FOCUS_DELAYS  Set the focus time line of an aperture from given delays.
%   xdc_focus_delays(Th, times, delays)
%
%   times   the times [s] from which each row of delays is used (n values)
%   delays  n by (number of physical elements) matrix of delays [s], used as given
%
%   The whole focus time line is replaced.
%
%   See also XDC_FOCUS, XDC_APODIZATION.
Orvel_mex(1061, orvel_num(Th), orvel_num(times(:)), orvel_num(delays));
end
