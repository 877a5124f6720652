function Th = xdc_convex_focused_multirow(no_elem_x, width, no_ele_y, heights, kerf_x, ...
                                          kerf_y, Rconvex, Rfocus, no_sub_x, no_sub_y, focus)
%XDC_CONVEX_FOCUSED_MULTIROW  Define a multi-row convex array focused in elevation.
%   Th = xdc_convex_focused_multirow(no_elem_x, width, no_ele_y, heights, kerf_x, kerf_y,
%                                    Rconvex, Rfocus, no_sub_x, no_sub_y, focus)
%
%   no_elem_x  elements per row, along the arc      width    element width [m]
%   no_ele_y   number of rows (along y)             heights  the no_ele_y row heights [m]
%   kerf_x     gap between elements in a row [m]    kerf_y   gap between rows [m]
%   Rconvex    radius of the arc in the x-z plane [m]
%   Rfocus     elevation focus radius [m]: all rows together lie on one cylinder whose outer
%              edges lie on the arc
%   no_sub_x, no_sub_y  rectangles per element along the arc and along y (equal steps in y)
%   focus      fixed focus point [x y z] [m]
%
%   Elements are numbered row by row, lowest y first, each row from the lowest angle.
%   Neither radius may be 0; width and kerf_x must not exceed |Rconvex|, and every row edge
%   must lie within |Rfocus| of y = 0.
%   Th is the handle of the new aperture.
%
%   See also XDC_CONVEX_FOCUSED_ARRAY, XDC_FOCUSED_MULTIROW.
cmd = 'xdc_convex_focused_multirow';
orvel_usage(nargin, 11, [cmd '(no_elem_x, width, no_ele_y, heights, kerf_x, kerf_y, ' ...
                          'Rconvex, Rfocus, no_sub_x, no_sub_y, focus)']);
focus = orvel_point(cmd, 'focus', focus);
Th = Orvel_mex(1014, orvel_num(no_elem_x), orvel_num(width), orvel_num(no_ele_y), ...
               orvel_num(heights), orvel_num(kerf_x), orvel_num(kerf_y), orvel_num(Rconvex), ...
               orvel_num(Rfocus), orvel_num(no_sub_x), orvel_num(no_sub_y), focus);
end
