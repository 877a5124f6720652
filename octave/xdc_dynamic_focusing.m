function xdc_dynamic_focusing(Th, time, dir_xz, dir_yz)
%XDC_DYNAMIC_FOCUSING  Use dynamic focusing along a direction.
%   xdc_dynamic_focusing(Th, time, dir_xz, dir_yz) replaces the focus time line by dynamic
%   focusing from time [s] on, along the line from the reference point in the direction
%   given by the angles dir_xz (in the x-z plane) and dir_yz (in the y-z plane) [rad].
%   The focus follows the time of flight to each field point.
%
%   See also XDC_FOCUS, XDC_CENTER_FOCUS.
Orvel_mex(1062, orvel_num(Th), orvel_num(time), orvel_num(dir_xz), orvel_num(dir_yz));
end
