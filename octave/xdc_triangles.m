function Th = xdc_triangles(data, center, focus)
%XDC_TRIANGLES  Define an aperture from a list of triangles.
%   Th = xdc_triangles(data, center, focus)
%
%   data    one row per triangle, 11 columns, lengths in m:
%             1      physical element number (1, 2, ...; rows of one element together,
%                    numbers never decreasing down the table)
%             2-4    corner 1 (x, y, z)   5-7  corner 2   8-10  corner 3
%             11     apodization of the triangle
%   center  n x 3 matrix, one row [x y z] per physical element [m]: the point its focusing
%           delays and the times of flight of its time lines are measured from
%   focus   fixed focus point [x y z] [m]
%
%   The number in the last row is the number of physical elements. The aperture is made of
%   triangles and is never converted. Th is the handle of the new aperture.
%
%   See also XDC_TRIANGLES_OLD, XDC_RECTANGLES.
orvel_usage(nargin, 3, 'xdc_triangles(data, center, focus)');
center = orvel_points('xdc_triangles', 'center', center, 'physical element');
focus = orvel_point('xdc_triangles', 'focus', focus);
Th = Orvel_mex(1023, orvel_num(data), center, focus);
end
