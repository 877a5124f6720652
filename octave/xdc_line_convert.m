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
%   Every calculation then uses the exact response of each element (no far-field
%   approximation), sampled as the mean over each sampling interval; it costs far more per
%   element than a rectangle's or a triangle's. An element's response is placed at its delay
%   rounded to a whole sample. Points behind an element's plane get the response of their
%   mirror image; an element whose lines cross fewer than twice gives no response.
%
%   See also XDC_CONVERT, XDC_LINE_ELEMENTS, XDC_GET, SET_OPTION.
orvel_usage(nargin, 1, 'xdc_line_convert(Th)');
Orvel_mex(1031, orvel_num(Th));
end
