function Th = xdc_linear_multirow(no_elem_x, width, no_ele_y, heights, kerf_x, kerf_y, ...
                                  no_sub_x, no_sub_y, focus)
%XDC_LINEAR_MULTIROW  Define a flat linear array of several rows.
%   Th = xdc_linear_multirow(no_elem_x, width, no_ele_y, heights, kerf_x, kerf_y,
%                            no_sub_x, no_sub_y, focus)
%
%   no_elem_x  elements per row (along x)          width    element width [m]
%   no_ele_y   number of rows (along y)            heights  the no_ele_y row heights [m]
%   kerf_x     gap between elements in a row [m]   kerf_y   gap between rows [m]
%   no_sub_x, no_sub_y  rectangles per element along x and y
%   focus      fixed focus point [x y z] [m]
%
%   Elements are numbered row by row, lowest y first, each row from lowest x.
%   Th is the handle of the new aperture.
%
%   See also XDC_FOCUSED_MULTIROW, XDC_LINEAR_ARRAY.
cmd = 'xdc_linear_multirow';
orvel_usage(nargin, 9, [cmd '(no_elem_x, width, no_ele_y, heights, kerf_x, ' ...
                          'kerf_y, no_sub_x, no_sub_y, focus)']);
focus = orvel_point(cmd, 'focus', focus);
Th = Orvel_mex(1012, orvel_num(no_elem_x), orvel_num(width), orvel_num(no_ele_y), ...
               orvel_num(heights), orvel_num(kerf_x), orvel_num(kerf_y), orvel_num(no_sub_x), ...
               orvel_num(no_sub_y), focus);
end
