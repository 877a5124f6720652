function Th = xdc_focused_multirow(no_elem_x, width, no_ele_y, heights, kerf_x, kerf_y, ...
                                   Rfocus, no_sub_x, no_sub_y, focus)
%XDC_FOCUSED_MULTIROW  Define a multi-row linear array focused in elevation.
%   Th = xdc_focused_multirow(no_elem_x, width, no_ele_y, heights, kerf_x, kerf_y,
%                             Rfocus, no_sub_x, no_sub_y, focus)
%
%   As xdc_linear_multirow, with all rows together on one cylinder of radius Rfocus [m]
%   whose outer edges lie in the plane z = 0. The rows' rectangles are equal steps in y.
%   Rfocus must not be 0, and every row edge must lie within |Rfocus| of y = 0.
%   Th is the handle of the new aperture.
%
%   See also XDC_LINEAR_MULTIROW, XDC_FOCUSED_ARRAY.
cmd = 'xdc_focused_multirow';
orvel_usage(nargin, 10, [cmd '(no_elem_x, width, no_ele_y, heights, kerf_x, ' ...
                          'kerf_y, Rfocus, no_sub_x, no_sub_y, focus)']);
focus = orvel_point(cmd, 'focus', focus);
Th = Orvel_mex(1013, orvel_num(no_elem_x), orvel_num(width), orvel_num(no_ele_y), ...
               orvel_num(heights), orvel_num(kerf_x), orvel_num(kerf_y), orvel_num(Rfocus), ...
               orvel_num(no_sub_x), orvel_num(no_sub_y), focus);
end
