function Th = xdc_2d_array(no_ele_x, no_ele_y, width, height, kerf_x, kerf_y, enabled, ...
                           no_sub_x, no_sub_y, focus)
%XDC_2D_ARRAY  Define a flat 2-D array with a pattern of enabled elements.
%   Th = xdc_2d_array(no_ele_x, no_ele_y, width, height, kerf_x, kerf_y, enabled,
%                     no_sub_x, no_sub_y, focus)
%
%   no_ele_x, no_ele_y  positions along x and y
%   width, height       size of one element [m];  kerf_x, kerf_y  gaps [m]
%   enabled             no_ele_x by no_ele_y matrix; position (i, j) becomes an element when
%                       its value is above 0.5
%   no_sub_x, no_sub_y  rectangles per element;  focus  fixed focus point [x y z] [m]
%
%   Only enabled positions are elements, numbered row by row (lowest y first, then x).
%   Th is the handle of the new aperture.
%
%   See also XDC_LINEAR_ARRAY.
cmd = 'xdc_2d_array';
orvel_usage(nargin, 10, [cmd '(no_ele_x, no_ele_y, width, height, kerf_x, ' ...
                          'kerf_y, enabled, no_sub_x, no_sub_y, focus)']);
focus = orvel_point(cmd, 'focus', focus);
Th = Orvel_mex(1002, orvel_num(no_ele_x), orvel_num(no_ele_y), orvel_num(width), ...
               orvel_num(height), orvel_num(kerf_x), orvel_num(kerf_y), orvel_num(enabled), ...
               orvel_num(no_sub_x), orvel_num(no_sub_y), focus);
end
