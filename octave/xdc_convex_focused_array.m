function Th = xdc_convex_focused_array(no_elements, width, height, kerf, Rconvex, Rfocus, ...
                                       no_sub_x, no_sub_y, focus)
%XDC_CONVEX_FOCUSED_ARRAY  Define a convex array focused in elevation.
%   Th = xdc_convex_focused_array(no_elements, width, height, kerf, Rconvex, Rfocus,
%                                 no_sub_x, no_sub_y, focus)
%
%   As xdc_convex_array (elements on an arc of radius Rconvex [m] in the x-z plane), with every
%   element also curved in elevation to a cylinder of radius Rfocus [m]: its long edges
%   (y = -height/2 and +height/2) lie on the arc and its middle lies behind it. The elevation
%   is divided into no_sub_y rectangles of equal angle. Lengths in m, focus = [x y z] in m.
%   Neither radius may be 0; width and kerf must not exceed |Rconvex|, height 2 |Rfocus|.
%
%   Th is the handle of the new aperture.
%
%   See also XDC_CONVEX_ARRAY, XDC_FOCUSED_ARRAY.
cmd = 'xdc_convex_focused_array';
orvel_usage(nargin, 9, [cmd '(no_elements, width, height, kerf, Rconvex, ' ...
                          'Rfocus, no_sub_x, no_sub_y, focus)']);
focus = orvel_point(cmd, 'focus', focus);
Th = Orvel_mex(1005, orvel_num(no_elements), orvel_num(width), orvel_num(height), ...
               orvel_num(kerf), orvel_num(Rconvex), orvel_num(Rfocus), orvel_num(no_sub_x), ...
               orvel_num(no_sub_y), focus);
end
