function Th = xdc_focused_array(no_elements, width, height, kerf, Rfocus, no_sub_x, no_sub_y, focus)
%XDC_FOCUSED_ARRAY  Define a linear array focused in elevation.
%   Th = xdc_focused_array(no_elements, width, height, kerf, Rfocus, no_sub_x, no_sub_y, focus)
%
%   The elements are flat in x and curved in elevation to a cylinder of radius Rfocus [m]
%   whose long edges (y = -height/2 and +height/2) lie in the plane z = 0. The elevation is
%   divided into no_sub_y rectangles of equal angle. Other arguments as for
%   xdc_linear_array: width, height and kerf in m, focus = [x y z] in m. Rfocus must not be
%   0, and height must not exceed 2 |Rfocus|.
%
%   Th is the handle of the new aperture.
%
%   See also XDC_LINEAR_ARRAY, XDC_FOCUSED_MULTIROW.
cmd = 'xdc_focused_array';
orvel_usage(nargin, 8, [cmd '(no_elements, width, height, kerf, ' ...
                          'Rfocus, no_sub_x, no_sub_y, focus)']);
focus = orvel_point(cmd, 'focus', focus);
Th = Orvel_mex(1003, orvel_num(no_elements), orvel_num(width), orvel_num(height), ...
               orvel_num(kerf), orvel_num(Rfocus), orvel_num(no_sub_x), orvel_num(no_sub_y), ...
               focus);
end
