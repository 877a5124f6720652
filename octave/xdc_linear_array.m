function Th = xdc_linear_array(no_elements, width, height, kerf, no_sub_x, no_sub_y, focus)
%XDC_LINEAR_ARRAY  Define a flat linear array transducer.
%   Th = xdc_linear_array(no_elements, width, height, kerf, no_sub_x, no_sub_y, focus)
%
%   no_elements  number of physical elements, along x, centred on the origin
%   width        width of an element in x [m]
%   height       height of an element in y [m]
%   kerf         gap between neighbouring elements [m]
%   no_sub_x     number of rectangles each element is divided into along x
%   no_sub_y     number of rectangles each element is divided into along y
%   focus        fixed focus point [x y z] [m]
%
%   Th is the handle of the new aperture (release it with xdc_free). The aperture starts with
%   a one-sample impulse response and excitation of value 1, the fixed focus at time 0 and
%   unit apodization of every element.
%
%   See also XDC_FOCUSED_ARRAY, XDC_LINEAR_MULTIROW, XDC_2D_ARRAY, XDC_SHOW, XDC_FREE.
cmd = 'xdc_linear_array';
orvel_usage(nargin, 7, [cmd '(no_elements, width, height, kerf, no_sub_x, no_sub_y, focus)']);
focus = orvel_point(cmd, 'focus', focus);
Th = Orvel_mex(1001, orvel_num(no_elements), orvel_num(width), orvel_num(height), ...
               orvel_num(kerf), orvel_num(no_sub_x), orvel_num(no_sub_y), focus);
end
