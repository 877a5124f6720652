function Th = xdc_convex_array(no_elements, width, height, kerf, Rconvex, no_sub_x, no_sub_y, focus)
%XDC_CONVEX_ARRAY  Define a convex (curved linear) array transducer.
%   Th = xdc_convex_array(no_elements, width, height, kerf, Rconvex, no_sub_x, no_sub_y, focus)
%
%   no_elements  number of physical elements, side by side along the arc
%   width        width of an element in x [m] (the chord it spans on the arc)
%   height       height of an element in y [m]
%   kerf         gap between neighbouring elements [m]
%   Rconvex      radius of the arc in the x-z plane [m]; its centre of curvature is at
%                (0, 0, -Rconvex), so the top of the arc touches the origin
%   no_sub_x     number of rectangles each element is divided into along the arc
%   no_sub_y     number of rectangles each element is divided into along y
%   focus        fixed focus point [x y z] [m]
%
%   The array is symmetric about x = 0. Each rectangle is a flat chord of the arc. Rconvex
%   must not be 0, and width and kerf must not exceed |Rconvex| (they are angles on the arc).
%   Th is the handle of the new aperture (release it with xdc_free).
%
%   See also XDC_CONVEX_FOCUSED_ARRAY, XDC_CONVEX_FOCUSED_MULTIROW, XDC_LINEAR_ARRAY.
cmd = 'xdc_convex_array';
orvel_usage(nargin, 8, [cmd '(no_elements, width, height, kerf, ' ...
                          'Rconvex, no_sub_x, no_sub_y, focus)']);
focus = orvel_point(cmd, 'focus', focus);
Th = Orvel_mex(1004, orvel_num(no_elements), orvel_num(width), orvel_num(height), ...
               orvel_num(kerf), orvel_num(Rconvex), orvel_num(no_sub_x), orvel_num(no_sub_y), ...
               focus);
end
