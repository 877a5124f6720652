function xdc_focus(Th, times, points)
%XDC_FOCUS  Set the focus time line of an aperture from focus points.
%   xdc_focus(Th, times, points)
%
%   times   the times [s] from which each focus point is used (n values)
%   points  n by 3 matrix: one focus point [x y z] [m] per time
%
%   Each entry holds for times of flight up to the next entry's time. The delays are
%   computed now from the reference point (xdc_center_focus), the element centres and the
%   quantization (xdc_quantization) in force. The whole time line is replaced.
%
%   See also XDC_FOCUS_DELAYS, XDC_DYNAMIC_FOCUSING, XDC_CENTER_FOCUS.
Orvel_mex(1060, orvel_num(Th), orvel_num(times(:)), orvel_num(points));
end
