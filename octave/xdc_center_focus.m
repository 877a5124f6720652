function xdc_center_focus(Th, point)
%XDC_CENTER_FOCUS  Set the reference point of focusing.
%   xdc_center_focus(Th, point) sets the point [x y z] [m] from which focusing delays are
%   counted, (0, 0, 0) in a new aperture: with it the waves of all elements meet at a focus
%   point F at the time |F - ref|/c (help orvel). Fixed-focus entries made before keep their
%   delays, so set the focus again afterwards; dynamic focusing uses the new point at once.
%
%   See also XDC_FOCUS, XDC_DYNAMIC_FOCUSING.
orvel_usage(nargin, 2, 'xdc_center_focus(Th, point)');
Orvel_mex(1063, orvel_num(Th), orvel_point('xdc_center_focus', 'point', point));
end
