function Th = xdc_rectangles(rect, center, focus)
%XDC_RECTANGLES  Define an aperture from a list of rectangles.
%   Th = xdc_rectangles(rect, center, focus)
%
%   rect    one row per rectangle, 19 columns, all lengths in m:
%             1      physical element number (1, 2, ...; rows of one element together,
%                    numbers never decreasing down the table)
%             2-4    corner 1 (x, y, z)       5-7    corner 2
%             8-10   corner 3 (opposite 1)    11-13  corner 4
%             14     apodization of the rectangle
%             15-16  width and height (measured again from the corners)
%             17-19  centre of the rectangle (x, y, z)
%           Corner 2 and corner 4 are the neighbours of corner 1 along the two edges.
%   center  n x 3 matrix, one row [x y z] per physical element [m]: the point its focusing
%           delays and the times of flight of its time lines are measured from
%   focus   fixed focus point [x y z] [m]
%
%   The number in the last row is the number of physical elements; an element no row names
%   has no rectangles. Th is the handle of the new aperture.
%
%   See also XDC_TRIANGLES, XDC_LINE_ELEMENTS, XDC_GET.
orvel_usage(nargin, 3, 'xdc_rectangles(rect, center, focus)');
center = orvel_points('xdc_rectangles', 'center', center, 'physical element');
focus = orvel_point('xdc_rectangles', 'focus', focus);
Th = Orvel_mex(1021, orvel_num(rect), center, focus);
end
