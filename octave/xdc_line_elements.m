function Th = xdc_line_elements(data, center, focus)
%XDC_LINE_ELEMENTS  Define an aperture of flat elements bounded by straight lines.
%   Th = xdc_line_elements(data, center, focus)
%
%   data    one row per bounding line, 6 columns; the elements lie in the plane z = 0:
%             1  physical element number (1, 2, ...; rows of one element together, numbers
%                never decreasing down the table)
%             2  number of the mathematical element within the physical element (1, 2, ...;
%                never decreasing within it)
%             3  slope of the line, y = slope * x + intercept
%             4  1 for a vertical line (infinite slope), else 0
%             5  intercept: the y of the line at x = 0 [m], or the x of a vertical line [m]
%             6  side of the line inside the element: 1 above (left of a vertical line), 0 below
%                (right of it)
%   center  n x 3 matrix, one row [x y z] per physical element [m]: the point its focusing
%           delays and the times of flight of its time lines are measured from
%   focus   fixed focus point [x y z] [m]
%
%   A physical element holds as many elements as the number in its last row. An element whose
%   lines enclose no region is reported. Th is the handle of the new aperture.
%
%   See also XDC_RECTANGLES, XDC_GET.
orvel_usage(nargin, 3, 'xdc_line_elements(data, center, focus)');
center = orvel_points('xdc_line_elements', 'center', center, 'physical element');
focus = orvel_point('xdc_line_elements', 'focus', focus);
Th = Orvel_mex(1022, orvel_num(data), center, focus);
end
