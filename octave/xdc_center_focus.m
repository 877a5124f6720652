function xdc_center_focus(Th, point)
%XDC_CENTER_FOCUS  Set the reference point of focusing.
%   xdc_center_focus(Th, point) sets the point [x y z] [m] from which focusing delays are
%   counted. Focus entries made before keep their delays; set the focus again afterwards.
%
%   See also XDC_FOCUS.
Orvel_mex(1063, orvel_num(Th), orvel_num(point));
end
