function xdc_line_convert(Th)
%XDC_LINE_CONVERT  Convert an aperture of rectangles to elements bounded by lines, in place.
%   xdc_line_convert(Th)
%
%   Every rectangle of the aperture with handle Th becomes one element bounded by the four
%   straight lines of its edges, in the rectangle's own plane: the rectangle is rotated about
%   y and then about x until it lies level, and the points where its lines cross are stored
%   with it. Afterwards xdc_get(Th, 'lin') lists them. Setting set_option('use_lines', 1)
%   converts every new array the same way.
%
%   The responses of line elements are not available in calculations yet: calc_h and the
%   other calculations refuse a converted aperture with an error.
%
%   See also XDC_CONVERT, XDC_LINE_ELEMENTS, XDC_GET, SET_OPTION.
Orvel_mex(1031, orvel_num(Th));
end
